// [R, dRdxi, dRdeta, dRdzeta] = RatVolShapeGrad(xi, p, q, r, knotU, knotV, knotW, weights)
// The (p + 1)(q + 1)(r + 1) rational basis functions of a NURBS volume that do not vanish at
// (xi(1), xi(2), xi(3)), and their three first derivatives; xi fastest, zeta slowest.
#include "args.h"
#include "tensor.h"

namespace {

constexpr gateway::Signature kSignature = {
    "RatVolShapeGrad",  // plug-in
    "[R, dRdxi, dRdeta, dRdzeta] = RatVolShapeGrad(xi, p, q, r, knotU, knotV, knotW, weights)",
    gateway::kVolumeArgs,
    8,  // inputs
    4,  // outputs
    2,  // basis functions each direction needs
};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::VolumeGradient(kSignature, nlhs, plhs, nrhs, prhs);
}
