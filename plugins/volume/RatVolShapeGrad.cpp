// [R, dRdxi, dRdeta, dRdzeta] = RatVolShapeGrad(xi, p, q, r, knotU, knotV, knotW, weights)
// The (p + 1)(q + 1)(r + 1) rational basis functions of a NURBS volume that do not vanish at
// (xi(1), xi(2), xi(3)), and their three first derivatives; xi fastest, zeta slowest.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunPoint(registry::kRatVolShapeGrad, nlhs, plhs, nrhs, prhs);
}
