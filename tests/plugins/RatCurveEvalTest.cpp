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

// The Greville abscissae: control values that make a B-spline field equal to its parameter.
std::vector<double> Greville(const std::vector<double>& U, int p) {
  std::vector<double> g(U.size() - p - 1);
  for (size_t i = 0; i < g.size(); ++i) {
    double sum = 0.0;
    for (int k = 1; k <= p; ++k) sum += U[i + k];
    g[i] = sum / p;
  }
  return g;
}

class RatCurveEval : public PluginTest {
 protected:
  RatCurveEval() : PluginTest("RatCurveEval") {}

  std::vector<double> Run(double xi, double p, const std::vector<double>& U,
                          const std::vector<double>& P, const std::vector<double>& w) {
    const Array a = Scalar(xi), b = Scalar(p), c = Row(U), d = Row(P), e = Row(w);
    const standin::Result r = Call(2, {&a, &b, &c, &d, &e});
    EXPECT_FALSE(r.failed) << r.message;
    if (r.failed) return {};
    EXPECT_EQ(standin::Dims(r.outputs[0].get()), (std::vector<size_t>{1, 1}));
    return {Out(r, 0)[0], Out(r, 1)[0]};
  }
};

TEST_F(RatCurveEval, QuarterCircleHasRadiusOneAndATangentAcrossTheRadius) {
  for (double xi = 0.0; xi <= 1.0; xi += 1.0 / 64) {
    const std::vector<double> x = Run(xi, 2, kQuarter, {1, 1, 0}, kQuarterWeights);
    const std::vector<double> y = Run(xi, 2, kQuarter, {0, 1, 1}, kQuarterWeights);
    EXPECT_NEAR(x[0] * x[0] + y[0] * y[0], 1.0, 1e-15) << "xi " << xi;
    EXPECT_NEAR(x[0] * x[1] + y[0] * y[1], 0.0, 1e-15) << "xi " << xi;
  }
}

TEST_F(RatCurveEval, ConstantsAndGrevilleAbscissae) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int p = 1; p <= 6; ++p) {
    const int n = p + 5;
    const std::vector<double> U = RandomKnots(rng, p, n), w = RandomWeights(rng, n);
    for (int t = 0; t < 20; ++t) {
      const double xi = unit(rng);
      const std::vector<double> c = Run(xi, p, U, std::vector<double>(n, -3.5), w);
      EXPECT_NEAR(c[0], -3.5, 1e-14);
      EXPECT_NEAR(c[1], 0.0, 1e-10);
      const std::vector<double> g = Run(xi, p, U, Greville(U, p), std::vector<double>(n, 2.0));
      EXPECT_NEAR(g[0], xi, 1e-14) << "p " << p;
      EXPECT_NEAR(g[1], 1.0, 1e-11) << "p " << p;
    }
  }
}

TEST_F(RatCurveEval, BitIdenticalToTheDocumentedArithmetic) {
  std::mt19937 rng(31);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int t = 0; t < 400; ++t) {
    const int p = t % 7;
    const int n = std::max(p + 1, 2) + static_cast<int>(unit(rng) * 10);
    const std::vector<double> U = RandomKnots(rng, p, n), w = RandomWeights(rng, n);
    std::vector<double> P(n);
    for (double& v : P) v = 4 * unit(rng) - 2;
    const double xi = t % 10 == 0 ? 1.0 : unit(rng) * 1.2 - 0.1;
    ASSERT_EQ(Bits(Run(xi, p, U, P, w)), Bits(reference::RatCurveEval(xi, p, U, P, w, false)))
        << "case " << t;
  }
}

TEST_F(RatCurveEval, DegreeZeroAndTheLastKnot) {
  const std::vector<double> p0 = Run(0.6, 0, {0, 0.5, 1}, {7, 9}, {1, 2});
  EXPECT_EQ(p0, (std::vector<double>{9.0, 0.0}));
  // At the last knot the field is the last control value, up to the clamp's tiny offset.
  const std::vector<double> end = Run(1.0, 2, kQuarter, {1, 1, 0}, kQuarterWeights);
  EXPECT_NEAR(end[0], 0.0, 1e-13);
  EXPECT_NE(end[0], 0.0);
}

TEST_F(RatCurveEval, OutputsGoOnlyToTheSlotsAskedFor) {
  const Array a = Scalar(0.5), b = Scalar(2), c = Row(kQuarter), d = Row({1, 1, 0}),
              e = Row(kQuarterWeights);
  for (int nlhs : {0, 1}) {
    const standin::Result r = Call(nlhs, {&a, &b, &c, &d, &e});
    ASSERT_EQ(r.outputs.size(), 1u);
    EXPECT_NEAR(Out(r, 0)[0], std::sqrt(0.5), 1e-15);
  }
  ExpectError("tooManyOutputs", 3, {&a, &b, &c, &d, &e});
}

TEST_F(RatCurveEval, FaultyInputsRaiseTheirIdentifiers) {
  const Array xi = Scalar(0.5), p = Scalar(2), U = Row(kQuarter), P = Row({1, 1, 0}),
              w = Row(kQuarterWeights);
  const std::vector<const Array*> args = {&xi, &p, &U, &P, &w};
  ExpectClassFaults(args);
  ExpectFault("tooFewValues", args, 3, Row({1, 1}));
  ExpectFault("tooFewValues", args, 4, Row({1, 1}));
  ExpectFault("degreeNotFinite", args, 1, Scalar(INFINITY));
  ExpectFault("degreeNegative", args, 1, Scalar(-1));
  ExpectFault("knotsTooShort", args, 2, Row({0, 0, 1, 1, 1}));
  ExpectFault("knotsDecreasing", args, 2, Row({0, 0, 0, 1, 1, 0.9}));
  const standin::Result usage = Call(1, {&xi, &p, &U, &P});
  EXPECT_EQ(usage.message,
            "5 inputs expected, as in [interp, interp_deriv] = "
            "RatCurveEval(xi, p, knot, points, weights)");
}

}  // namespace
