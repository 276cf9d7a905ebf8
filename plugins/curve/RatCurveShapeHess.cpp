// [R, dRdxi, dR2dxi] = RatCurveShapeHess(xi, p, knot, weights)
// The p + 1 rational basis functions of a NURBS curve that do not vanish at xi, with their first
// and second derivatives: R'' = w (N''/W - 2 N' W'/W^2 - N W''/W^2 + 2 N W'^2/W^3).
#include "args.h"

namespace {

constexpr gateway::Signature kSignature = {
    "RatCurveShapeHess",  // plug-in
    "[R, dRdxi, dR2dxi] = RatCurveShapeHess(xi, p, knot, weights)",
    gateway::kCurveArgs,
    4,  // inputs
    3,  // outputs
    3,  // basis functions each direction needs
};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::Curve c;
  gateway::ReadCurve(kSignature, 2, nlhs, nrhs, prhs, &c);
  const int p = c.d().p;
  const double *N = c.b.N, *dN = c.b.d1, *d2N = c.b.d2, *w = c.w;
  const double W = c.sums.W, dW = c.sums.dW, d2W = c.sums.d2W;

  gateway::Outputs out(nlhs, plhs);
  double* rows[3];
  out.Rows(p + 1, 3, rows);
  double *R = rows[0], *dRdxi = rows[1], *dR2dxi = rows[2];
  const double WW = W * W;
  for (int k = 0; k <= p; ++k) {
    R[k] = (w[k] * N[k]) / W;
    if (dRdxi) dRdxi[k] = (W * dN[k] - dW * N[k]) * (w[k] / WW);
    if (dR2dxi) {
      // Each "/ W / W" is a chain of divisions, not one division by a power of W.
      const double T1 = (d2N[k] / W - ((2 * dN[k]) * dW) / W / W) - (N[k] * d2W) / W / W;
      const double T2 = (((2 * N[k]) * dW) * dW) / W / W / W;
      dR2dxi[k] = w[k] * (T1 + T2);
    }
  }
}
