// [R, dRdxi, dRdeta] = PolySurfShapeGrad(xi, p, q, knotU, knotV)
// The (p + 1)(q + 1) tensor-product B-spline basis functions of a surface that do not vanish at
// (xi(1), xi(2)), and their derivatives: single products, nothing summed or divided.
#include "args.h"

namespace {

constexpr gateway::Signature kSignature = {
    "PolySurfShapeGrad",  // plug-in
    "[R, dRdxi, dRdeta] = PolySurfShapeGrad(xi, p, q, knotU, knotV)",
    gateway::kSurfaceArgs,
    5,  // inputs
    3,  // outputs
    2,  // basis functions each direction needs
};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const gateway::Inputs in = gateway::Read(kSignature, nlhs, nrhs, prhs);
  gateway::Basis b[2];
  gateway::Evaluate(in, 1, b);
  gateway::Outputs out(nlhs, plhs);
  double* rows[3];
  out.Rows(gateway::LocalFunctions(in), 3, rows);
  double *R = rows[0], *dRdxi = rows[1], *dRdeta = rows[2];

  const double *N = b[0].N, *dN = b[0].d1;
  const double *M = b[1].N, *dM = b[1].d1;
  for (int j = 0, e = 0; j <= in.dir[1].p; ++j) {
    for (int k = 0; k <= in.dir[0].p; ++k, ++e) {
      R[e] = N[k] * M[j];
      if (dRdxi) dRdxi[e] = dN[k] * M[j];
      if (dRdeta) dRdeta[e] = dM[j] * N[k];
    }
  }
}
