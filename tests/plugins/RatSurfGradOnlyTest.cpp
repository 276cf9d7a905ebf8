#include <random>

#include "plugin_test.h"

namespace {

using standin::Array;
using standin::Row;
using standin::Scalar;

class RatSurfGradOnly : public PluginTest {
 protected:
  RatSurfGradOnly() : PluginTest("RatSurfGradOnly"), full_(PluginPath("RatSurfShapeGrad")) {}
  standin::Plugin full_;
};

TEST_F(RatSurfGradOnly, EqualsOutputsTwoAndThreeOfRatSurfShapeGrad) {
  std::mt19937 rng(43);
  for (int t = 0; t < 300; ++t) {
    const RandomCase c = MakeRandomCase(rng, 2, 5, 2);
    const Array x = Row({c.x[0], c.x[1]}), p = Scalar(c.p[0]), q = Scalar(c.p[1]), U = Row(c.U[0]),
                V = Row(c.U[1]), w = Row(c.w);
    const standin::Result r = Call(2, {&x, &p, &q, &U, &V, &w});
    const standin::Result f = full_.Call(3, {x.get(), p.get(), q.get(), U.get(), V.get(), w.get()});
    ASSERT_FALSE(r.failed) << r.message;
    ASSERT_EQ(Bits(Out(r, 0)), Bits(Out(f, 1))) << "case " << t;
    ASSERT_EQ(Bits(Out(r, 1)), Bits(Out(f, 2))) << "case " << t;
  }
}

TEST_F(RatSurfGradOnly, OutputsAndFaults) {
  const Array x = Row({0.3, 0.6}), p = Scalar(2), q = Scalar(1), U = Row({0, 0, 0, 0.5, 1, 1, 1}),
              V = Row({0, 0, 0.25, 1, 1}), w = Row(std::vector<double>(12, 2.0));
  const std::vector<const Array*> args = {&x, &p, &q, &U, &V, &w};
  for (int nlhs = 0; nlhs <= 2; ++nlhs) {
    EXPECT_EQ(Call(nlhs, args).outputs.size(), static_cast<size_t>(std::max(nlhs, 1)));
  }
  ExpectError("tooManyOutputs", 3, args);
  ExpectClassFaults(args);
  ExpectFault("tooFewValues", args, 5, Row(std::vector<double>(11, 1.0)));
  ExpectFault("knotsTooShort", args, 3, Row({0, 0, 0, 1, 1}));
}

}  // namespace
