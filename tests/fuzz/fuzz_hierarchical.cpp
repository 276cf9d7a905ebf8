// Fuzzes a call over a hierarchical space through the stand-in host: HierarchicalSpaceCore
// (NURBS_FUZZ_TARGET "HierarchicalSpaceCore", every mode) or a mesh call's core in the
// hierarchical layout (NURBS_FUZZ_HIERARCHICAL set, NURBS_FUZZ_TARGET the core, linked in). Each
// input becomes one or two unit boxes of 1 to 3 directions side by side along x under spaces of
// degree 1 to 3, glued where they meet, with refined cells of up to three levels drawn at random
// (their parents added, the cells along the interface mirrored, now and then not), options,
// faces, elements, marks, points and coefficients close to valid, now and then one value off,
// often with one input swapped for anything at all, and a random number of outputs. Every call
// must either return outputs in the slots asked for only, or raise an error with the call's
// identifier (or the usage message), having created nothing; it must leave the inputs as they
// were and no array alive. AddressSanitizer, UBSan and LeakSanitizer watch the rest.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "bits.h"
#include "fuzz_values.h"
#include "mesh_case.h"
#include "registry.h"
#include "standin.h"

namespace {

using fuzz::Anything;
using fuzz::Special;
using standin::Array;

#ifdef NURBS_FUZZ_HIERARCHICAL
constexpr bool kForm = true;
#else
constexpr bool kForm = false;
#endif

struct Target {
  std::string who;   // a form's identifiers' prefix; HierarchicalSpaceCore's follows the mode
  int coefficients;  // a form's inputs after the layout's
  int outputs;
};

Target ThisCore() {
  if (!kForm) return {"", 0, 7};
  for (const registry::MeshCall* call : registry::kMeshCalls) {
    if (std::string(call->core) == NURBS_FUZZ_TARGET) {
      return {call->name, registry::ListCount(call->inputs), registry::ListCount(call->outputs)};
    }
  }
  std::abort();
}

[[noreturn]] void Fault(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "%s%s: %s %s\n", NURBS_FUZZ_TARGET, kForm ? " (hierarchical)" : "", what,
               detail.c_str());
  std::abort();
}

// Box k of a row along x: a multilinear geometry, a space of degree p with `inner` uniform
// interior knots a direction (the same for every box, so that the boxes conform), rational now
// and then.
MeshCase Box(FuzzedDataProvider& in, int d, int k, int p, int inner, bool rational) {
  MeshCase c;
  c.d = d;
  for (int a = 0; a < d; ++a) {
    c.order[a] = 2;
    c.knots[a] = {0, 0, 1, 1};
  }
  for (int i = 0; i < (1 << d); ++i) {
    double x[3] = {0, 0, 0};
    for (int a = 0; a < d; ++a) x[a] = (i >> a) & 1;
    x[0] += k;
    c.coefs.insert(c.coefs.end(), {x[0], x[1], x[2], 1.0});
  }
  size_t ns = 1;
  for (int a = 0; a < d; ++a) {
    std::vector<double> U(p + 1, 0.0);
    for (int j = 1; j <= inner; ++j) U.push_back(static_cast<double>(j) / (inner + 1));
    U.insert(U.end(), p + 1, 1.0);
    c.spaceOrder.push_back(p + 1);
    c.spaceKnots[a] = U;
    ns *= U.size() - p - 1;
  }
  if (rational) {
    c.spaceWeights.resize(ns);
    for (double& w : c.spaceWeights) w = in.ConsumeFloatingPointInRange(0.5, 2.0);
  }
  for (int a = 0; a < d; ++a) c.rule[a] = {static_cast<double>(in.ConsumeIntegralInRange(1, 4))};
  c.options[0] = in.ConsumeBool();
  c.options[1] = in.ConsumeIntegralInRange(0, 3) == 3;
  c.options[2] = in.ConsumeIntegralInRange(0, 3) == 3;
  return c;
}

// Cells of level l a direction: (inner + 1) 2^l.
int Cells(int inner, int level) { return (inner + 1) << level; }

// Random refined cells of levels 0..2, their parents added, the first layer along the interface
// (box 1's last cells in x, box 2's first) mirrored unless `conform` is false.
std::vector<double> Refinement(FuzzedDataProvider& in, int npatch, int d, int inner,
                               bool conform) {
  std::set<std::tuple<int, int, long>> cells;  // patch, level, 0-based cell
  const auto index = [&](int level, const int e[3]) {
    long c = 0;
    for (int a = d - 1; a >= 0; --a) c = c * Cells(inner, level) + e[a];
    return c;
  };
  std::vector<std::tuple<int, int, long>> todo;
  for (int k = in.ConsumeIntegralInRange(0, 6); k > 0; --k) {
    const int patch = in.ConsumeIntegralInRange(1, npatch);
    const int level = in.ConsumeIntegralInRange(0, 2);
    int e[3] = {0, 0, 0};
    for (int a = 0; a < d; ++a) e[a] = in.ConsumeIntegralInRange(0, Cells(inner, level) - 1);
    // The cell and every ancestor.
    for (int l = level; l >= 0; --l) {
      todo.emplace_back(patch, l, index(l, e));
      if (conform && npatch == 2 && e[0] == (patch == 1 ? Cells(inner, l) - 1 : 0)) {
        int m[3] = {patch == 1 ? 0 : Cells(inner, l) - 1, e[1], e[2]};
        todo.emplace_back(3 - patch, l, index(l, m));
      }
      for (int a = 0; a < d; ++a) e[a] /= 2;
    }
  }
  for (const auto& c : todo) cells.insert(c);
  std::vector<double> r;
  for (const auto& [patch, level, cell] : cells) {
    r.insert(r.end(), {static_cast<double>(patch), static_cast<double>(level),
                       static_cast<double>(cell + 1)});
  }
  return r;
}

std::map<std::string, long>& Outcomes() {
  static auto* outcomes = new std::map<std::string, long>;
  return *outcomes;
}

void PrintOutcomes() {
  for (const auto& [outcome, count] : Outcomes())
    std::fprintf(stderr, "%8ld %s\n", count, outcome.c_str());
}

const char* Who(int mode) {
  static const char* const kNames[] = {"HierarchicalSpace", "RefineElements", "RefineFunctions",
                                       "ProlongField",      "FieldEval",      "FieldEval"};
  return mode >= 0 && mode <= 5 ? kNames[mode] : "HierarchicalSpace";
}

Array Values(FuzzedDataProvider& in, size_t rows, size_t cols, double lo, double hi) {
  std::vector<double> v(rows * cols);
  for (double& x : v) x = in.ConsumeFloatingPointInRange(lo, hi);
  if (!v.empty() && in.ConsumeIntegralInRange(0, 9) == 9) {
    v[in.ConsumeIntegralInRange<size_t>(0, v.size() - 1)] = Special(in);
  }
  return standin::Matrix({rows, cols}, v);
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
  const int nlhs = in.ConsumeIntegralInRange(0, 9) == 0 ? in.ConsumeIntegralInRange(0, 20)
                                                        : in.ConsumeIntegralInRange(0, 2);
  const long live = standin::LiveArrays();
  int mode = 0;
  {
    std::vector<Array> args;
    const int npatch = in.ConsumeIntegralInRange(1, 2);
    const int d = in.ConsumeIntegralInRange(0, 3) == 3 ? in.ConsumeIntegralInRange(1, 3) : 2;
    const int p = in.ConsumeIntegralInRange(1, 3), inner = in.ConsumeIntegralInRange(0, 2);
    const bool rational = in.ConsumeIntegralInRange(0, 3) == 3;
    mode = kForm ? 0 : in.ConsumeIntegralInRange(0, 5);
    std::vector<double> header = {0, 2, static_cast<double>(in.ConsumeBool()),
                                  static_cast<double>(npatch)};
    if (!kForm) {
      header.insert(header.end(), {static_cast<double>(in.ConsumeIntegralInRange(0, 3)),
                                   static_cast<double>(mode), 1.0,
                                   static_cast<double>(in.ConsumeBool())});
    }
    if (in.ConsumeIntegralInRange(0, 9) == 9) {
      header[in.ConsumeIntegralInRange<size_t>(1, header.size() - 1)] = Special(in);
    }
    args.push_back(standin::Row(header));
    size_t functions = 1;
    for (int a = 0; a < d; ++a) functions *= static_cast<size_t>(p + inner + 1);
    for (int k = 0; k < npatch; ++k) {
      for (Array& a : MeshInputs(Box(in, d, k, p, inner, rational))) args.push_back(std::move(a));
    }
    const std::vector<double> refined =
        Refinement(in, npatch, d, inner, in.ConsumeIntegralInRange(0, 7) != 7);
    args.push_back(standin::Matrix({3, refined.size() / 3}, refined));
    std::vector<double> glue;
    if (npatch == 2) glue = {1, 2, 2, 1, 1, d == 3 ? 1.0 : 0.0, d == 3 ? 1.0 : 0.0};
    if (!glue.empty() && in.ConsumeIntegralInRange(0, 9) == 9) {
      glue[in.ConsumeIntegralInRange<size_t>(0, glue.size() - 1)] = Special(in);
    }
    args.push_back(standin::Matrix({7, glue.size() / 7}, glue));
    // The mode's (or a form's) own inputs.
    const size_t ndof = 2 * static_cast<size_t>(npatch) * functions;  // of the order of it
    if (kForm || mode <= 2) {
      std::vector<double> faces;
      for (int k = in.ConsumeIntegralInRange(0, 3) == 3 ? in.ConsumeIntegralInRange(1, 2) : 0;
           k > 0; --k) {
        faces.insert(faces.end(), {static_cast<double>(in.ConsumeIntegralInRange(1, npatch)),
                                   static_cast<double>(in.ConsumeIntegralInRange(1, 2 * d))});
      }
      args.push_back(standin::Matrix({2, faces.size() / 2}, faces));
      if (kForm) {
        std::vector<double> elements = {0};
        if (in.ConsumeIntegralInRange(0, 4) == 4) {
          elements.clear();
          for (int j = in.ConsumeIntegralInRange(0, 4); j > 0; --j) {
            elements.push_back(in.ConsumeIntegralInRange(1, 30));
          }
        }
        args.push_back(standin::Row(elements));
        for (int k = 0; k < target.coefficients; ++k) {
          const size_t rows = in.ConsumeIntegralInRange<size_t>(1, 3);
          if (in.ConsumeBool()) {
            args.push_back(standin::Scalar(in.ConsumeFloatingPointInRange(-1.0, 2.0)));
          } else {
            args.push_back(Values(in, rows, in.ConsumeIntegralInRange<size_t>(1, 2), -1.0, 2.0));
          }
        }
      } else {
        std::vector<double> marks;
        for (int j = in.ConsumeIntegralInRange(0, 4); j > 0; --j) {
          marks.push_back(in.ConsumeIntegralInRange(1, 40));
        }
        args.push_back(standin::Row(marks));
      }
    } else if (mode == 3) {
      const std::vector<double> coarse = Refinement(in, npatch, d, inner, true);
      args.push_back(standin::Matrix({3, coarse.size() / 3}, coarse));
      args.push_back(Values(in, in.ConsumeIntegralInRange<size_t>(0, ndof), 1, -1.0, 1.0));
    } else if (mode == 4) {
      std::vector<double> elements = {0};
      if (in.ConsumeBool()) elements = {static_cast<double>(in.ConsumeIntegralInRange(1, 40))};
      args.push_back(standin::Row(elements));
      args.push_back(Values(in, in.ConsumeIntegralInRange<size_t>(0, ndof), 1, -1.0, 1.0));
    } else {
      args.push_back(Values(in, static_cast<size_t>(d), in.ConsumeIntegralInRange<size_t>(0, 9),
                            -0.2, 1.2));
      args.push_back(Values(in, in.ConsumeIntegralInRange<size_t>(0, ndof), 1, -1.0, 1.0));
    }
    if (in.ConsumeBool()) {
      args[in.ConsumeIntegralInRange<size_t>(0, args.size() - 1)] = Anything(in);
    }
    if (in.ConsumeIntegralInRange(0, 15) == 15) args.pop_back();

    std::vector<const mxArray*> handles;
    std::vector<std::vector<uint64_t>> before;
    for (const Array& a : args) {
      handles.push_back(a.get());
      before.push_back(Bits(standin::Values(a.get())));
    }
    const int nrhs = static_cast<int>(args.size());
    const standin::Result r = plugin.Call(nlhs, handles);
    if (r.overrun) Fault("wrote past its output slots");
    if (r.foreign) Fault("stored an array it did not create");
    if (r.dropped != 0 && r.id.find(":outOfMemory") == std::string::npos) {
      Fault("created arrays it did not store", r.id);
    }
    for (int k = 0; k < nrhs; ++k) {
      if (Bits(standin::Values(handles[k])) != before[k]) Fault("changed input", std::to_string(k));
    }
    ++Outcomes()[r.failed ? (r.id.empty() ? "usage" : r.id) : "result"];
    if (r.failed) {
      const std::string who = kForm ? target.who : r.id.substr(0, r.id.find(':'));
      bool known = r.id.empty() || r.id.rfind(who + ":", 0) == 0;
      if (!kForm && !r.id.empty()) {
        known = false;
        for (int m = 0; m <= 5; ++m) known = known || who == Who(m);
      }
      if (!known) Fault("raised without its identifier:", r.id + " " + r.message);
      for (const Array& out : r.outputs) {
        if (out != nullptr) Fault("failed but left an output");
      }
    } else {
      for (const Array& out : r.outputs) {
        if (out == nullptr) Fault("left a requested slot empty");
      }
    }
  }
  if (standin::LiveArrays() != live) Fault("left arrays alive");
  return 0;
}
