// [R, dRdxi, dRdeta, dRdzeta] = RatVolShapeGradAtSpan(xi, p, q, r, knotU, knotV, knotW, weights,
// spans) RatVolShapeGrad at knot spans the caller already holds: spans(1..3) along xi, eta and
// zeta, 0-based as the span search gives them. A point outside its span is evaluated with that
// span's polynomial pieces.
#include "args.h"
#include "tensor.h"

namespace {

constexpr gateway::Signature kSignature = {
    "RatVolShapeGradAtSpan",  // plug-in
    "[R, dRdxi, dRdeta, dRdzeta] = "
    "RatVolShapeGradAtSpan(xi, p, q, r, knotU, knotV, knotW, weights, spans)",
    gateway::kVolumeArgs,
    9,  // inputs
    4,  // outputs
    2,  // basis functions each direction needs
};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::VolumeGradient(kSignature, nlhs, plhs, nrhs, prhs);
}
