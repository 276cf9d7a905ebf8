// [R, dRdxi, dRdeta, dRdzeta, idx] = RatVolShapeGradAtSpanBatch(xi, p, q, r, knotU, knotV, knotW,
// weights, spans) RatVolShapeGradAtSpan at every column of the 3 x P matrix xi: row j of each
// output is, bit for bit, RatVolShapeGradAtSpan's output at xi(:, j), spans(:, j). idx(j, :) holds
// the 1-based positions in weights of row j's functions.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunBatch(registry::kRatVolShapeGradAtSpan, nlhs, plhs, nrhs, prhs);
}
