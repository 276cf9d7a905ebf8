// [R, dRdxi, dRdeta, idx] = PolySurfShapeGradBatch(xi, p, q, knotU, knotV)
// PolySurfShapeGrad at every column of the 2 x P matrix xi: row j of each output is, bit for bit,
// PolySurfShapeGrad's output at xi(:, j). idx(j, :) holds the 1-based positions in weights of row
// j's functions.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunBatch(registry::kPolySurfShapeGrad, nlhs, plhs, nrhs, prhs);
}
