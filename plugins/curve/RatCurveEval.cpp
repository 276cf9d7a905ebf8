// [interp, interp_deriv] = RatCurveEval(xi, p, knot, points, weights)
// A scalar field on a NURBS curve, f = sum of P_k R_k, and its derivative at xi.
#include <iterator>

#include "gateway.h"

namespace {

constexpr gateway::ArgRule kArgs[] = {
    {"xi", gateway::Arg::Point},
    {"p", gateway::Arg::Degree},
    {"knot", gateway::Arg::Knots},
    {"points", gateway::Arg::Values},
    {"weights", gateway::Arg::Values},
};
constexpr gateway::Signature kSignature = {
    "RatCurveEval", "[interp, interp_deriv] = RatCurveEval(xi, p, knot, points, weights)",
    kArgs, std::size(kArgs), /*outputs=*/2, /*minFunctions=*/2};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const gateway::Inputs in = gateway::Read(kSignature, nlhs, nrhs, prhs);
  const gateway::Direction& d = in.dir[0];
  gateway::Basis b;
  gateway::Evaluate(d, 1, &b);
  const double* P = in.data[3] + (d.s - d.p);
  const double* w = in.data[4] + (d.s - d.p);
  // W and W' do not depend on the function: formed once, they are the same bits as per function.
  const gateway::WeightSums sums = gateway::Weigh(w, b, d.p, 1);
  const double W = sums.W;
  const double dW = sums.dW;

  double R[kMaxDegree + 1];
  double dR[kMaxDegree + 1];
  for (int i = 0; i <= d.p; ++i) {
    R[i] = (b.N[i] * w[i]) / W;
    dR[i] = (w[i] * (W * b.d1[i] - b.N[i] * dW)) / (W * W);
  }

  gateway::Outputs out(nlhs, plhs);
  out.Scalar(0, gateway::Contract(P, R, d.p));
  out.Scalar(1, gateway::Contract(P, dR, d.p));
}
