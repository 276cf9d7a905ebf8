// The curve evaluators: one direction, its span's weights w_k = weights[s - p + k].
#include "basis.h"
#include "evaluators.h"

namespace evaluators {
namespace {

// W = sum of w_k N_k, W' and (order 2) W'' likewise, each from 0.0 in increasing k.
struct WeightSums {
  double W, dW, d2W;
};

WeightSums Weigh(const double* w, const Basis& b, int p, int order) {
  WeightSums sums = {0.0, 0.0, 0.0};
  for (int k = 0; k <= p; ++k) {
    sums.W += w[k] * b.N[k];
    sums.dW += w[k] * b.d1[k];
    if (order > 1) sums.d2W += w[k] * b.d2[k];
  }
  return sums;
}

// sum of P[k] v[k], k = 0..p, from 0.0 in increasing k: a scalar field from its control values.
double Contract(const double* P, const double* v, int p) {
  double sum = 0.0;
  for (int k = 0; k <= p; ++k) sum += P[k] * v[k];
  return sum;
}

// One curve point: its basis to `order` derivatives, weighed with the span's weights.
struct CurvePoint {
  int p;
  const Basis* b;
  const double* w;  // the weights of the span's functions s - p .. s
  WeightSums sums;
};

CurvePoint Weighed(const Call& call, const Site& site, const Basis& b, int order) {
  CurvePoint c;
  c.p = call.axis[0].p;
  c.b = &b;
  c.w = call.weights + (site.s[0] - c.p);
  c.sums = Weigh(c.w, b, c.p, order);
  return c;
}

}  // namespace

void CurveGradient(const Call& call, const Site& site, const Dest& out) {
  FromSite<CurveGradientRows>(call, site, 1, out);
}

void CurveHessian(const Call& call, const Site& site, const Dest& out) {
  FromSite<CurveHessianRows>(call, site, 2, out);
}

void CurveGradientRows(const Call& call, const Site& site, const Basis* const b[],
                       const Dest& out) {
  const CurvePoint c = Weighed(call, site, *b[0], 1);
  const double *N = c.b->N, *dN = c.b->d1, *w = c.w;
  const double W = c.sums.W, dW = c.sums.dW;
  double *R = out.at[0], *dRdxi = out.at[1];
  const double WW = W * W;
  for (int k = 0; k <= c.p; ++k) {
    const double lambda = w[k] / WW;
    if (R) R[k] = (lambda * N[k]) * W;
    if (dRdxi) dRdxi[k] = lambda * (W * dN[k] - dW * N[k]);
  }
}

void CurveHessianRows(const Call& call, const Site& site, const Basis* const b[],
                      const Dest& out) {
  const CurvePoint c = Weighed(call, site, *b[0], 2);
  const double *N = c.b->N, *dN = c.b->d1, *d2N = c.b->d2, *w = c.w;
  const double W = c.sums.W, dW = c.sums.dW, d2W = c.sums.d2W;
  double *R = out.at[0], *dRdxi = out.at[1], *dR2dxi = out.at[2];
  const double WW = W * W;
  for (int k = 0; k <= c.p; ++k) {
    if (R) R[k] = (w[k] * N[k]) / W;
    if (dRdxi) dRdxi[k] = (W * dN[k] - dW * N[k]) * (w[k] / WW);
    if (dR2dxi) {
      const double T1 = (d2N[k] / W - ((2 * dN[k]) * dW) / W / W) - (N[k] * d2W) / W / W;
      const double T2 = (((2 * N[k]) * dW) * dW) / W / W / W;
      dR2dxi[k] = w[k] * (T1 + T2);
    }
  }
}

void CurveBSplineRows(const Call& call, const Site&, const Basis* const b[], const Dest& out) {
  const Basis& d = *b[0];
  for (int o = 0; o < 3; ++o) {
    const double* from = o == 0 ? d.N : o == 1 ? d.d1 : d.d2;
    if (double* row = out.at[o]) {
      for (int k = 0; k <= call.axis[0].p; ++k) row[k] = from[k];
    }
  }
}

// W and W' (and W'') do not depend on the function: formed once, they are the same bits as
// formed anew per function.
void CurveField(const Call& call, const Site& site, const Dest& out) {
  Basis b;
  Evaluate(call, site, 0, 1, &b);
  const CurvePoint c = Weighed(call, site, b, 1);
  const double *N = b.N, *dN = b.d1, *w = c.w;
  const double* P = call.values + (site.s[0] - c.p);
  const double W = c.sums.W, dW = c.sums.dW;
  double R[kMaxDegree + 1];
  double dR[kMaxDegree + 1];
  for (int i = 0; i <= c.p; ++i) {
    R[i] = (N[i] * w[i]) / W;
    dR[i] = (w[i] * (W * dN[i] - N[i] * dW)) / (W * W);
  }
  if (out.at[0]) *out.at[0] = Contract(P, R, c.p);
  if (out.at[1]) *out.at[1] = Contract(P, dR, c.p);
}

void CurveFieldD2(const Call& call, const Site& site, const Dest& out) {
  Basis b;
  Evaluate(call, site, 0, 2, &b);
  const CurvePoint c = Weighed(call, site, b, 2);
  const double *N = b.N, *dN = b.d1, *d2N = b.d2, *w = c.w;
  const double* P = call.values + (site.s[0] - c.p);
  const double W = c.sums.W, dW = c.sums.dW, d2W = c.sums.d2W;
  double R[kMaxDegree + 1];
  double dR[kMaxDegree + 1];
  double d2R[kMaxDegree + 1];
  for (int i = 0; i <= c.p; ++i) {
    R[i] = (N[i] * w[i]) / W;
    dR[i] = ((W * dN[i] - N[i] * dW) * w[i]) / (W * W);
    d2R[i] = ((w[i] * d2N[i] - dR[i] * (2 * dW)) - d2W * R[i]) / W;
  }
  if (out.at[0]) *out.at[0] = Contract(P, R, c.p);
  if (out.at[1]) *out.at[1] = Contract(P, dR, c.p);
  if (out.at[2]) *out.at[2] = Contract(P, d2R, c.p);
}

// Order 1 at degree 0 gives the exact zero derivative row, and zero W'.
void SingleShape(const Call& call, const Site& site, const Dest& out) {
  Basis b;
  Evaluate(call, site, 0, 1, &b);
  const CurvePoint c = Weighed(call, site, b, 1);
  const Axis& a = call.axis[0];
  const int m = a.m - 1;  // index of the last knot
  const int i0 = call.index;
  double d1[2];
  dersOneBasisFuns(a.p, m, a.U, i0, site.u[0], 1, d1);
  const double Nv = OneBasisFun(a.p, m, a.U, i0, site.u[0]);
  const double wi = call.weights[i0];
  const double W = c.sums.W, dW = c.sums.dW;
  if (out.at[0]) *out.at[0] = (Nv * wi) / W;
  if (out.at[1]) *out.at[1] = (wi * (W * d1[1] - Nv * dW)) / (W * W);
}

}  // namespace evaluators
