// [R, dRdxi] = RatCurveShapeGrad(xi, p, knot, weights)
// The p + 1 rational basis functions of a NURBS curve that do not vanish at xi, and their first
// derivatives: R_k = N_k w_k / W and dR_k/dxi = (N'_k W - N_k W') w_k / W^2.
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
    "RatCurveShapeGrad", "[R, dRdxi] = RatCurveShapeGrad(xi, p, knot, weights)",
    kArgs, std::size(kArgs), /*outputs=*/2, /*minFunctions=*/2};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const gateway::Inputs in = gateway::Read(kSignature, nlhs, nrhs, prhs);
  const gateway::Direction& d = in.dir[0];
  gateway::Basis b;
  gateway::Evaluate(d, 1, &b);
  const double* w = in.data[3] + (d.s - d.p);

  const gateway::WeightSums sums = gateway::Weigh(w, b, d.p, 1);
  const double W = sums.W;
  const double dW = sums.dW;

  gateway::Outputs out(nlhs, plhs);
  double* R = out.Row(0, d.p + 1);
  double* dRdxi = out.Row(1, d.p + 1);
  const double WW = W * W;
  for (int k = 0; k <= d.p; ++k) {
    const double lambda = w[k] / WW;
    R[k] = (lambda * b.N[k]) * W;
    if (dRdxi) dRdxi[k] = lambda * (W * b.d1[k] - dW * b.N[k]);
  }
}
