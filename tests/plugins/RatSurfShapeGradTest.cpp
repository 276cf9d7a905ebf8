#include <cmath>
#include <random>

#include "plugin_test.h"
#include "reference.h"

namespace {

using standin::Array;
using standin::Matrix;
using standin::Row;
using standin::Scalar;

const std::vector<double> kU = {0, 0, 0, 0.5, 1, 1, 1};  // p = 2, nu = 4
const std::vector<double> kV = {0, 0, 0.25, 1, 1};       // q = 1, nv = 3

class RatSurfShapeGrad : public PluginTest {
 protected:
  RatSurfShapeGrad() : PluginTest("RatSurfShapeGrad") {}

  standin::Result Run(const double* x, int p, int q, const std::vector<double>& U,
                      const std::vector<double>& V, const std::vector<double>& w, int nlhs = 3) {
    const Array a = Row({x[0], x[1]}), b = Scalar(p), c = Scalar(q), d = Row(U), e = Row(V),
                f = Row(w);
    return Call(nlhs, {&a, &b, &c, &d, &e, &f});
  }
};

TEST_F(RatSurfShapeGrad, BitIdenticalToTheDocumentedArithmetic) {
  std::mt19937 rng(41);
  for (int t = 0; t < 300; ++t) {
    const RandomCase c = MakeRandomCase(rng, 2, 5, 2);
    const reference::Tensor ref = reference::RatSurf(c.x, c.p[0], c.p[1], c.U[0], c.U[1], c.w);
    const standin::Result r = Run(c.x, c.p[0], c.p[1], c.U[0], c.U[1], c.w);
    ASSERT_FALSE(r.failed) << r.message;
    ASSERT_EQ(Bits(Out(r, 0)), Bits(ref.R)) << "case " << t;
    ASSERT_EQ(Bits(Out(r, 1)), Bits(ref.dxi)) << "case " << t;
    ASSERT_EQ(Bits(Out(r, 2)), Bits(ref.deta)) << "case " << t;
  }
}

TEST_F(RatSurfShapeGrad, SumsAndEqualWeights) {
  std::mt19937 rng(42);
  for (int t = 0; t < 100; ++t) {
    const RandomCase c = MakeRandomCase(rng, 2, 4, 2);
    const standin::Result r = Run(c.x, c.p[0], c.p[1], c.U[0], c.U[1], c.w);
    double sums[3] = {0, 0, 0}, scale = 1;
    for (int o = 0; o < 3; ++o) {
      for (double v : Out(r, o)) {
        sums[o] += v;
        scale = std::max(scale, std::fabs(v));
      }
    }
    EXPECT_NEAR(sums[0], 1.0, 1e-14);
    EXPECT_NEAR(sums[1], 0.0, 1e-13 * scale);
    EXPECT_NEAR(sums[2], 0.0, 1e-13 * scale);
    // All weights equal: the tensor products of the B-spline values.
    const std::vector<double> equal(c.w.size(), 0.7);
    const reference::Tensor poly = reference::PolySurf(c.x, c.p[0], c.p[1], c.U[0], c.U[1]);
    const standin::Result e = Run(c.x, c.p[0], c.p[1], c.U[0], c.U[1], equal);
    for (size_t k = 0; k < poly.R.size(); ++k) {
      EXPECT_NEAR(Out(e, 0)[k], poly.R[k], 1e-15);
      EXPECT_NEAR(Out(e, 1)[k], poly.dxi[k], 1e-13 * scale);
      EXPECT_NEAR(Out(e, 2)[k], poly.deta[k], 1e-13 * scale);
    }
  }
}

// p = 1, q = 2: entry e = k + 2 j. With unit weights R[e] = N_k M_j, told apart by the values.
TEST_F(RatSurfShapeGrad, OutputOrderIsXiFastest) {
  const double x[2] = {0.25, 0.5};
  const std::vector<double> U = {0, 0, 1, 1}, V = {0, 0, 0, 1, 1, 1};
  const standin::Result r = Run(x, 1, 2, U, V, std::vector<double>(6, 1.0));
  const double N[2] = {0.75, 0.25}, M[3] = {0.25, 0.5, 0.25};
  ASSERT_EQ(Out(r, 0).size(), 6u);
  for (int j = 0; j < 3; ++j) {
    for (int k = 0; k < 2; ++k) EXPECT_EQ(Out(r, 0)[k + 2 * j], N[k] * M[j]) << k << "," << j;
  }
}

TEST_F(RatSurfShapeGrad, WeightsAsAMatrixAndExtraElements) {
  std::vector<double> w(12);
  for (size_t k = 0; k < w.size(); ++k) w[k] = 1 + 0.1 * static_cast<double>(k);
  const Array x = Matrix({3, 1}, {0.3, 0.6, 99}), p = Row({2, 5}), q = Scalar(1.7), U = Row(kU),
              V = Row(kV), W = Matrix({4, 3}, w);
  const standin::Result r = Call(3, {&x, &p, &q, &U, &V, &W});
  const double xy[2] = {0.3, 0.6};
  EXPECT_EQ(Bits(Out(r, 0)), Bits(reference::RatSurf(xy, 2, 1, kU, kV, w).R));
}

TEST_F(RatSurfShapeGrad, EachDirectionIsClampedOnItsOwn) {
  const std::vector<double> w(12, 1.0);
  const double tol = reference::kEndTolerance;
  const double atEnd[2] = {1.0, 0.5}, inside[2] = {1.0 - tol, 0.5};
  EXPECT_EQ(Bits(Out(Run(atEnd, 2, 1, kU, kV, w), 0)), Bits(Out(Run(inside, 2, 1, kU, kV, w), 0)));
  const double etaEnd[2] = {0.5, 1.0}, etaInside[2] = {0.5, 1.0 - tol};
  EXPECT_EQ(Bits(Out(Run(etaEnd, 2, 1, kU, kV, w), 2)),
            Bits(Out(Run(etaInside, 2, 1, kU, kV, w), 2)));
  const double beyond[2] = {1.0 + tol, 0.5};  // exactly the tolerance away: not moved
  EXPECT_NE(Bits(Out(Run(beyond, 2, 1, kU, kV, w), 0)), Bits(Out(Run(atEnd, 2, 1, kU, kV, w), 0)));
}

TEST_F(RatSurfShapeGrad, DegreeZeroAlongOneDirection) {
  const double x[2] = {0.3, 0.7};
  const standin::Result r = Run(x, 0, 1, {0, 0.5, 1}, kV, {1, 2, 3, 4, 5, 6});
  ASSERT_EQ(Out(r, 1).size(), 2u);
  EXPECT_EQ(Out(r, 1), (std::vector<double>{0.0, 0.0}));
}

TEST_F(RatSurfShapeGrad, OutputsAndFaults) {
  const Array x = Row({0.3, 0.6}), p = Scalar(2), q = Scalar(1), U = Row(kU), V = Row(kV),
              w = Row(std::vector<double>(12, 1.0));
  const std::vector<const Array*> args = {&x, &p, &q, &U, &V, &w};
  for (int nlhs = 0; nlhs <= 3; ++nlhs) {
    EXPECT_EQ(Call(nlhs, args).outputs.size(), static_cast<size_t>(std::max(nlhs, 1)));
  }
  ExpectError("tooManyOutputs", 4, args);
  ExpectClassFaults(args);
  ExpectFault("tooFewValues", args, 0, Scalar(0.3));  // one coordinate for two directions
  ExpectFault("tooFewValues", args, 5, Row(std::vector<double>(11, 1.0)));
  ExpectFault("degreeNegative", args, 2, Scalar(-1));
  ExpectFault("degreeNotFinite", args, 2, Scalar(NAN));
  ExpectFault("knotsNotRow", args, 4, Matrix({5, 1}, {0, 0, 0.25, 1, 1}));
  ExpectFault("knotsTooShort", args, 4, Row({0, 0, 1}));
  ExpectFault("knotsDecreasing", args, 4, Row({0, 0, 0.25, 0.2, 1}));
  ExpectFault("knotsNaN", args, 3, Row({0, 0, 0, NAN, 1, 1, 1}));
  const standin::Result usage = Call(1, {&x, &p, &q, &U, &V});
  EXPECT_EQ(usage.message,
            "6 inputs expected, as in [R, dRdxi, dRdeta] = "
            "RatSurfShapeGrad(xi, p, q, knotU, knotV, weights)");
}

}  // namespace
