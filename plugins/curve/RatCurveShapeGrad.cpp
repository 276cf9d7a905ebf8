// [R, dRdxi] = RatCurveShapeGrad(xi, p, knot, weights)
// The p + 1 rational basis functions of a NURBS curve that do not vanish at xi, and their first
// derivatives: R_k = N_k w_k / W and dR_k/dxi = (N'_k W - N_k W') w_k / W^2.
#include "args.h"

namespace {

constexpr gateway::Signature kSignature = {
    "RatCurveShapeGrad",  // plug-in
    "[R, dRdxi] = RatCurveShapeGrad(xi, p, knot, weights)",
    gateway::kCurveArgs,
    4,  // inputs
    2,  // outputs
    2,  // basis functions each direction needs
};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::Curve c;
  gateway::ReadCurve(kSignature, 1, nlhs, nrhs, prhs, &c);
  const int p = c.d().p;
  const double *N = c.b.N, *dN = c.b.d1, *w = c.w;
  const double W = c.sums.W, dW = c.sums.dW;

  gateway::Outputs out(nlhs, plhs);
  double* rows[2];
  out.Rows(p + 1, 2, rows);
  double *R = rows[0], *dRdxi = rows[1];
  const double WW = W * W;
  for (int k = 0; k <= p; ++k) {
    const double lambda = w[k] / WW;
    R[k] = (lambda * N[k]) * W;
    if (dRdxi) dRdxi[k] = lambda * (W * dN[k] - dW * N[k]);
  }
}
