#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "plugin_test.h"
#include "reference.h"

namespace {

using standin::Array;
using standin::Matrix;
using standin::Row;
using standin::Scalar;

const std::vector<double> kBook = {0, 0, 0, 1, 2, 3, 4, 4, 5, 5, 5};
const std::vector<double> kQuarter = {0, 0, 0, 1, 1, 1};
const std::vector<double> kQuarterWeights = {1, 1 / std::sqrt(2.0), 1};

class RatCurveShapeGrad : public PluginTest {
 protected:
  RatCurveShapeGrad() : PluginTest("RatCurveShapeGrad") {}

  standin::Result Run(double xi, double p, const std::vector<double>& U,
                      const std::vector<double>& w, int nlhs = 2) {
    const Array a = Scalar(xi), b = Scalar(p), c = Row(U), d = Row(w);
    return Call(nlhs, {&a, &b, &c, &d});
  }
};

TEST_F(RatCurveShapeGrad, BookExampleWithUnitWeights) {
  const standin::Result r = Run(2.5, 2, kBook, std::vector<double>(8, 1.0));
  ASSERT_FALSE(r.failed) << r.message;
  EXPECT_EQ(standin::Dims(r.outputs[0].get()), (std::vector<size_t>{1, 3}));
  EXPECT_EQ(Out(r, 0), (std::vector<double>{1.0 / 8, 3.0 / 4, 1.0 / 8}));
  EXPECT_EQ(Out(r, 1), (std::vector<double>{-0.5, 0.0, 0.5}));
}

TEST_F(RatCurveShapeGrad, QuarterCircleHasRadiusOneAndATangentAcrossTheRadius) {
  for (double xi = 0.0; xi <= 1.0; xi += 1.0 / 64) {
    const standin::Result r = Run(xi, 2, kQuarter, kQuarterWeights);
    const std::vector<double> R = Out(r, 0), dR = Out(r, 1);
    const double x = R[0] + R[1], y = R[1] + R[2];
    const double dx = dR[0] + dR[1], dy = dR[1] + dR[2];
    EXPECT_NEAR(x * x + y * y, 1.0, 1e-15) << "xi " << xi;
    EXPECT_NEAR(x * dx + y * dy, 0.0, 1e-15) << "xi " << xi;
    EXPECT_GT(std::hypot(dx, dy), 1.0) << "xi " << xi;  // the speed is never below 1 here
  }
}

// The plug-in's shortcuts must not change a bit: against the long way, on random curves.
TEST_F(RatCurveShapeGrad, BitIdenticalToTheDocumentedArithmetic) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int t = 0; t < 400; ++t) {
    const int p = t % 7;
    const int n = p + 2 + static_cast<int>(unit(rng) * 12);
    const std::vector<double> U = RandomKnots(rng, p, n), w = RandomWeights(rng, n);
    const double xi = t % 10 == 0 ? 1.0 : unit(rng) * 1.2 - 0.1;  // also outside, and the end

    const reference::CurveBasis ref = reference::RatCurveShapeGrad(xi, p, U, w);
    const standin::Result r = Run(xi, p, U, w);
    ASSERT_FALSE(r.failed) << r.message;
    ASSERT_EQ(Bits(Out(r, 0)), Bits(ref.R)) << "case " << t;
    ASSERT_EQ(Bits(Out(r, 1)), Bits(ref.dR)) << "case " << t;
  }
}

TEST_F(RatCurveShapeGrad, SumsAreOneAndZero) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const std::vector<double> w = {0.5, 2, 1, 0.7, 1.3, 0.9, 1.1, 3};
  for (int t = 0; t < 100; ++t) {
    const standin::Result r = Run(5 * unit(rng), 2, kBook, w);
    double sum = 0.0, dsum = 0.0;
    for (double v : Out(r, 0)) sum += v;
    for (double v : Out(r, 1)) dsum += v;
    EXPECT_NEAR(sum, 1.0, 1e-15);
    EXPECT_NEAR(dsum, 0.0, 1e-14);
  }
}

TEST_F(RatCurveShapeGrad, LastKnotIsEvaluatedJustInsideTheLastSpan) {
  const std::vector<double> w = {1, 2, 1, 3, 1, 2, 1, 2};
  const double inside = 5.0 - reference::kEndTolerance;
  const std::vector<double> clamped = Out(Run(inside, 2, kBook, w), 0);
  EXPECT_EQ(Bits(Out(Run(5.0, 2, kBook, w), 0)), Bits(clamped));
  EXPECT_EQ(Bits(Out(Run(5.0 + reference::kEndTolerance / 2, 2, kBook, w), 0)), Bits(clamped));
  EXPECT_NEAR(clamped[2], 1.0, 1e-13);
  EXPECT_NE(clamped[2], 1.0);
  // A distance of exactly the tolerance is not clamped: this point is extrapolated beyond 5.
  const std::vector<double> beyond = Out(Run(5.0 + reference::kEndTolerance, 2, kBook, w), 0);
  EXPECT_NE(Bits(beyond), Bits(clamped));
  EXPECT_EQ(Bits(beyond),
            Bits(reference::RatCurveShapeGrad(5.0 + reference::kEndTolerance, 2, kBook, w).R));
}

TEST_F(RatCurveShapeGrad, LargeLastKnotRoundsTheClampBackToIt) {
  // Above 256 the tolerance is below half an ulp of the knot: the point stays on it.
  const std::vector<double> U = {0, 0, 0, 256, 512, 512, 512};
  const standin::Result r = Run(512.0, 2, U, {1, 1, 1, 1});
  EXPECT_EQ(Out(r, 0), (std::vector<double>{0.0, 0.0, 1.0}));
}

TEST_F(RatCurveShapeGrad, OddButSafeInputKeepsItsDocumentedResult) {
  const std::vector<double> w(8, 1.0);
  // Outside the knot range: the first span's polynomials, extrapolated.
  const standin::Result below = Run(-0.5, 2, kBook, w);
  EXPECT_EQ(Bits(Out(below, 0)), Bits(reference::RatCurveShapeGrad(-0.5, 2, kBook, w).R));
  EXPECT_EQ(Out(below, 0)[0], 2.25);  // (1 - u)^2 at u = -0.5
  // A NaN point, and weights that sum to zero: NaN, not an error.
  for (const standin::Result& r :
       {Run(NAN, 2, kBook, w), Run(2.5, 2, kBook, std::vector<double>(8, 0.0))}) {
    ASSERT_FALSE(r.failed);
    for (double v : Out(r, 0)) EXPECT_TRUE(std::isnan(v));
    for (double v : Out(r, 1)) EXPECT_TRUE(std::isnan(v));
  }
  // Fractional and negative-fraction degrees truncate toward zero.
  EXPECT_EQ(Bits(Out(Run(2.5, 2.9, kBook, w), 0)), Bits(Out(Run(2.5, 2, kBook, w), 0)));
  const standin::Result p0 = Run(0.5, -0.5, {0, 0.5, 1}, {1, 1});
  EXPECT_EQ(Out(p0, 0), (std::vector<double>{1.0}));
  EXPECT_EQ(Out(p0, 1), (std::vector<double>{0.0}));
}

TEST_F(RatCurveShapeGrad, ExtraElementsAndShapesAreIgnored) {
  const Array xi = Matrix({2, 2}, {2.5, 9, 9, 9}), p = Row({2, 7}), U = Row(kBook);
  const Array w = Matrix({2, 4}, {1, 2, 1, 3, 1, 2, 1, 2});  // column order is what counts
  const standin::Result r = Call(2, {&xi, &p, &U, &w});
  EXPECT_EQ(Bits(Out(r, 0)),
            Bits(reference::RatCurveShapeGrad(2.5, 2, kBook, {1, 2, 1, 3, 1, 2, 1, 2}).R));
}

TEST_F(RatCurveShapeGrad, OutputsGoOnlyToTheSlotsAskedFor) {
  const std::vector<double> w(8, 1.0);
  for (int nlhs : {0, 1}) {
    const standin::Result r = Run(2.5, 2, kBook, w, nlhs);
    ASSERT_EQ(r.outputs.size(), 1u);  // one slot, for ans
    EXPECT_EQ(Out(r, 0), (std::vector<double>{1.0 / 8, 3.0 / 4, 1.0 / 8}));
  }
}

TEST_F(RatCurveShapeGrad, WrongInputCountRaisesTheUsageMessage) {
  const Array a = Scalar(0.5), b = Scalar(2), c = Row(kQuarter), d = Row(kQuarterWeights);
  for (const std::vector<const Array*>& args :
       {std::vector<const Array*>{&a, &b, &c}, {&a, &b, &c, &d, &d}, {}}) {
    const standin::Result r = Call(2, args);
    ASSERT_TRUE(r.failed);
    EXPECT_EQ(r.id, "");
    EXPECT_EQ(r.message,
              "4 inputs expected, as in [R, dRdxi] = RatCurveShapeGrad(xi, p, knot, weights)");
    EXPECT_EQ(r.outputs[0], nullptr);
  }
}

TEST_F(RatCurveShapeGrad, FaultyInputsRaiseTheirIdentifiers) {
  const Array xi = Scalar(0.5), p = Scalar(2), U = Row(kQuarter), w = Row(kQuarterWeights);
  const auto expect = [&](const char* id, const Array& bad, int at) {
    ExpectFault(id, {&xi, &p, &U, &w}, at, bad);
  };
  ExpectClassFaults({&xi, &p, &U, &w});
  expect("tooFewValues", Matrix({0, 0}), 0);
  expect("tooFewValues", Matrix({1, 0}), 1);
  expect("tooFewValues", Row({1, 1}), 3);
  expect("degreeNotFinite", Scalar(NAN), 1);
  expect("degreeNotFinite", Scalar(INFINITY), 1);
  expect("degreeNotFinite", Scalar(-INFINITY), 1);
  expect("degreeNegative", Scalar(-1), 1);
  expect("degreeTooLarge", Scalar(19), 1);
  expect("degreeTooLarge", Scalar(1e9), 1);
  expect("knotsNotRow", Matrix({6, 1}, {0, 0, 0, 1, 1, 1}), 2);
  expect("knotsNotRow", Matrix({2, 3}, {0, 0, 0, 1, 1, 1}), 2);
  expect("knotsNotRow", Matrix({0, 0}), 2);
  expect("knotsTooShort", Row({0, 0, 1, 1, 1}), 2);  // p = 2 needs 6
  expect("knotsNaN", Row({0, 0, 0, NAN, 1, 1, 1}), 2);
  expect("knotsNaN", Row({0, 0, 0, 1, 1, NAN}), 2);
  expect("knotsDecreasing", Row({0, 0, 0, 0.7, 0.3, 1, 1, 1}), 2);
  expect("knotsDecreasing", Row({1, 1, 1, 0, 0, 0}), 2);
}

TEST_F(RatCurveShapeGrad, TooShortKnotsDependOnTheDegree) {
  const Array xi = Scalar(0.5), w = Row({1, 1, 1, 1});
  // Degree 0 needs two basis functions (three knots), degree 1 needs four knots.
  const Array p0 = Scalar(0), p1 = Scalar(1), two = Row({0, 1}), three = Row({0, 0.5, 1});
  ExpectError("knotsTooShort", 2, {&xi, &p0, &two, &w});
  ExpectError("knotsTooShort", 2, {&xi, &p1, &three, &w});
  EXPECT_FALSE(Call(2, {&xi, &p0, &three, &w}).failed);
}

// A long knot vector is checked where the call reads it, so that a call costs the same whatever
// the knot count: its span's knots and the span search. A fault elsewhere changes nothing that
// the call computes.
TEST_F(RatCurveShapeGrad, LongKnotVectorsAreCheckedWhereTheCallReadsThem) {
  const int p = 2, n = 400;
  std::vector<double> U(p + 1, 0.0);
  for (int k = 1; k < n - p; ++k) U.push_back(static_cast<double>(k) / (n - p));
  U.insert(U.end(), p + 1, 1.0);
  const std::vector<double> w(n, 1.0);
  const std::vector<double> good = Out(Run(0.1, p, U, w), 0);

  std::vector<double> far = U;
  std::swap(far[350], far[351]);  // out of order near the end, far from 0.1
  EXPECT_EQ(Bits(Out(Run(0.1, p, far, w), 0)), Bits(good));
  const Array xi = Scalar(0.88), deg = Scalar(p), weights = Row(w), knots = Row(far);
  ExpectError("knotsDecreasing", 1, {&xi, &deg, &knots, &weights});

  std::vector<double> nan = U;
  nan[41] = NAN;  // in the span of 0.1
  const Array at = Scalar(0.1), nanKnots = Row(nan);
  ExpectError("knotsNaN", 1, {&at, &deg, &nanKnots, &weights});

  std::vector<double> reversed = U;  // nothing in order: the search cannot end in a span of 0.5
  std::reverse(reversed.begin() + p + 1, reversed.end() - p - 1);
  const Array half = Scalar(0.5), reversedKnots = Row(reversed);
  ExpectError("knotsDecreasing", 1, {&half, &deg, &reversedKnots, &weights});
}

TEST_F(RatCurveShapeGrad, TooManyOutputs) {
  const Array xi = Scalar(0.5), p = Scalar(2), U = Row(kQuarter), w = Row(kQuarterWeights);
  ExpectError("tooManyOutputs", 3, {&xi, &p, &U, &w});
}

}  // namespace
