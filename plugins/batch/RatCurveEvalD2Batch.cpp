// [interp, interp_deriv, interp_deriv2] = RatCurveEvalD2Batch(xi, p, knot, points, weights)
// RatCurveEvalD2 at every point of the vector xi: row j of each output is, bit for bit,
// RatCurveEvalD2's output at xi(j).
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunBatch(registry::kRatCurveEvalD2, nlhs, plhs, nrhs, prhs);
}
