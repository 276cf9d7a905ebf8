// [R, dRdxi, dRdeta, dRdzeta] = RatVolShapeGradAtSpan(xi, p, q, r, knotU, knotV, knotW, weights,
// spans) RatVolShapeGrad at knot spans the caller already holds: spans(1..3) along xi, eta and
// zeta, 0-based as the span search gives them. A point outside its span is evaluated with that
// span's polynomial pieces.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunPoint(registry::kRatVolShapeGradAtSpan, nlhs, plhs, nrhs, prhs);
}
