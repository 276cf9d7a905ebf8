// The plug-ins' arithmetic written out the long way: FindSpan, BasisFuns and a full derivative
// table of n - 1 orders from init2DArray, then each formula in its documented grouping. The
// plug-ins take shortcuts (values from row 0, only the rows they read, scratch on the stack);
// their outputs must still equal these bit for bit.
#ifndef NURBS_TESTS_PLUGINS_REFERENCE_H_
#define NURBS_TESTS_PLUGINS_REFERENCE_H_

#include <cmath>
#include <vector>

#include "NURBS.h"

namespace reference {

constexpr double kEndTolerance = 2.220446049250313e-14;

// One direction evaluated as documented, all rows kept.
struct Direction {
  int p, n, s;
  double u;
  std::vector<double> N;                 // BasisFuns
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

}  // namespace reference

#endif  // NURBS_TESTS_PLUGINS_REFERENCE_H_
