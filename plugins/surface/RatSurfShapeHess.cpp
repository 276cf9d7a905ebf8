// [R, dRdxi, dRdeta, dR2dxi, dR2deta, dR2dxideta] = RatSurfShapeHess(xi, p, q, knotU, knotV,
// weights) The rational surface basis at (xi(1), xi(2)) with its first derivatives (bit for bit
// those of RatSurfShapeGrad) and its second derivatives, e.g.
//   d2R/dxi2 = w (N''M/W - 2 N'M Wxi/W^2 - N M Wxixi/W^2 + 2 N M Wxi^2/W^3).
#include "args.h"
#include "tensor.h"

namespace {

constexpr gateway::Signature kSignature = {
    "RatSurfShapeHess",  // plug-in
    "[R, dRdxi, dRdeta, dR2dxi, dR2deta, dR2dxideta] = "
    "RatSurfShapeHess(xi, p, q, knotU, knotV, weights)",
    gateway::kSurfaceArgs,
    6,  // inputs
    6,  // outputs
    3,  // basis functions each direction needs
};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const gateway::Inputs in = gateway::Read(kSignature, nlhs, nrhs, prhs);
  gateway::Basis b[2];
  gateway::Evaluate(in, 2, b);
  const gateway::SpanWeights w = gateway::Weights(in, 5);

  gateway::Outputs out(nlhs, plhs);
  double* rows[6];
  out.Rows(gateway::LocalFunctions(in), 6, rows);
  double *dR2dxi = rows[3], *dR2deta = rows[4], *dR2dxideta = rows[5];
  const gateway::SurfaceSums s = gateway::RationalSurface(in, b, w, rows[0], rows[1], rows[2]);
  if (!out.Wanted(3)) return;

  const int p = in.dir[0].p, q = in.dir[1].p;
  const double *N = b[0].N, *dN = b[0].d1, *d2N = b[0].d2;
  const double *M = b[1].N, *dM = b[1].d1, *d2M = b[1].d2;
  double Wxixi = 0.0, Wetaeta = 0.0, Wxieta = 0.0;
  for (int j = 0; j <= q; ++j) {
    for (int k = 0; k <= p; ++k) {
      const double wkj = w.at(k, j);
      Wxixi += (M[j] * d2N[k]) * wkj;
      Wetaeta += (N[k] * d2M[j]) * wkj;
      Wxieta += (dM[j] * dN[k]) * wkj;
    }
  }
  // Each "/ W / W" is a chain of divisions, not one division by a power of W.
  const double W = s.W, Wxi = s.Wxi, Weta = s.Weta;
  for (int j = 0, e = 0; j <= q; ++j) {
    for (int k = 0; k <= p; ++k, ++e) {
      const double wkj = w.at(k, j);
      const double A1 = (M[j] * d2N[k]) / W;
      const double A2 = (((2 * dN[k]) * M[j]) * Wxi) / W / W;
      const double A3 = ((N[k] * M[j]) * Wxixi) / W / W;
      const double A4 = ((((2 * N[k]) * M[j]) * Wxi) * Wxi) / W / W / W;
      dR2dxi[e] = (((A1 - A2) - A3) + A4) * wkj;
      if (dR2deta) {
        const double B1 = (N[k] * d2M[j]) / W;
        const double B2 = (((2 * dM[j]) * N[k]) * Weta) / W / W;
        const double B3 = ((N[k] * M[j]) * Wetaeta) / W / W;
        const double B4 = ((((2 * N[k]) * M[j]) * Weta) * Weta) / W / W / W;
        dR2deta[e] = (((B1 - B2) - B3) + B4) * wkj;
      }
      if (dR2dxideta) {
        const double C1 = (dM[j] * dN[k]) / W;
        const double C2 = ((M[j] * dN[k]) * Weta) / W / W;
        const double C3 = ((dM[j] * N[k]) * Wxi) / W / W;
        const double C4 = ((N[k] * M[j]) * Wxieta) / W / W;
        const double C5 = ((((2 * N[k]) * M[j]) * Wxi) * Weta) / W / W / W;
        dR2dxideta[e] = ((((C1 - C2) - C3) - C4) + C5) * wkj;
      }
    }
  }
}
