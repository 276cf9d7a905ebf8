#include <cmath>
#include <random>

#include "plugin_test.h"
#include "reference.h"

namespace {

using standin::Array;
using standin::Row;
using standin::Scalar;

class PolySurfShapeGrad : public PluginTest {
 protected:
  PolySurfShapeGrad()
      : PluginTest("PolySurfShapeGrad"), rational_(PluginPath("RatSurfShapeGrad")) {}
  standin::Plugin rational_;
};

// Bit for bit the single products, and within rounding the rational plug-in with unit weights.
TEST_F(PolySurfShapeGrad, ProductsAndTheRationalBasisWithUnitWeights) {
  std::mt19937 rng(45);
  for (int t = 0; t < 300; ++t) {
    const RandomCase c = MakeRandomCase(rng, 2, 5, 2);
    const Array x = Row({c.x[0], c.x[1]}), p = Scalar(c.p[0]), q = Scalar(c.p[1]), U = Row(c.U[0]),
                V = Row(c.U[1]), ones = Row(std::vector<double>(c.w.size(), 1.0));
    const standin::Result r = Call(3, {&x, &p, &q, &U, &V});
    ASSERT_FALSE(r.failed) << r.message;
    const reference::Tensor ref = reference::PolySurf(c.x, c.p[0], c.p[1], c.U[0], c.U[1]);
    ASSERT_EQ(Bits(Out(r, 0)), Bits(ref.R)) << "case " << t;
    ASSERT_EQ(Bits(Out(r, 1)), Bits(ref.dxi)) << "case " << t;
    ASSERT_EQ(Bits(Out(r, 2)), Bits(ref.deta)) << "case " << t;
    const standin::Result rat =
        rational_.Call(3, {x.get(), p.get(), q.get(), U.get(), V.get(), ones.get()});
    for (int o = 0; o < 3; ++o) {
      double scale = 1;
      for (double v : Out(r, o)) scale = std::max(scale, std::fabs(v));
      for (size_t k = 0; k < ref.R.size(); ++k) {
        ASSERT_NEAR(Out(r, o)[k], Out(rat, o)[k], 1e-14 * scale) << "case " << t;
      }
    }
  }
}

// p = 2, q = 1: entries 0..2 belong to j = 0 and 3..5 to j = 1.
TEST_F(PolySurfShapeGrad, OutputOrderIsXiFastest) {
  const Array x = Row({0.5, 0.25}), p = Scalar(2), q = Scalar(1), U = Row({0, 0, 0, 1, 1, 1}),
              V = Row({0, 0, 1, 1});
  const standin::Result r = Call(3, {&x, &p, &q, &U, &V});
  EXPECT_EQ(Out(r, 0), (std::vector<double>{0.25 * 0.75, 0.5 * 0.75, 0.25 * 0.75, 0.25 * 0.25,
                                            0.5 * 0.25, 0.25 * 0.25}));
  EXPECT_EQ(Out(r, 2), (std::vector<double>{-0.25, -0.5, -0.25, 0.25, 0.5, 0.25}));
}

TEST_F(PolySurfShapeGrad, OutputsAndFaults) {
  const Array x = Row({0.5, 0.25}), p = Scalar(2), q = Scalar(1), U = Row({0, 0, 0, 1, 1, 1}),
              V = Row({0, 0, 0.5, 1, 1});
  const std::vector<const Array*> args = {&x, &p, &q, &U, &V};
  for (int nlhs = 0; nlhs <= 3; ++nlhs) {
    EXPECT_EQ(Call(nlhs, args).outputs.size(), static_cast<size_t>(std::max(nlhs, 1)));
  }
  ExpectError("tooManyOutputs", 4, args);
  ExpectClassFaults(args);
  ExpectFault("knotsTooShort", args, 4, Row({0, 0, 1}));
  ExpectFault("knotsDecreasing", args, 3, Row({0, 0, 0, 1, 1, 0}));
  ExpectFault("degreeTooLarge", args, 1, Scalar(100));
  ExpectFault("tooFewValues", args, 0, Row({0.5}));
}

}  // namespace
