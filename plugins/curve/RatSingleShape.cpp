// [Nip, dNipdxi] = RatSingleShape(i, p, xi, knot, weights)
// One rational basis function of a NURBS curve, chosen by its 1-based index i, and its
// derivative at xi: R_i = N_i w_i / W. W and W' come from the span of xi, N_i and N'_i from the
// function itself, so a function whose support does not hold xi gives 0 and 0.
#include <iterator>

#include "gateway.h"

namespace {

constexpr gateway::ArgRule kArgs[] = {
    {"i", gateway::Arg::Index},    {"p", gateway::Arg::Degree},       {"xi", gateway::Arg::Point},
    {"knot", gateway::Arg::Knots}, {"weights", gateway::Arg::Values},
};
// Degree 0 needs no more than its p + 1 functions: its derivative is 0.
constexpr gateway::Signature kSignature = {
    "RatSingleShape",  // plug-in
    "[Nip, dNipdxi] = RatSingleShape(i, p, xi, knot, weights)",
    kArgs,
    std::size(kArgs),  // inputs
    2,                 // outputs
    1,                 // basis functions each direction needs
    "You fool! You haven't passed in 5 arguments to the function.We expect it to be in the form "
    "[Nip] = RatSingleShape(i, p, xi, knot, weights)\n",
};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  // Order 1 at degree 0 gives the exact zero derivative row, and zero W'.
  gateway::Curve c;
  gateway::ReadCurve(kSignature, 1, nlhs, nrhs, prhs, &c);
  const gateway::Direction& d = c.d();
  const int m = d.m - 1;  // index of the last knot
  const int i0 = c.in.index;
  double d1[2];
  dersOneBasisFuns(d.p, m, d.U, i0, d.u, 1, d1);
  const double Nv = OneBasisFun(d.p, m, d.U, i0, d.u);
  const double wi = c.in.data[4][i0];
  const double W = c.sums.W, dW = c.sums.dW;

  gateway::Outputs out(nlhs, plhs);
  out.Scalar(0, (Nv * wi) / W);
  out.Scalar(1, (wi * (W * d1[1] - Nv * dW)) / (W * W));
}
