// [R, dRdxi, dRdeta, dRdzeta, dR2dxi, dR2deta, dR2dzeta, dR2dxideta, dR2detazeta, dR2dxizeta,
//  idx] = RatVolShapeHessBatch(xi, p, q, r, knotU, knotV, knotW, weights)
// RatVolShapeHess at every column of the 3 x P matrix xi: row j of each output is, bit for bit,
// RatVolShapeHess's output at xi(:, j). idx(j, :) holds the 1-based positions in weights of row
// j's functions.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunBatch(registry::kRatVolShapeHess, nlhs, plhs, nrhs, prhs);
}
