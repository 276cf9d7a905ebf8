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

// The rows of one point from its directions' functions: b[d] holds direction d's functions at
// site.u[d] on span site.s[d], to the order the arithmetic reads. Every evaluator of the rows
// kind is its directions' Evaluate followed by one of these; the mesh layer, which evaluates a
// direction once per element and node, calls them point by point, so that its rows are the
// plug-ins' bits. The outputs are the evaluator's, in its order (evaluators.h).
using RowsFromBasis = void (*)(const Call& call, const Site& site, const Basis* const b[],
                               const Dest& out);
void CurveGradientRows(const Call& call, const Site& site, const Basis* const b[],
                       const Dest& out);
void CurveHessianRows(const Call& call, const Site& site, const Basis* const b[], const Dest& out);
void SurfaceGradientRows(const Call& call, const Site& site, const Basis* const b[],
                         const Dest& out);
void SurfaceBSplineRows(const Call& call, const Site& site, const Basis* const b[],
                        const Dest& out);
void SurfaceHessianRows(const Call& call, const Site& site, const Basis* const b[],
                        const Dest& out);
void VolumeGradientRows(const Call& call, const Site& site, const Basis* const b[],
                        const Dest& out);
void VolumeHessianRows(const Call& call, const Site& site, const Basis* const b[],
                       const Dest& out);

// An evaluator of the rows kind: its directions to `order` derivatives, then its rows.
template <RowsFromBasis rows>
void FromSite(const Call& call, const Site& site, int order, const Dest& out) {
  Basis b[kMaxDirections];
  const Basis* directions[kMaxDirections] = {&b[0], &b[1], &b[2]};
  for (int d = 0; d < call.directions; ++d) Evaluate(call, site, d, order, &b[d]);
  rows(call, site, directions, out);
}

// The plain (B-spline) products no plug-in returns, for the mesh layer's B-spline spaces. Each
// writes the outputs it is given, in the order of the Hessian evaluator of its dimension, and
// reads second derivatives only where a second-derivative output is asked for:
//   curve    R = N, dRdxi = N', dR2dxi = N''
//   surface  second derivatives only (SurfaceBSplineRows gives the first three):
//            dR2dxi = N'' M, dR2deta = M'' N, dR2dxideta = N' M'
//   volume   R = (N M) L, dRdxi = (N' M) L, dRdeta = (M' N) L, dRdzeta = (L' N) M,
//            dR2dxi = (N'' M) L, dR2deta = (M'' N) L, dR2dzeta = (L'' N) M,
//            dR2dxideta = (N' M') L, dR2detazeta = (M' L') N, dR2dxizeta = (N' L') M
void CurveBSplineRows(const Call& call, const Site& site, const Basis* const b[],
                      const Dest& out);
void SurfaceBSplineSecondRows(const Call& call, const Site& site, const Basis* const b[],
                              const Dest& out);
void VolumeBSplineRows(const Call& call, const Site& site, const Basis* const b[],
                       const Dest& out);

}  // namespace evaluators

#endif  // NURBS_EVALUATORS_BASIS_H_
