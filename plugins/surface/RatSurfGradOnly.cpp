// [dRdxi, dRdeta] = RatSurfGradOnly(xi, p, q, knotU, knotV, weights)
// The derivatives along xi and eta of the rational surface basis at (xi(1), xi(2)), without the
// values: bit for bit the second and third outputs of RatSurfShapeGrad.
#include "args.h"
#include "tensor.h"

namespace {

constexpr gateway::Signature kSignature = {
    "RatSurfGradOnly",  // plug-in
    "[dRdxi, dRdeta] = RatSurfGradOnly(xi, p, q, knotU, knotV, weights)",
    gateway::kSurfaceArgs,
    6,  // inputs
    2,  // outputs
    2,  // basis functions each direction needs
};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::SurfaceGradient(kSignature, /*values=*/false, nlhs, plhs, nrhs, prhs);
}
