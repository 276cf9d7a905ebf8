// [R, dRdxi, dRdeta, dRdzeta, dR2dxi, dR2deta, dR2dzeta, dR2dxideta, dR2detazeta, dR2dxizeta] =
//     RatVolShapeHess(xi, p, q, r, knotU, knotV, knotW, weights)
// The rational volume basis at (xi(1), xi(2), xi(3)) with its first derivatives (bit for bit
// those of RatVolShapeGrad) and its six second derivatives by the quotient rule, e.g.
//   d2R/dxi2 = w (N''ML/W - 2 N'ML Wxi/W^2 - NML Wxixi/W^2 + 2 NML Wxi^2/W^3),
// in the groupings given beside VolumeHessian (evaluators.h).
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunPoint(registry::kRatVolShapeHess, nlhs, plhs, nrhs, prhs);
}
