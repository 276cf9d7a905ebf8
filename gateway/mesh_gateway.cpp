#include "mesh_gateway.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "batch.h"
#include "checks.h"
#include "gateway.h"
#include "inputs.h"
#include "lanes.h"
#include "threads.h"

namespace gateway {
namespace {

using evaluators::Axis;
using evaluators::kMaxDirections;

// Every fault a mesh call reports, with its identifier's mnemonic; the calls' m-functions raise
// the first four themselves (the struct and the option names they read). Identifiers are API:
// a mnemonic never changes once shipped.
enum class Fault {
  NotStruct,
  MissingField,
  FieldType,
  UnknownOption,
  TooManyOutputs,
  NotDouble,
  Complex,
  Sparse,
  Dimensions,
  OrderNotInteger,
  OrderTooSmall,
  OrderTooLarge,
  KnotsNotRow,
  KnotsTooLong,
  KnotsTooShort,
  KnotsNaN,
  KnotsNotFinite,
  KnotsDecreasing,
  DomainEmpty,
  CoefsSize,
  CoefsNotFinite,
  WeightsNotPositive,
  NotRefinement,
  QuadratureCount,
  QuadratureRule,
  ElementOutOfRange,
  SideOutOfRange,
  OptionValue,
  TooManyPoints,
  OutOfMemory,
};

constexpr const char* kMnemonic[] = {
    "notStruct",      "missingField",       "fieldType",      "unknownOption",
    "tooManyOutputs", "notDouble",          "complex",        "sparse",
    "dimensions",     "orderNotInteger",    "orderTooSmall",  "orderTooLarge",
    "knotsNotRow",    "knotsTooLong",       "knotsTooShort",  "knotsNaN",
    "knotsNotFinite", "knotsDecreasing",    "domainEmpty",    "coefsSize",
    "coefsNotFinite", "weightsNotPositive", "notRefinement",  "quadratureCount",
    "quadratureRule", "elementOutOfRange",  "sideOutOfRange", "optionValue",
    "tooManyPoints",  "outOfMemory",
};
static_assert(sizeof kMnemonic / sizeof kMnemonic[0] == static_cast<size_t>(Fault::OutOfMemory) + 1,
              "one mnemonic per fault");

[[noreturn]] void Raise(const char* who, const char* mnemonic, const char* format, ...) {
  va_list args;
  va_start(args, format);
  RaiseV(who, "", mnemonic, format, args);
}

// Who reports a fault of ReadMesh: the call, and what its message starts with ("patch 3: " in a
// domain's call, else "").
struct Who {
  const char* name;
  const char* context;
};

[[noreturn]] void FailV(Who who, Fault fault, const char* format, va_list args) {
  char message[400];
  std::vsnprintf(message, sizeof message, format, args);
  Raise(who.name, kMnemonic[static_cast<int>(fault)], "%s%s", who.context, message);
}

[[noreturn]] void Fail(Who who, Fault fault, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FailV(who, fault, format, args);
}

[[noreturn]] void Fail(const char* who, Fault fault, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FailV(Who{who, ""}, fault, format, args);
}

mesh::Input Get(Who who, const mxArray* a, const char* name) {
  if (!mxIsDouble(a)) {
    Fail(who, Fault::NotDouble, "%s must be a real double array, found %s.", name,
         mxGetClassName(a));
  }
  if (mxIsComplex(a)) Fail(who, Fault::Complex, "%s must be real, found a complex array.", name);
  if (mxIsSparse(a)) Fail(who, Fault::Sparse, "%s must be a full array, found a sparse one.", name);
  return {mxGetPr(a), mxGetNumberOfElements(a), mxGetM(a), mxGetN(a)};
}

// a times b, or SIZE_MAX where it overflows.
std::size_t Times(std::size_t a, std::size_t b) {
  return b != 0 && a > SIZE_MAX / b ? SIZE_MAX : a * b;
}

}  // namespace

void MeshFault(const char* who, const char* mnemonic, const char* format, ...) {
  va_list args;
  va_start(args, format);
  RaiseV(who, "", mnemonic, format, args);
}

static_assert(kMeshInputs == mesh::kInputs, "the mesh inputs");

bool SameValues(const mxArray* const a[], const mxArray* const b[]) {
  const int arrays[2] = {0, 9};  // coefs and spaceWeights (mesh_gateway.h)
  for (int k : arrays) {
    if (!mxIsDouble(a[k]) || !mxIsDouble(b[k]) || mxIsComplex(a[k]) || mxIsComplex(b[k]) ||
        mxIsSparse(a[k]) || mxIsSparse(b[k]) || mxGetPr(a[k]) != mxGetPr(b[k]) ||
        mxGetM(a[k]) != mxGetM(b[k]) || mxGetN(a[k]) != mxGetN(b[k])) {
      return false;
    }
  }
  return true;
}

MeshRequest ReadMesh(const char* call, const mxArray* const prhs[], const char* context,
                     bool valuesChecked) {
  const Who who{call, context ? context : ""};
  static const char* const kNames[kMeshInputs] = {
      "geometry.coefs", "geometry.order", "geometry.knots{1}", "geometry.knots{2}",
      "geometry.knots{3}", "space.order", "space.knots{1}", "space.knots{2}", "space.knots{3}",
      "space.weights", "quadrature{1}", "quadrature{2}", "quadrature{3}", "elements", "options"};
  mesh::Input in[kMeshInputs];
  for (int k = 0; k < kMeshInputs; ++k) in[k] = Get(who, prhs[k], kNames[k]);
  MeshRequest rq{};
  rq.who = call;
  mesh::Error e;
  if (!mesh::ReadInputs(in, &rq.mesh, &rq.controlPoints, &e, valuesChecked)) {
    Raise(call, e.mnemonic, "%s%s", who.context, e.message);
  }
  return rq;
}

MeshMemory::MeshMemory(MeshRequest* rq, int threads, std::size_t extraPerThread,
                       std::size_t perCall) {
  mesh::Mesh& mesh = rq->mesh;
  const auto round = [](std::size_t bytes) { return (bytes + 63) / 64 * 64; };
  const std::size_t weights = round(rq->controlPoints * sizeof(double));
  const std::size_t spans = round(mesh::SpanInts(mesh) * sizeof(int));
  const std::size_t call = round(perCall);
  const std::size_t scratch = round(mesh::ScratchBytes(mesh));
  const std::size_t extra = round(extraPerThread);
  if (threads > 64) threads = 64;
  for (; threads >= 1 && block_ == nullptr; --threads) {
    block_ = std::malloc(64 + weights + spans + call + threads * (scratch + extra));
    if (block_ == nullptr) continue;
    char* at = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(block_) + 63) / 64 * 64);
    double* w = reinterpret_cast<double*>(at);
    for (std::size_t a = 0; a < rq->controlPoints; ++a) w[a] = mesh.coefs[3 + 4 * a];
    mesh.geometry.weights = w;
    if (mesh.isoparametric) mesh.space.weights = w;
    mesh::Spans(&mesh, reinterpret_cast<int*>(at + weights));
    at += weights + spans;
    callExtra_ = at;
    at += call;
    threads_ = threads;
    for (int t = 0; t < threads; ++t, at += scratch + extra) {
      scratch_[t] = mesh::MakeScratch(mesh, at);
      extra_[t] = at + scratch;
    }
  }
}

void MeshMemory::Release() {
  if (block_ == nullptr) return;
  std::free(block_);
  block_ = nullptr;
  threads_ = 0;
}

namespace {

using namespace mesh_output;

constexpr const char* kOutputNames[kOutputs] = {
    "quad_nodes",   "quad_weights",     "geo_map",       "geo_map_jac",
    "jacdet",       "element_size",     "normal",        "connectivity",
    "shape_functions", "shape_function_gradients", "shape_function_hessians",
    "shape_function_laplacians", "dofs", "nel_dir", "counts"};

struct Share {
  const mesh::Mesh* mesh;
  const MeshMemory* memory;
  mesh::Fields base;
};

void RunShare(void* context, int t, std::size_t begin, std::size_t end) {
  const Share* s = static_cast<const Share*>(context);
  mesh::EvaluateElements(*s->mesh, s->memory->scratch(t), s->base, begin, end);
}

}  // namespace

mesh::Fields FieldsOfOutputs(double* const out[]) {
  mesh::Fields f{};
  f.nodes = out[kQuadNodes];
  f.weights = out[kQuadWeights];
  f.x = out[kGeoMap];
  f.jacobian = out[kGeoMapJac];
  f.jacdet = out[kJacdet];
  f.size = out[kElementSize];
  f.normal = out[kNormal];
  f.connectivity = out[kConnectivity];
  f.R = out[kShapeFunctions];
  f.gradient = out[kGradients];
  f.hessian = out[kHessians];
  f.laplacian = out[kLaplacians];
  return f;
}

void RunMeshEval(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const char* who = "MeshEval";
  if (IsHierarchicalCall(nrhs, prhs, kFormExtra)) {
    RunHierarchicalMeshEval(nlhs, plhs, nrhs, prhs);
    return;
  }
  if (nrhs != kMeshInputs) {
    char message[256];
    std::snprintf(message, sizeof message,
                  "%d inputs expected, as in [quad_nodes, ...] = MeshEvalCore(coefs, order, "
                  "knots1, knots2, knots3, spaceOrder, spaceKnots1, spaceKnots2, spaceKnots3, "
                  "spaceWeights, quadrature1, quadrature2, quadrature3, elements, options)",
                  kMeshInputs);
    mexErrMsgTxt(message);
  }
  if (nlhs > kOutputs) {
    Fail(who, Fault::TooManyOutputs, "%d outputs were requested; MeshEvalCore has at most %d.",
         nlhs, static_cast<int>(kOutputs));
  }
  MeshRequest rq = ReadMesh(who, prhs);
  mesh::Mesh& mesh = rq.mesh;
  const std::size_t nqn = static_cast<std::size_t>(mesh::Nodes(mesh));
  const std::size_t nsh = static_cast<std::size_t>(mesh::Functions(mesh));
  const std::size_t d = static_cast<std::size_t>(mesh.d);
  const std::size_t r = static_cast<std::size_t>(mesh.rdim);
  const std::size_t nel = mesh.count;
  const std::size_t dofs = mesh::SideFunctions(mesh, nullptr);
  // Rows of each output's column (0: the output is empty), and its columns.
  std::size_t rows[kOutputs] = {
      d * nqn,
      nqn,
      r * nqn,
      r * d * nqn,
      nqn,
      1,
      mesh::HasNormal(mesh) ? r * nqn : 0,
      nsh,
      Times(nqn, nsh),
      mesh.wanted.gradient ? Times(r * nqn, nsh) : 0,
      mesh.wanted.hessian ? Times(r * r * nqn, nsh) : 0,
      mesh.wanted.laplacian ? Times(nqn, nsh) : 0,
      mesh.side ? std::size_t{1} : 0,
      1,
      1};
  std::size_t cols[kOutputs];
  for (int o = 0; o < kOutputs; ++o) cols[o] = rows[o] ? nel : 0;
  cols[kDofs] = mesh.side ? dofs : 0;
  cols[kNelDir] = mesh.side && mesh.d > 1 ? d - 1 : d;
  if (mesh.side && mesh.d == 1) cols[kNelDir] = 1;
  cols[kCounts] = 5;
  const std::size_t most = MaxOutputElements();
  for (int o = 0; o < kOutputs; ++o) {
    if (rows[o] > static_cast<std::size_t>(INT_MAX)) {
      Fail(who, Fault::TooManyPoints,
           "%s would have %zu rows (values per element), more than the %d a column may hold; "
           "evaluate with fewer nodes or functions per element.",
           kOutputNames[o], rows[o], INT_MAX);
    }
    if (Times(rows[o], cols[o]) > most) {
      Fail(who, Fault::TooManyPoints,
           "%s would hold %zu x %zu elements, more than the %zu an array may hold in this host; "
           "evaluate fewer elements a call.",
           kOutputNames[o], rows[o], cols[o], most);
    }
  }

  // Outputs first: the host may end the call while making one, and nothing of ours is live yet.
  Outputs made(nlhs, plhs);
  double* out[kOutputs] = {};
  for (int o = 0; o < kOutputs; ++o) {
    const std::size_t m = rows[o], n = rows[o] ? cols[o] : 0;
    out[o] = made.Matrix(o, m, n, Outputs::Fill::Caller);
    if (m * n == 0) out[o] = nullptr;
  }
  if (out[kDofs]) mesh::SideFunctions(mesh, out[kDofs]);
  if (out[kNelDir]) {
    const int fixed = mesh.side ? (mesh.side - 1) / 2 : -1;
    for (int k = 0, c = 0; k < mesh.d; ++k) {
      if (k != fixed) out[kNelDir][c++] = mesh.nel[k];
    }
    if (mesh.side && mesh.d == 1) out[kNelDir][0] = 1;
  }
  if (out[kCounts]) {
    std::size_t ndof = 1;
    for (int k = 0; k < mesh.d; ++k) ndof *= static_cast<std::size_t>(mesh.space.axis[k].n);
    const double counts[5] = {static_cast<double>(mesh.side ? mesh.d - 1 : mesh.d),
                              static_cast<double>(mesh.rdim), static_cast<double>(nqn),
                              static_cast<double>(nsh), static_cast<double>(ndof)};
    for (int k = 0; k < 5; ++k) out[kCounts][k] = counts[k];
  }

  Share share;
  share.mesh = &mesh;
  share.base = FieldsOfOutputs(out);
  if (nel == 0) return;
  const double work = mesh::ElementCost(mesh) * static_cast<double>(nel);
  MeshMemory memory(&rq, evaluators::ThreadsFor(work));
  if (memory.threads() == 0) {
    Fail(who, Fault::OutOfMemory, "MeshEval could not allocate its %zu bytes of scratch.",
         mesh::ScratchBytes(mesh));
  }
  share.memory = &memory;
  evaluators::Shares(nel, memory.threads(), 256 * 1024, RunShare, &share);
  memory.Release();
  if (evaluators::Interrupted()) Interrupt();
}

}  // namespace gateway
