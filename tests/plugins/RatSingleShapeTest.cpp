#include <cmath>
#include <random>

#include "plugin_test.h"
#include "reference.h"

namespace {

using standin::Array;
using standin::Row;
using standin::Scalar;

class RatSingleShape : public PluginTest {
 protected:
  RatSingleShape() : PluginTest("RatSingleShape"), grad_(PluginPath("RatCurveShapeGrad")) {}

  std::vector<double> Run(double i, double p, double xi, const std::vector<double>& U,
                          const std::vector<double>& w) {
    const Array a = Scalar(i), b = Scalar(p), c = Scalar(xi), d = Row(U), e = Row(w);
    const standin::Result r = Call(2, {&a, &b, &c, &d, &e});
    EXPECT_FALSE(r.failed) << r.message;
    if (r.failed) return {};
    return {Out(r, 0)[0], Out(r, 1)[0]};
  }

  standin::Plugin grad_;
};

// Every function of the curve at random points: the matching entry of RatCurveShapeGrad inside
// the span, exactly 0 outside the support.
TEST_F(RatSingleShape, MatchesTheSpanBasisAndVanishesOutsideTheSupport) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int p = 1; p <= 5; ++p) {
    const int n = p + 5;
    const std::vector<double> U = RandomKnots(rng, p, n), w = RandomWeights(rng, n);
    for (int t = 0; t < 10; ++t) {
      const double xi = unit(rng);
      const Array a = Scalar(xi), b = Scalar(p), c = Row(U), d = Row(w);
      const standin::Result span = grad_.Call(2, {a.get(), b.get(), c.get(), d.get()});
      const std::vector<double> R = Out(span, 0), dR = Out(span, 1);
      const int s = FindSpan(n - 1, p, xi, U.data());
      for (int i = 1; i <= n; ++i) {
        const std::vector<double> one = Run(i, p, xi, U, w);
        const int local = i - 1 - (s - p);
        if (local < 0 || local > p) {
          EXPECT_EQ(one, (std::vector<double>{0.0, 0.0})) << "function " << i;
        } else {
          EXPECT_NEAR(one[0], R[local], 1e-14) << "function " << i;
          EXPECT_NEAR(one[1], dR[local], 1e-10 * std::max(1.0, std::fabs(dR[local])));
        }
      }
    }
  }
}

TEST_F(RatSingleShape, BitIdenticalToTheDocumentedArithmetic) {
  std::mt19937 rng(22);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int t = 0; t < 400; ++t) {
    const int p = 1 + t % 6;
    const int n = p + 1 + static_cast<int>(unit(rng) * 10);
    const std::vector<double> U = RandomKnots(rng, p, n), w = RandomWeights(rng, n);
    const double i = 1 + static_cast<int>(unit(rng) * n);
    const double xi = t % 10 == 0 ? 1.0 : unit(rng) * 1.2 - 0.1;
    ASSERT_EQ(Bits(Run(i, p, xi, U, w)), Bits(reference::RatSingleShape(i, p, xi, U, w)))
        << "case " << t;
  }
}

TEST_F(RatSingleShape, IndexCountsFromOneAndTruncates) {
  const std::vector<double> U = {0, 0, 0, 1, 2, 3, 4, 4, 5, 5, 5}, w(8, 1.0);
  EXPECT_EQ(Run(1, 2, 0.5, U, w)[0], 0.25);  // (1 - u)^2
  EXPECT_EQ(Bits(Run(2.7, 2, 2.5, U, w)), Bits(Run(2, 2, 2.5, U, w)));
  EXPECT_EQ(Run(3, 2, 2.5, U, w)[0], 1.0 / 8);  // span 4 holds functions 3, 4, 5 (from 1)
  EXPECT_EQ(Run(4, 2, 2.5, U, w)[0], 3.0 / 4);
}

TEST_F(RatSingleShape, LastKnotGivesJustBelowOne) {
  const std::vector<double> U = {0, 0, 0, 0.5, 1, 1, 1}, w = {1, 2, 3, 4};
  const std::vector<double> last = Run(4, 2, 1.0, U, w);
  EXPECT_LT(last[0], 1.0);
  EXPECT_NEAR(last[0], 1.0, 1e-12);
  EXPECT_TRUE(std::isfinite(last[1]));
}

// Degree 0 is piecewise constant: the function's value and a zero derivative.
TEST_F(RatSingleShape, DegreeZeroHasZeroDerivative) {
  const std::vector<double> U = {0, 0.5, 1}, w = {2, 3};
  EXPECT_EQ(Run(1, 0, 0.25, U, w), (std::vector<double>{1.0, 0.0}));
  EXPECT_EQ(Run(2, 0, 0.25, U, w), (std::vector<double>{0.0, 0.0}));
  EXPECT_EQ(Run(2, 0, 0.75, U, w), (std::vector<double>{1.0, 0.0}));
}

TEST_F(RatSingleShape, UsageMessageIsFixed) {
  const Array a = Scalar(1);
  const standin::Result r = Call(1, {&a, &a});
  ASSERT_TRUE(r.failed);
  EXPECT_EQ(r.id, "");
  EXPECT_EQ(r.message,
            "You fool! You haven't passed in 5 arguments to the function.We expect it to be in "
            "the form [Nip] = RatSingleShape(i, p, xi, knot, weights)\n");
}

TEST_F(RatSingleShape, OutputsAndFaults) {
  const Array i = Scalar(2), p = Scalar(2), xi = Scalar(0.3), U = Row({0, 0, 0, 0.5, 1, 1, 1}),
              w = Row({1, 1, 1, 1});
  const std::vector<const Array*> args = {&i, &p, &xi, &U, &w};
  for (int nlhs = 0; nlhs <= 2; ++nlhs) {
    EXPECT_EQ(Call(nlhs, args).outputs.size(), static_cast<size_t>(std::max(nlhs, 1)));
  }
  ExpectError("tooManyOutputs", 3, args);
  ExpectClassFaults(args);
  ExpectFault("indexOutOfRange", args, 0, Scalar(0));
  ExpectFault("indexOutOfRange", args, 0, Scalar(0.9));
  ExpectFault("indexOutOfRange", args, 0, Scalar(5));
  ExpectFault("indexOutOfRange", args, 0, Scalar(NAN));
  ExpectFault("indexOutOfRange", args, 0, Scalar(-INFINITY));
  ExpectFault("tooFewValues", args, 0, Row({}));
  ExpectFault("tooFewValues", args, 2, Row({}));
  ExpectFault("tooFewValues", args, 4, Row({1, 1, 1}));
  ExpectFault("knotsTooShort", args, 3, Row({0, 0, 1, 1, 1}));
  ExpectFault("knotsDecreasing", args, 3, Row({0, 0, 0, 0.5, 1, 1, 0}));
  ExpectFault("degreeNegative", args, 1, Scalar(-2));
}

}  // namespace
