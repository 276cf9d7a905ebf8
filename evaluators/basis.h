// What the evaluators share inside: one direction's basis functions at a site, and the weights of
// the functions that do not vanish there.
#ifndef NURBS_EVALUATORS_BASIS_H_
#define NURBS_EVALUATORS_BASIS_H_

#include <cstddef>

#include "evaluators.h"

namespace evaluators {

// The p + 1 functions of one direction that do not vanish at the site, with their first and,
// for order 2, second derivatives. Row k of the kernel's table does not depend on the order
// asked for, so asking for no more than is read gives the same bits as asking for n - 1; row 0
// is BasisFuns' result bit for bit (the same recurrence in the same order).
struct Basis {
  double N[kMaxDegree + 1];
  double d1[kMaxDegree + 1];
  double d2[kMaxDegree + 1];
};
static_assert(3 * sizeof(Basis) + kKernelStackBytes <= kPointStackBytes / 2,
              "a point's fixed scratch leaves half of its bound to the frames around it");

inline void Evaluate(const Call& call, const Site& site, int d, int order, Basis* basis) {
  double* rows[3] = {basis->N, basis->d1, basis->d2};
  const Axis& a = call.axis[d];
  dersBasisFuns(site.s[d], site.u[d], a.p, order, a.U, rows);
}

// The weights (or control values) of the functions that do not vanish at the site: local
// (k, j, i) is at(k, j, i).
struct SpanWeights {
  const double* first;  // local (0, 0, 0), global (su - p, sv - q, sw - r)
  std::ptrdiff_t dj;    // nu
  std::ptrdiff_t di;    // nu nv
  double at(int k, int j, int i = 0) const { return first[k + j * dj + i * di]; }
};

// Offset of local (0, 0, 0) in an array indexed like the weights.
inline std::ptrdiff_t SpanOffset(const Call& call, const Site& site) {
  std::ptrdiff_t offset = 0;
  for (int d = 0; d < call.directions; ++d) {
    offset += (site.s[d] - call.axis[d].p) * call.stride[d];
  }
  return offset;
}

inline SpanWeights Weights(const Call& call, const Site& site) {
  return {call.weights + SpanOffset(call, site), call.directions > 1 ? call.stride[1] : 0,
          call.directions > 2 ? call.stride[2] : 0};
}

}  // namespace evaluators

#endif  // NURBS_EVALUATORS_BASIS_H_
