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

// The inputs in order, and the names their faults are reported under: the fields of the
// geometry and space structs and the options they come from.
enum Input {
  kCoefs,
  kOrder,
  kKnots,  // three of them
  kSpaceOrder = kKnots + 3,
  kSpaceKnots,  // three of them
  kSpaceWeights = kSpaceKnots + 3,
  kQuadrature,  // three of them
  kElements = kQuadrature + 3,
  kOptions,
};
static_assert(kOptions + 1 == kMeshInputs, "the mesh inputs");

// "geometry.knots" for a curve's one vector, "geometry.knots{2}" for a direction of more.
struct Name {
  char text[40];
};
Name Indexed(const char* base, int d, int directions) {
  Name n;
  if (directions == 1) {
    std::snprintf(n.text, sizeof n.text, "%s", base);
  } else {
    std::snprintf(n.text, sizeof n.text, "%s{%d}", base, d + 1);
  }
  return n;
}

struct Array {
  const double* v;
  std::size_t count, rows, cols;
};

Array Get(Who who, const mxArray* a, const char* name) {
  if (!mxIsDouble(a)) {
    Fail(who, Fault::NotDouble, "%s must be a real double array, found %s.", name,
         mxGetClassName(a));
  }
  if (mxIsComplex(a)) Fail(who, Fault::Complex, "%s must be real, found a complex array.", name);
  if (mxIsSparse(a)) Fail(who, Fault::Sparse, "%s must be a full array, found a sparse one.", name);
  return {mxGetPr(a), mxGetNumberOfElements(a), mxGetM(a), mxGetN(a)};
}

// Orders of d directions: integers 1..kMaxDegree + 1; the degrees into p.
void ReadOrders(Who who, const char* name, const Array& a, int d, int* p) {
  for (int k = 0; k < d; ++k) {
    const double v = a.v[k];
    if (!std::isfinite(v) || v != std::trunc(v)) {
      Fail(who, Fault::OrderNotInteger, "%s(%d) must be an integer order (degree + 1), found %g.",
           name, k + 1, v);
    }
    if (v < 1) {
      Fail(who, Fault::OrderTooSmall, "%s(%d) must be an order of at least 1, found %g.", name,
           k + 1, v);
    }
    if (v > kMaxDegree + 1) {
      Fail(who, Fault::OrderTooLarge, "%s(%d) must be an order of at most %d, found %g.", name,
           k + 1, kMaxDegree + 1, v);
    }
    p[k] = static_cast<int>(v) - 1;
  }
}

// A direction's knots: a row, at least 2p + 2 of them (p + 1 functions), in order, spanning a
// domain [U[p], U[n]] of positive length.
void ReadKnots(Who who, const char* name, const Array& a, Axis* axis) {
  if (a.rows != 1) {
    Fail(who, Fault::KnotsNotRow, "%s must be a row vector of knots, found a %zux%zu array.", name,
         a.rows, a.cols);
  }
  if (a.cols > static_cast<std::size_t>(INT_MAX)) {
    Fail(who, Fault::KnotsTooLong, "%s must hold at most %d knots, found %zu.", name, INT_MAX,
         a.cols);
  }
  const int m = static_cast<int>(a.cols);
  const int needed = 2 * axis->p + 2;
  if (m < needed) {
    Fail(who, Fault::KnotsTooShort, "%s needs at least %d knots for degree %d, found %d.", name,
         needed, axis->p, m);
  }
  if (!Ordered(a.v, 0, m - 1)) {
    const OrderFault f = FirstOrderFault(a.v, 0, m - 1);
    if (f.isNaN) {
      Fail(who, Fault::KnotsNaN, "%s must not hold NaN, found %s(%d) = NaN.", name, name,
           f.nan + 1);
    }
    Fail(who, Fault::KnotsDecreasing, "%s must be non-decreasing, found %s(%d) < %s(%d).", name,
         name, f.k + 1, name, f.k);
  }
  // In order, so the ends bound every knot; their difference bounds every span and support, which
  // the basis divides by: it must not overflow.
  if (!std::isfinite(a.v[0]) || !std::isfinite(a.v[m - 1])) {
    Fail(who, Fault::KnotsNotFinite, "%s must be finite, found %s(%d) = %g.", name, name,
         std::isfinite(a.v[0]) ? m : 1, std::isfinite(a.v[0]) ? a.v[m - 1] : a.v[0]);
  }
  if (!std::isfinite(a.v[m - 1] - a.v[0])) {
    Fail(who, Fault::KnotsNotFinite,
         "%s must span a finite length: %s(%d) - %s(1) = %g - %g overflows.", name, name, m, name,
         a.v[m - 1], a.v[0]);
  }
  axis->U = a.v;
  axis->m = m;
  axis->n = m - axis->p - 1;
  if (!(a.v[axis->p] < a.v[axis->n])) {
    Fail(who, Fault::DomainEmpty,
         "%s must span a domain of positive length: %s(%d) = %s(%d) = %g for degree %d.", name,
         name, axis->p + 1, name, axis->n + 1, a.v[axis->p], axis->p);
  }
}

// An input that must be empty beyond the patch's directions.
void ExpectEmpty(Who who, const char* name, const Array& a, int d) {
  if (a.count != 0) {
    Fail(who, Fault::Dimensions, "%s must be empty for a patch of %d parametric direction%s.",
         name, d, d == 1 ? "" : "s");
  }
}

// Offsets 1, n0, n0 n1 and the product of the counts, or false if it overflows.
bool Strides(evaluators::Call* call, std::size_t* total) {
  std::size_t count = 1;
  for (int d = 0; d < call->directions; ++d) {
    call->stride[d] = static_cast<std::ptrdiff_t>(count);
    const std::size_t n = static_cast<std::size_t>(call->axis[d].n);
    if (n > static_cast<std::size_t>(PTRDIFF_MAX) / 4 / count) return false;
    count *= n;
  }
  *total = count;
  return true;
}

// Positive and finite: a NaN fails too.
void CheckWeights(Who who, const char* name, const double* w, std::size_t count,
                  std::size_t step) {
  for (std::size_t k = 0; k < count; ++k) {
    const double v = w[k * step];
    if (!(v > 0.0 && v < INFINITY)) {
      Fail(who, Fault::WeightsNotPositive, "%s must be positive and finite, found %g at %zu.",
           name, v, k + 1);
    }
  }
}

// Every breakpoint of the geometry inside the domain must be one of the space's, and the domains
// must be the same.
void CheckRefinement(Who who, const char* space, const char* geometry, const Axis& s,
                     const Axis& g) {
  if (s.U[s.p] != g.U[g.p] || s.U[s.n] != g.U[g.n]) {
    Fail(who, Fault::NotRefinement,
         "%s must have the domain of %s, [%g, %g]; found [%g, %g].", space, geometry, g.U[g.p],
         g.U[g.n], s.U[s.p], s.U[s.n]);
  }
  int k = s.p;
  for (int j = g.p + 1; j < g.n; ++j) {
    const double v = g.U[j];
    if (v == g.U[j - 1]) continue;
    while (k < s.n && s.U[k] < v) ++k;
    if (s.U[k] != v) {
      Fail(who, Fault::NotRefinement,
           "%s must refine %s: its breakpoint %.17g is not one of the space's.", space, geometry,
           v);
    }
  }
}

void ReadRule(Who who, const char* name, const Array& a, mesh::Rule* rule) {
  if (a.count == 1) {
    const double v = a.v[0];
    if (!std::isfinite(v) || v != std::trunc(v) || v < 1 || v > mesh::kMaxQuadrature) {
      Fail(who, Fault::QuadratureCount, "%s must be a number of nodes from 1 to %d, found %g.",
           name, mesh::kMaxQuadrature, v);
    }
    rule->n = static_cast<int>(v);
    mesh::GaussLegendre(rule->n, rule->node, rule->weight);
    return;
  }
  if (a.rows != 2) {
    Fail(who, Fault::QuadratureRule,
         "%s must be a number of nodes or a 2 x n rule [nodes; weights], found a %zux%zu array.",
         name, a.rows, a.cols);
  }
  if (a.cols < 1 || a.cols > static_cast<std::size_t>(mesh::kMaxQuadrature)) {
    Fail(who, Fault::QuadratureCount, "%s must hold from 1 to %d nodes, found %zu.", name,
         mesh::kMaxQuadrature, a.cols);
  }
  rule->n = static_cast<int>(a.cols);
  for (int q = 0; q < rule->n; ++q) {
    const double t = a.v[2 * q], w = a.v[2 * q + 1];
    if (!(t >= 0.0 && t <= 1.0)) {
      Fail(who, Fault::QuadratureRule, "%s(1,%d) must be a node in [0, 1], found %g.", name, q + 1,
           t);
    }
    if (!std::isfinite(w)) {
      Fail(who, Fault::QuadratureRule, "%s(2,%d) must be a finite weight, found %g.", name, q + 1,
           w);
    }
    rule->node[q] = t;
    rule->weight[q] = w;
  }
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

MeshRequest ReadMesh(const char* call, const mxArray* const prhs[], const char* context) {
  const Who who{call, context ? context : ""};
  Array in[kMeshInputs];
  static const char* const kNames[kMeshInputs] = {
      "geometry.coefs", "geometry.order", "geometry.knots{1}", "geometry.knots{2}",
      "geometry.knots{3}", "space.order", "space.knots{1}", "space.knots{2}", "space.knots{3}",
      "space.weights", "quadrature{1}", "quadrature{2}", "quadrature{3}", "elements", "options"};
  for (int k = 0; k < kMeshInputs; ++k) in[k] = Get(who, prhs[k], kNames[k]);

  MeshRequest rq{};
  rq.who = call;
  mesh::Mesh& mesh = rq.mesh;
  const Array& order = in[kOrder];
  if (order.count < 1 || order.count > kMaxDirections) {
    Fail(who, Fault::Dimensions,
         "geometry.order must hold 1, 2 or 3 orders, one per parametric direction, found %zu.",
         order.count);
  }
  const int d = static_cast<int>(order.count);
  mesh.d = d;
  evaluators::Call& g = mesh.geometry;
  g.directions = d;
  int p[kMaxDirections] = {0, 0, 0};
  ReadOrders(who, "geometry.order", order, d, p);
  for (int k = 0; k < kMaxDirections; ++k) {
    const Name name = Indexed("geometry.knots", k, d);
    if (k >= d) {
      ExpectEmpty(who, name.text, in[kKnots + k], d);
      continue;
    }
    g.axis[k].p = p[k];
    ReadKnots(who, name.text, in[kKnots + k], &g.axis[k]);
  }
  std::size_t ng = 0;
  const Array& coefs = in[kCoefs];
  const bool sized = Strides(&g, &ng);
  if (!sized || coefs.rows != 4 || coefs.count / 4 != ng || coefs.count % 4 != 0) {
    Fail(who, Fault::CoefsSize,
         "geometry.coefs must be 4 x %d x %d x %d for its knots and orders (w x, w y, w z, w of "
         "every control point), found %zu elements in %zu rows.",
         g.axis[0].n, d > 1 ? g.axis[1].n : 1, d > 2 ? g.axis[2].n : 1, coefs.count, coefs.rows);
  }
  for (std::size_t k = 0; k < coefs.count; ++k) {
    if (!std::isfinite(coefs.v[k])) {
      Fail(who, Fault::CoefsNotFinite, "geometry.coefs must be finite, found %g at (%zu,%zu).",
           coefs.v[k], k % 4 + 1, k / 4 + 1);
    }
  }
  CheckWeights(who, "geometry.coefs(4,:), the weights,", coefs.v + 3, ng, 4);
  // The control points themselves, w x / w: a tiny weight overflows them.
  for (std::size_t k = 0; k < coefs.count; ++k) {
    if (k % 4 != 3 && !std::isfinite(coefs.v[k] / coefs.v[k | 3])) {
      Fail(who, Fault::CoefsNotFinite,
           "geometry.coefs(%zu,%zu) / geometry.coefs(4,%zu), a control point's coordinate, must "
           "be finite, found %g / %g.",
           k % 4 + 1, k / 4 + 1, k / 4 + 1, coefs.v[k], coefs.v[k | 3]);
    }
  }
  mesh.coefs = coefs.v;
  rq.controlPoints = ng;

  // The space: the geometry's own basis, or a refinement of it.
  const Array& spaceOrder = in[kSpaceOrder];
  evaluators::Call& s = mesh.space;
  if (spaceOrder.count == 0) {
    for (int k = 0; k < kMaxDirections; ++k) {
      ExpectEmpty(who, kNames[kSpaceKnots + k], in[kSpaceKnots + k], 0);
    }
    ExpectEmpty(who, "space.weights", in[kSpaceWeights], 0);
    mesh.isoparametric = true;
    s = g;  // its weights are the copy MeshMemory makes
  } else {
    if (spaceOrder.count != static_cast<std::size_t>(d)) {
      Fail(who, Fault::Dimensions, "space.order must hold %d order%s, as the geometry, found %zu.",
           d, d == 1 ? "" : "s", spaceOrder.count);
    }
    s.directions = d;
    int sp[kMaxDirections] = {0, 0, 0};
    ReadOrders(who, "space.order", spaceOrder, d, sp);
    for (int k = 0; k < kMaxDirections; ++k) {
      const Name name = Indexed("space.knots", k, d);
      if (k >= d) {
        ExpectEmpty(who, name.text, in[kSpaceKnots + k], d);
        continue;
      }
      s.axis[k].p = sp[k];
      ReadKnots(who, name.text, in[kSpaceKnots + k], &s.axis[k]);
      CheckRefinement(who, name.text, Indexed("geometry.knots", k, d).text, s.axis[k], g.axis[k]);
    }
    std::size_t ns = 0;
    const Array& w = in[kSpaceWeights];
    if (!Strides(&s, &ns) || (w.count != 0 && w.count != ns)) {
      Fail(who, Fault::CoefsSize,
           "space.weights must hold one weight per function, %d x %d x %d, or none; found %zu.",
           s.axis[0].n, d > 1 ? s.axis[1].n : 1, d > 2 ? s.axis[2].n : 1, w.count);
    }
    if (w.count != 0) CheckWeights(who, "space.weights", w.v, w.count, 1);
    s.weights = w.count != 0 ? w.v : nullptr;
  }
  for (int k = 0; k < d; ++k) mesh.nel[k] = mesh::CountElements(s.axis[k]);

  for (int k = 0; k < kMaxDirections; ++k) {
    if (k >= d) {
      ExpectEmpty(who, kNames[kQuadrature + k], in[kQuadrature + k], d);
    } else {
      ReadRule(who, kNames[kQuadrature + k], in[kQuadrature + k], &mesh.rule[k]);
    }
  }

  // Options: [gradient hessian laplacian side rdim].
  const Array& options = in[kOptions];
  if (options.count != 5) {
    Fail(who, Fault::OptionValue,
         "options must be [gradient hessian laplacian side rdim], found %zu values.",
         options.count);
  }
  static const char* const kFlags[] = {"gradient", "hessian", "laplacian"};
  bool flag[3];
  for (int k = 0; k < 3; ++k) {
    const double v = options.v[k];
    if (v != 0.0 && v != 1.0) {
      Fail(who, Fault::OptionValue, "%s must be true or false, found %g.", kFlags[k], v);
    }
    flag[k] = v == 1.0;
  }
  mesh.wanted = {flag[0], flag[1], flag[2]};
  mesh.lanes = evaluators::LaneWidth();
  const double side = options.v[3];
  if (!(side >= 0 && side <= 2 * d && side == std::trunc(side))) {
    Fail(who, Fault::SideOutOfRange, "side must be a face from 1 to %d (or 0: none), found %g.",
         2 * d, side);
  }
  mesh.side = static_cast<int>(side);
  // The physical coordinates: every one up to the last not zero at some control point.
  int used = d;
  for (int m = 0; m < 3; ++m) {
    for (std::size_t a = 0; a < ng; ++a) {
      if (coefs.v[m + 4 * a] != 0.0) {
        if (m + 1 > used) used = m + 1;
        break;
      }
    }
  }
  const double rdim = options.v[4];
  if (rdim != 0 && !(rdim >= used && rdim <= 3 && rdim == std::trunc(rdim))) {
    Fail(who, Fault::OptionValue,
         "rdim must be %d to 3 for this geometry (its coordinates up to %d are not all zero), or "
         "0; found %g.",
         used, used, rdim);
  }
  mesh.rdim = rdim == 0 ? used : static_cast<int>(rdim);

  // The elements, of the mesh or of the face.
  const Array& elements = in[kElements];
  const std::size_t available = mesh::MeshElements(mesh);
  if (elements.count == 1 && elements.v[0] == 0.0) {
    mesh.elements = nullptr;
    mesh.count = available;
  } else {
    for (std::size_t k = 0; k < elements.count; ++k) {
      const double v = elements.v[k];
      if (!(v >= 1 && v <= static_cast<double>(available) && v == std::trunc(v))) {
        Fail(who, Fault::ElementOutOfRange,
             "elements(%zu) must be an element from 1 to %zu%s, found %g.", k + 1, available,
             mesh.side ? " of the side" : "", v);
      }
    }
    // An empty list is no element, not every one (a null list's meaning to the mesh layer): a
    // host may give an empty array no data at all.
    static const double kNoElement = 0;
    mesh.elements = elements.count > 0 ? elements.v : &kNoElement;
    mesh.count = elements.count;
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
  mesh::Fields& base = share.base;
  base.nodes = out[kQuadNodes];
  base.weights = out[kQuadWeights];
  base.x = out[kGeoMap];
  base.jacobian = out[kGeoMapJac];
  base.jacdet = out[kJacdet];
  base.size = out[kElementSize];
  base.normal = out[kNormal];
  base.connectivity = out[kConnectivity];
  base.R = out[kShapeFunctions];
  base.gradient = out[kGradients];
  base.hessian = out[kHessians];
  base.laplacian = out[kLaplacians];
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
