// [interp, interp_deriv] = RatCurveEval(xi, p, knot, points, weights)
// A scalar field on a NURBS curve, f = sum of P_k R_k, and its derivative at xi.
#include "args.h"

namespace {

constexpr gateway::Signature kSignature = {
    "RatCurveEval",  // plug-in
    "[interp, interp_deriv] = RatCurveEval(xi, p, knot, points, weights)",
    gateway::kCurveFieldArgs,
    5,  // inputs
    2,  // outputs
    2,  // basis functions each direction needs
};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::Curve c;
  gateway::ReadCurve(kSignature, 1, nlhs, nrhs, prhs, &c);
  const int p = c.d().p;
  const double *N = c.b.N, *dN = c.b.d1, *w = c.w;
  const double* P = c.in.data[3] + (c.d().s - p);
  // W and W' do not depend on the function: formed once, they are the same bits as per function.
  const double W = c.sums.W, dW = c.sums.dW;

  double R[kMaxDegree + 1];
  double dR[kMaxDegree + 1];
  for (int i = 0; i <= p; ++i) {
    R[i] = (N[i] * w[i]) / W;
    dR[i] = (w[i] * (W * dN[i] - N[i] * dW)) / (W * W);
  }

  gateway::Outputs out(nlhs, plhs);
  out.Scalar(0, gateway::Contract(P, R, p));
  out.Scalar(1, gateway::Contract(P, dR, p));
}
