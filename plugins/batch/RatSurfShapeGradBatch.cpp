// [R, dRdxi, dRdeta, idx] = RatSurfShapeGradBatch(xi, p, q, knotU, knotV, weights)
// RatSurfShapeGrad at every column of the 2 x P matrix xi: row j of each output is, bit for bit,
// RatSurfShapeGrad's output at xi(:, j). idx(j, :) holds the 1-based positions in weights of row
// j's functions.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunBatch(registry::kRatSurfShapeGrad, nlhs, plhs, nrhs, prhs);
}
