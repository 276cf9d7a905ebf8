// [R, dRdxi, dRdeta] = RatSurfShapeGrad(xi, p, q, knotU, knotV, weights)
// The (p + 1)(q + 1) rational basis functions of a NURBS surface that do not vanish at
// (xi(1), xi(2)), and their derivatives along xi and eta; xi fastest.
#include "args.h"
#include "tensor.h"

namespace {

constexpr gateway::Signature kSignature = {
    "RatSurfShapeGrad",  // plug-in
    "[R, dRdxi, dRdeta] = RatSurfShapeGrad(xi, p, q, knotU, knotV, weights)",
    gateway::kSurfaceArgs,
    6,  // inputs
    3,  // outputs
    2,  // basis functions each direction needs
};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::SurfaceGradient(kSignature, /*values=*/true, nlhs, plhs, nrhs, prhs);
}
