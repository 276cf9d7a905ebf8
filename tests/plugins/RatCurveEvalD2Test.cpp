#include <cmath>
#include <random>

#include "plugin_test.h"
#include "reference.h"

namespace {

using standin::Array;
using standin::Row;
using standin::Scalar;

const std::vector<double> kQuarter = {0, 0, 0, 1, 1, 1};
const std::vector<double> kQuarterWeights = {1, 1 / std::sqrt(2.0), 1};

class RatCurveEvalD2 : public PluginTest {
 protected:
  RatCurveEvalD2() : PluginTest("RatCurveEvalD2") {}

  std::vector<double> Run(double xi, double p, const std::vector<double>& U,
                          const std::vector<double>& P, const std::vector<double>& w) {
    const Array a = Scalar(xi), b = Scalar(p), c = Row(U), d = Row(P), e = Row(w);
    const standin::Result r = Call(3, {&a, &b, &c, &d, &e});
    EXPECT_FALSE(r.failed) << r.message;
    if (r.failed) return {};
    return {Out(r, 0)[0], Out(r, 1)[0], Out(r, 2)[0]};
  }
};

// The quarter circle, with x and y as two fields: radius 1 and curvature 1 everywhere.
TEST_F(RatCurveEvalD2, QuarterCircleHasCurvatureOne) {
  for (double xi = 0.0; xi <= 1.0; xi += 1.0 / 64) {
    const std::vector<double> x = Run(xi, 2, kQuarter, {1, 1, 0}, kQuarterWeights);
    const std::vector<double> y = Run(xi, 2, kQuarter, {0, 1, 1}, kQuarterWeights);
    const double speed = std::hypot(x[1], y[1]);
    const double curvature = std::fabs(x[1] * y[2] - y[1] * x[2]) / (speed * speed * speed);
    EXPECT_NEAR(std::hypot(x[0], y[0]), 1.0, 1e-15) << "xi " << xi;
    EXPECT_NEAR(curvature, 1.0, 1e-14) << "xi " << xi;
  }
}

TEST_F(RatCurveEvalD2, ConstantsAndGrevilleAbscissae) {
  std::mt19937 rng(6);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int p = 1; p <= 6; ++p) {
    const int n = p + 5;
    const std::vector<double> U = RandomKnots(rng, p, n), w = RandomWeights(rng, n);
    std::vector<double> g(n);
    for (int i = 0; i < n; ++i) {
      for (int k = 1; k <= p; ++k) g[i] += U[i + k] / p;
    }
    for (int t = 0; t < 20; ++t) {
      const double xi = unit(rng);
      const std::vector<double> c = Run(xi, p, U, std::vector<double>(n, 2.5), w);
      EXPECT_NEAR(c[0], 2.5, 1e-14);
      EXPECT_NEAR(c[1], 0.0, 1e-10);
      EXPECT_NEAR(c[2], 0.0, 1e-6);
      const std::vector<double> f = Run(xi, p, U, g, std::vector<double>(n, 0.5));
      EXPECT_NEAR(f[0], xi, 1e-14) << "p " << p;
      EXPECT_NEAR(f[1], 1.0, 1e-11) << "p " << p;
      EXPECT_NEAR(f[2], 0.0, 1e-6) << "p " << p;
    }
  }
}

TEST_F(RatCurveEvalD2, BitIdenticalToTheDocumentedArithmetic) {
  std::mt19937 rng(13);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int t = 0; t < 400; ++t) {
    const int p = t % 7;
    const int n = std::max(p + 1, 3) + static_cast<int>(unit(rng) * 10);
    const std::vector<double> U = RandomKnots(rng, p, n), w = RandomWeights(rng, n);
    std::vector<double> P(n);
    for (double& v : P) v = 4 * unit(rng) - 2;
    const double xi = t % 10 == 0 ? 1.0 : unit(rng) * 1.2 - 0.1;
    ASSERT_EQ(Bits(Run(xi, p, U, P, w)), Bits(reference::RatCurveEval(xi, p, U, P, w, true)))
        << "case " << t;
  }
}

TEST_F(RatCurveEvalD2, SecondDerivativeMatchesDifferencesOfTheFirst) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> unit(0.05, 0.95);
  for (int p = 2; p <= 5; ++p) {
    const int n = p + 4;
    const std::vector<double> U = RandomKnots(rng, p, n), w = RandomWeights(rng, n);
    std::vector<double> P(n);
    for (double& v : P) v = unit(rng);
    for (int t = 0; t < 20; ++t) {
      const double xi = unit(rng);
      const int s = FindSpan(n - 1, p, xi, U.data());
      const double h = 1e-6 * (U[s + 1] - U[s]);
      if (xi - h <= U[s] || xi + h >= U[s + 1]) continue;
      const double fd = (Run(xi + h, p, U, P, w)[1] - Run(xi - h, p, U, P, w)[1]) / (2 * h);
      const double d2f = Run(xi, p, U, P, w)[2];
      EXPECT_NEAR(d2f, fd, 1e-5 * std::max(1.0, std::fabs(d2f))) << "p " << p;
    }
  }
}

TEST_F(RatCurveEvalD2, DegreeZero) {
  EXPECT_EQ(Run(0.3, 0, {0, 0.25, 0.5, 1}, {7, 8, 9}, {1, 2, 3}),
            (std::vector<double>{8.0, 0.0, 0.0}));
}

TEST_F(RatCurveEvalD2, OutputsAndFaults) {
  const Array xi = Scalar(0.5), p = Scalar(2), U = Row({0, 0, 0, 0.5, 1, 1, 1}),
              P = Row({1, 2, 3, 4}), w = Row({1, 1, 1, 1});
  const std::vector<const Array*> args = {&xi, &p, &U, &P, &w};
  for (int nlhs = 0; nlhs <= 3; ++nlhs) {
    const standin::Result r = Call(nlhs, args);
    ASSERT_EQ(r.outputs.size(), static_cast<size_t>(std::max(nlhs, 1)));
    EXPECT_NEAR(Out(r, 0)[0], 2.5, 1e-15);
  }
  ExpectError("tooManyOutputs", 4, args);
  ExpectClassFaults(args);
  ExpectFault("tooFewValues", args, 3, Row({1, 2, 3}));
  ExpectFault("tooFewValues", args, 4, Row({1, 2, 3}));
  ExpectFault("knotsTooShort", args, 2, Row({0, 0, 0, 1, 1}));
  // Second derivatives need three functions: degree 1 on four knots has only two.
  const Array p1 = Scalar(1), four = Row({0, 0, 1, 1});
  ExpectError("knotsTooShort", 1, {&xi, &p1, &four, &P, &w});
  ExpectFault("knotsNaN", args, 2, Row({0, 0, 0, 0.5, 1, 1, NAN}));
  ExpectFault("degreeTooLarge", args, 1, Scalar(19));
}

}  // namespace
