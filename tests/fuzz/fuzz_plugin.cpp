// Fuzzes one plug-in or batch twin of the registry (NURBS_FUZZ_TARGET, linked in) through the
// stand-in host. Each input becomes an argument list of random length whose arrays have random
// classes, shapes and values, often close to valid ones (sorted knots, small degrees) so that the
// checks let calls through, and a random number of outputs. Every call must either return outputs
// of the documented sizes in the slots asked for only, or raise an error with an identifier (or the
// usage message); it must leave the inputs as they were and no array alive. Anything else aborts,
// and AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer watch the rest.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "bits.h"
#include "registry.h"
#include "standin.h"

namespace {

using gateway::Arg;
using gateway::Form;
using standin::Array;
using standin::Class;

struct Shape {
  const gateway::Signature* sig;
  Form form;
  int outputs;
  std::string name;
};

Shape ThisPlugin() {
  for (const gateway::Signature* sig : registry::kAll) {
    for (Form form : {Form::Point, Form::Batch}) {
      const std::string name = std::string(sig->name) + (form == Form::Batch ? "Batch" : "");
      if (name == NURBS_FUZZ_TARGET) return {sig, form, gateway::OutputCount(*sig, form), name};
    }
  }
  std::abort();
}

[[noreturn]] void Fault(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "%s: %s %s\n", NURBS_FUZZ_TARGET, what, detail.c_str());
  std::abort();
}

double Special(FuzzedDataProvider& in) {
  static const double kValues[] = {0.0,
                                   -0.0,
                                   1.0,
                                   2.0,
                                   3.0,
                                   0.5,
                                   2.9,
                                   -0.5,
                                   -1.0,
                                   -3.0,
                                   19.0,
                                   1e9,
                                   -1e9,
                                   1e308,
                                   -1e308,
                                   5e-324,
                                   std::numeric_limits<double>::quiet_NaN(),
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity()};
  return in.PickValueInArray(kValues);
}

double Value(FuzzedDataProvider& in) {
  return in.ConsumeBool() ? Special(in) : in.ConsumeFloatingPointInRange(-2.0, 3.0);
}

// Knots that are often valid: a sorted row, clamped at both ends, now and then spoiled.
std::vector<double> Knots(FuzzedDataProvider& in) {
  const int degree = in.ConsumeIntegralInRange(0, 4);
  const int inner = in.ConsumeIntegralInRange(0, 8);
  std::vector<double> U(degree + 1, 0.0);
  for (int k = 0; k < inner; ++k) U.push_back(in.ConsumeFloatingPointInRange(0.0, 1.0));
  std::sort(U.begin(), U.end());
  U.insert(U.end(), degree + 1, 1.0);
  if (in.ConsumeIntegralInRange(0, 5) == 0 && !U.empty()) {
    U[in.ConsumeIntegralInRange<size_t>(0, U.size() - 1)] = Special(in);
  }
  return U;
}

Array Argument(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0:
    case 1:
      return standin::Scalar(in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 5) : Special(in));
    case 2:
    case 3:
      return standin::Row(Knots(in));
    case 4: {  // weights or control values
      std::vector<double> w(in.ConsumeIntegralInRange(0, 400));
      for (double& v : w) v = in.ConsumeBool() ? 1.0 : Value(in);
      return standin::Row(w);
    }
    case 5: {  // a point or spans
      std::vector<double> v(in.ConsumeIntegralInRange(0, 4));
      for (double& x : v)
        x = in.ConsumeBool() ? in.ConsumeFloatingPointInRange(-0.2, 1.2) : Value(in);
      return standin::Row(v);
    }
    case 6: {  // knots of another shape
      const std::vector<double> U = Knots(in);
      const size_t rows = in.ConsumeIntegralInRange<size_t>(0, 3);
      return standin::Matrix({rows, rows == 0 ? 0 : U.size() / rows}, U);
    }
    default: {  // anything: class, complexity, sparsity, shape, values
      static const Class kClasses[] = {Class::Double, Class::Double, Class::Single,
                                       Class::Int32,  Class::Uint8,  Class::Logical,
                                       Class::Char,   Class::Cell,   Class::Struct};
      const Class cls = in.PickValueInArray(kClasses);
      std::vector<size_t> dims(in.ConsumeIntegralInRange(1, 3));
      for (size_t& d : dims) d = in.ConsumeIntegralInRange<size_t>(0, 5);
      const bool complex = in.ConsumeIntegralInRange(0, 7) == 0;
      const bool sparse = in.ConsumeIntegralInRange(0, 7) == 0;
      if (cls == Class::Double && !complex && !sparse) {
        size_t n = 1;
        for (size_t d : dims) n *= d;
        std::vector<double> v(n);
        for (double& x : v) x = Value(in);
        return standin::Matrix(dims, v);
      }
      return standin::Make(cls, dims, complex, sparse);
    }
  }
}

// With NURBS_FUZZ_STATS set, how the calls ended is printed at exit: results and each identifier.
std::map<std::string, long>& Outcomes() {
  static auto* outcomes = new std::map<std::string, long>;  // outlives the exit handlers
  return *outcomes;
}

void PrintOutcomes() {
  for (const auto& [outcome, count] : Outcomes())
    std::fprintf(stderr, "%8ld %s\n", count, outcome.c_str());
}

// A call close to a valid one: degrees 0..4, clamped knots with enough functions, a weight per
// control point, spans and an index in range, 0 to 6 points for a twin, each of them now and then
// off by a little; then, often, one input swapped for anything at all.
std::vector<Array> Plausible(FuzzedDataProvider& in, const Shape& shape) {
  const gateway::Signature& sig = *shape.sig;
  const int directions = sig.evaluator->directions;
  int p[3] = {0, 0, 0}, n[3] = {1, 1, 1};
  for (int d = 0; d < directions; ++d) {
    p[d] = in.ConsumeIntegralInRange(0, 4);
    n[d] = std::max(p[d] + 1, 3) + in.ConsumeIntegralInRange(0, 4);
  }
  const size_t points = shape.form == Form::Batch ? in.ConsumeIntegralInRange(0, 6) : 1;
  const size_t rows = shape.form == Form::Batch && directions > 1 ? directions : 1;
  std::vector<Array> args;
  for (int k = 0, degree = 0, knots = 0; k < sig.nargs; ++k) {
    const int slack = in.ConsumeIntegralInRange(0, 15) == 0 ? in.ConsumeIntegralInRange(-2, 2) : 0;
    switch (sig.args[k].kind) {
      case Arg::Point: {
        std::vector<double> x(directions * points);
        for (double& v : x)
          v = in.ConsumeBool() ? in.ConsumeFloatingPointInRange(0.0, 1.0) : Value(in);
        args.push_back(standin::Matrix({rows, x.size() / rows}, x));
        break;
      }
      case Arg::Degree:
        args.push_back(
            standin::Scalar(p[degree++] + (in.ConsumeIntegralInRange(0, 7) ? 0.0 : Value(in))));
        break;
      case Arg::Knots: {
        const int d = knots++;
        std::vector<double> U(p[d] + 1, 0.0);
        std::vector<double> inner(std::max(0, n[d] - p[d] - 1 + slack));
        for (double& u : inner) u = in.ConsumeFloatingPointInRange(0.0, 1.0);
        std::sort(inner.begin(), inner.end());
        U.insert(U.end(), inner.begin(), inner.end());
        U.insert(U.end(), p[d] + 1, 1.0);
        if (in.ConsumeIntegralInRange(0, 7) == 0)
          U[in.ConsumeIntegralInRange<size_t>(0, U.size() - 1)] = Special(in);
        args.push_back(standin::Row(U));
        break;
      }
      case Arg::Weights:
      case Arg::ControlValues: {
        std::vector<double> w(std::max(0, n[0] * n[1] * n[2] + slack));
        for (double& v : w) v = in.ConsumeBool() ? 1.0 : in.ConsumeFloatingPointInRange(-1.0, 2.0);
        args.push_back(standin::Row(w));
        break;
      }
      case Arg::Spans: {
        std::vector<double> spans(directions * points);
        for (size_t j = 0; j < spans.size(); ++j) {
          const int d = static_cast<int>(j % directions);
          spans[j] = in.ConsumeIntegralInRange(p[d], n[d] - 1) + slack;
        }
        args.push_back(standin::Matrix({static_cast<size_t>(directions), points}, spans));
        break;
      }
      case Arg::Index:
        args.push_back(standin::Scalar(in.ConsumeIntegralInRange(1, n[0]) + slack));
        break;
    }
  }
  if (in.ConsumeBool()) args[in.ConsumeIntegralInRange<size_t>(0, args.size() - 1)] = Argument(in);
  return args;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::getenv("NURBS_FUZZ_STATS") != nullptr) std::atexit(PrintOutcomes);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Shape shape = ThisPlugin();
  static const standin::Plugin plugin(&mexFunction);
  const gateway::Signature& sig = *shape.sig;
  FuzzedDataProvider in(data, size);
  const int nlhs = in.ConsumeIntegralInRange(0, 9) == 0
                       ? in.ConsumeIntegralInRange(0, 9)
                       : in.ConsumeIntegralInRange(0, shape.outputs);
  const int nargs = sig.nargs;
  const int nrhs = in.ConsumeIntegralInRange(0, 9) == 0 ? in.ConsumeIntegralInRange(0, 10) : nargs;
  const long live = standin::LiveArrays();
  {
    std::vector<Array> args;
    if (nrhs == nargs && in.ConsumeIntegralInRange(0, 4) != 0) {
      args = Plausible(in, shape);
    } else {
      for (int k = 0; k < nrhs; ++k) args.push_back(Argument(in));
    }
    std::vector<const mxArray*> handles;
    std::vector<std::vector<uint64_t>> before;
    for (const Array& a : args) {
      handles.push_back(a.get());
      before.push_back(Bits(standin::Values(a.get())));
    }

    const standin::Result r = plugin.Call(nlhs, handles);
    if (r.overrun) Fault("wrote past its output slots");
    if (r.foreign) Fault("stored an array it did not create");
    if (r.dropped != 0) Fault("created arrays it did not store");
    for (int k = 0; k < nrhs; ++k) {
      if (Bits(standin::Values(handles[k])) != before[k]) Fault("changed input", std::to_string(k));
    }
    ++Outcomes()[r.failed ? (r.id.empty() ? "usage" : r.id) : "result"];
    if (r.failed) {
      const bool usage = r.id.empty() && nrhs != nargs;
      const bool identified = r.id.rfind(shape.name + ":", 0) == 0;
      if (!usage && !identified) Fault("raised without an identifier:", r.message);
      for (const Array& out : r.outputs) {
        if (out != nullptr) Fault("failed but left an output");
      }
    } else {
      if (nrhs != nargs) Fault("accepted a wrong input count");
      if (nlhs > shape.outputs) Fault("accepted too many outputs");
      // Rows of one entry per function that does not vanish, or scalars; a twin's have P rows.
      size_t nen = 1, points = 1;
      for (int k = 0; k < nargs; ++k) {
        const Arg kind = sig.args[k].kind;
        if (kind == Arg::Degree && sig.sizes == gateway::Sizes::Rows)
          nen *= static_cast<size_t>(std::trunc(standin::Values(handles[k])[0])) + 1;
        if (kind == Arg::Point && shape.form == Form::Batch)
          points = standin::Values(handles[k]).size() / sig.evaluator->directions;
      }
      for (const Array& out : r.outputs) {
        if (out == nullptr) Fault("left a requested slot empty");
        const std::vector<size_t> dims = standin::Dims(out.get());
        if (dims != std::vector<size_t>{points, nen}) Fault("output of the wrong size");
      }
    }
  }
  if (standin::LiveArrays() != live) Fault("left arrays alive");
  return 0;
}
