// The volume evaluators: N along xi (local k), M along eta (local j), L along zeta (local i).
#include "basis.h"
#include "evaluators.h"

namespace evaluators {

void VolumeGradient(const Call &call, const Site &site, const Dest &out) {
  Basis b[3];
  for (int d = 0; d < 3; ++d) Evaluate(call, site, d, 1, &b[d]);
  const SpanWeights w = Weights(call, site);
  const int p = call.axis[0].p, q = call.axis[1].p, r = call.axis[2].p;
  const double *N = b[0].N, *dN = b[0].d1;
  const double *M = b[1].N, *dM = b[1].d1;
  const double *L = b[2].N, *dL = b[2].d1;
  double W = 0.0, Wxi = 0.0, Weta = 0.0, Wzeta = 0.0;
  for (int i = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k) {
        const double wkji = w.at(k, j, i);
        W += ((N[k] * M[j]) * L[i]) * wkji;
        Wxi += ((M[j] * dN[k]) * L[i]) * wkji;
        Weta += ((N[k] * dM[j]) * L[i]) * wkji;
        Wzeta += ((N[k] * dL[i]) * M[j]) * wkji;
      }
    }
  }
  double *R = out.at[0], *dRdxi = out.at[1], *dRdeta = out.at[2], *dRdzeta = out.at[3];
  for (int i = 0, e = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k, ++e) {
        const double B = (N[k] * M[j]) * L[i];
        const double c = w.at(k, j, i) / (W * W);
        if (R) R[e] = (B * c) * W;
        if (dRdxi) dRdxi[e] = (((dN[k] * M[j]) * L[i]) * W - B * Wxi) * c;
        if (dRdeta) dRdeta[e] = (((dM[j] * N[k]) * L[i]) * W - B * Weta) * c;
        if (dRdzeta) dRdzeta[e] = (((dL[i] * N[k]) * M[j]) * W - B * Wzeta) * c;
      }
    }
  }
}

}  // namespace evaluators
