// The plug-ins' arithmetic written out the long way: FindSpan, BasisFuns and a full derivative
// table of n - 1 orders from init2DArray, then each formula in its documented grouping. The
// plug-ins take shortcuts (values from row 0, only the rows they read, scratch on the stack);
// their outputs must still equal these bit for bit.
#ifndef NURBS_TESTS_PLUGINS_REFERENCE_H_
#define NURBS_TESTS_PLUGINS_REFERENCE_H_

#include <algorithm>
#include <cmath>
#include <vector>

#include "NURBS.h"

namespace reference {

constexpr double kEndTolerance = 2.220446049250313e-14;

// One direction evaluated as documented, all rows kept.
struct Direction {
  int p, n, s;
  double u;
  std::vector<double> N;                  // BasisFuns
  std::vector<std::vector<double>> ders;  // rows 0..n-1 of dersBasisFuns with order n - 1
};

inline Direction Evaluate(double x, int p, const std::vector<double>& U, int span = -1) {
  Direction d;
  d.p = p;
  const int m = static_cast<int>(U.size());
  d.n = m - p - 1;
  const double last = U[m - 1];
  d.u = std::fabs(x - last) < kEndTolerance ? last - kEndTolerance : x;
  d.s = span >= 0 ? span : FindSpan(d.n - 1, p, d.u, U.data());
  d.N.resize(p + 1);
  BasisFuns(d.s, d.u, p, U.data(), d.N.data());
  double** table = init2DArray(d.n, p + 1);
  dersBasisFuns(d.s, d.u, p, d.n - 1, U.data(), table);
  for (int k = 0; k < d.n; ++k) d.ders.emplace_back(table[k], table[k] + p + 1);
  free2Darray(table, d.n);
  return d;
}

struct CurveBasis {
  std::vector<double> R, dR;
};

inline CurveBasis RatCurveShapeGrad(double xi, int p, const std::vector<double>& U,
                                    const std::vector<double>& w) {
  const Direction d = Evaluate(xi, p, U);
  double W = 0.0, dW = 0.0;
  for (int k = 0; k <= p; ++k) {
    W += w[d.s - p + k] * d.N[k];
    dW += w[d.s - p + k] * d.ders[1][k];
  }
  CurveBasis out;
  const double WW = W * W;
  for (int k = 0; k <= p; ++k) {
    const double lambda = w[d.s - p + k] / WW;
    out.R.push_back((lambda * d.N[k]) * W);
    out.dR.push_back(lambda * (W * d.ders[1][k] - dW * d.N[k]));
  }
  return out;
}

struct CurveHessian {
  std::vector<double> R, dR, d2R;
};

inline CurveHessian RatCurveShapeHess(double xi, int p, const std::vector<double>& U,
                                      const std::vector<double>& w) {
  const Direction d = Evaluate(xi, p, U);
  double W = 0.0, dW = 0.0, d2W = 0.0;
  for (int k = 0; k <= p; ++k) {
    W += w[d.s - p + k] * d.N[k];
    dW += w[d.s - p + k] * d.ders[1][k];
    d2W += w[d.s - p + k] * d.ders[2][k];
  }
  CurveHessian out;
  for (int k = 0; k <= p; ++k) {
    const double wk = w[d.s - p + k], N = d.N[k], dN = d.ders[1][k], d2N = d.ders[2][k];
    out.R.push_back((wk * N) / W);
    out.dR.push_back((W * dN - dW * N) * (wk / (W * W)));
    const double T1 = ((d2N / W - (2 * dN * dW) / W / W) - (N * d2W) / W / W);
    const double T2 = (2 * N * dW * dW) / W / W / W;
    out.d2R.push_back(wk * (T1 + T2));
  }
  return out;
}

// The field and its derivatives, with W, W' (and W'') formed anew for every function.
inline std::vector<double> RatCurveEval(double xi, int p, const std::vector<double>& U,
                                        const std::vector<double>& P, const std::vector<double>& w,
                                        bool second) {
  const Direction d = Evaluate(xi, p, U);
  std::vector<double> R(p + 1), dR(p + 1), d2R(p + 1);
  for (int i = 0; i <= p; ++i) {
    double W = 0.0, dW = 0.0, d2W = 0.0;
    for (int j = 0; j <= p; ++j) {
      W += w[d.s - p + j] * d.N[j];
      dW += w[d.s - p + j] * d.ders[1][j];
      if (second) d2W += w[d.s - p + j] * d.ders[2][j];
    }
    const double wi = w[d.s - p + i];
    R[i] = (d.N[i] * wi) / W;
    if (second) {
      dR[i] = ((W * d.ders[1][i] - d.N[i] * dW) * wi) / (W * W);
      d2R[i] = ((wi * d.ders[2][i] - dR[i] * (2 * dW)) - d2W * R[i]) / W;
    } else {
      dR[i] = (wi * (W * d.ders[1][i] - d.N[i] * dW)) / (W * W);
    }
  }
  double f = 0.0, df = 0.0, d2f = 0.0;
  for (int j = 0; j <= p; ++j) {
    f += P[d.s - p + j] * R[j];
    df += P[d.s - p + j] * dR[j];
    d2f += P[d.s - p + j] * d2R[j];
  }
  if (second) return {f, df, d2f};
  return {f, df};
}

// One function by 1-based index, as documented for p >= 1: the span's W and W' from a table of
// p + 1 rows, the function's own value and derivative from the single-function kernel.
inline std::vector<double> RatSingleShape(double i, int p, double xi, const std::vector<double>& U,
                                          const std::vector<double>& w) {
  const int i0 = static_cast<int>(i) - 1;
  const int m = static_cast<int>(U.size()) - 1;
  const double last = U[m];
  const double u = std::fabs(xi - last) < kEndTolerance ? last - kEndTolerance : xi;
  const int s = FindSpan(m - p - 1, p, u, U.data());
  std::vector<double> N(p + 1), d1(p + 1);
  BasisFuns(s, u, p, U.data(), N.data());
  double** table = init2DArray(p + 1, p + 1);
  dersBasisFuns(s, u, p, p, U.data(), table);
  double W = 0.0, dW = 0.0;
  for (int k = 0; k <= p; ++k) {
    W = w[s - p + k] * N[k] + W;
    dW = w[s - p + k] * table[1][k] + dW;
  }
  dersOneBasisFuns(p, m, U.data(), i0, u, p, d1.data());
  const double Nv = OneBasisFun(p, m, U.data(), i0, u);
  free2Darray(table, p + 1);
  const double wi = w[i0];
  return {(Nv * wi) / W, (wi * (W * d1[1] - Nv * dW)) / (W * W)};
}

// Surfaces and volumes: outputs in the plug-ins' order, derivative rows as named.
struct Tensor {
  std::vector<double> R, dxi, deta, dzeta, d2xi, d2eta, d2xieta;
};

// A rational surface as documented: the sums in one double loop, then the entries. With hess,
// the six sums and the second derivatives of the Hessian plug-in, in its own groupings.
inline Tensor RatSurf(const double* x, int p, int q, const std::vector<double>& U,
                      const std::vector<double>& V, const std::vector<double>& w,
                      const int* spans = nullptr, bool hess = false) {
  const Direction a = Evaluate(x[0], p, U, spans ? spans[0] : -1);
  const Direction b = Evaluate(x[1], q, V, spans ? spans[1] : -1);
  const auto& N = a.N;
  const auto& M = b.N;
  const auto& dN = a.ders[1];
  const auto& dM = b.ders[1];
  const std::vector<double> zero(std::max(p, q) + 1, 0.0);
  const auto& d2N = hess ? a.ders[2] : zero;
  const auto& d2M = hess ? b.ders[2] : zero;
  const auto weight = [&](int k, int j) { return w[(a.s - p + k) + (b.s - q + j) * a.n]; };
  double W = 0, Wx = 0, We = 0, Wxx = 0, Wee = 0, Wxe = 0;
  for (int j = 0; j <= q; ++j) {
    for (int k = 0; k <= p; ++k) {
      W += (N[k] * M[j]) * weight(k, j);
      Wx += (M[j] * dN[k]) * weight(k, j);
      We += (N[k] * dM[j]) * weight(k, j);
      Wxx += (M[j] * d2N[k]) * weight(k, j);
      Wee += (N[k] * d2M[j]) * weight(k, j);
      Wxe += (dM[j] * dN[k]) * weight(k, j);
    }
  }
  Tensor out;
  for (int j = 0; j <= q; ++j) {
    for (int k = 0; k <= p; ++k) {
      const double wkj = weight(k, j), c = wkj / (W * W);
      out.R.push_back(((N[k] * M[j]) * c) * W);
      out.dxi.push_back(((M[j] * dN[k]) * W - Wx * (M[j] * N[k])) * c);
      out.deta.push_back(((N[k] * dM[j]) * W - We * (N[k] * M[j])) * c);
      if (!hess) continue;
      const double A1 = (M[j] * d2N[k]) / W, A2 = (2 * dN[k] * M[j] * Wx) / W / W,
                   A3 = (N[k] * M[j] * Wxx) / W / W, A4 = (2 * N[k] * M[j] * Wx * Wx) / W / W / W;
      out.d2xi.push_back((((A1 - A2) - A3) + A4) * wkj);
      const double B1 = (N[k] * d2M[j]) / W, B2 = (2 * dM[j] * N[k] * We) / W / W,
                   B3 = (N[k] * M[j] * Wee) / W / W, B4 = (2 * N[k] * M[j] * We * We) / W / W / W;
      out.d2eta.push_back((((B1 - B2) - B3) + B4) * wkj);
      const double C1 = (dM[j] * dN[k]) / W, C2 = (M[j] * dN[k] * We) / W / W,
                   C3 = (dM[j] * N[k] * Wx) / W / W, C4 = (N[k] * M[j] * Wxe) / W / W,
                   C5 = (2 * N[k] * M[j] * Wx * We) / W / W / W;
      out.d2xieta.push_back(((((C1 - C2) - C3) - C4) + C5) * wkj);
    }
  }
  return out;
}

inline Tensor PolySurf(const double* x, int p, int q, const std::vector<double>& U,
                       const std::vector<double>& V) {
  const Direction a = Evaluate(x[0], p, U);
  const Direction b = Evaluate(x[1], q, V);
  Tensor out;
  for (int j = 0; j <= q; ++j) {
    for (int k = 0; k <= p; ++k) {
      out.R.push_back(a.N[k] * b.N[j]);
      out.dxi.push_back(a.ders[1][k] * b.N[j]);
      out.deta.push_back(b.ders[1][j] * a.N[k]);
    }
  }
  return out;
}

inline Tensor RatVol(const double* x, int p, int q, int r, const std::vector<double>& U,
                     const std::vector<double>& V, const std::vector<double>& T,
                     const std::vector<double>& w, const int* spans = nullptr) {
  const Direction a = Evaluate(x[0], p, U, spans ? spans[0] : -1);
  const Direction b = Evaluate(x[1], q, V, spans ? spans[1] : -1);
  const Direction c = Evaluate(x[2], r, T, spans ? spans[2] : -1);
  const auto &N = a.N, &M = b.N, &L = c.N;
  const auto &dN = a.ders[1], &dM = b.ders[1], &dL = c.ders[1];
  const auto weight = [&](int k, int j, int i) {
    return w[(a.s - p + k) + (b.s - q + j) * a.n + (c.s - r + i) * a.n * b.n];
  };
  double W = 0, Wx = 0, We = 0, Wz = 0;
  for (int i = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k) {
        W += ((N[k] * M[j]) * L[i]) * weight(k, j, i);
        Wx += ((M[j] * dN[k]) * L[i]) * weight(k, j, i);
        We += ((N[k] * dM[j]) * L[i]) * weight(k, j, i);
        Wz += ((N[k] * dL[i]) * M[j]) * weight(k, j, i);
      }
    }
  }
  Tensor out;
  for (int i = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k) {
        const double B = (N[k] * M[j]) * L[i], cf = weight(k, j, i) / (W * W);
        out.R.push_back((B * cf) * W);
        out.dxi.push_back((((dN[k] * M[j]) * L[i]) * W - B * Wx) * cf);
        out.deta.push_back((((dM[j] * N[k]) * L[i]) * W - B * We) * cf);
        out.dzeta.push_back((((dL[i] * N[k]) * M[j]) * W - B * Wz) * cf);
      }
    }
  }
  return out;
}

// A rational volume's second derivatives as documented, after RatVol's first derivatives: the six
// sums in one triple loop, then the entries, each "/ W / W" a chain of divisions.
struct VolumeHessian {
  Tensor first;
  std::vector<double> d2[6];  // xixi, etaeta, zetazeta, xieta, etazeta, xizeta
};

inline VolumeHessian RatVolHess(const double* x, int p, int q, int r, const std::vector<double>& U,
                                const std::vector<double>& V, const std::vector<double>& T,
                                const std::vector<double>& w) {
  VolumeHessian out;
  out.first = RatVol(x, p, q, r, U, V, T, w);
  const Direction a = Evaluate(x[0], p, U), b = Evaluate(x[1], q, V), c = Evaluate(x[2], r, T);
  const auto &N = a.N, &M = b.N, &L = c.N;
  const auto &dN = a.ders[1], &dM = b.ders[1], &dL = c.ders[1];
  const auto &d2N = a.ders[2], &d2M = b.ders[2], &d2L = c.ders[2];
  const auto weight = [&](int k, int j, int i) {
    return w[(a.s - p + k) + (b.s - q + j) * a.n + (c.s - r + i) * a.n * b.n];
  };
  double W = 0, Wx = 0, We = 0, Wz = 0, Wxx = 0, Wee = 0, Wzz = 0, Wxe = 0, Wez = 0, Wxz = 0;
  for (int i = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k) {
        const double wt = weight(k, j, i);
        W += ((N[k] * M[j]) * L[i]) * wt;
        Wx += ((M[j] * dN[k]) * L[i]) * wt;
        We += ((N[k] * dM[j]) * L[i]) * wt;
        Wz += ((N[k] * dL[i]) * M[j]) * wt;
        Wxx += ((M[j] * d2N[k]) * L[i]) * wt;
        Wee += ((N[k] * d2M[j]) * L[i]) * wt;
        Wzz += ((N[k] * M[j]) * d2L[i]) * wt;
        Wxe += ((dM[j] * dN[k]) * L[i]) * wt;
        Wez += ((N[k] * dM[j]) * dL[i]) * wt;
        Wxz += ((M[j] * dN[k]) * dL[i]) * wt;
      }
    }
  }
  for (int i = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k) {
        const double wt = weight(k, j, i), B = (N[k] * M[j]) * L[i];
        const double B2 = ((2 * N[k]) * M[j]) * L[i];
        out.d2[0].push_back(
            ((((M[j] * d2N[k]) * L[i]) / W - ((((2 * dN[k]) * M[j]) * L[i]) * Wx) / W / W) -
             (B * Wxx) / W / W + ((B2 * Wx) * Wx) / W / W / W) *
            wt);
        out.d2[1].push_back(
            ((((N[k] * d2M[j]) * L[i]) / W - ((((2 * dM[j]) * N[k]) * L[i]) * We) / W / W) -
             (B * Wee) / W / W + ((B2 * We) * We) / W / W / W) *
            wt);
        out.d2[2].push_back(
            ((((N[k] * M[j]) * d2L[i]) / W - ((((2 * dL[i]) * N[k]) * M[j]) * Wz) / W / W) -
             (B * Wzz) / W / W + ((B2 * Wz) * Wz) / W / W / W) *
            wt);
        out.d2[3].push_back(
            (((((dM[j] * dN[k]) * L[i]) / W - (((M[j] * dN[k]) * L[i]) * We) / W / W) -
              (((dM[j] * N[k]) * L[i]) * Wx) / W / W) -
             (B * Wxe) / W / W + ((B2 * Wx) * We) / W / W / W) *
            wt);
        out.d2[4].push_back(
            (((((N[k] * dM[j]) * dL[i]) / W - (((N[k] * dM[j]) * L[i]) * Wz) / W / W) -
              (((N[k] * M[j]) * dL[i]) * We) / W / W) -
             (B * Wez) / W / W + ((B2 * We) * Wz) / W / W / W) *
            wt);
        out.d2[5].push_back(
            (((((M[j] * dN[k]) * dL[i]) / W - (((M[j] * dN[k]) * L[i]) * Wz) / W / W) -
              (((N[k] * M[j]) * dL[i]) * Wx) / W / W) -
             (B * Wxz) / W / W + ((B2 * Wx) * Wz) / W / W / W) *
            wt);
      }
    }
  }
  return out;
}

}  // namespace reference

#endif  // NURBS_TESTS_PLUGINS_REFERENCE_H_
