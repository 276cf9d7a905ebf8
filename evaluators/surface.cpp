// The surface evaluators: N along xi (local k), M along eta (local j).
#include "basis.h"
#include "evaluators.h"

namespace evaluators {
namespace {

struct SurfaceSums {
  double W, Wxi, Weta;
};

// R, dRdxi and dRdeta of a rational surface (each may be nullptr: not computed). Returns the sums.
SurfaceSums RationalSurface(const Call& call, const Basis* const b[], const SpanWeights& w,
                            const Dest& out) {
  const int p = call.axis[0].p, q = call.axis[1].p;
  const double *N = b[0]->N, *dN = b[0]->d1;
  const double *M = b[1]->N, *dM = b[1]->d1;
  SurfaceSums s = {0.0, 0.0, 0.0};
  for (int j = 0; j <= q; ++j) {
    for (int k = 0; k <= p; ++k) {
      const double wkj = w.at(k, j);
      s.W += (N[k] * M[j]) * wkj;
      s.Wxi += (M[j] * dN[k]) * wkj;
      s.Weta += (N[k] * dM[j]) * wkj;
    }
  }
  double *R = out.at[0], *dRdxi = out.at[1], *dRdeta = out.at[2];
  for (int j = 0, e = 0; j <= q; ++j) {
    for (int k = 0; k <= p; ++k, ++e) {
      const double c = w.at(k, j) / (s.W * s.W);
      if (R) R[e] = ((N[k] * M[j]) * c) * s.W;
      if (dRdxi) dRdxi[e] = ((M[j] * dN[k]) * s.W - s.Wxi * (M[j] * N[k])) * c;
      if (dRdeta) dRdeta[e] = ((N[k] * dM[j]) * s.W - s.Weta * (N[k] * M[j])) * c;
    }
  }
  return s;
}

}  // namespace

void SurfaceGradient(const Call& call, const Site& site, const Dest& out) {
  FromSite<SurfaceGradientRows>(call, site, 1, out);
}

void SurfaceBSpline(const Call& call, const Site& site, const Dest& out) {
  FromSite<SurfaceBSplineRows>(call, site, 1, out);
}

void SurfaceHessian(const Call& call, const Site& site, const Dest& out) {
  FromSite<SurfaceHessianRows>(call, site, 2, out);
}

void SurfaceGradientRows(const Call& call, const Site& site, const Basis* const b[],
                         const Dest& out) {
  RationalSurface(call, b, Weights(call, site), out);
}

void SurfaceBSplineRows(const Call& call, const Site&, const Basis* const b[], const Dest& out) {
  const double *N = b[0]->N, *dN = b[0]->d1;
  const double *M = b[1]->N, *dM = b[1]->d1;
  double *R = out.at[0], *dRdxi = out.at[1], *dRdeta = out.at[2];
  for (int j = 0, e = 0; j <= call.axis[1].p; ++j) {
    for (int k = 0; k <= call.axis[0].p; ++k, ++e) {
      if (R) R[e] = N[k] * M[j];
      if (dRdxi) dRdxi[e] = dN[k] * M[j];
      if (dRdeta) dRdeta[e] = dM[j] * N[k];
    }
  }
}

void SurfaceHessianRows(const Call& call, const Site& site, const Basis* const b[],
                        const Dest& out) {
  const SpanWeights w = Weights(call, site);
  const SurfaceSums s = RationalSurface(call, b, w, out);
  double *dR2dxi = out.at[3], *dR2deta = out.at[4], *dR2dxideta = out.at[5];
  if (!dR2dxi) return;

  const int p = call.axis[0].p, q = call.axis[1].p;
  const double *N = b[0]->N, *dN = b[0]->d1, *d2N = b[0]->d2;
  const double *M = b[1]->N, *dM = b[1]->d1, *d2M = b[1]->d2;
  double Wxixi = 0.0, Wetaeta = 0.0, Wxieta = 0.0;
  for (int j = 0; j <= q; ++j) {
    for (int k = 0; k <= p; ++k) {
      const double wkj = w.at(k, j);
      Wxixi += (M[j] * d2N[k]) * wkj;
      Wetaeta += (N[k] * d2M[j]) * wkj;
      Wxieta += (dM[j] * dN[k]) * wkj;
    }
  }
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

void SurfaceBSplineSecondRows(const Call& call, const Site&, const Basis* const b[],
                              const Dest& out) {
  const double *dN = b[0]->d1, *d2N = b[0]->d2;
  const double *M = b[1]->N, *dM = b[1]->d1, *d2M = b[1]->d2;
  const double* N = b[0]->N;
  double *dR2dxi = out.at[3], *dR2deta = out.at[4], *dR2dxideta = out.at[5];
  for (int j = 0, e = 0; j <= call.axis[1].p; ++j) {
    for (int k = 0; k <= call.axis[0].p; ++k, ++e) {
      if (dR2dxi) dR2dxi[e] = d2N[k] * M[j];
      if (dR2deta) dR2deta[e] = d2M[j] * N[k];
      if (dR2dxideta) dR2dxideta[e] = dN[k] * dM[j];
    }
  }
}

}  // namespace evaluators
