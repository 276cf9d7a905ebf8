// [R, dRdxi, dR2dxi] = RatCurveShapeHess(xi, p, knot, weights)
// The p + 1 rational basis functions of a NURBS curve that do not vanish at xi, with their first
// and second derivatives: R'' = w (N''/W - 2 N' W'/W^2 - N W''/W^2 + 2 N W'^2/W^3).
#include <iterator>

#include "gateway.h"

namespace {

constexpr gateway::ArgRule kArgs[] = {
    {"xi", gateway::Arg::Point},
    {"p", gateway::Arg::Degree},
    {"knot", gateway::Arg::Knots},
    {"weights", gateway::Arg::Values},
};
constexpr gateway::Signature kSignature = {
    "RatCurveShapeHess", "[R, dRdxi, dR2dxi] = RatCurveShapeHess(xi, p, knot, weights)",
    kArgs, std::size(kArgs), /*outputs=*/3, /*minFunctions=*/3};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const gateway::Inputs in = gateway::Read(kSignature, nlhs, nrhs, prhs);
  const gateway::Direction& d = in.dir[0];
  gateway::Basis b;
  gateway::Evaluate(d, 2, &b);
  const double* w = in.data[3] + (d.s - d.p);
  const gateway::WeightSums sums = gateway::Weigh(w, b, d.p, 2);
  const double W = sums.W;
  const double dW = sums.dW;
  const double d2W = sums.d2W;

  gateway::Outputs out(nlhs, plhs);
  double* R = out.Row(0, d.p + 1);
  double* dRdxi = out.Row(1, d.p + 1);
  double* dR2dxi = out.Row(2, d.p + 1);
  const double WW = W * W;
  for (int k = 0; k <= d.p; ++k) {
    const double N = b.N[k], dN = b.d1[k], d2N = b.d2[k];
    R[k] = (w[k] * N) / W;
    if (dRdxi) dRdxi[k] = (W * dN - dW * N) * (w[k] / WW);
    if (dR2dxi) {
      // Each "/ W / W" is a chain of divisions, not one division by a power of W.
      const double T1 = (d2N / W - ((2 * dN) * dW) / W / W) - (N * d2W) / W / W;
      const double T2 = (((2 * N) * dW) * dW) / W / W / W;
      dR2dxi[k] = w[k] * (T1 + T2);
    }
  }
}
