// [R, dRdxi, dRdeta] = RatSurfShapeGradAtSpan(xi, p, q, knotU, knotV, weights, spans)
// RatSurfShapeGrad at knot spans the caller already holds: spans(1) along xi and spans(2) along
// eta, 0-based as the span search gives them (p <= spans(1) <= nu - 1). A point outside its span
// is evaluated with that span's polynomial pieces.
#include "gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunPoint(registry::kRatSurfShapeGradAtSpan, nlhs, plhs, nrhs, prhs);
}
