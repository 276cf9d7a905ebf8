// [R, dRdxi, dRdeta, dR2dxi, dR2deta, dR2dxideta, idx] = RatSurfShapeHessBatch(xi, p, q, knotU,
// knotV, weights) RatSurfShapeHess at every column of the 2 x P matrix xi: row j of each output is,
// bit for bit, RatSurfShapeHess's output at xi(:, j). idx(j, :) holds the 1-based positions in
// weights of row j's functions.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunBatch(registry::kRatSurfShapeHess, nlhs, plhs, nrhs, prhs);
}
