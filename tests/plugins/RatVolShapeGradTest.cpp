#include <cmath>
#include <random>

#include "plugin_test.h"
#include "reference.h"

namespace {

using standin::Array;
using standin::Matrix;
using standin::Row;
using standin::Scalar;

class RatVolShapeGrad : public PluginTest {
 protected:
  RatVolShapeGrad() : PluginTest("RatVolShapeGrad") {}

  standin::Result Run(const RandomCase& c, const std::vector<double>& w, int nlhs = 4) {
    const Array a = Row({c.x[0], c.x[1], c.x[2]}), b = Scalar(c.p[0]), d = Scalar(c.p[1]),
                e = Scalar(c.p[2]), f = Row(c.U[0]), g = Row(c.U[1]), h = Row(c.U[2]), i = Row(w);
    return Call(nlhs, {&a, &b, &d, &e, &f, &g, &h, &i});
  }
};

TEST_F(RatVolShapeGrad, BitIdenticalToTheDocumentedArithmetic) {
  std::mt19937 rng(48);
  for (int t = 0; t < 200; ++t) {
    const RandomCase c = MakeRandomCase(rng, 3, 4, 2);
    const reference::Tensor ref =
        reference::RatVol(c.x, c.p[0], c.p[1], c.p[2], c.U[0], c.U[1], c.U[2], c.w);
    const standin::Result r = Run(c, c.w);
    ASSERT_FALSE(r.failed) << r.message;
    ASSERT_EQ(Bits(Out(r, 0)), Bits(ref.R)) << "case " << t;
    ASSERT_EQ(Bits(Out(r, 1)), Bits(ref.dxi)) << "case " << t;
    ASSERT_EQ(Bits(Out(r, 2)), Bits(ref.deta)) << "case " << t;
    ASSERT_EQ(Bits(Out(r, 3)), Bits(ref.dzeta)) << "case " << t;
  }
}

TEST_F(RatVolShapeGrad, SumsAndEqualWeights) {
  std::mt19937 rng(49);
  for (int t = 0; t < 50; ++t) {
    const RandomCase c = MakeRandomCase(rng, 3, 3, 2);
    const standin::Result r = Run(c, c.w);
    double scale = 1;
    for (int o = 0; o < 4; ++o) {
      for (double v : Out(r, o)) scale = std::max(scale, std::fabs(v));
    }
    for (int o = 0; o < 4; ++o) {
      double sum = 0;
      for (double v : Out(r, o)) sum += v;
      EXPECT_NEAR(sum, o == 0 ? 1.0 : 0.0, 1e-13 * scale) << "output " << o + 1;
    }
    // Equal weights: N M L and its derivatives, from the directions' B-spline values.
    const standin::Result e = Run(c, std::vector<double>(c.w.size(), 3.0));
    reference::Direction d[3];
    for (int k = 0; k < 3; ++k) d[k] = reference::Evaluate(c.x[k], c.p[k], c.U[k]);
    size_t at = 0;
    for (int i = 0; i <= c.p[2]; ++i) {
      for (int j = 0; j <= c.p[1]; ++j) {
        for (int k = 0; k <= c.p[0]; ++k, ++at) {
          EXPECT_NEAR(Out(e, 0)[at], d[0].N[k] * d[1].N[j] * d[2].N[i], 1e-15);
          EXPECT_NEAR(Out(e, 3)[at], d[0].N[k] * d[1].N[j] * d[2].ders[1][i], 1e-13 * scale);
        }
      }
    }
  }
}

// p = q = r = 1: entries 0..3 belong to i = 0 in the order (k, j) = (0,0), (1,0), (0,1), (1,1).
TEST_F(RatVolShapeGrad, OutputOrderAndWeightsAsAnArray) {
  RandomCase c{};
  for (int d = 0; d < 3; ++d) {
    c.p[d] = 1;
    c.U[d] = {0, 0, 1, 1};
  }
  c.x[0] = 0.25;
  c.x[1] = 0.5;
  c.x[2] = 0.75;
  const standin::Result r = Run(c, std::vector<double>(8, 1.0));
  const double N[2] = {0.75, 0.25}, M[2] = {0.5, 0.5}, L[2] = {0.25, 0.75};
  ASSERT_EQ(Out(r, 0).size(), 8u);
  for (int e = 0; e < 8; ++e) {
    EXPECT_EQ(Out(r, 0)[e], N[e % 2] * M[(e / 2) % 2] * L[e / 4]) << "entry " << e;
  }
  const std::vector<double> w = {1, 2, 3, 4, 5, 6, 7, 8};
  const Array x = Row({0.25, 0.5, 0.75}), p = Scalar(1), U = Row({0, 0, 1, 1}),
              cube = Matrix({2, 2, 2}, w), row = Row(w);
  const standin::Result a = Call(4, {&x, &p, &p, &p, &U, &U, &U, &cube});
  const standin::Result b = Call(4, {&x, &p, &p, &p, &U, &U, &U, &row});
  for (int o = 0; o < 4; ++o) EXPECT_EQ(Bits(Out(a, o)), Bits(Out(b, o)));
}

TEST_F(RatVolShapeGrad, OutputsAndFaults) {
  const Array x = Row({0.3, 0.6, 0.9}), p = Scalar(1), U = Row({0, 0, 0.5, 1, 1}),
              w = Row(std::vector<double>(27, 1.0));
  const std::vector<const Array*> args = {&x, &p, &p, &p, &U, &U, &U, &w};
  for (int nlhs = 0; nlhs <= 4; ++nlhs) {
    EXPECT_EQ(Call(nlhs, args).outputs.size(), static_cast<size_t>(std::max(nlhs, 1)));
  }
  ExpectError("tooManyOutputs", 5, args);
  ExpectClassFaults(args);
  ExpectFault("tooFewValues", args, 0, Row({0.3, 0.6}));
  ExpectFault("tooFewValues", args, 7, Row(std::vector<double>(26, 1.0)));
  ExpectFault("degreeNegative", args, 3, Scalar(-1));
  ExpectFault("knotsTooShort", args, 6, Row({0, 0, 1}));
  ExpectFault("knotsNotRow", args, 6, Matrix({5, 1}, {0, 0, 0.5, 1, 1}));
}

}  // namespace
