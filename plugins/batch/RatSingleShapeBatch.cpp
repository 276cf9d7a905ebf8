// [Nip, dNipdxi] = RatSingleShapeBatch(i, p, xi, knot, weights)
// RatSingleShape at every point of the vector xi: row j of each output is, bit for bit,
// RatSingleShape's output at xi(j).
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunBatch(registry::kRatSingleShape, nlhs, plhs, nrhs, prhs);
}
