#include <cmath>
#include <random>

#include "plugin_test.h"
#include "reference.h"

namespace {

using standin::Array;
using standin::Row;
using standin::Scalar;

const std::vector<double> kBook = {0, 0, 0, 1, 2, 3, 4, 4, 5, 5, 5};

class RatCurveShapeHess : public PluginTest {
 protected:
  RatCurveShapeHess() : PluginTest("RatCurveShapeHess") {}

  standin::Result Run(double xi, double p, const std::vector<double>& U,
                      const std::vector<double>& w, int nlhs = 3) {
    const Array a = Scalar(xi), b = Scalar(p), c = Row(U), d = Row(w);
    return Call(nlhs, {&a, &b, &c, &d});
  }
};

TEST_F(RatCurveShapeHess, BookExampleWithUnitWeights) {
  const standin::Result r = Run(2.5, 2, kBook, std::vector<double>(8, 1.0));
  ASSERT_FALSE(r.failed) << r.message;
  EXPECT_EQ(Out(r, 0), (std::vector<double>{1.0 / 8, 3.0 / 4, 1.0 / 8}));
  EXPECT_EQ(Out(r, 1), (std::vector<double>{-0.5, 0.0, 0.5}));
  EXPECT_EQ(Out(r, 2), (std::vector<double>{1.0, -2.0, 1.0}));
}

TEST_F(RatCurveShapeHess, BitIdenticalToTheDocumentedArithmetic) {
  std::mt19937 rng(77);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int t = 0; t < 400; ++t) {
    const int p = t % 7;
    const int n = std::max(p + 1, 3) + static_cast<int>(unit(rng) * 10);
    const std::vector<double> U = RandomKnots(rng, p, n), w = RandomWeights(rng, n);
    const double xi = t % 10 == 0 ? 1.0 : unit(rng) * 1.2 - 0.1;
    const reference::CurveHessian ref = reference::RatCurveShapeHess(xi, p, U, w);
    const standin::Result r = Run(xi, p, U, w);
    ASSERT_FALSE(r.failed) << r.message;
    ASSERT_EQ(Bits(Out(r, 0)), Bits(ref.R)) << "case " << t;
    ASSERT_EQ(Bits(Out(r, 1)), Bits(ref.dR)) << "case " << t;
    ASSERT_EQ(Bits(Out(r, 2)), Bits(ref.d2R)) << "case " << t;
  }
}

// The second derivative against central differences of the first, and the sums 1, 0, 0.
TEST_F(RatCurveShapeHess, SecondDerivativeMatchesDifferencesOfTheFirst) {
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> unit(0.05, 0.95);
  for (int p = 1; p <= 5; ++p) {
    const std::vector<double> U = RandomKnots(rng, p, p + 6), w = RandomWeights(rng, p + 6);
    for (int t = 0; t < 20; ++t) {
      const double xi = unit(rng);
      const int s = FindSpan(static_cast<int>(U.size()) - p - 2, p, xi, U.data());
      const double h = 1e-6 * (U[s + 1] - U[s]);
      if (xi - h <= U[s] || xi + h >= U[s + 1]) continue;
      const standin::Result r = Run(xi, p, U, w);
      const std::vector<double> plus = Out(Run(xi + h, p, U, w), 1);
      const std::vector<double> minus = Out(Run(xi - h, p, U, w), 1);
      const std::vector<double> d2R = Out(r, 2);
      double scale = 1.0, sum0 = 0.0, sum1 = 0.0, sum2 = 0.0;
      for (double v : d2R) scale = std::max(scale, std::fabs(v));
      for (int k = 0; k <= p; ++k) {
        EXPECT_NEAR(d2R[k], (plus[k] - minus[k]) / (2 * h), 1e-5 * scale) << "p " << p;
        sum0 += Out(r, 0)[k];
        sum1 += Out(r, 1)[k];
        sum2 += d2R[k];
      }
      EXPECT_NEAR(sum0, 1.0, 1e-14);
      EXPECT_NEAR(sum1, 0.0, 1e-12 * scale);
      EXPECT_NEAR(sum2, 0.0, 1e-12 * scale);
    }
  }
}

// Degree 1: N'' and W'' vanish, and what is left is w (2 N W'^2 / W^3 - 2 N' W' / W^2).
TEST_F(RatCurveShapeHess, LinearWithUnequalWeightsKeepsTheWeightTerms) {
  const std::vector<double> U = {0, 0, 0.5, 1, 1};
  const std::vector<double> w = {1, 3, 2};
  const standin::Result r = Run(0.25, 1, U, w);
  const double N[2] = {0.5, 0.5}, dN[2] = {-2, 2};
  const double W = 1 * 0.5 + 3 * 0.5, dW = 1 * -2 + 3 * 2;
  for (int k = 0; k < 2; ++k) {
    const double expected = w[k] * (2 * N[k] * dW * dW / (W * W * W) - 2 * dN[k] * dW / (W * W));
    EXPECT_NEAR(Out(r, 2)[k], expected, 1e-13);
  }
  EXPECT_NE(Out(r, 2)[0], 0.0);
  const standin::Result equal = Run(0.25, 1, U, {2, 2, 2});
  EXPECT_NEAR(Out(equal, 2)[0], 0.0, 1e-15);
  EXPECT_NEAR(Out(equal, 2)[1], 0.0, 1e-15);
}

TEST_F(RatCurveShapeHess, DegreeZeroIsOneWithZeroDerivatives) {
  const standin::Result r = Run(0.6, 0, {0, 0.25, 0.5, 0.75, 1}, {1, 2, 3, 4});
  EXPECT_EQ(Out(r, 0), (std::vector<double>{1.0}));
  EXPECT_EQ(Out(r, 1), (std::vector<double>{0.0}));
  EXPECT_EQ(Out(r, 2), (std::vector<double>{0.0}));
}

TEST_F(RatCurveShapeHess, LastKnotIsClampedStrictly) {
  const std::vector<double> w = {1, 2, 1, 3, 1, 2, 1, 2};
  const double tol = reference::kEndTolerance;
  EXPECT_EQ(Bits(Out(Run(5.0, 2, kBook, w), 2)), Bits(Out(Run(5.0 - tol, 2, kBook, w), 2)));
  EXPECT_EQ(Bits(Out(Run(5.0 + tol, 2, kBook, w), 0)),
            Bits(reference::RatCurveShapeHess(5.0 + tol, 2, kBook, w).R));
  EXPECT_NE(Bits(Out(Run(5.0 + tol, 2, kBook, w), 0)), Bits(Out(Run(5.0, 2, kBook, w), 0)));
}

TEST_F(RatCurveShapeHess, OutputsGoOnlyToTheSlotsAskedFor) {
  const std::vector<double> w(8, 1.0);
  for (int nlhs = 0; nlhs <= 3; ++nlhs) {
    const standin::Result r = Run(2.5, 2, kBook, w, nlhs);
    ASSERT_EQ(r.outputs.size(), static_cast<size_t>(std::max(nlhs, 1)));
    EXPECT_EQ(Out(r, 0), (std::vector<double>{1.0 / 8, 3.0 / 4, 1.0 / 8}));
  }
}

TEST_F(RatCurveShapeHess, FaultyInputsRaiseTheirIdentifiers) {
  const Array xi = Scalar(0.5), p = Scalar(2), U = Row({0, 0, 0, 0.5, 1, 1, 1}),
              w = Row({1, 1, 1, 1});
  const std::vector<const Array*> args = {&xi, &p, &U, &w};
  ExpectClassFaults(args);
  ExpectFault("tooFewValues", args, 0, Row({}));
  ExpectFault("tooFewValues", args, 3, Row({1, 1, 1}));
  ExpectFault("degreeNotFinite", args, 1, Scalar(NAN));
  ExpectFault("degreeNegative", args, 1, Scalar(-3));
  ExpectFault("degreeTooLarge", args, 1, Scalar(1e9));
  ExpectFault("knotsNotRow", args, 2, standin::Matrix({7, 1}, {0, 0, 0, 0.5, 1, 1, 1}));
  ExpectFault("knotsNaN", args, 2, Row({0, 0, 0, NAN, 1, 1, 1}));
  ExpectFault("knotsDecreasing", args, 2, Row({0, 0, 0, 1.5, 1, 1, 1}));
  // Second derivatives need three functions: degree 1 on four knots has only two.
  const Array p1 = Scalar(1), four = Row({0, 0, 1, 1}), five = Row({0, 0, 0.5, 1, 1});
  ExpectError("knotsTooShort", 1, {&xi, &p1, &four, &w});
  EXPECT_FALSE(Call(1, {&xi, &p1, &five, &w}).failed);
  ExpectError("tooManyOutputs", 4, args);
  const standin::Result usage = Call(1, {&xi, &p, &U});
  EXPECT_TRUE(usage.failed);
  EXPECT_EQ(
      usage.message,
      "4 inputs expected, as in [R, dRdxi, dR2dxi] = RatCurveShapeHess(xi, p, knot, weights)");
}

}  // namespace
