#include <cmath>
#include <random>

#include "plugin_test.h"
#include "reference.h"

namespace {

using standin::Array;
using standin::Row;
using standin::Scalar;

const std::vector<double> kU = {0, 0, 0, 0.5, 1, 1, 1};  // p = 2, spans 2 and 3
const std::vector<double> kV = {0, 0, 0.25, 1, 1};       // q = 1, spans 1 and 2

class RatSurfShapeGradAtSpan : public PluginTest {
 protected:
  RatSurfShapeGradAtSpan()
      : PluginTest("RatSurfShapeGradAtSpan"), search_(PluginPath("RatSurfShapeGrad")) {}

  standin::Result Run(const double* x, int p, int q, const std::vector<double>& U,
                      const std::vector<double>& V, const std::vector<double>& w,
                      const std::vector<double>& spans) {
    const Array a = Row({x[0], x[1]}), b = Scalar(p), c = Scalar(q), d = Row(U), e = Row(V),
                f = Row(w), g = Row(spans);
    return Call(3, {&a, &b, &c, &d, &e, &f, &g});
  }
  standin::Plugin search_;
};

// Given the spans the search finds for the clamped point, the outputs are RatSurfShapeGrad's.
TEST_F(RatSurfShapeGradAtSpan, EqualsRatSurfShapeGradAtTheSearchedSpans) {
  std::mt19937 rng(44);
  for (int t = 0; t < 300; ++t) {
    const RandomCase c = MakeRandomCase(rng, 2, 5, 2);
    double spans[2];
    for (int d = 0; d < 2; ++d) spans[d] = reference::Evaluate(c.x[d], c.p[d], c.U[d]).s;
    const standin::Result r = Run(c.x, c.p[0], c.p[1], c.U[0], c.U[1], c.w, {spans[0], spans[1]});
    const Array x = Row({c.x[0], c.x[1]}), p = Scalar(c.p[0]), q = Scalar(c.p[1]), U = Row(c.U[0]),
                V = Row(c.U[1]), w = Row(c.w);
    const standin::Result s =
        search_.Call(3, {x.get(), p.get(), q.get(), U.get(), V.get(), w.get()});
    ASSERT_FALSE(r.failed) << r.message;
    for (int o = 0; o < 3; ++o) ASSERT_EQ(Bits(Out(r, o)), Bits(Out(s, o))) << "case " << t;
  }
}

// A span that does not hold the point still gives that span's pieces, extended; spans given with
// a fraction are truncated.
TEST_F(RatSurfShapeGradAtSpan, GivenSpansAreUsedAsGiven) {
  const std::vector<double> w = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  const double x[2] = {0.8, 0.1};  // found spans: 3 and 1
  const int other[2] = {2, 2};
  const reference::Tensor ref = reference::RatSurf(x, 2, 1, kU, kV, w, other);
  const standin::Result r = Run(x, 2, 1, kU, kV, w, {2.9, 2.2});
  for (int o = 0; o < 3; ++o) {
    EXPECT_EQ(Bits(Out(r, o)), Bits(o == 0 ? ref.R : o == 1 ? ref.dxi : ref.deta));
  }
  const int found[2] = {3, 1};
  EXPECT_NE(Bits(Out(r, 0)), Bits(reference::RatSurf(x, 2, 1, kU, kV, w, found).R));
}

TEST_F(RatSurfShapeGradAtSpan, TheEndClampStillApplies) {
  const std::vector<double> w(12, 1.0);
  const double atEnd[2] = {1.0, 1.0};
  const double inside[2] = {1.0 - reference::kEndTolerance, 1.0 - reference::kEndTolerance};
  EXPECT_EQ(Bits(Out(Run(atEnd, 2, 1, kU, kV, w, {3, 2}), 0)),
            Bits(Out(Run(inside, 2, 1, kU, kV, w, {3, 2}), 0)));
}

TEST_F(RatSurfShapeGradAtSpan, SpansOutOfRange) {
  const Array x = Row({0.3, 0.6}), p = Scalar(2), q = Scalar(1), U = Row(kU), V = Row(kV),
              w = Row(std::vector<double>(12, 1.0)), spans = Row({2, 2});
  const std::vector<const Array*> args = {&x, &p, &q, &U, &V, &w, &spans};
  EXPECT_FALSE(Call(1, args).failed);
  ExpectClassFaults(args);
  ExpectFault("spanOutOfRange", args, 6, Row({1, 2}));    // below p
  ExpectFault("spanOutOfRange", args, 6, Row({4, 2}));    // above nu - 1
  ExpectFault("spanOutOfRange", args, 6, Row({2, 0.5}));  // below q after truncation
  ExpectFault("spanOutOfRange", args, 6, Row({2, 3}));    // above nv - 1
  ExpectFault("spanOutOfRange", args, 6, Row({NAN, 2}));
  ExpectFault("spanOutOfRange", args, 6, Row({2, INFINITY}));
  ExpectFault("tooFewValues", args, 6, Scalar(2));
  ExpectError("tooManyOutputs", 4, args);
}

}  // namespace
