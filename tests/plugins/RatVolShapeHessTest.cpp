#include <cmath>
#include <random>

#include "plugin_test.h"
#include "reference.h"

namespace {

using standin::Array;
using standin::Matrix;
using standin::Row;
using standin::Scalar;

constexpr int kOutputs = 10;

class RatVolShapeHess : public PluginTest {
 protected:
  RatVolShapeHess() : PluginTest("RatVolShapeHess"), gradient_(PluginPath("RatVolShapeGrad")) {}
  void TearDown() override {
    held_.clear();
    PluginTest::TearDown();
  }

  std::vector<const Array*> Args(const RandomCase& c) {
    held_.clear();
    held_.push_back(Row({c.x[0], c.x[1], c.x[2]}));
    for (int d = 0; d < 3; ++d) held_.push_back(Scalar(c.p[d]));
    for (int d = 0; d < 3; ++d) held_.push_back(Row(c.U[d]));
    held_.push_back(Row(c.w));
    std::vector<const Array*> args;
    for (const Array& a : held_) args.push_back(&a);
    return args;
  }

  standin::Result Run(const RandomCase& c, int nlhs = kOutputs) { return Call(nlhs, Args(c)); }

  // RatVolShapeGrad's first derivative `which` (1 xi, 2 eta, 3 zeta) at the case's point moved by
  // h along direction d.
  std::vector<double> Gradient(RandomCase c, int d, double h, int which) {
    c.x[d] += h;
    const standin::Result r = CheckedCall(gradient_, 4, Args(c));
    return Out(r, which);
  }

  standin::Plugin gradient_;
  std::vector<Array> held_;
};

// Degrees up to 4, at least 3 functions a direction, the point inside the domain.
RandomCase Case(std::mt19937& rng) {
  RandomCase c = MakeRandomCase(rng, 3, 4, 3);
  std::uniform_real_distribution<double> unit(0.02, 0.98);
  for (double& x : c.x) x = unit(rng);
  return c;
}

TEST_F(RatVolShapeHess, BitIdenticalToTheDocumentedArithmetic) {
  std::mt19937 rng(61);
  for (int t = 0; t < 150; ++t) {
    RandomCase c = MakeRandomCase(rng, 3, 4, 3);
    const reference::VolumeHessian ref =
        reference::RatVolHess(c.x, c.p[0], c.p[1], c.p[2], c.U[0], c.U[1], c.U[2], c.w);
    const standin::Result r = Run(c);
    ASSERT_FALSE(r.failed) << r.message;
    ASSERT_EQ(Bits(Out(r, 0)), Bits(ref.first.R)) << "case " << t;
    ASSERT_EQ(Bits(Out(r, 1)), Bits(ref.first.dxi)) << "case " << t;
    ASSERT_EQ(Bits(Out(r, 2)), Bits(ref.first.deta)) << "case " << t;
    ASSERT_EQ(Bits(Out(r, 3)), Bits(ref.first.dzeta)) << "case " << t;
    for (int o = 0; o < 6; ++o) {
      ASSERT_EQ(Bits(Out(r, 4 + o)), Bits(ref.d2[o])) << "case " << t << ", output " << 5 + o;
    }
  }
}

TEST_F(RatVolShapeHess, FirstFourOutputsAreRatVolShapeGrads) {
  std::mt19937 rng(62);
  for (int t = 0; t < 100; ++t) {
    const RandomCase c = MakeRandomCase(rng, 3, 5, 3);
    const standin::Result hess = Run(c);
    const standin::Result grad = CheckedCall(gradient_, 4, Args(c));
    ASSERT_FALSE(hess.failed || grad.failed);
    for (int o = 0; o < 4; ++o) EXPECT_EQ(Bits(Out(hess, o)), Bits(Out(grad, o))) << t << " " << o;
  }
}

TEST_F(RatVolShapeHess, SecondDerivativesSumToZeroAndMatchCentralDifferences) {
  std::mt19937 rng(63);
  // d/d(direction) of RatVolShapeGrad's first derivative `of`: the output it must match.
  const struct {
    int output, direction, of;
  } kPairs[] = {{4, 0, 1}, {5, 1, 2}, {6, 2, 3}, {7, 1, 1}, {8, 2, 2}, {9, 2, 1}};
  for (int t = 0; t < 60; ++t) {
    const RandomCase c = Case(rng);
    const standin::Result r = Run(c);
    ASSERT_FALSE(r.failed) << r.message;
    double scale = 1;
    for (double v : Out(r, 4)) scale = std::max(scale, std::fabs(v));
    for (const auto& pair : kPairs) {
      const std::vector<double> d2 = Out(r, pair.output);
      double sum = 0;
      for (double v : d2) sum += v;
      EXPECT_NEAR(sum, 0.0, 1e-11 * scale) << "case " << t << ", output " << pair.output + 1;
      const double h = 1e-6;
      const std::vector<double> plus = Gradient(c, pair.direction, h, pair.of);
      const std::vector<double> minus = Gradient(c, pair.direction, -h, pair.of);
      for (size_t e = 0; e < d2.size(); ++e) {
        EXPECT_NEAR((plus[e] - minus[e]) / (2 * h), d2[e], 2e-5 * scale)
            << "case " << t << ", output " << pair.output + 1 << ", entry " << e;
      }
    }
  }
}

TEST_F(RatVolShapeHess, EqualWeightsGiveTheBSplineSecondDerivatives) {
  std::mt19937 rng(64);
  for (int t = 0; t < 40; ++t) {
    RandomCase c = Case(rng);
    c.w.assign(c.w.size(), 0.8);
    const standin::Result r = Run(c);
    const reference::Direction a = reference::Evaluate(c.x[0], c.p[0], c.U[0]);
    const reference::Direction b = reference::Evaluate(c.x[1], c.p[1], c.U[1]);
    const reference::Direction z = reference::Evaluate(c.x[2], c.p[2], c.U[2]);
    // Derivative orders of each output along xi, eta, zeta.
    const int orders[6][3] = {{2, 0, 0}, {0, 2, 0}, {0, 0, 2}, {1, 1, 0}, {0, 1, 1}, {1, 0, 1}};
    for (int o = 0; o < 6; ++o) {
      const std::vector<double> got = Out(r, 4 + o);
      for (int i = 0, e = 0; i <= c.p[2]; ++i) {
        for (int j = 0; j <= c.p[1]; ++j) {
          for (int k = 0; k <= c.p[0]; ++k, ++e) {
            const double want =
                a.ders[orders[o][0]][k] * b.ders[orders[o][1]][j] * z.ders[orders[o][2]][i];
            EXPECT_NEAR(got[e], want, 1e-9 * (1 + std::fabs(want))) << t << " " << o << " " << e;
          }
        }
      }
    }
  }
}

// Weights that do not vary along zeta: summed over the zeta functions, the volume's xi and eta
// second derivatives are the surface's, whatever the point's zeta.
TEST_F(RatVolShapeHess, WeightsConstantAlongZetaGiveTheSurfaceHessian) {
  const standin::Plugin surface(PluginPath("RatSurfShapeHess"));
  std::mt19937 rng(65);
  for (int t = 0; t < 40; ++t) {
    RandomCase c = Case(rng);
    const int nu = c.n[0], nv = c.n[1];
    const std::vector<double> ws = RandomWeights(rng, nu * nv);
    for (int i = 0; i < c.n[2]; ++i) {
      for (int b = 0; b < nv; ++b) {
        for (int a = 0; a < nu; ++a) c.w[a + b * nu + i * nu * nv] = ws[a + b * nu];
      }
    }
    const standin::Result vol = Run(c);
    const Array x = Row({c.x[0], c.x[1]}), p = Scalar(c.p[0]), q = Scalar(c.p[1]), U = Row(c.U[0]),
                V = Row(c.U[1]), w = Row(ws);
    const standin::Result surf = CheckedCall(surface, 6, {&x, &p, &q, &U, &V, &w});
    ASSERT_FALSE(vol.failed || surf.failed);
    const int nen2 = (c.p[0] + 1) * (c.p[1] + 1);
    // volume outputs dR2dxi, dR2deta, dR2dxideta against the surface's 4, 5, 6
    for (const auto [vo, so] : {std::pair{4, 3}, std::pair{5, 4}, std::pair{7, 5}}) {
      const std::vector<double> v = Out(vol, vo), s = Out(surf, so);
      double scale = 1;
      for (double e : s) scale = std::max(scale, std::fabs(e));
      for (int e2 = 0; e2 < nen2; ++e2) {
        double sum = 0;
        for (int i = 0; i <= c.p[2]; ++i) sum += v[e2 + i * nen2];
        EXPECT_NEAR(sum, s[e2], 1e-12 * scale) << t << " " << vo << " " << e2;
      }
    }
  }
}

TEST_F(RatVolShapeHess, OutputsAndFaults) {
  const std::vector<double> U = {0, 0, 0, 0.5, 1, 1, 1};
  const Array x = Row({0.3, 0.6, 0.9}), p = Scalar(2), K = Row(U),
              w = Matrix({4, 4, 4}, std::vector<double>(64, 1.0));
  const std::vector<const Array*> args = {&x, &p, &p, &p, &K, &K, &K, &w};
  for (int nlhs = 0; nlhs <= kOutputs; ++nlhs) {
    const standin::Result r = Call(nlhs, args);
    ASSERT_FALSE(r.failed) << r.message;
    EXPECT_EQ(r.outputs.size(), static_cast<size_t>(std::max(nlhs, 1)));
    for (const Array& o : r.outputs)
      EXPECT_EQ(standin::Dims(o.get()), (std::vector<size_t>{1, 27}));
  }
  ExpectError("tooManyOutputs", kOutputs + 1, args);
  ExpectClassFaults(args);
  ExpectFault("tooFewValues", args, 0, Row({0.3, 0.6}));
  ExpectFault("tooFewValues", args, 7, Row(std::vector<double>(63, 1.0)));
  ExpectFault("degreeNotFinite", args, 3, Scalar(INFINITY));
  ExpectFault("degreeNegative", args, 1, Scalar(-2));
  ExpectFault("degreeTooLarge", args, 2, Scalar(19));
  ExpectFault("knotsNotRow", args, 6, Matrix({7, 1}, {0, 0, 0, 0.5, 1, 1, 1}));
  ExpectFault("knotsTooShort", args, 5, Row({0, 0, 0, 1, 1}));  // 2 functions of degree 2
  ExpectFault("knotsNaN", args, 4, Row({0, 0, 0, NAN, 1, 1, 1}));
  ExpectFault("knotsDecreasing", args, 6, Row({0, 0, 0, 0.7, 0.5, 1, 1, 1}));
  const standin::Result usage = Call(1, {&x, &p, &p, &p, &K, &K, &K});
  EXPECT_EQ(usage.message,
            "8 inputs expected, as in [R, dRdxi, dRdeta, dRdzeta, dR2dxi, dR2deta, dR2dzeta, "
            "dR2dxideta, dR2detazeta, dR2dxizeta] = "
            "RatVolShapeHess(xi, p, q, r, knotU, knotV, knotW, weights)");
}

}  // namespace
