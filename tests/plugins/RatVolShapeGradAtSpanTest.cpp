#include <random>

#include "plugin_test.h"
#include "reference.h"

namespace {

using standin::Array;
using standin::Row;
using standin::Scalar;

class RatVolShapeGradAtSpan : public PluginTest {
 protected:
  RatVolShapeGradAtSpan()
      : PluginTest("RatVolShapeGradAtSpan"), search_(PluginPath("RatVolShapeGrad")) {}
  standin::Plugin search_;
};

TEST_F(RatVolShapeGradAtSpan, EqualsRatVolShapeGradAtTheSearchedSpans) {
  std::mt19937 rng(50);
  for (int t = 0; t < 200; ++t) {
    const RandomCase c = MakeRandomCase(rng, 3, 4, 2);
    std::vector<double> spans(3);
    for (int d = 0; d < 3; ++d) spans[d] = reference::Evaluate(c.x[d], c.p[d], c.U[d]).s;
    const Array x = Row({c.x[0], c.x[1], c.x[2]}), p = Scalar(c.p[0]), q = Scalar(c.p[1]),
                r = Scalar(c.p[2]), U = Row(c.U[0]), V = Row(c.U[1]), T = Row(c.U[2]), w = Row(c.w),
                s = Row(spans);
    const standin::Result a = Call(4, {&x, &p, &q, &r, &U, &V, &T, &w, &s});
    const standin::Result b =
        search_.Call(4, {x.get(), p.get(), q.get(), r.get(), U.get(), V.get(), T.get(), w.get()});
    ASSERT_FALSE(a.failed) << a.message;
    for (int o = 0; o < 4; ++o) ASSERT_EQ(Bits(Out(a, o)), Bits(Out(b, o))) << "case " << t;
  }
}

TEST_F(RatVolShapeGradAtSpan, GivenSpansAreUsedAsGiven) {
  const std::vector<double> U = {0, 0, 0.5, 1, 1};  // p = 1: spans 1 and 2
  std::vector<double> w(27);
  for (size_t k = 0; k < w.size(); ++k) w[k] = 1 + static_cast<double>(k % 5);
  const double x[3] = {0.2, 0.7, 0.9};
  const int spans[3] = {2, 1, 2};  // the first two do not hold their coordinates
  const reference::Tensor ref = reference::RatVol(x, 1, 1, 1, U, U, U, w, spans);
  const Array a = Row({0.2, 0.7, 0.9}), p = Scalar(1), K = Row(U), W = Row(w),
              s = Row({2.5, 1.99, 2});
  const standin::Result r = Call(4, {&a, &p, &p, &p, &K, &K, &K, &W, &s});
  EXPECT_EQ(Bits(Out(r, 0)), Bits(ref.R));
  EXPECT_EQ(Bits(Out(r, 3)), Bits(ref.dzeta));
}

TEST_F(RatVolShapeGradAtSpan, OutputsAndFaults) {
  const Array x = Row({0.3, 0.6, 0.9}), p = Scalar(1), U = Row({0, 0, 0.5, 1, 1}),
              w = Row(std::vector<double>(27, 1.0)), s = Row({1, 2, 2});
  const std::vector<const Array*> args = {&x, &p, &p, &p, &U, &U, &U, &w, &s};
  for (int nlhs = 0; nlhs <= 4; ++nlhs) {
    EXPECT_EQ(Call(nlhs, args).outputs.size(), static_cast<size_t>(std::max(nlhs, 1)));
  }
  ExpectError("tooManyOutputs", 5, args);
  ExpectClassFaults(args);
  ExpectFault("spanOutOfRange", args, 8, Row({1, 2, 3}));
  ExpectFault("spanOutOfRange", args, 8, Row({0, 2, 2}));
  ExpectFault("spanOutOfRange", args, 8, Row({1, NAN, 2}));
  ExpectFault("tooFewValues", args, 8, Row({1, 2}));
  ExpectFault("tooFewValues", args, 7, Row(std::vector<double>(26, 1.0)));
}

}  // namespace
