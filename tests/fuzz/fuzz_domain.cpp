// Fuzzes a call over a domain of patches through the stand-in host: MultipatchCore
// (NURBS_FUZZ_TARGET "MultipatchCore") or the domain form of a form's core (NURBS_FUZZ_DOMAIN set,
// NURBS_FUZZ_TARGET the core, linked in). Each input becomes 1 to 3 patches close to a valid
// domain (boxes of 1 to 3 directions side by side along x, now and then shifted, turned, refined
// otherwise, not open, of another dimension), a numbering of random global indices and
// coefficients sized for the pieces or nearly, now and then with one value off, often with one
// input swapped for anything at all, and a random number of outputs. Every call must either
// return outputs in the slots asked for only, or raise an error with the call's identifier (or
// the usage message), having created nothing unless the gluing found the fault; it must leave
// the inputs as they were and no array alive. MultipatchCore's
// numbering must reach every global index and no other. AddressSanitizer, UBSan and
// LeakSanitizer watch the rest.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "bits.h"
#include "fuzz_values.h"
#include "mesh_case.h"
#include "registry.h"
#include "standin.h"

namespace {

using standin::Array;
using standin::Class;

#ifdef NURBS_FUZZ_DOMAIN
constexpr bool kForm = true;
#else
constexpr bool kForm = false;
#endif

struct Target {
  std::string who;   // the identifiers' prefix
  int coefficients;  // the form's inputs after the pieces
  int outputs;
};

Target ThisCore() {
  if (!kForm) return {"Multipatch", 0, 5};
  for (const registry::MeshCall* call : registry::kMeshCalls) {
    if (std::string(call->core) == NURBS_FUZZ_TARGET) {
      return {call->name, registry::ListCount(call->inputs), registry::ListCount(call->outputs)};
    }
  }
  std::abort();
}

[[noreturn]] void Fault(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "%s%s: %s %s\n", NURBS_FUZZ_TARGET, kForm ? " (domain)" : "", what,
               detail.c_str());
  std::abort();
}

using fuzz::Anything;
using fuzz::Special;

// Patch k of a row of unit boxes along x: a multilinear geometry (its knots open, or now and
// then not), under its own basis or a space of degree 0..3 with 0..3 knots inside, uniform or
// not, rational or not; Gauss counts or a two-node rule; all elements or some; a side or none.
MeshCase Box(FuzzedDataProvider& in, int d, int k) {
  MeshCase c;
  c.d = d;
  const double shift = in.ConsumeIntegralInRange(0, 7) == 7 ? 0.5 : 0.0;
  const bool turned = in.ConsumeIntegralInRange(0, 5) == 5;
  for (int a = 0; a < d; ++a) {
    c.order[a] = 2;
    c.knots[a] = {0, 0, 1, 1};
  }
  if (in.ConsumeIntegralInRange(0, 15) == 15) c.knots[0] = {0, 0, 1, 1.25};  // not open
  for (int i = 0; i < (1 << d); ++i) {
    double x[3] = {0, 0, 0};
    for (int a = 0; a < d; ++a) x[a] = (i >> a) & 1;
    if (turned) x[0] = 1 - x[0];  // its first direction runs the other way
    x[0] += k;
    if (d > 1) x[1] += shift;
    const double w =
        in.ConsumeIntegralInRange(0, 5) == 5 ? in.ConsumeFloatingPointInRange(0.5, 2.0) : 1.0;
    c.coefs.insert(c.coefs.end(), {w * x[0], w * x[1], w * x[2], w});
  }
  if (in.ConsumeIntegralInRange(0, 3) != 0) {
    size_t ns = 1;
    for (int a = 0; a < d; ++a) {
      const int p = in.ConsumeIntegralInRange(0, 3);
      std::vector<double> U(p + 1, 0.0);
      const int inner = in.ConsumeIntegralInRange(0, 3);
      const bool uniform = in.ConsumeBool();
      for (int j = 1; j <= inner; ++j) {
        U.push_back(uniform ? static_cast<double>(j) / (inner + 1)
                            : in.ConsumeFloatingPointInRange(0.0, 1.0));
      }
      std::sort(U.begin() + p + 1, U.end());
      U.insert(U.end(), p + 1, 1.0);
      c.spaceOrder.push_back(p + 1);
      c.spaceKnots[a] = U;
      ns *= U.size() - p - 1;
    }
    if (in.ConsumeIntegralInRange(0, 3) == 3) {
      c.spaceWeights.resize(ns);
      for (double& w : c.spaceWeights) w = in.ConsumeFloatingPointInRange(0.5, 2.0);
    }
  }
  for (int a = 0; a < d; ++a) {
    c.rule[a] = {static_cast<double>(in.ConsumeIntegralInRange(1, 4))};
    if (in.ConsumeIntegralInRange(0, 6) == 6) c.rule[a] = {0.0, 0.5, 1.0, 0.5};
  }
  c.options[0] = in.ConsumeBool();
  c.options[1] = in.ConsumeIntegralInRange(0, 3) == 3;
  c.options[2] = in.ConsumeIntegralInRange(0, 3) == 3;
  c.options[3] = in.ConsumeIntegralInRange(0, 2) == 2 ? in.ConsumeIntegralInRange(1, 2 * d) : 0;
  c.options[4] = in.ConsumeIntegralInRange(0, 4) == 4 ? 3 : 0;
  if (in.ConsumeIntegralInRange(0, 4) == 4) {
    c.elements.clear();
    for (int j = in.ConsumeIntegralInRange(0, 4); j > 0; --j) {
      c.elements.push_back(in.ConsumeIntegralInRange(1, 6));
    }
  }
  // Now and then one value off.
  if (in.ConsumeIntegralInRange(0, 7) == 7) {
    std::vector<double>* parts[] = {&c.coefs,        &c.knots[0], &c.spaceKnots[0],
                                    &c.spaceWeights, &c.rule[0],  &c.elements};
    std::vector<double>& v = *parts[in.ConsumeIntegralInRange(0, 5)];
    if (!v.empty()) v[in.ConsumeIntegralInRange<size_t>(0, v.size() - 1)] = Special(in);
  }
  return c;
}

size_t Functions(const MeshCase& c) {
  size_t n = 1;
  for (int a = 0; a < c.d; ++a) {
    const size_t order = c.spaceOrder.empty() ? 2 : static_cast<size_t>(c.spaceOrder[a]);
    const size_t knots = c.spaceOrder.empty() ? c.knots[a].size() : c.spaceKnots[a].size();
    n *= knots > order ? knots - order : 0;
  }
  return n;
}

// The nodes of a piece where its inputs are valid: nodes an element times the elements evaluated.
size_t Nodes(const MeshCase& c) {
  const int side = static_cast<int>(c.options[3]);
  size_t perElement = 1, elements = 1;
  for (int a = 0; a < c.d; ++a) {
    if (side != 0 && a == (side - 1) / 2) continue;
    const std::vector<double>& U = c.spaceOrder.empty() ? c.knots[a] : c.spaceKnots[a];
    size_t spans = 0;
    for (size_t i = 1; i < U.size(); ++i) spans += U[i] > U[i - 1];
    const double count = c.rule[a].size() > 1 ? c.rule[a].size() / 2.0 : c.rule[a][0];
    perElement *= count >= 1 && count <= 64 ? static_cast<size_t>(count) : 1;
    elements *= spans;
  }
  if (!(c.elements.size() == 1 && c.elements[0] == 0)) elements = c.elements.size();
  return perElement * elements;
}

// With NURBS_FUZZ_PRINT set, each patch of a call is printed: what a reproducer asks for.
void Print(const MeshCase& c) {
  const auto row = [](const char* name, const std::vector<double>& v) {
    std::fprintf(stderr, " %s [", name);
    for (double x : v) std::fprintf(stderr, " %g", x);
    std::fprintf(stderr, " ]");
  };
  std::fprintf(stderr, "patch: d %d, order [%g %g %g]", c.d, c.order[0], c.order[1], c.order[2]);
  for (int a = 0; a < c.d; ++a) row("knots", c.knots[a]);
  row("spaceOrder", c.spaceOrder);
  for (int a = 0; a < c.d; ++a) row("spaceKnots", c.spaceKnots[a]);
  for (int a = 0; a < c.d; ++a) row("rule", c.rule[a]);
  row("elements", c.elements);
  row("options", std::vector<double>(c.options, c.options + 5));
  std::fprintf(stderr, "; %zu functions, %zu nodes\n", Functions(c), Nodes(c));
}

std::map<std::string, long>& Outcomes() {
  static auto* outcomes = new std::map<std::string, long>;
  return *outcomes;
}

void PrintOutcomes() {
  for (const auto& [outcome, count] : Outcomes())
    std::fprintf(stderr, "%8ld %s\n", count, outcome.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::getenv("NURBS_FUZZ_STATS") != nullptr) std::atexit(PrintOutcomes);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Target target = ThisCore();
  static const standin::Plugin plugin(&mexFunction);
  FuzzedDataProvider in(data, size);
  const int nlhs = in.ConsumeIntegralInRange(0, 9) == 0
                       ? in.ConsumeIntegralInRange(0, 20)
                       : in.ConsumeIntegralInRange(0, target.outputs);
  const int perPiece = kForm ? 16 : 15;
  const long live = standin::LiveArrays();
  {
    std::vector<Array> args;
    if (in.ConsumeIntegralInRange(0, 11) == 11) {
      for (int k = in.ConsumeIntegralInRange(0, 50); k > 0; --k) args.push_back(Anything(in));
    } else {
      const int npatch = in.ConsumeIntegralInRange(1, 3);
      const int d = in.ConsumeIntegralInRange(0, 3) == 3 ? in.ConsumeIntegralInRange(1, 3) : 2;
      std::vector<MeshCase> patches;
      size_t functions = 0, nodes = 0;
      for (int k = 0; k < npatch; ++k) {
        const int dk = in.ConsumeIntegralInRange(0, 15) == 15 ? in.ConsumeIntegralInRange(1, 3) : d;
        patches.push_back(Box(in, dk, k));
        functions += Functions(patches.back());
        nodes += Nodes(patches.back());
        if (std::getenv("NURBS_FUZZ_PRINT") != nullptr) Print(patches.back());
      }
      if (kForm) {
        // Any numbering is one: global indices 1..ndof, shared or not.
        const size_t most = std::max<size_t>(functions, 1);
        const double ndof = static_cast<double>(in.ConsumeIntegralInRange<size_t>(1, most));
        std::vector<double> header = {ndof};
        for (int k = 0; k < npatch; ++k) header.push_back(in.ConsumeIntegralInRange(1, 4));
        if (in.ConsumeIntegralInRange(0, 9) == 9) {
          header[in.ConsumeIntegralInRange<size_t>(0, header.size() - 1)] = Special(in);
        }
        args.push_back(standin::Row(header));
        for (const MeshCase& c : patches) {
          for (Array& a : MeshInputs(c)) args.push_back(std::move(a));
          std::vector<double> gnum(Functions(c));
          for (double& g : gnum)
            g = static_cast<double>(in.ConsumeIntegralInRange<size_t>(1, most));
          if (!gnum.empty() && in.ConsumeIntegralInRange(0, 9) == 9) {
            gnum[in.ConsumeIntegralInRange<size_t>(0, gnum.size() - 1)] = Special(in);
          }
          if (in.ConsumeIntegralInRange(0, 15) == 15) gnum.pop_back();
          args.push_back(standin::Row(gnum));
        }
        // A coefficient: a constant, a vector of 1..3 rows, or rows at the nodes (give or take).
        for (int k = 0; k < target.coefficients; ++k) {
          const size_t rows = in.ConsumeIntegralInRange<size_t>(1, 3);
          switch (in.ConsumeIntegralInRange(0, 3)) {
            case 0:
              args.push_back(standin::Scalar(in.ConsumeFloatingPointInRange(-1.0, 2.0)));
              break;
            case 1:
              args.push_back(standin::Matrix({rows, 1}, std::vector<double>(rows, 1.5)));
              break;
            default: {
              size_t cols = nodes;
              if (in.ConsumeIntegralInRange(0, 5) == 5)
                cols = in.ConsumeIntegralInRange<size_t>(0, nodes + 2);
              std::vector<double> v(rows * cols);
              for (double& x : v) x = in.ConsumeFloatingPointInRange(-1.0, 2.0);
              if (!v.empty() && in.ConsumeIntegralInRange(0, 9) == 9) v[0] = Special(in);
              args.push_back(standin::Matrix({rows, cols}, v));
              break;
            }
          }
        }
      } else {
        double tolerance =
            in.ConsumeIntegralInRange(0, 2) == 2 ? in.ConsumeFloatingPointInRange(0.0, 1.0) : 1e-10;
        if (in.ConsumeIntegralInRange(0, 15) == 15) tolerance = Special(in);
        args.push_back(standin::Scalar(tolerance));
        for (const MeshCase& c : patches) {
          for (Array& a : MeshInputs(c)) args.push_back(std::move(a));
        }
      }
      if (in.ConsumeBool()) {
        args[in.ConsumeIntegralInRange<size_t>(0, args.size() - 1)] = Anything(in);
      }
      if (in.ConsumeIntegralInRange(0, 15) == 15) args.pop_back();
    }
    std::vector<const mxArray*> handles;
    std::vector<std::vector<uint64_t>> before;
    for (const Array& a : args) {
      handles.push_back(a.get());
      before.push_back(Bits(standin::Values(a.get())));
    }
    const int nrhs = static_cast<int>(args.size());
    const int pieces = (nrhs - 1 - target.coefficients) / perPiece;
    const bool wellCounted = pieces >= 1 && nrhs == 1 + pieces * perPiece + target.coefficients;
    const standin::Result r = plugin.Call(nlhs, handles);
    if (r.overrun) Fault("wrote past its output slots");
    if (r.foreign) Fault("stored an array it did not create");
    // MultipatchCore finds the gluing's faults once its outputs are made, and leaves those to
    // the host to free; every other fault comes before anything is created.
    const bool gluing = !kForm && r.failed &&
                        (r.id == "Multipatch:knotsNotOpen" || r.id == "Multipatch:nonConforming" ||
                         r.id == "Multipatch:partialContact" ||
                         r.id == "Multipatch:faceMatchedTwice" || r.id == "Multipatch:patchesOverlap" ||
                         r.id == "Multipatch:outOfMemory");
    if (r.dropped != 0 && !gluing) Fault("created arrays it did not store");
    for (int k = 0; k < nrhs; ++k) {
      if (Bits(standin::Values(handles[k])) != before[k]) Fault("changed input", std::to_string(k));
    }
    ++Outcomes()[r.failed ? (r.id.empty() ? "usage" : r.id) : "result"];
    if (r.failed) {
      const bool patchCall = kForm && nrhs == 15 + target.coefficients;
      const bool usage = r.id.empty() && !wellCounted && !patchCall;
      if (!usage && r.id.rfind(target.who + ":", 0) != 0) {
        Fault("raised without its identifier:", r.id + " " + r.message);
      }
      for (const Array& out : r.outputs) {
        if (out != nullptr) Fault("failed but left an output");
      }
    } else {
      if (!wellCounted && !(kForm && nrhs == 15 + target.coefficients)) {
        Fault("accepted a wrong input count");
      }
      if (nlhs > target.outputs) Fault("accepted too many outputs");
      for (const Array& out : r.outputs) {
        if (out == nullptr) Fault("left a requested slot empty");
      }
      if (!kForm && nlhs == 5) {
        // Every global index 1..ndof taken by some function, and no other.
        const std::vector<double> gnum = standin::Values(r.outputs[0].get());
        const double ndof = standin::Values(r.outputs[4].get())[0];
        std::vector<bool> seen(static_cast<size_t>(ndof) + 1, false);
        for (double g : gnum) {
          if (!(g >= 1 && g <= ndof && g == std::trunc(g))) Fault("a global index out of range");
          seen[static_cast<size_t>(g)] = true;
        }
        for (size_t g = 1; g < seen.size(); ++g) {
          if (!seen[g]) Fault("a global index no function takes", std::to_string(g));
        }
      }
    }
  }
  if (standin::LiveArrays() != live) Fault("left arrays alive");
  return 0;
}
