// [R, dRdxi] = RatCurveShapeGrad(xi, p, knot, weights)
// The p + 1 rational basis functions of a NURBS curve that do not vanish at xi, and their first
// derivatives: R_k = N_k w_k / W and dR_k/dxi = (N'_k W - N_k W') w_k / W^2.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunPoint(registry::kRatCurveShapeGrad, nlhs, plhs, nrhs, prhs);
}
