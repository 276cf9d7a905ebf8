// [R, dRdxi, dRdeta, dRdzeta, idx] = RatVolShapeGradBatch(xi, p, q, r, knotU, knotV, knotW,
// weights) RatVolShapeGrad at every column of the 3 x P matrix xi: row j of each output is, bit for
// bit, RatVolShapeGrad's output at xi(:, j). idx(j, :) holds the 1-based positions in weights of
// row j's functions.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunBatch(registry::kRatVolShapeGrad, nlhs, plhs, nrhs, prhs);
}
