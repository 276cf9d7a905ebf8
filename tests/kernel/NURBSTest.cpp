// The spline kernel on its own: published values, the properties a basis must have, and the edge
// cases of the span search and of derivative orders above the degree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "NURBS.h"

namespace {

// The NURBS Book's worked example (Ex. 2.3, 2.4): p = 2, u = 5/2 lies in span 4.
const std::vector<double> kBook = {0, 0, 0, 1, 2, 3, 4, 4, 5, 5, 5};
constexpr int kBookP = 2;
constexpr int kBookN = 7;  // index of the last basis function

std::vector<double> Row(double** t, int row, int p) {
  std::vector<double> v(p + 1);
  for (int r = 0; r <= p; ++r) v[r] = t[row][r];
  return v;
}

// A table of rows x (p + 1) from init2DArray, released on scope exit.
struct Table {
  Table(int rows, int cols) : rows(rows), t(init2DArray(rows, cols)) {}
  ~Table() { free2Darray(t, rows); }
  int rows;
  double** t;
};

// Clamped knot vector on [0, 1] with `inner` random interior knots, some of them repeated.
std::vector<double> RandomKnots(std::mt19937& rng, int p, int inner) {
  std::uniform_real_distribution<double> unit(0.05, 0.95);
  std::vector<double> U(p + 1, 0.0);
  for (int k = 0; k < inner; ++k) {
    const double u = unit(rng);
    U.push_back(u);
    if (k % 4 == 3 && p > 1) U.push_back(u);  // a double knot now and then
  }
  std::sort(U.begin() + p + 1, U.end());
  U.insert(U.end(), p + 1, 1.0);
  return U;
}

TEST(FindSpan, BookExample) { EXPECT_EQ(FindSpan(kBookN, kBookP, 2.5, kBook.data()), 4); }

TEST(FindSpan, EndsBelongToFirstAndLastSpans) {
  const double* U = kBook.data();
  EXPECT_EQ(FindSpan(kBookN, kBookP, 5.0, U), kBookN);
  EXPECT_EQ(FindSpan(kBookN, kBookP, 7.0, U), kBookN);
  EXPECT_EQ(FindSpan(kBookN, kBookP, 0.0, U), kBookP);
  EXPECT_EQ(FindSpan(kBookN, kBookP, -3.0, U), kBookP);
}

TEST(FindSpan, KnotBelongsToTheSpanStartingThere) {
  const double* U = kBook.data();
  EXPECT_EQ(FindSpan(kBookN, kBookP, 1.0, U), 3);
  EXPECT_EQ(FindSpan(kBookN, kBookP, 3.0, U), 5);
  // 4 is a double knot (U[6] = U[7]): the span starts at its last copy.
  EXPECT_EQ(FindSpan(kBookN, kBookP, 4.0, U), 7);
  EXPECT_EQ(FindSpan(kBookN, kBookP, std::nextafter(4.0, 0.0), U), 5);
}

TEST(FindSpan, NaNGivesTheFirstMidpoint) {
  EXPECT_EQ(FindSpan(kBookN, kBookP, NAN, kBook.data()), (kBookP + kBookN + 1) / 2);
}

TEST(FindSpan, EveryPointOfALongVectorLiesInItsSpan) {
  std::mt19937 rng(7);
  const std::vector<double> U = RandomKnots(rng, 3, 500);
  const int n = static_cast<int>(U.size()) - 3 - 2;
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int t = 0; t < 2000; ++t) {
    const double u = unit(rng);
    const int s = FindSpan(n, 3, u, U.data());
    ASSERT_LE(U[s], u);
    ASSERT_LT(u, U[s + 1]);
  }
}

// Knots out of order must never make the search loop forever or leave the range p..n.
TEST(FindSpan, EndsOnKnotsInAnyOrder) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int t = 0; t < 2000; ++t) {
    std::vector<double> U(40);
    for (double& u : U) u = unit(rng);
    const int p = t % 4, n = 40 - p - 2;
    const int s = FindSpan(n, p, unit(rng), U.data());
    ASSERT_GE(s, p);
    ASSERT_LE(s, n);
  }
}

TEST(BasisFuns, BookExample) {
  double N[3];
  BasisFuns(4, 2.5, kBookP, kBook.data(), N);
  EXPECT_EQ(N[0], 1.0 / 8);
  EXPECT_EQ(N[1], 3.0 / 4);
  EXPECT_EQ(N[2], 1.0 / 8);
}

TEST(dersBasisFuns, BookExample) {
  Table d(3, 3);
  dersBasisFuns(4, 2.5, kBookP, 2, kBook.data(), d.t);
  EXPECT_EQ(Row(d.t, 0, 2), (std::vector<double>{1.0 / 8, 3.0 / 4, 1.0 / 8}));
  EXPECT_EQ(Row(d.t, 1, 2), (std::vector<double>{-0.5, 0.0, 0.5}));
  EXPECT_EQ(Row(d.t, 2, 2), (std::vector<double>{1.0, -2.0, 1.0}));
}

TEST(dersBasisFuns, DegreeZero) {
  const std::vector<double> U = {0, 1, 2, 3};
  Table d(4, 1);
  dersBasisFuns(1, 1.5, 0, 3, U.data(), d.t);
  EXPECT_EQ(d.t[0][0], 1.0);
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(d.t[k][0], 0.0) << "row " << k;
}

TEST(dersBasisFuns, OrderZeroWritesOnlyRowZero) {
  Table d(2, 3);
  d.t[1][0] = d.t[1][1] = d.t[1][2] = 42.0;
  dersBasisFuns(4, 2.5, kBookP, 0, kBook.data(), d.t);
  EXPECT_EQ(Row(d.t, 0, 2), (std::vector<double>{1.0 / 8, 3.0 / 4, 1.0 / 8}));
  EXPECT_EQ(Row(d.t, 1, 2), (std::vector<double>{42.0, 42.0, 42.0}));
}

// Bezier knots give the Bernstein polynomials; the p-th derivative of B_{p,p} = u^p is p!, which
// at degree 18 is beyond what an int holds.
TEST(dersBasisFuns, BernsteinAndExactFactorialAtTheLargestDegree) {
  const int p = kMaxDegree;
  std::vector<double> U(p + 1, 0.0);
  U.insert(U.end(), p + 1, 1.0);
  Table d(p + 1, p + 1);
  dersBasisFuns(p, 0.25, p, p, U.data(), d.t);
  double binom = 1.0;
  for (int k = 0; k <= p; ++k) {
    const double bernstein = binom * std::pow(0.25, k) * std::pow(0.75, p - k);
    EXPECT_NEAR(d.t[0][k], bernstein, 1e-15) << "k " << k;
    binom = binom * (p - k) / (k + 1);
  }
  double factorial = 1.0;
  for (int k = 2; k <= p; ++k) factorial *= k;
  EXPECT_EQ(d.t[p][p], factorial);
  EXPECT_EQ(d.t[p][0], factorial);  // (-1)^p p! with p even
}

class BasisSweep : public ::testing::TestWithParam<int> {};

// For every degree: row 0 is BasisFuns' result bit for bit, rows 0..p do not depend on the order
// asked for, rows above p are exactly zero, values sum to 1 and derivative rows to 0, and the
// first two rows match central differences of the rows below them.
TEST_P(BasisSweep, PropertiesOnRandomKnots) {
  const int p = GetParam();
  std::mt19937 rng(100 + p);
  const std::vector<double> U = RandomKnots(rng, p, 9);
  const int n = static_cast<int>(U.size()) - p - 2;
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int order = n;  // what the plug-ins asked for: functions - 1, often above p
  for (int t = 0; t < 200; ++t) {
    const double u = unit(rng);
    const int s = FindSpan(n, p, u, U.data());
    double N[kMaxDegree + 1];
    BasisFuns(s, u, p, U.data(), N);
    Table full(order + 1, p + 1);
    dersBasisFuns(s, u, p, order, U.data(), full.t);
    Table low(p + 1, p + 1);
    dersBasisFuns(s, u, p, p, U.data(), low.t);

    for (int r = 0; r <= p; ++r) ASSERT_EQ(full.t[0][r], N[r]) << "function " << r;
    for (int k = 0; k <= p; ++k) ASSERT_EQ(Row(full.t, k, p), Row(low.t, k, p)) << "row " << k;
    for (int k = p + 1; k <= order; ++k)
      ASSERT_EQ(Row(full.t, k, p), std::vector<double>(p + 1, 0.0));

    // Scale of row k: (p / h)^k with h the shortest non-empty interval.
    double h = 1.0;
    for (size_t j = 0; j + 1 < U.size(); ++j) {
      if (U[j + 1] > U[j]) h = std::min(h, U[j + 1] - U[j]);
    }
    for (int k = 0; k <= std::min(p, 3); ++k) {
      double sum = 0.0;
      for (int r = 0; r <= p; ++r) sum += full.t[k][r];
      ASSERT_NEAR(sum, k == 0 ? 1.0 : 0.0, 1e-12 * std::pow(p / h + 1, k)) << "row " << k;
    }

    // Central differences inside the span, where the polynomial pieces are smooth.
    const double e = 1e-6 * (U[s + 1] - U[s]);
    if (u - e <= U[s] || u + e >= U[s + 1]) continue;
    Table plus(3, p + 1), minus(3, p + 1);
    dersBasisFuns(s, u + e, p, 2, U.data(), plus.t);
    dersBasisFuns(s, u - e, p, 2, U.data(), minus.t);
    for (int k = 0; k < std::min(p, 2); ++k) {
      for (int r = 0; r <= p; ++r) {
        const double fd = (plus.t[k][r] - minus.t[k][r]) / (2 * e);
        ASSERT_NEAR(full.t[k + 1][r], fd, 1e-5 * std::pow(p / h + 1, k + 1))
            << "derivative " << k + 1 << " of function " << r;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Degrees, BasisSweep, ::testing::Values(0, 1, 2, 3, 4, 5, 7, 10));

TEST(OneBasisFun, AgreesWithBasisFunsOnEveryFunctionOfTheSpan) {
  std::mt19937 rng(3);
  for (int p = 0; p <= 5; ++p) {
    const std::vector<double> U = RandomKnots(rng, p, 8);
    const int m = static_cast<int>(U.size()) - 1;
    const int n = m - p - 1;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int t = 0; t < 50; ++t) {
      const double u = unit(rng);
      const int s = FindSpan(n, p, u, U.data());
      double N[kMaxDegree + 1];
      BasisFuns(s, u, p, U.data(), N);
      for (int i = 0; i <= n; ++i) {
        const double v = OneBasisFun(p, m, U.data(), i, u);
        if (i < s - p || i > s) {
          ASSERT_EQ(v, 0.0) << "outside the support, p " << p << " i " << i;
        } else {
          ASSERT_NEAR(v, N[i - s + p], 1e-14) << "p " << p << " i " << i;
        }
      }
    }
  }
}

TEST(OneBasisFun, EndsOfTheKnotVector) {
  const int m = static_cast<int>(kBook.size()) - 1;
  const double* U = kBook.data();
  EXPECT_EQ(OneBasisFun(kBookP, m, U, 0, 0.0), 1.0);
  EXPECT_EQ(OneBasisFun(kBookP, m, U, m - kBookP - 1, 5.0), 1.0);
  for (int i = 0; i < m - kBookP - 1; ++i) EXPECT_EQ(OneBasisFun(kBookP, m, U, i, 5.0), 0.0);
}

TEST(dersOneBasisFuns, AgreesWithAColumnOfdersBasisFuns) {
  std::mt19937 rng(11);
  for (int p = 1; p <= 6; ++p) {
    const std::vector<double> U = RandomKnots(rng, p, 7);
    const int m = static_cast<int>(U.size()) - 1;
    const int n = m - p - 1;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int t = 0; t < 30; ++t) {
      const double u = unit(rng);
      const int s = FindSpan(n, p, u, U.data());
      Table d(p + 1, p + 1);
      dersBasisFuns(s, u, p, p, U.data(), d.t);
      for (int i = s - p; i <= s; ++i) {
        double one[kMaxDegree + 1];
        dersOneBasisFuns(p, m, U.data(), i, u, p, one);
        for (int k = 0; k <= p; ++k) {
          const double scale = std::max(1.0, std::fabs(d.t[k][i - s + p]));
          ASSERT_NEAR(one[k], d.t[k][i - s + p], 1e-10 * scale)
              << "p " << p << " function " << i << " derivative " << k;
        }
      }
    }
  }
}

TEST(dersOneBasisFuns, ZeroOutsideTheSupportAndAtTheLastKnot) {
  const int m = static_cast<int>(kBook.size()) - 1;
  double d[3] = {7, 7, 7};
  dersOneBasisFuns(kBookP, m, kBook.data(), 0, 2.5, 2, d);  // support [0, 1)
  EXPECT_EQ(d[0], 0.0);
  EXPECT_EQ(d[1], 0.0);
  EXPECT_EQ(d[2], 0.0);
  d[0] = d[1] = d[2] = 7;
  dersOneBasisFuns(kBookP, m, kBook.data(), m - kBookP - 1, 5.0, 2, d);
  EXPECT_EQ(d[0], 0.0);
  EXPECT_EQ(d[1], 0.0);
  EXPECT_EQ(d[2], 0.0);
}

TEST(dersOneBasisFuns, LinearHatHasConstantSlopes) {
  const std::vector<double> U = {0, 0, 0.5, 2, 3, 3};
  const int m = 5;
  double d[2];
  dersOneBasisFuns(1, m, U.data(), 1, 0.25, 1, d);
  EXPECT_EQ(d[1], 1.0 / 0.5);
  dersOneBasisFuns(1, m, U.data(), 1, 1.0, 1, d);
  EXPECT_EQ(d[1], -1.0 / 1.5);
  dersOneBasisFuns(1, m, U.data(), 1, 0.5, 1, d);  // at U[i+1]: from the right
  EXPECT_EQ(d[0], 1.0);
  EXPECT_EQ(d[1], -1.0 / 1.5);
}

TEST(dersOneBasisFuns, OrdersAboveTheDegreeAreZero) {
  const std::vector<double> U = {0, 1, 2, 3};
  double d[3] = {7, 7, 7};
  dersOneBasisFuns(0, 3, U.data(), 1, 1.5, 2, d);
  EXPECT_EQ(d[0], 1.0);
  EXPECT_EQ(d[1], 0.0);
  EXPECT_EQ(d[2], 0.0);
}

TEST(init2DArray, RowsAreDistinctAndWritable) {
  Table t(5, 3);
  for (int r = 0; r < 5; ++r) {
    for (int c = 0; c < 3; ++c) t.t[r][c] = 10 * r + c;
  }
  for (int r = 0; r < 5; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(t.t[r][c], 10 * r + c);
  }
}

}  // namespace
