// Outputs of two builds of the plug-ins compared bit for bit on random cases: what a change made
// for speed or structure must not alter, and what the Windows and Linux builds must share.
//   compare_builds TOOLBOX_A TOOLBOX_B [cases per plug-in]   two builds on this machine
//   compare_builds --dump TOOLBOX FILE [cases per plug-in]   one build's outputs, as text
// Every plug-in of the registry and its batch twin (at 1 to 7 points a call, some of them at NaN
// or an infinity) is called; one that only one of two builds has is named and skipped. Every fifth case has one input spoiled, so
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
#include "mesh_case.h"
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
  // Now and then a coordinate at NaN or an infinity among a batch's finite ones: NaN results take
  // their bits from operand order, which must not change with the code around them.
  const double odd[] = {NAN, -NAN, INFINITY, -INFINITY};
  for (size_t j = 0; j < parts.points; ++j) {
    for (int d = 0; d < directions; ++d) {
      const double x = j == 0 ? c.x[d] : rng() % 16 == 0 ? odd[rng() % 4] : unit(rng);
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

// A binary to compare: its file, how to make its case t, and its outputs.
struct Target {
  std::string name, file;
  std::function<std::vector<standin::Array>(std::mt19937&, int)> inputs;
  int outputs;
};

// A mesh call's case t: a random patch of 1 to 3 directions, its own basis or a refinement of
// it (NURBS or B-splines), Hessians and Laplacians now and then, a side now and then, the
// form's coefficients constant or at every node; every fifth case with one value spoiled.
std::vector<standin::Array> MeshCallInputs(const gateway::MeshCall& call, std::mt19937& rng,
                                           int t) {
  const int d = 1 + t % 3;
  MeshCase c = RandomPatch(rng, d, d == 3 ? 2 : 4, d + (t % 7 == 3 && d < 3), t % 4 != 0);
  if (t % 3 != 0) {
    size_t ns = 1;
    for (int k = 0; k < d; ++k) {
      std::vector<double> U = c.knots[k];
      const int up = t % 2;
      U.insert(U.begin(), up, 0.0);
      U.insert(U.end(), up, 1.0);
      U.push_back(0.5 * std::uniform_real_distribution<double>(0.0, 1.0)(rng) + 0.25);
      std::sort(U.begin(), U.end());
      c.spaceKnots[k] = U;
      c.spaceOrder.push_back(c.order[k] + up);
      ns *= U.size() - c.order[k] - up;
    }
    if (t % 5 != 1) c.spaceWeights = RandomWeights(rng, static_cast<int>(ns));
  }
  const bool fields = call.kind == gateway::MeshKind::Fields;
  const bool face = fields || call.kind == gateway::MeshKind::Nodes ||
                    call.kind == gateway::MeshKind::Mass ||
                    call.kind == gateway::MeshKind::Load;
  c.options[1] = c.options[2] = fields && t % 2 == 1;
  if (face && t % 4 == 2) c.options[3] = 1 + t % (2 * d);
  std::vector<standin::Array> in = MeshInputs(c);
  for (int k = 0; k < gateway::ListCount(call.inputs); ++k) {
    // Constants: b has one a physical coordinate (the patch's d here: z is 0 unless bent).
    const size_t rows = call.kind == gateway::MeshKind::Advection ? static_cast<size_t>(d) +
                                                                         (t % 7 == 3 && d < 3)
                                                                   : 1;
    std::vector<double> v(rows);
    for (double& x : v) x = 0.5 + std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    in.push_back(standin::Matrix({rows, 1}, v));
  }
  if (t % 5 == 4) {
    const size_t at = rng() % in.size();
    std::vector<double> v = standin::Values(in[at].get());
    if (!v.empty()) v[rng() % v.size()] = NAN;
    in[at] = standin::Matrix(standin::Dims(in[at].get()), v);
  }
  return in;
}

// Every case of every target of a toolbox, each result as one line of text: the outputs' bits in
// hex (a sparse output's column starts, rows and values), or the error's identifier and message.
void Run(const std::string& toolbox, const std::vector<Target>& targets, int cases,
         const std::function<void(const std::string&)>& line) {
  for (const Target& target : targets) {
    const standin::Plugin plugin(toolbox + "/" + target.file);
    std::mt19937 rng(12345);
    for (int t = 0; t < cases; ++t) {
      const std::vector<standin::Array> args = target.inputs(rng, t);
      std::vector<const mxArray*> in;
      for (const standin::Array& arg : args) in.push_back(arg.get());
      const standin::Result r = plugin.Call(target.outputs, in);
      std::string text = target.name + " " + std::to_string(t) + ":";
      if (r.failed) {
        text += " error " + r.id + " | " + r.message;
      } else {
        char hex[20];
        const auto put = [&](uint64_t b) {
          std::snprintf(hex, sizeof hex, " %016llx", static_cast<unsigned long long>(b));
          text += hex;
        };
        for (const standin::Array& out : r.outputs) {
          text += " [";
          const standin::Sparse sparse = standin::SparseOf(out.get());
          if (!sparse.jc.empty()) {
            for (size_t j : sparse.jc) put(j);
            text += " |";
            for (size_t i : sparse.ir) put(i);
            text += " |";
            for (uint64_t b : Bits(sparse.pr)) put(b);
          } else {
            for (uint64_t b : Bits(standin::Values(out.get()))) put(b);
          }
          text += " ]";
        }
      }
      line(text);
    }
  }
}

// The plug-ins of the registry and the cores of its mesh calls that every toolbox given holds.
std::vector<Target> Common(const std::vector<std::string>& toolboxes) {
  std::vector<Target> targets;
  const auto everywhere = [&](const std::string& file) {
    for (const std::string& dir : toolboxes) {
      if (!Exists(dir + "/" + file)) {
        std::printf("skipped %s: not in %s\n", file.c_str(), dir.c_str());
        return false;
      }
    }
    return true;
  };
  for (const gateway::Signature* sig : registry::kAll) {
    for (Form form : {Form::Point, Form::Batch}) {
      if (!everywhere(FileName(*sig, form))) continue;
      targets.push_back({Name(*sig, form), FileName(*sig, form),
                         [sig, form](std::mt19937& rng, int t) { return Inputs(*sig, form, rng, t); },
                         gateway::OutputCount(*sig, form)});
    }
  }
  for (const gateway::MeshCall* call : registry::kMeshCalls) {
    const std::string file = std::string(call->core) + standin::kMexSuffix;
    if (!everywhere(file)) continue;
    targets.push_back({call->core, file,
                       [call](std::mt19937& rng, int t) { return MeshCallInputs(*call, rng, t); },
                       gateway::ListCount(call->outputs)});
  }
  return targets;
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
  const auto targets = Common({argv[1], argv[2]});
  std::vector<std::string> a, b;
  Run(argv[1], targets, cases, [&](const std::string& l) { a.push_back(l); });
  Run(argv[2], targets, cases, [&](const std::string& l) { b.push_back(l); });
  long differing = 0;
  for (size_t k = 0; k < a.size(); ++k) {
    if (a[k] != b[k]) {
      if (differing++ < 5) std::printf("differs:\n  %s\n  %s\n", a[k].c_str(), b[k].c_str());
    }
  }
  std::printf(
      "%zu plug-ins and cores, %zu calls compared (outputs bit for bit, errors by identifier and "
      "message), %ld differ\n",
      targets.size(), a.size(), differing);
  return differing == 0 ? 0 : 1;
}
