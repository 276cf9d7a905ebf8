// [R, dRdxi, dR2dxi, idx] = RatCurveShapeHessBatch(xi, p, knot, weights)
// RatCurveShapeHess at every point of the vector xi: row j of each output is, bit for bit,
// RatCurveShapeHess's output at xi(j). idx(j, :) holds the 1-based positions in weights of row j's
// functions.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunBatch(registry::kRatCurveShapeHess, nlhs, plhs, nrhs, prhs);
}
