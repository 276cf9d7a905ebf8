// [interp, interp_deriv] = RatCurveEval(xi, p, knot, points, weights)
// A scalar field on a NURBS curve, f = sum of P_k R_k, and its derivative at xi.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunPoint(registry::kRatCurveEval, nlhs, plhs, nrhs, prhs);
}
