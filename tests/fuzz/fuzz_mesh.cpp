// Fuzzes one native core of a call over a whole mesh (NURBS_FUZZ_TARGET, linked in) through the
// stand-in host. Each input becomes a mesh call close to a valid one (a patch of 1 to 3
// directions, degrees 0 to 3, clamped knots, a space that refines it or not, rules, elements,
// options), now and then with one value off, often with one input swapped for anything at all,
// and a random number of outputs. Every call must either return outputs of consistent sizes in
// the slots asked for only, or raise an error with the call's identifier (or the usage message);
// it must leave the inputs as they were and no array alive. AddressSanitizer, UBSan and
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
#include "mesh_case.h"
#include "registry.h"
#include "standin.h"

namespace {

using standin::Array;
using standin::Class;

struct Target {
  const registry::MeshCall* call;
  int inputs, outputs;
};

Target ThisCore() {
  for (const registry::MeshCall* call : registry::kMeshCalls) {
    if (std::string(call->core) == NURBS_FUZZ_TARGET) {
      return {call, 15 + registry::ListCount(call->inputs), registry::ListCount(call->outputs)};
    }
  }
  std::abort();
}

[[noreturn]] void Fault(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "%s: %s %s\n", NURBS_FUZZ_TARGET, what, detail.c_str());
  std::abort();
}

double Special(FuzzedDataProvider& in) {
  static const double kValues[] = {0.0,  -0.0, 1.0,   2.0,    0.5,    -1.0,  3.0,
                                   19.0, 65.0, 1e300, -1e300, 5e-324, 1e-15, 2.5,
                                   std::numeric_limits<double>::quiet_NaN(),
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity()};
  return in.PickValueInArray(kValues);
}

std::vector<double> Knots(FuzzedDataProvider& in, int p, int inner) {
  std::vector<double> U(p + 1, 0.0);
  for (int k = 0; k < inner; ++k) U.push_back(in.ConsumeFloatingPointInRange(0.0, 1.0));
  std::sort(U.begin() + p + 1, U.end());
  U.insert(U.end(), p + 1, 1.0);
  return U;
}

Array Anything(FuzzedDataProvider& in) {
  static const Class kClasses[] = {Class::Double, Class::Double,  Class::Double, Class::Single,
                                   Class::Int32,  Class::Logical, Class::Char,   Class::Cell,
                                   Class::Struct};
  const Class cls = in.PickValueInArray(kClasses);
  std::vector<size_t> dims(in.ConsumeIntegralInRange(1, 3));
  for (size_t& d : dims) d = in.ConsumeIntegralInRange<size_t>(0, 5);
  const bool complex = in.ConsumeIntegralInRange(0, 7) == 0;
  const bool sparse = in.ConsumeIntegralInRange(0, 7) == 0;
  if (cls == Class::Double && !complex && !sparse) {
    size_t n = 1;
    for (size_t d : dims) n *= d;
    std::vector<double> v(n);
    for (double& x : v) x = in.ConsumeBool() ? Special(in) : in.ConsumeFloatingPointInRange(-1.0, 3.0);
    return standin::Matrix(dims, v);
  }
  return standin::Make(cls, dims, complex, sparse);
}

// A mesh call close to a valid one.
MeshCase Plausible(FuzzedDataProvider& in, int extra) {
  MeshCase c;
  c.d = in.ConsumeIntegralInRange(1, 3);
  int n[3] = {1, 1, 1};
  for (int k = 0; k < c.d; ++k) {
    const int p = in.ConsumeIntegralInRange(0, 3);
    c.order[k] = p + 1;
    const int inner = in.ConsumeIntegralInRange(0, 3);
    c.knots[k] = Knots(in, p, inner);
    n[k] = p + 1 + inner;
    c.rule[k] = {static_cast<double>(in.ConsumeIntegralInRange(1, 4))};
    if (in.ConsumeIntegralInRange(0, 4) == 0) {
      c.rule[k] = {0.0, 0.5, 1.0, 0.5};
    }
  }
  const int count = n[0] * n[1] * n[2];
  for (int a = 0; a < count; ++a) {
    const double w = in.ConsumeBool() ? 1.0 : in.ConsumeFloatingPointInRange(0.1, 2.0);
    for (int m = 0; m < 3; ++m) c.coefs.push_back(w * in.ConsumeFloatingPointInRange(-1.0, 1.0));
    c.coefs.push_back(w);
  }
  if (in.ConsumeBool()) {
    // A refinement: the same knots with more inside, a degree up or not, weights or none.
    int ns = 1;
    for (int k = 0; k < c.d; ++k) {
      const int up = in.ConsumeIntegralInRange(0, 1);
      std::vector<double> U = c.knots[k];
      U.insert(U.begin(), up, 0.0);
      U.insert(U.end(), up, 1.0);
      for (int j = in.ConsumeIntegralInRange(0, 2); j > 0; --j) {
        U.push_back(in.ConsumeFloatingPointInRange(0.0, 1.0));
      }
      std::sort(U.begin(), U.end());
      c.spaceKnots[k] = U;
      c.spaceOrder.push_back(c.order[k] + up);
      ns *= static_cast<int>(U.size() - c.order[k] - up);
    }
    if (in.ConsumeBool()) c.spaceWeights.assign(ns, 1.0);
  }
  c.options[0] = in.ConsumeBool();
  c.options[1] = in.ConsumeBool();
  c.options[2] = in.ConsumeBool();
  c.options[3] = in.ConsumeIntegralInRange(0, 2 * c.d);
  c.options[4] = in.ConsumeIntegralInRange(0, 3) == 0 ? 3 : 0;
  if (in.ConsumeIntegralInRange(0, 3) == 0) {
    c.elements.clear();
    for (int k = in.ConsumeIntegralInRange(0, 4); k > 0; --k) {
      c.elements.push_back(in.ConsumeIntegralInRange(1, 6));
    }
  }
  for (int k = 0; k < extra; ++k) c.extra.push_back(in.ConsumeFloatingPointInRange(-1.0, 2.0));
  // Now and then one value off.
  if (in.ConsumeIntegralInRange(0, 5) == 0) {
    std::vector<double>* parts[] = {&c.coefs, &c.knots[0], &c.spaceWeights, &c.rule[0],
                                    &c.elements};
    std::vector<double>& v = *parts[in.ConsumeIntegralInRange(0, 4)];
    if (!v.empty()) v[in.ConsumeIntegralInRange<size_t>(0, v.size() - 1)] = Special(in);
  }
  return c;
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
  const int extra = target.inputs - 15;
  const long live = standin::LiveArrays();
  {
    std::vector<Array> args;
    if (in.ConsumeIntegralInRange(0, 9) == 0) {
      for (int k = in.ConsumeIntegralInRange(0, 18); k > 0; --k) args.push_back(Anything(in));
    } else {
      const MeshCase c = Plausible(in, extra);
      args = MeshInputs(c);
      // A coefficient: a constant, or one a physical coordinate (what a vector coefficient
      // takes), or one a node of every element.
      for (double v : c.extra) {
        switch (in.ConsumeIntegralInRange(0, 2)) {
          case 0:
            args.push_back(standin::Scalar(v));
            break;
          case 1: {
            const size_t rows = in.ConsumeIntegralInRange<size_t>(1, 3);
            args.push_back(standin::Matrix({rows, 1}, std::vector<double>(rows, v)));
            break;
          }
          default:
            args.push_back(standin::Row(std::vector<double>(in.ConsumeIntegralInRange(0, 200), v)));
            break;
        }
      }
      if (in.ConsumeBool()) {
        args[in.ConsumeIntegralInRange<size_t>(0, args.size() - 1)] = Anything(in);
      }
    }
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
    if (r.dropped != 0) Fault("created arrays it did not store");
    for (int k = 0; k < nrhs; ++k) {
      if (Bits(standin::Values(handles[k])) != before[k]) Fault("changed input", std::to_string(k));
    }
    ++Outcomes()[r.failed ? (r.id.empty() ? "usage" : r.id) : "result"];
    const std::string who = std::string(target.call->name) + ":";
    if (r.failed) {
      const bool usage = r.id.empty() && nrhs != target.inputs;
      if (!usage && r.id.rfind(who, 0) != 0) Fault("raised without its identifier:", r.message);
      for (const Array& out : r.outputs) {
        if (out != nullptr) Fault("failed but left an output");
      }
    } else {
      if (nrhs != target.inputs) Fault("accepted a wrong input count");
      if (nlhs > target.outputs) Fault("accepted too many outputs");
      for (const Array& out : r.outputs) {
        if (out == nullptr) Fault("left a requested slot empty");
      }
    }
  }
  if (standin::LiveArrays() != live) Fault("left arrays alive");
  return 0;
}
