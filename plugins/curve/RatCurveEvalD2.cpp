// [interp, interp_deriv, interp_deriv2] = RatCurveEvalD2(xi, p, knot, points, weights)
// A scalar field on a NURBS curve, f = sum of P_k R_k, and its first and second derivatives at
// xi. The second derivatives of the basis use the recursive quotient rule
// R'' = (w N'' - 2 W' R' - W'' R) / W, built on R and R' of the same function.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunPoint(registry::kRatCurveEvalD2, nlhs, plhs, nrhs, prhs);
}
