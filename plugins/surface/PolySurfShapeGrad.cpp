// [R, dRdxi, dRdeta] = PolySurfShapeGrad(xi, p, q, knotU, knotV)
// The (p + 1)(q + 1) tensor-product B-spline basis functions of a surface that do not vanish at
// (xi(1), xi(2)), and their derivatives: single products, nothing summed or divided.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunPoint(registry::kPolySurfShapeGrad, nlhs, plhs, nrhs, prhs);
}
