// Fuzzes one of the solvers' native cores (NURBS_FUZZ_TARGET, linked in) through the stand-in
// host. A setup core gets a small patch of 1 to 3 directions (a random patch or the annulus
// under a B-spline space), a form of any kind and scales and its coefficients, now and then one
// value off; an application core gets the arrays a real setup made (or, for the preconditioner,
// grids of random eigenpairs, scales and maps), then one array swapped for a spoiled one (a value
// off, fewer or more values, another class) and x of any shape, and a random number of outputs.
// Every call must either return the outputs asked for or raise an error with the identifier of
// its m-function (or the usage message), leave the inputs as they were and no array alive.
// AddressSanitizer, UBSan and LeakSanitizer watch the rest.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bits.h"
#include "mesh_case.h"
#include "solver_gateway.h"
#include "standin.h"

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

namespace {

using standin::Array;
using standin::Class;

const std::string kTarget = NURBS_FUZZ_TARGET;
const bool kSetup = kTarget.find("Setup") != std::string::npos;
const bool kOperator = kTarget.rfind("MatrixFree", 0) == 0;

[[noreturn]] void Fault(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "%s: %s %s\n", NURBS_FUZZ_TARGET, what, detail.c_str());
  std::abort();
}

std::map<std::string, long>& Outcomes() {
  static auto* outcomes = new std::map<std::string, long>;
  return *outcomes;
}

void PrintOutcomes() {
  for (const auto& [outcome, count] : Outcomes())
    std::fprintf(stderr, "%8ld %s\n", count, outcome.c_str());
}

double Odd(FuzzedDataProvider& in) {
  static const double kValues[] = {0.0, -1.0, 0.5, 1.0, 2.0, 1e300, -1e300, 5e-324, 1e15, 4097,
                                   std::numeric_limits<double>::quiet_NaN(),
                                   std::numeric_limits<double>::infinity()};
  return in.PickValueInArray(kValues);
}

// The array a spoiled: a value off, one value fewer or more, another class, complex or sparse,
// or empty.
Array Spoiled(FuzzedDataProvider& in, const mxArray* a) {
  std::vector<double> v = standin::Values(a);
  std::vector<size_t> dims = standin::Dims(a);
  switch (in.ConsumeIntegralInRange(0, 6)) {
    case 0:
      if (!v.empty()) v[in.ConsumeIntegralInRange<size_t>(0, v.size() - 1)] = Odd(in);
      return standin::Matrix(dims, v);
    case 1:
      if (!v.empty()) v.pop_back();
      return standin::Row(v);
    case 2:
      v.push_back(Odd(in));
      return standin::Row(v);
    case 3: {
      static const Class kClasses[] = {Class::Single, Class::Int32, Class::Logical, Class::Char,
                                       Class::Cell, Class::Struct};
      return standin::Make(in.PickValueInArray(kClasses), {1, 3});
    }
    case 4:
      return standin::Make(Class::Double, {1, 3}, in.ConsumeBool(), true);
    case 5:
      return standin::Make(Class::Double, {1, 3}, true, false);
    default:
      return standin::Matrix({0, 0});
  }
}

// The setup's inputs: a patch, a form and its coefficients.
std::vector<Array> SetupInputs(FuzzedDataProvider& in) {
  std::mt19937 rng(in.ConsumeIntegral<unsigned>());
  MeshCase c;
  if (in.ConsumeBool()) {
    c = RandomPatch(rng, in.ConsumeIntegralInRange(1, 3), in.ConsumeIntegralInRange(1, 3),
                    in.ConsumeIntegralInRange(1, 3), in.ConsumeBool());
  } else {
    c = AnnulusCase(in.ConsumeIntegralInRange(1, 4), in.ConsumeIntegralInRange(1, 4),
                    in.ConsumeBool());
  }
  c.options[3] = in.ConsumeIntegralInRange(0, 5) == 0 ? 1 : 0;
  c.options[4] = in.ConsumeIntegralInRange(0, 5) == 0 ? 3 : 0;
  if (in.ConsumeIntegralInRange(0, 5) == 0) c.elements = {1};
  std::vector<Array> args = MeshInputs(c);
  const double kind = in.ConsumeIntegralInRange(0, 6) == 0 ? Odd(in) : in.ConsumeIntegralInRange(0, 4);
  args.push_back(standin::Row({kind, in.ConsumeFloatingPointInRange(-2.0, 2.0),
                               in.ConsumeBool() ? Odd(in) : 1.0}));
  for (int k = in.ConsumeIntegralInRange(0, 2); k > 0; --k) {
    if (in.ConsumeBool()) {
      args.push_back(standin::Scalar(in.ConsumeFloatingPointInRange(-1.0, 3.0)));
    } else {
      args.push_back(standin::Row(std::vector<double>(in.ConsumeIntegralInRange(0, 400), 1.0)));
    }
  }
  return args;
}

void SetupEntry(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunMatrixFreeSetup(nlhs, plhs, nrhs, prhs);
}

// The operator's application: a real setup's arrays, the header, gnum, free and x.
std::vector<Array> OperatorInputs(FuzzedDataProvider& in) {
  static const standin::Plugin setup(&SetupEntry);
  const int p = in.ConsumeIntegralInRange(1, 3), N = in.ConsumeIntegralInRange(1, 3);
  const bool volume = in.ConsumeBool();
  MeshCase c = AnnulusCase(p, N, volume);
  const int kind = in.ConsumeIntegralInRange(1, 4);
  std::vector<Array> made = MeshInputs(c);
  made.push_back(standin::Row({static_cast<double>(kind), 1.0, 2.0}));
  for (int k = kind <= 2 ? 1 : 2; k > 0; --k) made.push_back(standin::Scalar(1.0));
  std::vector<const mxArray*> handles;
  for (const Array& a : made) handles.push_back(a.get());
  standin::Result r = setup.Call(6, handles);
  if (r.failed) Fault("a valid setup failed:", r.message);
  const size_t n1 = static_cast<size_t>(p + N), ndof = n1 * n1 * (volume ? n1 : 1);
  const size_t C = kind == 4 ? (volume ? 3 : 2) : 1;
  std::vector<Array> args;
  args.push_back(standin::Row({static_cast<double>(ndof), static_cast<double>(C)}));
  for (Array& a : r.outputs) args.push_back(std::move(a));
  std::vector<double> gnum;
  if (in.ConsumeBool()) {
    for (size_t a = 0; a < ndof; ++a) gnum.push_back(static_cast<double>(a + 1));
  }
  args.push_back(standin::Row(gnum));
  std::vector<double> free;
  for (size_t i = 0; i < ndof * C; ++i) {
    if (in.ConsumeIntegralInRange(0, 3) != 0) free.push_back(static_cast<double>(i + 1));
  }
  args.push_back(standin::Matrix({free.size(), 1}, free));
  const size_t columns = in.ConsumeIntegralInRange<size_t>(0, 6);
  args.push_back(standin::Matrix({free.size(), columns},
                                 std::vector<double>(free.size() * columns, 0.5)));
  return args;
}

// The preconditioner's application: pieces of random eigenpairs, scales and maps, and x.
std::vector<Array> PreconditionerInputs(FuzzedDataProvider& in) {
  const size_t n = in.ConsumeIntegralInRange<size_t>(1, 40);
  std::vector<Array> args;
  args.push_back(standin::Scalar(static_cast<double>(n)));
  for (int k = in.ConsumeIntegralInRange(1, 3); k > 0; --k) {
    const int d = in.ConsumeIntegralInRange(2, 3);
    size_t m[3] = {0, 0, 0}, N = 1;
    for (int t = 0; t < d; ++t) N *= (m[t] = in.ConsumeIntegralInRange<size_t>(1, 4));
    args.push_back(standin::Row({static_cast<double>(d), static_cast<double>(m[0]),
                                 static_cast<double>(m[1]), static_cast<double>(m[2]),
                                 in.ConsumeFloatingPointInRange(-1.0, 2.0),
                                 in.ConsumeFloatingPointInRange(-1.0, 2.0)}));
    for (int t = 0; t < 3; ++t) {
      std::vector<double> U(m[t] * m[t]), L(m[t]);
      for (double& v : U) v = in.ConsumeFloatingPointInRange(-1.0, 1.0);
      for (double& v : L) v = in.ConsumeFloatingPointInRange(0.0, 3.0);
      args.push_back(standin::Matrix({m[t], m[t]}, U));
      args.push_back(standin::Row(L));
    }
    args.push_back(in.ConsumeBool() ? standin::Matrix({0, 0})
                                    : standin::Row(std::vector<double>(N, 0.5)));
    std::vector<double> map(N);
    for (double& v : map) v = static_cast<double>(in.ConsumeIntegralInRange<size_t>(0, n));
    args.push_back(in.ConsumeBool() && N == n ? standin::Matrix({0, 0}) : standin::Row(map));
  }
  const size_t columns = in.ConsumeIntegralInRange<size_t>(0, 3);
  args.push_back(standin::Matrix({n, columns}, std::vector<double>(n * columns, 1.0)));
  return args;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::getenv("NURBS_FUZZ_STATS") != nullptr) std::atexit(PrintOutcomes);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const standin::Plugin plugin(&mexFunction);
  FuzzedDataProvider in(data, size);
  const int most = kSetup ? (kOperator ? 6 : 8) : 1;
  const int nlhs = in.ConsumeIntegralInRange(0, 9) == 0 ? in.ConsumeIntegralInRange(0, 12)
                                                        : in.ConsumeIntegralInRange(0, most);
  const long live = standin::LiveArrays();
  {
    std::vector<Array> args = kSetup      ? SetupInputs(in)
                              : kOperator ? OperatorInputs(in)
                                          : PreconditionerInputs(in);
    if (in.ConsumeBool() && !args.empty()) {
      const size_t at = in.ConsumeIntegralInRange<size_t>(0, args.size() - 1);
      args[at] = Spoiled(in, args[at].get());
    }
    if (in.ConsumeIntegralInRange(0, 15) == 0) args.pop_back();
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
    for (size_t k = 0; k < handles.size(); ++k) {
      if (Bits(standin::Values(handles[k])) != before[k]) Fault("changed input", std::to_string(k));
    }
    ++Outcomes()[r.failed ? (r.id.empty() ? "usage" : r.id) : "result"];
    const std::string who = kOperator ? "MatrixFreeOperator:" : "FastDiagonalisation:";
    if (r.failed) {
      if (!r.id.empty() && r.id.rfind(who, 0) != 0) Fault("raised without its identifier:", r.message);
      for (const Array& out : r.outputs) {
        if (out != nullptr) Fault("failed but left an output");
      }
    } else {
      if (nlhs > most) Fault("accepted too many outputs");
      for (const Array& out : r.outputs) {
        if (out == nullptr) Fault("left a requested slot empty");
      }
    }
  }
  if (standin::LiveArrays() != live) Fault("left arrays alive");
  return 0;
}
