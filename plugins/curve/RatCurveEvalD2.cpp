// [interp, interp_deriv, interp_deriv2] = RatCurveEvalD2(xi, p, knot, points, weights)
// A scalar field on a NURBS curve, f = sum of P_k R_k, and its first and second derivatives at
// xi. The second derivatives of the basis use the recursive quotient rule
// R'' = (w N'' - 2 W' R' - W'' R) / W, built on R and R' of the same function.
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
    "RatCurveEvalD2",
    "[interp, interp_deriv, interp_deriv2] = RatCurveEvalD2(xi, p, knot, points, weights)",
    kArgs, std::size(kArgs), /*outputs=*/3, /*minFunctions=*/3};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const gateway::Inputs in = gateway::Read(kSignature, nlhs, nrhs, prhs);
  const gateway::Direction& d = in.dir[0];
  gateway::Basis b;
  gateway::Evaluate(d, 2, &b);
  const double* P = in.data[3] + (d.s - d.p);
  const double* w = in.data[4] + (d.s - d.p);
  // W, W' and W'' do not depend on the function: formed once, they are the same bits.
  const gateway::WeightSums sums = gateway::Weigh(w, b, d.p, 2);
  const double W = sums.W;
  const double dW = sums.dW;
  const double d2W = sums.d2W;

  double R[kMaxDegree + 1];
  double dR[kMaxDegree + 1];
  double d2R[kMaxDegree + 1];
  for (int i = 0; i <= d.p; ++i) {
    R[i] = (b.N[i] * w[i]) / W;
    dR[i] = ((W * b.d1[i] - b.N[i] * dW) * w[i]) / (W * W);
    d2R[i] = ((w[i] * b.d2[i] - dR[i] * (2 * dW)) - d2W * R[i]) / W;
  }

  gateway::Outputs out(nlhs, plhs);
  out.Scalar(0, gateway::Contract(P, R, d.p));
  out.Scalar(1, gateway::Contract(P, dR, d.p));
  out.Scalar(2, gateway::Contract(P, d2R, d.p));
}
