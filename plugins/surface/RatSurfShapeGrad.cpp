// [R, dRdxi, dRdeta] = RatSurfShapeGrad(xi, p, q, knotU, knotV, weights)
// The (p + 1)(q + 1) rational basis functions of a NURBS surface that do not vanish at
// (xi(1), xi(2)), and their derivatives along xi and eta; xi fastest.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunPoint(registry::kRatSurfShapeGrad, nlhs, plhs, nrhs, prhs);
}
