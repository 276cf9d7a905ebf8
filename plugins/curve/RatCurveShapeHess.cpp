// [R, dRdxi, dR2dxi] = RatCurveShapeHess(xi, p, knot, weights)
// The p + 1 rational basis functions of a NURBS curve that do not vanish at xi, with their first
// and second derivatives: R'' = w (N''/W - 2 N' W'/W^2 - N W''/W^2 + 2 N W'^2/W^3).
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunPoint(registry::kRatCurveShapeHess, nlhs, plhs, nrhs, prhs);
}
