#include <cmath>
#include <random>

#include "plugin_test.h"
#include "reference.h"

namespace {

using standin::Array;
using standin::Row;
using standin::Scalar;

class RatSurfShapeHess : public PluginTest {
 protected:
  RatSurfShapeHess() : PluginTest("RatSurfShapeHess"), grad_(PluginPath("RatSurfShapeGrad")) {}

  standin::Result Run(const RandomCase& c, double x0, double x1, int nlhs = 6) {
    const Array a = Row({x0, x1}), b = Scalar(c.p[0]), d = Scalar(c.p[1]), e = Row(c.U[0]),
                f = Row(c.U[1]), g = Row(c.w);
    return Call(nlhs, {&a, &b, &d, &e, &f, &g});
  }
  standin::Plugin grad_;
};

TEST_F(RatSurfShapeHess, BitIdenticalToTheDocumentedArithmeticAndToRatSurfShapeGrad) {
  std::mt19937 rng(46);
  for (int t = 0; t < 300; ++t) {
    const RandomCase c = MakeRandomCase(rng, 2, 5, 3);
    const reference::Tensor ref =
        reference::RatSurf(c.x, c.p[0], c.p[1], c.U[0], c.U[1], c.w, nullptr, true);
    const standin::Result r = Run(c, c.x[0], c.x[1]);
    ASSERT_FALSE(r.failed) << r.message;
    const std::vector<double>* expected[6] = {&ref.R,    &ref.dxi,   &ref.deta,
                                              &ref.d2xi, &ref.d2eta, &ref.d2xieta};
    for (int o = 0; o < 6; ++o) ASSERT_EQ(Bits(Out(r, o)), Bits(*expected[o])) << "case " << t;
    const Array a = Row({c.x[0], c.x[1]}), b = Scalar(c.p[0]), d = Scalar(c.p[1]), e = Row(c.U[0]),
                f = Row(c.U[1]), g = Row(c.w);
    const standin::Result grad =
        grad_.Call(3, {a.get(), b.get(), d.get(), e.get(), f.get(), g.get()});
    for (int o = 0; o < 3; ++o) ASSERT_EQ(Bits(Out(r, o)), Bits(Out(grad, o))) << "case " << t;
  }
}

// Second derivatives against central differences of the first: d/dxi of dRdxi, d/deta of dRdeta
// and d/deta of dRdxi; and every derivative row sums to 0.
TEST_F(RatSurfShapeHess, SecondDerivativesMatchDifferences) {
  std::mt19937 rng(47);
  std::uniform_real_distribution<double> unit(0.05, 0.95);
  int checked = 0;
  for (int t = 0; t < 60; ++t) {
    RandomCase c = MakeRandomCase(rng, 2, 4, 3);
    c.x[0] = unit(rng);
    c.x[1] = unit(rng);
    double h[2];
    bool inside = true;
    for (int d = 0; d < 2; ++d) {
      const reference::Direction dir = reference::Evaluate(c.x[d], c.p[d], c.U[d]);
      h[d] = 1e-6 * (c.U[d][dir.s + 1] - c.U[d][dir.s]);
      inside = inside && c.x[d] - h[d] > c.U[d][dir.s] && c.x[d] + h[d] < c.U[d][dir.s + 1];
    }
    if (!inside) continue;
    ++checked;
    const standin::Result r = Run(c, c.x[0], c.x[1]);
    const standin::Result xp = Run(c, c.x[0] + h[0], c.x[1]), xm = Run(c, c.x[0] - h[0], c.x[1]);
    const standin::Result ep = Run(c, c.x[0], c.x[1] + h[1]), em = Run(c, c.x[0], c.x[1] - h[1]);
    double scale = 1;
    for (int o = 3; o < 6; ++o) {
      for (double v : Out(r, o)) scale = std::max(scale, std::fabs(v));
    }
    for (size_t k = 0; k < Out(r, 0).size(); ++k) {
      EXPECT_NEAR(Out(r, 3)[k], (Out(xp, 1)[k] - Out(xm, 1)[k]) / (2 * h[0]), 1e-5 * scale);
      EXPECT_NEAR(Out(r, 4)[k], (Out(ep, 2)[k] - Out(em, 2)[k]) / (2 * h[1]), 1e-5 * scale);
      EXPECT_NEAR(Out(r, 5)[k], (Out(ep, 1)[k] - Out(em, 1)[k]) / (2 * h[1]), 1e-5 * scale);
    }
    for (int o = 1; o < 6; ++o) {
      double sum = 0;
      for (double v : Out(r, o)) sum += v;
      EXPECT_NEAR(sum, 0.0, 1e-12 * scale) << "output " << o + 1;
    }
  }
  EXPECT_GT(checked, 20);
}

TEST_F(RatSurfShapeHess, LowDegrees) {
  RandomCase c{};
  c.p[0] = 1;
  c.p[1] = 0;
  c.U[0] = {0, 0, 0.5, 1, 1};  // three linear functions
  c.U[1] = {0, 0.3, 0.6, 1};   // three constants
  c.w = std::vector<double>(9, 1.0);
  const standin::Result r = Run(c, 0.7, 0.4);
  for (double v : Out(r, 3)) EXPECT_NEAR(v, 0.0, 1e-15);  // linear, equal weights
  for (double v : Out(r, 2)) EXPECT_EQ(v, 0.0);           // degree 0 along eta
  for (double v : Out(r, 4)) EXPECT_EQ(v, 0.0);
  for (double v : Out(r, 5)) EXPECT_EQ(v, 0.0);
  c.w = {1, 3, 2, 1, 3, 2, 1, 3, 2};  // unequal weights keep the Wxi terms
  EXPECT_NE(Out(Run(c, 0.7, 0.4), 3)[0], 0.0);
}

TEST_F(RatSurfShapeHess, OutputsAndFaults) {
  const Array x = Row({0.3, 0.6}), p = Scalar(2), q = Scalar(1), U = Row({0, 0, 0, 0.5, 1, 1, 1}),
              V = Row({0, 0, 0.25, 0.5, 1, 1}), w = Row(std::vector<double>(16, 1.0));
  const std::vector<const Array*> args = {&x, &p, &q, &U, &V, &w};
  for (int nlhs = 0; nlhs <= 6; ++nlhs) {
    EXPECT_EQ(Call(nlhs, args).outputs.size(), static_cast<size_t>(std::max(nlhs, 1)));
  }
  ExpectError("tooManyOutputs", 7, args);
  ExpectClassFaults(args);
  ExpectFault("knotsTooShort", args, 4, Row({0, 0, 1, 1}));  // two functions along eta
  ExpectFault("tooFewValues", args, 5, Row(std::vector<double>(15, 1.0)));
}

}  // namespace
