// Outputs of two builds of the plug-ins compared bit for bit on random cases: what a change made
// for speed or structure must not alter, and what the Windows and Linux builds must share.
//   compare_builds TOOLBOX_A TOOLBOX_B [cases per plug-in]   two builds on this machine
//   compare_builds --dump TOOLBOX FILE [cases per plug-in]   one build's outputs, as text
// Every plug-in of the registry and its batch twin (at 1 to 7 points a call) is called; one that
// only one of two builds has is named and skipped. Every fifth case has one input spoiled, so
// that errors and their identifiers are compared too.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "NURBS.h"
#include "arguments.h"
#include "bits.h"
#include "random_case.h"
#include "reference.h"
#include "registry.h"
#include "standin.h"

namespace {

using gateway::Arg;
using gateway::Form;

std::string Name(const gateway::Signature& sig, Form form) {
  return std::string(sig.name) + (form == Form::Batch ? "Batch" : "");
}

std::string FileName(const gateway::Signature& sig, Form form) {
  return Name(sig, form) + standin::kMexSuffix;
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

// The inputs of case t of a plug-in: a random valid case, every fifth one spoiled.
std::vector<standin::Array> Inputs(const gateway::Signature& sig, Form form, std::mt19937& rng,
                                   int t) {
  const int directions = sig.evaluator->directions;
  const RandomCase c = MakeRandomCase(rng, directions, 5, 3);
  Parts parts;
  for (int d = 0; d < directions; ++d) {
    parts.p[d] = c.p[d];
    parts.U[d] = c.U[d];
  }
  parts.weights = parts.values = c.w;
  parts.index = 1 + static_cast<int>(rng() % c.n[0]);
  parts.points = form == Form::Batch ? 1 + t % 7 : 1;
  std::uniform_real_distribution<double> unit(-0.05, 1.05);
  for (size_t j = 0; j < parts.points; ++j) {
    for (int d = 0; d < directions; ++d) {
      const double x = j == 0 ? c.x[d] : unit(rng);
      parts.x.push_back(x);
      parts.spans.push_back(reference::Evaluate(x, c.p[d], c.U[d]).s);  // the clamped point's
    }
  }
  std::vector<standin::Array> args = Arguments(sig, form, parts);
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

// Every case of every plug-in in `names` of a toolbox, each result as one line of text: the
// outputs' bits in hex, or the error's identifier and message.
void Run(const std::string& toolbox,
         const std::vector<std::pair<const gateway::Signature*, Form>>& plugins, int cases,
         const std::function<void(const std::string&)>& line) {
  for (const auto& [sig, form] : plugins) {
    const standin::Plugin plugin(toolbox + "/" + FileName(*sig, form));
    std::mt19937 rng(12345);
    for (int t = 0; t < cases; ++t) {
      const std::vector<standin::Array> args = Inputs(*sig, form, rng, t);
      std::vector<const mxArray*> in;
      for (const standin::Array& arg : args) in.push_back(arg.get());
      const standin::Result r = plugin.Call(gateway::OutputCount(*sig, form), in);
      std::string text = Name(*sig, form) + " " + std::to_string(t) + ":";
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

// The plug-ins of the registry that every toolbox given holds.
std::vector<std::pair<const gateway::Signature*, Form>> Common(
    const std::vector<std::string>& toolboxes) {
  std::vector<std::pair<const gateway::Signature*, Form>> plugins;
  for (const gateway::Signature* sig : registry::kAll) {
    for (Form form : {Form::Point, Form::Batch}) {
      bool everywhere = true;
      for (const std::string& dir : toolboxes) {
        if (!Exists(dir + "/" + FileName(*sig, form))) {
          std::printf("skipped %s: not in %s\n", FileName(*sig, form).c_str(), dir.c_str());
          everywhere = false;
        }
      }
      if (everywhere) plugins.emplace_back(sig, form);
    }
  }
  return plugins;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--dump") {
    std::ofstream file(argv[3]);
    Run(argv[2], Common({argv[2]}), argc > 4 ? std::atoi(argv[4]) : 1000,
        [&](const std::string& l) { file << l << "\n"; });
    return file ? 0 : 1;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s TOOLBOX_A TOOLBOX_B [cases] | --dump TOOLBOX FILE [cases]\n",
                 argv[0]);
    return 2;
  }
  const int cases = argc > 3 ? std::atoi(argv[3]) : 2000;
  const auto plugins = Common({argv[1], argv[2]});
  std::vector<std::string> a, b;
  Run(argv[1], plugins, cases, [&](const std::string& l) { a.push_back(l); });
  Run(argv[2], plugins, cases, [&](const std::string& l) { b.push_back(l); });
  long differing = 0;
  for (size_t k = 0; k < a.size(); ++k) {
    if (a[k] != b[k]) {
      if (differing++ < 5) std::printf("differs:\n  %s\n  %s\n", a[k].c_str(), b[k].c_str());
    }
  }
  std::printf(
      "%zu plug-ins, %zu calls compared (outputs bit for bit, errors by identifier and message), "
      "%ld differ\n",
      plugins.size(), a.size(), differing);
  return differing == 0 ? 0 : 1;
}
