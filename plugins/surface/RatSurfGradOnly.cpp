// [dRdxi, dRdeta] = RatSurfGradOnly(xi, p, q, knotU, knotV, weights)
// The derivatives along xi and eta of the rational surface basis at (xi(1), xi(2)), without the
// values: bit for bit the second and third outputs of RatSurfShapeGrad.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunPoint(registry::kRatSurfGradOnly, nlhs, plhs, nrhs, prhs);
}
