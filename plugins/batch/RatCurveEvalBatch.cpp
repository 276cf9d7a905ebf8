// [interp, interp_deriv] = RatCurveEvalBatch(xi, p, knot, points, weights)
// RatCurveEval at every point of the vector xi: row j of each output is, bit for bit,
// RatCurveEval's output at xi(j).
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunBatch(registry::kRatCurveEval, nlhs, plhs, nrhs, prhs);
}
