// [Nip, dNipdxi] = RatSingleShape(i, p, xi, knot, weights)
// One rational basis function of a NURBS curve, chosen by its 1-based index i, and its
// derivative at xi: R_i = N_i w_i / W. W and W' come from the span of xi, N_i and N'_i from the
// function itself, so a function whose support does not hold xi gives 0 and 0.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunPoint(registry::kRatSingleShape, nlhs, plhs, nrhs, prhs);
}
