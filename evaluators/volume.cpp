// The volume evaluators: N along xi (local k), M along eta (local j), L along zeta (local i).
#include "basis.h"
#include "evaluators.h"

namespace evaluators {
namespace {

struct VolumeSums {
  double W, Wxi, Weta, Wzeta;
};

// R, dRdxi, dRdeta and dRdzeta of a rational volume (each may be nullptr: not computed).
// Returns the sums.
VolumeSums RationalVolume(const Call& call, const Basis* const b[], const SpanWeights& w,
                          const Dest& out) {
  const int p = call.axis[0].p, q = call.axis[1].p, r = call.axis[2].p;
  const double *N = b[0]->N, *dN = b[0]->d1;
  const double *M = b[1]->N, *dM = b[1]->d1;
  const double *L = b[2]->N, *dL = b[2]->d1;
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
  return {W, Wxi, Weta, Wzeta};
}

}  // namespace

void VolumeGradient(const Call& call, const Site& site, const Dest& out) {
  FromSite<VolumeGradientRows>(call, site, 1, out);
}

void VolumeHessian(const Call& call, const Site& site, const Dest& out) {
  FromSite<VolumeHessianRows>(call, site, 2, out);
}

void VolumeGradientRows(const Call& call, const Site& site, const Basis* const b[],
                        const Dest& out) {
  RationalVolume(call, b, Weights(call, site), out);
}

void VolumeHessianRows(const Call& call, const Site& site, const Basis* const b[],
                       const Dest& out) {
  const SpanWeights w = Weights(call, site);
  const VolumeSums s = RationalVolume(call, b, w, out);
  double *dR2dxi = out.at[4], *dR2deta = out.at[5], *dR2dzeta = out.at[6];
  double *dR2dxideta = out.at[7], *dR2detazeta = out.at[8], *dR2dxizeta = out.at[9];
  if (!dR2dxi) return;

  const int p = call.axis[0].p, q = call.axis[1].p, r = call.axis[2].p;
  const double *N = b[0]->N, *dN = b[0]->d1, *d2N = b[0]->d2;
  const double *M = b[1]->N, *dM = b[1]->d1, *d2M = b[1]->d2;
  const double *L = b[2]->N, *dL = b[2]->d1, *d2L = b[2]->d2;
  double Wxixi = 0.0, Wetaeta = 0.0, Wzetazeta = 0.0;
  double Wxieta = 0.0, Wetazeta = 0.0, Wxizeta = 0.0;
  for (int i = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k) {
        const double wkji = w.at(k, j, i);
        Wxixi += ((M[j] * d2N[k]) * L[i]) * wkji;
        Wetaeta += ((N[k] * d2M[j]) * L[i]) * wkji;
        Wzetazeta += ((N[k] * M[j]) * d2L[i]) * wkji;
        Wxieta += ((dM[j] * dN[k]) * L[i]) * wkji;
        Wetazeta += ((N[k] * dM[j]) * dL[i]) * wkji;
        Wxizeta += ((M[j] * dN[k]) * dL[i]) * wkji;
      }
    }
  }
  // Each "/ W / W" is a chain of divisions, not one division by a power of W. One loop an
  // output: the compiler vectorises these, not one loop holding all six.
  const double W = s.W, Wxi = s.Wxi, Weta = s.Weta, Wzeta = s.Wzeta;
  const auto each = [&](double* row, auto term) {
    if (!row) return;
    for (int i = 0, e = 0; i <= r; ++i) {
      for (int j = 0; j <= q; ++j) {
        for (int k = 0; k <= p; ++k, ++e) {
          const double B = (N[k] * M[j]) * L[i];
          const double twoB = ((2 * N[k]) * M[j]) * L[i];
          row[e] = term(k, j, i, B, twoB) * w.at(k, j, i);
        }
      }
    }
  };
  each(dR2dxi, [&](int k, int j, int i, double B, double twoB) {
    const double A1 = ((M[j] * d2N[k]) * L[i]) / W;
    const double A2 = ((((2 * dN[k]) * M[j]) * L[i]) * Wxi) / W / W;
    const double A3 = (B * Wxixi) / W / W;
    const double A4 = ((twoB * Wxi) * Wxi) / W / W / W;
    return ((A1 - A2) - A3) + A4;
  });
  each(dR2deta, [&](int k, int j, int i, double B, double twoB) {
    const double B1 = ((N[k] * d2M[j]) * L[i]) / W;
    const double B2 = ((((2 * dM[j]) * N[k]) * L[i]) * Weta) / W / W;
    const double B3 = (B * Wetaeta) / W / W;
    const double B4 = ((twoB * Weta) * Weta) / W / W / W;
    return ((B1 - B2) - B3) + B4;
  });
  each(dR2dzeta, [&](int k, int j, int i, double B, double twoB) {
    const double D1 = ((N[k] * M[j]) * d2L[i]) / W;
    const double D2 = ((((2 * dL[i]) * N[k]) * M[j]) * Wzeta) / W / W;
    const double D3 = (B * Wzetazeta) / W / W;
    const double D4 = ((twoB * Wzeta) * Wzeta) / W / W / W;
    return ((D1 - D2) - D3) + D4;
  });
  each(dR2dxideta, [&](int k, int j, int i, double B, double twoB) {
    const double C1 = ((dM[j] * dN[k]) * L[i]) / W;
    const double C2 = (((M[j] * dN[k]) * L[i]) * Weta) / W / W;
    const double C3 = (((dM[j] * N[k]) * L[i]) * Wxi) / W / W;
    const double C4 = (B * Wxieta) / W / W;
    const double C5 = ((twoB * Wxi) * Weta) / W / W / W;
    return (((C1 - C2) - C3) - C4) + C5;
  });
  each(dR2detazeta, [&](int k, int j, int i, double B, double twoB) {
    const double E1 = ((N[k] * dM[j]) * dL[i]) / W;
    const double E2 = (((N[k] * dM[j]) * L[i]) * Wzeta) / W / W;
    const double E3 = (((N[k] * M[j]) * dL[i]) * Weta) / W / W;
    const double E4 = (B * Wetazeta) / W / W;
    const double E5 = ((twoB * Weta) * Wzeta) / W / W / W;
    return (((E1 - E2) - E3) - E4) + E5;
  });
  each(dR2dxizeta, [&](int k, int j, int i, double B, double twoB) {
    const double F1 = ((M[j] * dN[k]) * dL[i]) / W;
    const double F2 = (((M[j] * dN[k]) * L[i]) * Wzeta) / W / W;
    const double F3 = (((N[k] * M[j]) * dL[i]) * Wxi) / W / W;
    const double F4 = (B * Wxizeta) / W / W;
    const double F5 = ((twoB * Wxi) * Wzeta) / W / W / W;
    return (((F1 - F2) - F3) - F4) + F5;
  });
}

void VolumeBSplineRows(const Call& call, const Site&, const Basis* const b[], const Dest& out) {
  const int p = call.axis[0].p, q = call.axis[1].p, r = call.axis[2].p;
  const double *N = b[0]->N, *dN = b[0]->d1;
  const double *M = b[1]->N, *dM = b[1]->d1;
  const double *L = b[2]->N, *dL = b[2]->d1;
  double *R = out.at[0], *dRdxi = out.at[1], *dRdeta = out.at[2], *dRdzeta = out.at[3];
  for (int i = 0, e = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k, ++e) {
        if (R) R[e] = (N[k] * M[j]) * L[i];
        if (dRdxi) dRdxi[e] = (dN[k] * M[j]) * L[i];
        if (dRdeta) dRdeta[e] = (dM[j] * N[k]) * L[i];
        if (dRdzeta) dRdzeta[e] = (dL[i] * N[k]) * M[j];
      }
    }
  }
  if (!out.at[4] && !out.at[5] && !out.at[6] && !out.at[7] && !out.at[8] && !out.at[9]) return;
  const double *d2N = b[0]->d2, *d2M = b[1]->d2, *d2L = b[2]->d2;
  double *dR2dxi = out.at[4], *dR2deta = out.at[5], *dR2dzeta = out.at[6];
  double *dR2dxideta = out.at[7], *dR2detazeta = out.at[8], *dR2dxizeta = out.at[9];
  for (int i = 0, e = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k, ++e) {
        if (dR2dxi) dR2dxi[e] = (d2N[k] * M[j]) * L[i];
        if (dR2deta) dR2deta[e] = (d2M[j] * N[k]) * L[i];
        if (dR2dzeta) dR2dzeta[e] = (d2L[i] * N[k]) * M[j];
        if (dR2dxideta) dR2dxideta[e] = (dN[k] * dM[j]) * L[i];
        if (dR2detazeta) dR2detazeta[e] = (dM[j] * dL[i]) * N[k];
        if (dR2dxizeta) dR2dxizeta[e] = (dN[k] * dL[i]) * M[j];
      }
    }
  }
}

}  // namespace evaluators
