// [R, dRdxi, dRdeta, dR2dxi, dR2deta, dR2dxideta] = RatSurfShapeHess(xi, p, q, knotU, knotV,
// weights) The rational surface basis at (xi(1), xi(2)) with its first derivatives (bit for bit
// those of RatSurfShapeGrad) and its second derivatives, e.g.
//   d2R/dxi2 = w (N''M/W - 2 N'M Wxi/W^2 - N M Wxixi/W^2 + 2 N M Wxi^2/W^3).
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunPoint(registry::kRatSurfShapeHess, nlhs, plhs, nrhs, prhs);
}
