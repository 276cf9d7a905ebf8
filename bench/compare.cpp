// Outputs of two builds of the plug-ins compared bit for bit on random cases: what a change made
// for speed must not alter, and what the Windows and Linux builds must share.
//   compare_builds TOOLBOX_A TOOLBOX_B [cases per plug-in]   two builds on this machine
//   compare_builds --dump TOOLBOX FILE [cases per plug-in]   one build's outputs, as text
// Every fifth case has one input spoiled, so that errors and their identifiers are compared too.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "NURBS.h"
#include "bits.h"
#include "random_case.h"
#include "reference.h"
#include "shapes.h"
#include "standin.h"

namespace {

// The inputs of case t of a plug-in: a random valid case, every fifth one spoiled.
std::vector<standin::Array> Inputs(const Shape& shape, std::mt19937& rng, int t) {
  const std::string kinds = shape.kinds;
  int directions = 0;
  for (char k : kinds) directions += k == 'p';
  const RandomCase c = MakeRandomCase(rng, directions, 5, 3);
  std::vector<standin::Array> args;
  for (int k = 0, p = 0, knots = 0; k < static_cast<int>(kinds.size()); ++k) {
    switch (kinds[k]) {
      case 'x':
        args.push_back(standin::Row(std::vector<double>(c.x, c.x + directions)));
        break;
      case 'p':
        args.push_back(standin::Scalar(c.p[p++]));
        break;
      case 'k':
        args.push_back(standin::Row(c.U[knots++]));
        break;
      case 'w':
        args.push_back(standin::Row(c.w));
        break;
      case 'i':
        args.push_back(standin::Scalar(1 + static_cast<int>(rng() % c.n[0])));
        break;
      case 's': {
        std::vector<double> spans;
        for (int d = 0; d < directions; ++d) {  // the spans of the clamped point
          spans.push_back(reference::Evaluate(c.x[d], c.p[d], c.U[d]).s);
        }
        args.push_back(standin::Row(spans));
        break;
      }
    }
  }
  if (t % 5 == 4) {
    const size_t at = rng() % args.size();
    std::vector<double> v = standin::Values(args[at].get());
    switch (rng() % 4) {
      case 0:
        args[at] = standin::Scalar(NAN);
        break;
      case 1:
        args[at] = standin::Row(std::vector<double>(v.rbegin(), v.rend()));
        break;
      case 2:
        args[at] = standin::Make(standin::Class::Int32, {1, 3});
        break;
      default:
        args[at] = standin::Row(std::vector<double>(v.begin(), v.begin() + v.size() / 2));
        break;
    }
  }
  return args;
}

// Every case of every plug-in of a toolbox, each result as one line of text: the outputs' bits
// in hex, or the error's identifier and message.
void Run(const std::string& toolbox, int cases,
         const std::function<void(const std::string&)>& line) {
  for (const Shape& shape : kShapes) {
    const standin::Plugin plugin(toolbox + "/" + shape.name + standin::kMexSuffix);
    std::mt19937 rng(12345);
    for (int t = 0; t < cases; ++t) {
      const std::vector<standin::Array> args = Inputs(shape, rng, t);
      std::vector<const mxArray*> in;
      for (const standin::Array& arg : args) in.push_back(arg.get());
      const standin::Result r = plugin.Call(shape.outputs, in);
      std::string text = std::string(shape.name) + " " + std::to_string(t) + ":";
      if (r.failed) {
        text += " error " + r.id + " | " + r.message;
      } else {
        for (const standin::Array& out : r.outputs) {
          text += " [";
          char hex[20];
          for (uint64_t b : Bits(standin::Values(out.get()))) {
            std::snprintf(hex, sizeof hex, " %016llx", static_cast<unsigned long long>(b));
            text += hex;
          }
          text += " ]";
        }
      }
      line(text);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--dump") {
    std::ofstream file(argv[3]);
    Run(argv[2], argc > 4 ? std::atoi(argv[4]) : 1000,
        [&](const std::string& l) { file << l << "\n"; });
    return file ? 0 : 1;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s TOOLBOX_A TOOLBOX_B [cases] | --dump TOOLBOX FILE [cases]\n",
                 argv[0]);
    return 2;
  }
  const int cases = argc > 3 ? std::atoi(argv[3]) : 2000;
  std::vector<std::string> a, b;
  Run(argv[1], cases, [&](const std::string& l) { a.push_back(l); });
  Run(argv[2], cases, [&](const std::string& l) { b.push_back(l); });
  long differing = 0;
  for (size_t k = 0; k < a.size(); ++k) {
    if (a[k] != b[k]) {
      if (differing++ < 5) std::printf("differs:\n  %s\n  %s\n", a[k].c_str(), b[k].c_str());
    }
  }
  std::printf(
      "%zu calls compared (outputs bit for bit, errors by identifier and message), "
      "%ld differ\n",
      a.size(), differing);
  return differing == 0 ? 0 : 1;
}
