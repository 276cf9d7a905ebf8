#include "inputs.h"

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "NURBS.h"
#include "lanes.h"

namespace mesh {
namespace {

using evaluators::Axis;

bool Fail(Error* e, const char* mnemonic, const char* format, ...) {
  e->mnemonic = mnemonic;
  va_list args;
  va_start(args, format);
  std::vsnprintf(e->message, sizeof e->message, format, args);
  va_end(args);
  return false;
}

// The first pair U[k-1] > U[k] of U[0..m-1], or holding a NaN: k, and whether a NaN (then `nan`
// is its position); k = -1 where there is none.
struct OrderFault {
  int k;
  bool isNaN;
  int nan;
};
OrderFault FirstOrderFault(const double* U, int m) {
  for (int k = 1; k < m; ++k) {
    if (!(U[k - 1] <= U[k])) {
      const bool isNaN = std::isnan(U[k - 1]) || std::isnan(U[k]);
      return {k, isNaN, std::isnan(U[k - 1]) ? k - 1 : k};
    }
  }
  return {-1, false, -1};
}

// The inputs in order, and the names their faults are reported under: the fields of the
// geometry and space structs and the options they come from.
enum Slot {
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
static_assert(kOptions + 1 == kInputs, "the mesh inputs");

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

// Orders of d directions: integers 1..kMaxDegree + 1; the degrees into p.
bool ReadOrders(Error* e, const char* name, const Input& a, int d, int* p) {
  for (int k = 0; k < d; ++k) {
    const double v = a.v[k];
    if (!std::isfinite(v) || v != std::trunc(v)) {
      return Fail(e, "orderNotInteger", "%s(%d) must be an integer order (degree + 1), found %g.",
                  name, k + 1, v);
    }
    if (v < 1) {
      return Fail(e, "orderTooSmall", "%s(%d) must be an order of at least 1, found %g.", name,
                  k + 1, v);
    }
    if (v > kMaxDegree + 1) {
      return Fail(e, "orderTooLarge", "%s(%d) must be an order of at most %d, found %g.", name,
                  k + 1, kMaxDegree + 1, v);
    }
    p[k] = static_cast<int>(v) - 1;
  }
  return true;
}

// A direction's knots: a row, at least 2p + 2 of them (p + 1 functions), in order, spanning a
// domain [U[p], U[n]] of positive length.
bool ReadKnots(Error* e, const char* name, const Input& a, Axis* axis) {
  if (a.rows != 1) {
    return Fail(e, "knotsNotRow", "%s must be a row vector of knots, found a %zux%zu array.", name,
                a.rows, a.cols);
  }
  if (a.cols > static_cast<std::size_t>(INT_MAX)) {
    return Fail(e, "knotsTooLong", "%s must hold at most %d knots, found %zu.", name, INT_MAX,
                a.cols);
  }
  const int m = static_cast<int>(a.cols);
  const int needed = 2 * axis->p + 2;
  if (m < needed) {
    return Fail(e, "knotsTooShort", "%s needs at least %d knots for degree %d, found %d.", name,
                needed, axis->p, m);
  }
  const OrderFault f = FirstOrderFault(a.v, m);
  if (f.k >= 0) {
    if (f.isNaN) {
      return Fail(e, "knotsNaN", "%s must not hold NaN, found %s(%d) = NaN.", name, name,
                  f.nan + 1);
    }
    return Fail(e, "knotsDecreasing", "%s must be non-decreasing, found %s(%d) < %s(%d).", name,
                name, f.k + 1, name, f.k);
  }
  // In order, so the ends bound every knot; their difference bounds every span and support, which
  // the basis divides by: it must not overflow.
  if (!std::isfinite(a.v[0]) || !std::isfinite(a.v[m - 1])) {
    return Fail(e, "knotsNotFinite", "%s must be finite, found %s(%d) = %g.", name, name,
                std::isfinite(a.v[0]) ? m : 1, std::isfinite(a.v[0]) ? a.v[m - 1] : a.v[0]);
  }
  if (!std::isfinite(a.v[m - 1] - a.v[0])) {
    return Fail(e, "knotsNotFinite",
                "%s must span a finite length: %s(%d) - %s(1) = %g - %g overflows.", name, name, m,
                name, a.v[m - 1], a.v[0]);
  }
  axis->U = a.v;
  axis->m = m;
  axis->n = m - axis->p - 1;
  if (!(a.v[axis->p] < a.v[axis->n])) {
    return Fail(e, "domainEmpty",
                "%s must span a domain of positive length: %s(%d) = %s(%d) = %g for degree %d.",
                name, name, axis->p + 1, name, axis->n + 1, a.v[axis->p], axis->p);
  }
  return true;
}

// An input that must be empty beyond the patch's directions.
bool ExpectEmpty(Error* e, const char* name, const Input& a, int d) {
  if (a.count != 0) {
    return Fail(e, "dimensions", "%s must be empty for a patch of %d parametric direction%s.", name,
                d, d == 1 ? "" : "s");
  }
  return true;
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
bool CheckWeights(Error* e, const char* name, const double* w, std::size_t count,
                  std::size_t step) {
  for (std::size_t k = 0; k < count; ++k) {
    const double v = w[k * step];
    if (!(v > 0.0 && v < INFINITY)) {
      return Fail(e, "weightsNotPositive", "%s must be positive and finite, found %g at %zu.", name,
                  v, k + 1);
    }
  }
  return true;
}

// Every breakpoint of the geometry inside the domain must be one of the space's, and the domains
// must be the same.
bool CheckRefinement(Error* e, const char* space, const char* geometry, const Axis& s,
                     const Axis& g) {
  if (s.U[s.p] != g.U[g.p] || s.U[s.n] != g.U[g.n]) {
    return Fail(e, "notRefinement", "%s must have the domain of %s, [%g, %g]; found [%g, %g].",
                space, geometry, g.U[g.p], g.U[g.n], s.U[s.p], s.U[s.n]);
  }
  int k = s.p;
  for (int j = g.p + 1; j < g.n; ++j) {
    const double v = g.U[j];
    if (v == g.U[j - 1]) continue;
    while (k < s.n && s.U[k] < v) ++k;
    if (s.U[k] != v) {
      return Fail(e, "notRefinement",
                  "%s must refine %s: its breakpoint %.17g is not one of the space's.", space,
                  geometry, v);
    }
  }
  return true;
}

bool ReadRule(Error* e, const char* name, const Input& a, Rule* rule) {
  if (a.count == 1) {
    const double v = a.v[0];
    if (!std::isfinite(v) || v != std::trunc(v) || v < 1 || v > kMaxQuadrature) {
      return Fail(e, "quadratureCount", "%s must be a number of nodes from 1 to %d, found %g.",
                  name, kMaxQuadrature, v);
    }
    rule->n = static_cast<int>(v);
    GaussLegendre(rule->n, rule->node, rule->weight);
    return true;
  }
  if (a.rows != 2) {
    return Fail(
        e, "quadratureRule",
        "%s must be a number of nodes or a 2 x n rule [nodes; weights], found a %zux%zu array.",
        name, a.rows, a.cols);
  }
  if (a.cols < 1 || a.cols > static_cast<std::size_t>(kMaxQuadrature)) {
    return Fail(e, "quadratureCount", "%s must hold from 1 to %d nodes, found %zu.", name,
                kMaxQuadrature, a.cols);
  }
  rule->n = static_cast<int>(a.cols);
  for (int q = 0; q < rule->n; ++q) {
    const double t = a.v[2 * q], w = a.v[2 * q + 1];
    if (!(t >= 0.0 && t <= 1.0)) {
      return Fail(e, "quadratureRule", "%s(1,%d) must be a node in [0, 1], found %g.", name, q + 1,
                  t);
    }
    if (!std::isfinite(w)) {
      return Fail(e, "quadratureRule", "%s(2,%d) must be a finite weight, found %g.", name, q + 1,
                  w);
    }
    rule->node[q] = t;
    rule->weight[q] = w;
  }
  return true;
}

}  // namespace

bool ReadInputs(const Input in[kInputs], Mesh* out, std::size_t* controlPoints, Error* e) {
  static const char* const kNames[kInputs] = {
      "geometry.coefs",    "geometry.order",    "geometry.knots{1}",
      "geometry.knots{2}", "geometry.knots{3}", "space.order",
      "space.knots{1}",    "space.knots{2}",    "space.knots{3}",
      "space.weights",     "quadrature{1}",     "quadrature{2}",
      "quadrature{3}",     "elements",          "options"};
  *out = Mesh{};
  Mesh& mesh = *out;
  const Input& order = in[kOrder];
  if (order.count < 1 || order.count > kMaxDirections) {
    return Fail(
        e, "dimensions",
        "geometry.order must hold 1, 2 or 3 orders, one per parametric direction, found %zu.",
        order.count);
  }
  const int d = static_cast<int>(order.count);
  mesh.d = d;
  evaluators::Call& g = mesh.geometry;
  g.directions = d;
  int p[kMaxDirections] = {0, 0, 0};
  if (!ReadOrders(e, "geometry.order", order, d, p)) return false;
  for (int k = 0; k < kMaxDirections; ++k) {
    const Name name = Indexed("geometry.knots", k, d);
    if (k >= d) {
      if (!ExpectEmpty(e, name.text, in[kKnots + k], d)) return false;
      continue;
    }
    g.axis[k].p = p[k];
    if (!ReadKnots(e, name.text, in[kKnots + k], &g.axis[k])) return false;
  }
  std::size_t ng = 0;
  const Input& coefs = in[kCoefs];
  const bool sized = Strides(&g, &ng);
  if (!sized || coefs.rows != 4 || coefs.count / 4 != ng || coefs.count % 4 != 0) {
    return Fail(
        e, "coefsSize",
        "geometry.coefs must be 4 x %d x %d x %d for its knots and orders (w x, w y, w z, w of "
        "every control point), found %zu elements in %zu rows.",
        g.axis[0].n, d > 1 ? g.axis[1].n : 1, d > 2 ? g.axis[2].n : 1, coefs.count, coefs.rows);
  }
  for (std::size_t k = 0; k < coefs.count; ++k) {
    if (!std::isfinite(coefs.v[k])) {
      return Fail(e, "coefsNotFinite", "geometry.coefs must be finite, found %g at (%zu,%zu).",
                  coefs.v[k], k % 4 + 1, k / 4 + 1);
    }
  }
  if (!CheckWeights(e, "geometry.coefs(4,:), the weights,", coefs.v + 3, ng, 4)) return false;
  // The control points themselves, w x / w: a tiny weight overflows them.
  for (std::size_t k = 0; k < coefs.count; ++k) {
    if (k % 4 != 3 && !std::isfinite(coefs.v[k] / coefs.v[k | 3])) {
      return Fail(
          e, "coefsNotFinite",
          "geometry.coefs(%zu,%zu) / geometry.coefs(4,%zu), a control point's coordinate, must "
          "be finite, found %g / %g.",
          k % 4 + 1, k / 4 + 1, k / 4 + 1, coefs.v[k], coefs.v[k | 3]);
    }
  }
  mesh.coefs = coefs.v;
  *controlPoints = ng;

  // The space: the geometry's own basis, or a refinement of it.
  const Input& spaceOrder = in[kSpaceOrder];
  evaluators::Call& s = mesh.space;
  if (spaceOrder.count == 0) {
    for (int k = 0; k < kMaxDirections; ++k) {
      if (!ExpectEmpty(e, kNames[kSpaceKnots + k], in[kSpaceKnots + k], 0)) return false;
    }
    if (!ExpectEmpty(e, "space.weights", in[kSpaceWeights], 0)) return false;
    mesh.isoparametric = true;
    s = g;  // its weights are the copy MeshMemory makes
  } else {
    if (spaceOrder.count != static_cast<std::size_t>(d)) {
      return Fail(e, "dimensions", "space.order must hold %d order%s, as the geometry, found %zu.",
                  d, d == 1 ? "" : "s", spaceOrder.count);
    }
    s.directions = d;
    int sp[kMaxDirections] = {0, 0, 0};
    if (!ReadOrders(e, "space.order", spaceOrder, d, sp)) return false;
    for (int k = 0; k < kMaxDirections; ++k) {
      const Name name = Indexed("space.knots", k, d);
      if (k >= d) {
        if (!ExpectEmpty(e, name.text, in[kSpaceKnots + k], d)) return false;
        continue;
      }
      s.axis[k].p = sp[k];
      if (!ReadKnots(e, name.text, in[kSpaceKnots + k], &s.axis[k])) return false;
      if (!CheckRefinement(e, name.text, Indexed("geometry.knots", k, d).text, s.axis[k],
                           g.axis[k]))
        return false;
    }
    std::size_t ns = 0;
    const Input& w = in[kSpaceWeights];
    if (!Strides(&s, &ns) || (w.count != 0 && w.count != ns)) {
      return Fail(
          e, "coefsSize",
          "space.weights must hold one weight per function, %d x %d x %d, or none; found %zu.",
          s.axis[0].n, d > 1 ? s.axis[1].n : 1, d > 2 ? s.axis[2].n : 1, w.count);
    }
    if (w.count != 0 && !CheckWeights(e, "space.weights", w.v, w.count, 1)) return false;
    s.weights = w.count != 0 ? w.v : nullptr;
  }
  for (int k = 0; k < d; ++k) mesh.nel[k] = CountElements(s.axis[k]);

  for (int k = 0; k < kMaxDirections; ++k) {
    if (k >= d) {
      if (!ExpectEmpty(e, kNames[kQuadrature + k], in[kQuadrature + k], d)) return false;
    } else {
      if (!ReadRule(e, kNames[kQuadrature + k], in[kQuadrature + k], &mesh.rule[k])) return false;
    }
  }

  // Options: [gradient hessian laplacian side rdim].
  const Input& options = in[kOptions];
  if (options.count != 5) {
    return Fail(e, "optionValue",
                "options must be [gradient hessian laplacian side rdim], found %zu values.",
                options.count);
  }
  static const char* const kFlags[] = {"gradient", "hessian", "laplacian"};
  bool flag[3];
  for (int k = 0; k < 3; ++k) {
    const double v = options.v[k];
    if (v != 0.0 && v != 1.0) {
      return Fail(e, "optionValue", "%s must be true or false, found %g.", kFlags[k], v);
    }
    flag[k] = v == 1.0;
  }
  mesh.wanted = {flag[0], flag[1], flag[2]};
  mesh.lanes = evaluators::LaneWidth();
  const double side = options.v[3];
  if (!(side >= 0 && side <= 2 * d && side == std::trunc(side))) {
    return Fail(e, "sideOutOfRange", "side must be a face from 1 to %d (or 0: none), found %g.",
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
    return Fail(
        e, "optionValue",
        "rdim must be %d to 3 for this geometry (its coordinates up to %d are not all zero), or "
        "0; found %g.",
        used, used, rdim);
  }
  mesh.rdim = rdim == 0 ? used : static_cast<int>(rdim);

  // The elements, of the mesh or of the face.
  const Input& elements = in[kElements];
  const std::size_t available = MeshElements(mesh);
  if (elements.count == 1 && elements.v[0] == 0.0) {
    mesh.elements = nullptr;
    mesh.count = available;
  } else {
    for (std::size_t k = 0; k < elements.count; ++k) {
      const double v = elements.v[k];
      if (!(v >= 1 && v <= static_cast<double>(available) && v == std::trunc(v))) {
        return Fail(e, "elementOutOfRange",
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
  return true;
}

}  // namespace mesh
