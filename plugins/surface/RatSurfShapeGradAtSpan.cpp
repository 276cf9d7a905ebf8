// [R, dRdxi, dRdeta] = RatSurfShapeGradAtSpan(xi, p, q, knotU, knotV, weights, spans)
// RatSurfShapeGrad at knot spans the caller already holds: spans(1) along xi and spans(2) along
// eta, 0-based as the span search gives them (p <= spans(1) <= nu - 1). A point outside its span
// is evaluated with that span's polynomial pieces.
#include "args.h"
#include "tensor.h"

namespace {

constexpr gateway::Signature kSignature = {
    "RatSurfShapeGradAtSpan",  // plug-in
    "[R, dRdxi, dRdeta] = RatSurfShapeGradAtSpan(xi, p, q, knotU, knotV, weights, spans)",
    gateway::kSurfaceArgs,
    7,  // inputs
    3,  // outputs
    2,  // basis functions each direction needs
};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::SurfaceGradient(kSignature, /*values=*/true, nlhs, plhs, nrhs, prhs);
}
