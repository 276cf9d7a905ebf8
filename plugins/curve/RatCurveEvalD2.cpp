// [interp, interp_deriv, interp_deriv2] = RatCurveEvalD2(xi, p, knot, points, weights)
// A scalar field on a NURBS curve, f = sum of P_k R_k, and its first and second derivatives at
// xi. The second derivatives of the basis use the recursive quotient rule
// R'' = (w N'' - 2 W' R' - W'' R) / W, built on R and R' of the same function.
#include "args.h"

namespace {

constexpr gateway::Signature kSignature = {
    "RatCurveEvalD2",  // plug-in
    "[interp, interp_deriv, interp_deriv2] = RatCurveEvalD2(xi, p, knot, points, weights)",
    gateway::kCurveFieldArgs,
    5,  // inputs
    3,  // outputs
    3,  // basis functions each direction needs
};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::Curve c;
  gateway::ReadCurve(kSignature, 2, nlhs, nrhs, prhs, &c);
  const int p = c.d().p;
  const double *N = c.b.N, *dN = c.b.d1, *d2N = c.b.d2, *w = c.w;
  const double* P = c.in.data[3] + (c.d().s - p);
  // W, W' and W'' do not depend on the function: formed once, they are the same bits.
  const double W = c.sums.W, dW = c.sums.dW, d2W = c.sums.d2W;

  double R[kMaxDegree + 1];
  double dR[kMaxDegree + 1];
  double d2R[kMaxDegree + 1];
  for (int i = 0; i <= p; ++i) {
    R[i] = (N[i] * w[i]) / W;
    dR[i] = ((W * dN[i] - N[i] * dW) * w[i]) / (W * W);
    d2R[i] = ((w[i] * d2N[i] - dR[i] * (2 * dW)) - d2W * R[i]) / W;
  }

  gateway::Outputs out(nlhs, plhs);
  out.Scalar(0, gateway::Contract(P, R, p));
  out.Scalar(1, gateway::Contract(P, dR, p));
  out.Scalar(2, gateway::Contract(P, d2R, p));
}
