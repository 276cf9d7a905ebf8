// Every batch twin of the registry against its one-point plug-in, both loaded by file name through
// the stand-in host: row j of each output bit for bit the one-point output at point j, on random
// cases with points where the arithmetic is delicate, at 0, 1, 2, 7 and many points, serial and
// threaded; idx checked against spans found independently; every fault a twin adds.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "arguments.h"
#include "plugin_test.h"
#include "reference.h"
#include "registry.h"

namespace {

using gateway::Arg;
using gateway::Form;
using gateway::Signature;
using standin::Array;

// A random valid call of a plug-in at P points.
struct Case {
  int directions = 0;
  int p[3] = {0, 0, 0}, n[3] = {1, 1, 1};
  std::vector<double> U[3];
  std::vector<double> w, values;
  double index = 1;
  std::vector<std::vector<double>> x;      // point j's coordinates
  std::vector<std::vector<double>> spans;  // point j's spans, where the plug-in takes them
};

// A coordinate where the arithmetic is delicate now and then: the ends, the end clamp's edges,
// an interior knot, outside the range, NaN.
double Coordinate(std::mt19937& rng, const std::vector<double>& U) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double tol = reference::kEndTolerance, last = U.back();
  const double special[] = {
      U.front(), last, last - tol / 2, last - tol, last + tol / 2, U[U.size() / 2], -0.1, 1.1, NAN};
  if (unit(rng) < 0.6) return unit(rng);
  return special[rng() % (sizeof special / sizeof special[0])];
}

Case MakeCase(const Signature& sig, std::mt19937& rng, int t, size_t P) {
  Case c;
  c.directions = sig.evaluator->directions;
  const int high[] = {0, 18, 9, 6};  // the high degree of each dimension
  size_t controls = 1;
  for (int d = 0; d < c.directions; ++d) {
    c.p[d] = (t + d) % 7 == 6 ? high[c.directions] : (t + 2 * d) % 6;
    c.n[d] = std::max(c.p[d] + 1, sig.evaluator->minFunctions) + static_cast<int>(rng() % 5);
    c.U[d] = RandomKnots(rng, c.p[d], c.n[d]);
    controls *= c.n[d];
  }
  c.w = RandomWeights(rng, static_cast<int>(controls));
  c.values = RandomWeights(rng, static_cast<int>(controls));
  c.index = 1 + static_cast<double>(rng() % c.n[0]);
  for (size_t j = 0; j < P; ++j) {
    std::vector<double> x, s;
    for (int d = 0; d < c.directions; ++d) {
      x.push_back(Coordinate(rng, c.U[d]));
      s.push_back(c.p[d] + static_cast<double>(rng() % (c.n[d] - c.p[d])));
    }
    c.x.push_back(x);
    c.spans.push_back(s);
  }
  return c;
}

// The inputs of the case: at all its points for the twin, at point `only` for the one-point
// plug-in.
std::vector<Array> Inputs(const Signature& sig, const Case& c, Form form, size_t only = 0) {
  Parts parts;
  for (int d = 0; d < c.directions; ++d) {
    parts.p[d] = c.p[d];
    parts.U[d] = c.U[d];
  }
  parts.weights = c.w;
  parts.values = c.values;
  parts.index = c.index;
  for (size_t j = 0; j < c.x.size(); ++j) {
    if (form == Form::Point && j != only) continue;
    parts.x.insert(parts.x.end(), c.x[j].begin(), c.x[j].end());
    parts.spans.insert(parts.spans.end(), c.spans[j].begin(), c.spans[j].end());
  }
  parts.points = form == Form::Point ? 1 : c.x.size();
  return Arguments(sig, form, parts);
}

bool TakesSpans(const Signature& sig) { return gateway::Count(sig, Arg::Spans) > 0; }

// The 1-based positions in the weights of the functions point j's row holds, from the spans the
// search finds (the reference's) or the given ones.
std::vector<double> ExpectedIndices(const Signature& sig, const Case& c, size_t j) {
  int s[3] = {0, 0, 0};
  for (int d = 0; d < c.directions; ++d) {
    s[d] = TakesSpans(sig) ? static_cast<int>(c.spans[j][d])
                           : reference::Evaluate(c.x[j][d], c.p[d], c.U[d]).s;
  }
  std::vector<double> idx;
  const int top[3] = {c.p[0], c.directions > 1 ? c.p[1] : 0, c.directions > 2 ? c.p[2] : 0};
  for (int i = 0; i <= top[2]; ++i) {
    for (int jj = 0; jj <= top[1]; ++jj) {
      for (int k = 0; k <= top[0]; ++k) {
        const long a = s[0] - c.p[0] + k;
        const long b = c.directions > 1 ? s[1] - c.p[1] + jj : 0;
        const long e = c.directions > 2 ? s[2] - c.p[2] + i : 0;
        idx.push_back(static_cast<double>(1 + a + b * c.n[0] + e * c.n[0] * c.n[1]));
      }
    }
  }
  return idx;
}

// The registry's signature of this name.
const Signature& Find(const char* name) {
  for (const Signature* sig : registry::kAll) {
    if (std::string(sig->name) == name) return *sig;
  }
  std::abort();
}

// Parameterised by the plug-in's name, so that the tests' names and the parameter printed with
// them stay the same from build to build.
class Batch : public ::testing::TestWithParam<const char*> {
 protected:
  Batch()
      : sig_(Find(GetParam())),
        name_(std::string(sig_.name) + "Batch"),
        point_(PluginPath(sig_.name)),
        twin_(PluginPath(name_)) {}

  void SetUp() override { live_ = standin::LiveArrays(); }
  void TearDown() override {
    SetThreads(nullptr);
    SetSimd(nullptr);
    EXPECT_EQ(standin::LiveArrays(), live_) << "arrays left alive";
  }

  int outputs() const { return gateway::OutputCount(sig_, Form::Batch); }
  bool rows() const { return sig_.sizes == gateway::Sizes::Rows; }

  // The twin at every point of the case, checked row by row against the one-point plug-in and
  // against the spans; returns the twin's outputs.
  std::vector<std::vector<double>> Compare(const Case& c, const std::string& label) {
    SCOPED_TRACE(label);
    const size_t P = c.x.size();
    const std::vector<Array> args = Inputs(sig_, c, Form::Batch);
    const standin::Result batch = CheckedCall(twin_, outputs(), Borrow(args));
    EXPECT_FALSE(batch.failed) << batch.id << ": " << batch.message;
    if (batch.failed) return {};
    size_t nen = 1;
    for (int d = 0; d < c.directions; ++d) nen *= static_cast<size_t>(c.p[d] + 1);
    std::vector<std::vector<double>> got;
    for (int o = 0; o < outputs(); ++o) {
      const size_t cols = rows() ? nen : 1;
      EXPECT_EQ(standin::Dims(batch.outputs[o].get()), (std::vector<size_t>{P, cols}))
          << "output " << o + 1;
      got.push_back(standin::Values(batch.outputs[o].get()));
    }
    for (size_t j = 0; j < P; ++j) {
      const std::vector<Array> one = Inputs(sig_, c, Form::Point, j);
      const standin::Result r = CheckedCall(point_, sig_.noutputs, Borrow(one));
      EXPECT_FALSE(r.failed) << r.message;
      if (r.failed) return got;
      for (int o = 0; o < outputs(); ++o) {
        const std::vector<double> expected =
            o < sig_.noutputs ? standin::Values(r.outputs[o].get()) : ExpectedIndices(sig_, c, j);
        std::vector<double> row;
        for (size_t e = 0; e < expected.size(); ++e) row.push_back(got[o][j + e * P]);
        if (Bits(row) != Bits(expected)) {
          std::string detail;
          for (size_t e = 0; e < expected.size() && e < 4; ++e) {
            detail += " " + std::to_string(row[e]) + "/" + std::to_string(expected[e]);
          }
          for (int d = 0; d < c.directions; ++d) {
            detail += " x" + std::to_string(c.x[j][d]) + " s" + std::to_string(c.spans[j][d]);
          }
          ADD_FAILURE() << "output " << o + 1 << ", row " << j + 1 << " of " << P << ":" << detail;
          return got;
        }
      }
    }
    return got;
  }

  const Signature& sig_;
  std::string name_;
  standin::Plugin point_;
  standin::Plugin twin_;
  long live_ = 0;
};

TEST_P(Batch, RowsAreTheOnePointOutputs) {
  std::mt19937 rng(7);
  for (size_t P : {0, 1, 2, 7}) {
    for (int t = 0; t < 28; ++t) {
      Compare(MakeCase(sig_, rng, t, P),
              "P = " + std::to_string(P) + ", case " + std::to_string(t));
    }
  }
}

// Enough points that a call starts threads: serial, two threads and the default give the same
// bits, and each row is the one-point output.
TEST_P(Batch, ThreadCountChangesNoBit) {
  std::mt19937 rng(8);
  for (int t : {3, 6}) {
    const Case c = MakeCase(sig_, rng, t, 20000);
    SetThreads("1");
    const auto serial = Compare(c, "one thread");
    SetThreads("2");
    const standin::Result two = CheckedCall(twin_, outputs(), Borrow(Inputs(sig_, c, Form::Batch)));
    SetThreads(nullptr);
    const standin::Result any = CheckedCall(twin_, outputs(), Borrow(Inputs(sig_, c, Form::Batch)));
    ASSERT_FALSE(two.failed || any.failed);
    for (int o = 0; o < outputs(); ++o) {
      EXPECT_EQ(Bits(standin::Values(two.outputs[o].get())), Bits(serial[o])) << "output " << o;
      EXPECT_EQ(Bits(standin::Values(any.outputs[o].get())), Bits(serial[o])) << "output " << o;
    }
  }
}

TEST_P(Batch, OutputsOnlyInTheSlotsAskedFor) {
  std::mt19937 rng(9);
  const Case c = MakeCase(sig_, rng, 2, 5);
  const std::vector<Array> args = Inputs(sig_, c, Form::Batch);
  for (int nlhs = 0; nlhs <= outputs(); ++nlhs) {
    const standin::Result r = CheckedCall(twin_, nlhs, Borrow(args));
    ASSERT_FALSE(r.failed) << r.message;
    ASSERT_EQ(r.outputs.size(), static_cast<size_t>(std::max(nlhs, 1)));
    for (const Array& out : r.outputs) EXPECT_NE(out, nullptr);
  }
  const standin::Result over = CheckedCall(twin_, outputs() + 1, Borrow(args));
  EXPECT_EQ(over.id, name_ + ":tooManyOutputs");
}

TEST_P(Batch, Faults) {
  std::mt19937 rng(10);
  const Case c = MakeCase(sig_, rng, 2, 4);
  const std::vector<Array> good = Inputs(sig_, c, Form::Batch);
  const auto expect = [&](const std::string& mnemonic, int at, Array bad) -> std::string {
    SCOPED_TRACE(mnemonic + " at input " + std::to_string(at + 1));
    std::vector<const Array*> args = Borrow(good);
    args.at(at) = &bad;
    const standin::Result r = CheckedCall(twin_, 1, args);
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.id, name_ + ":" + mnemonic) << r.message;
    for (const Array& out : r.outputs) EXPECT_EQ(out, nullptr);
    return r.message;
  };
  int point = -1, spans = -1, knots = -1;
  for (int k = sig_.nargs - 1; k >= 0; --k) {
    if (sig_.args[k].kind == Arg::Point) point = k;
    if (sig_.args[k].kind == Arg::Spans) spans = k;
    if (sig_.args[k].kind == Arg::Knots) knots = k;  // the first direction's
  }
  for (int k = 0; k < sig_.nargs; ++k) {
    expect("notDouble", k, standin::Make(standin::Class::Single, {1, 4}));
    expect("complex", k, standin::Make(standin::Class::Double, {1, 4}, true));
  }
  const size_t d = c.directions;
  if (d == 1) {
    expect("pointsShape", point, standin::Matrix({2, 2}, {0.1, 0.2, 0.3, 0.4}));
  } else {
    expect("pointsShape", point, standin::Matrix({d + 1, 4}));
    expect("pointsShape", point, standin::Matrix({1, d * 4}));
    expect("pointsShape", point, standin::Matrix({0, 0}));
  }
  if (spans >= 0) {
    expect("spansShape", spans, standin::Matrix({d, 3}));
    expect("spansShape", spans, standin::Row(std::vector<double>(d * 4, c.p[0])));
    std::vector<std::vector<double>> bad = c.spans;
    bad[3][d - 1] = c.n[d - 1];  // one past the last span of the last direction, at point 4
    std::vector<double> all;
    for (const auto& col : bad) all.insert(all.end(), col.begin(), col.end());
    const std::string message = expect("spanOutOfRange", spans, standin::Matrix({d, 4}, all));
    EXPECT_EQ(message, "spans(" + std::to_string(d) + ",4) must be a span from " +
                           std::to_string(c.p[d - 1]) + " to " + std::to_string(c.n[d - 1] - 1) +
                           ", found " + std::to_string(c.n[d - 1]) + ".");
    bad[3][d - 1] = NAN;
    all.clear();
    for (const auto& col : bad) all.insert(all.end(), col.begin(), col.end());
    expect("spanOutOfRange", spans, standin::Matrix({d, 4}, all));
  }
  // Knots are checked whole, however long: a decrease far from every point is found.
  std::vector<double> U(c.p[0] + 1, 0.0);
  for (int k = 1; k < 400; ++k) U.push_back(k / 400.0);
  U.insert(U.end(), c.p[0] + 1, 1.0);
  std::swap(U[390], U[391]);
  expect("knotsDecreasing", knots, standin::Row(U));

  const standin::Result usage = CheckedCall(twin_, 1, {});
  std::string form = "[";
  for (int o = 0; o < outputs(); ++o) {
    form += std::string(o ? ", " : "") + (o < sig_.noutputs ? sig_.outputs[o] : "idx");
  }
  form += "] = " + name_ + "(";
  for (int k = 0; k < sig_.nargs; ++k) form += std::string(k ? ", " : "") + sig_.args[k].name;
  EXPECT_EQ(usage.message, std::to_string(sig_.nargs) + " inputs expected, as in " + form + ")");
}

// A NaN coordinate makes NaN results whose sign bit comes from whichever operand the machine code
// takes first; the compiler vectorises an evaluator's loops only where a row is contiguous, so a
// batch that wrote its rows strided straight into its outputs gave -NaN where the one-point
// plug-in gave NaN. Every point at a NaN, somewhere: the rows must still be the one-point bits.
TEST_P(Batch, NaNPointsHaveTheOnePointBits) {
  std::mt19937 rng(11);
  for (int t = 0; t < 6; ++t) {
    Case c = MakeCase(sig_, rng, t, 9);
    for (size_t j = 0; j < c.x.size(); ++j) c.x[j][j % c.directions] = NAN;
    Compare(c, "NaN points, case " + std::to_string(t));
  }
}

// Points in vector lanes: every dispatch the machine allows, at point counts that leave every
// tail length of two and four lanes, with NaN, infinite and far points mixed into groups of finite
// ones, and weights that make W zero (NaN from finite points). A lane that wrote a NaN is written
// again alone; any other result must already be the one-point bits.
TEST_P(Batch, EveryDispatchGivesTheOnePointBits) {
  const double odd[] = {NAN, -NAN, INFINITY, -INFINITY, 1e300, -1e300};
  for (const char* simd : {static_cast<const char*>(nullptr), "sse2", "scalar"}) {
    SetSimd(simd);
    std::mt19937 rng(13);
    for (size_t P : {1, 2, 3, 5, 7, 9, 17}) {
      for (int t = 0; t < 12; ++t) {
        Case c = MakeCase(sig_, rng, t, P);
        for (size_t j = 0; j < P; ++j) {
          if (rng() % 4 == 0) c.x[j][rng() % c.directions] = odd[rng() % 6];
        }
        if (t % 6 == 5) std::fill(c.w.begin(), c.w.end(), 0.0);
        Compare(c, std::string("NURBS_SIMD ") + (simd ? simd : "unset") + ", P = " +
                       std::to_string(P) + ", case " + std::to_string(t));
      }
    }
  }
}

// The lanes and the threads together: a share's first group starts wherever the split falls.
TEST_P(Batch, LanesAndThreadsChangeNoBit) {
  std::mt19937 rng(14);
  const Case c = MakeCase(sig_, rng, 1, 20001);
  SetSimd("scalar");
  SetThreads("1");
  const standin::Result one = CheckedCall(twin_, outputs(), Borrow(Inputs(sig_, c, Form::Batch)));
  ASSERT_FALSE(one.failed) << one.message;
  for (const char* simd : {static_cast<const char*>(nullptr), "sse2"}) {
    SetSimd(simd);
    for (const char* threads : {"1", "2", "3"}) {
      SetThreads(threads);
      const standin::Result r = CheckedCall(twin_, outputs(), Borrow(Inputs(sig_, c, Form::Batch)));
      ASSERT_FALSE(r.failed) << r.message;
      for (int o = 0; o < outputs(); ++o) {
        EXPECT_EQ(Bits(standin::Values(r.outputs[o].get())),
                  Bits(standin::Values(one.outputs[o].get())))
            << "output " << o + 1 << ", NURBS_SIMD " << (simd ? simd : "unset") << ", "
            << threads << " threads";
      }
    }
  }
}

std::vector<const char*> Names() {
  std::vector<const char*> names;
  for (const Signature* sig : registry::kAll) names.push_back(sig->name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Registry, Batch, ::testing::ValuesIn(Names()),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

// Rows too large for the host's stack (degree 18 in three directions: 6859 functions, four
// outputs, 219 kB) are evaluated into a heap buffer by the calling thread, or on a thread of the
// batch's own: the same bits as the one-point plug-in, one point or many.
TEST(BatchLargeRows, KeepOffTheHostsStack) {
  const standin::Plugin point(PluginPath("RatVolShapeGrad"));
  const standin::Plugin twin(PluginPath("RatVolShapeGradBatch"));
  const long live = standin::LiveArrays();
  {
    std::mt19937 rng(12);
    Parts parts;
    for (int d = 0; d < 3; ++d) {
      parts.p[d] = 18;
      parts.U[d] = RandomKnots(rng, 18, 20);
    }
    parts.weights = RandomWeights(rng, 20 * 20 * 20);
    parts.points = 3;
    parts.x = {0.1, 0.5, 0.9, 1.0, 0.0, 0.3, 0.7, 0.2, NAN};
    const std::vector<Array> args = Arguments(registry::kRatVolShapeGrad, Form::Batch, parts);
    const standin::Result r = CheckedCall(twin, 5, Borrow(args));
    ASSERT_FALSE(r.failed) << r.message;
    for (size_t j = 0; j < parts.points; ++j) {
      Parts one = parts;
      one.points = 1;
      one.x.assign(parts.x.begin() + 3 * j, parts.x.begin() + 3 * j + 3);
      const std::vector<Array> in = Arguments(registry::kRatVolShapeGrad, Form::Point, one);
      const standin::Result e = CheckedCall(point, 4, Borrow(in));
      ASSERT_FALSE(e.failed) << e.message;
      for (int o = 0; o < 4; ++o) {
        const std::vector<double> all = standin::Values(r.outputs[o].get());
        std::vector<double> row;
        for (size_t k = 0; k < 6859; ++k) row.push_back(all[j + k * parts.points]);
        EXPECT_EQ(Bits(row), Bits(standin::Values(e.outputs[o].get()))) << "point " << j;
      }
    }
  }
  EXPECT_EQ(standin::LiveArrays(), live);
}

// The MATLAB interface passes an output's dimensions as int: a call whose outputs would hold more
// elements is refused before anything is made. Degree 18 in three directions has 6859 functions.
TEST(BatchTooManyPoints, OutputsBeyondIntDimensionsAreRefused) {
  const standin::Plugin twin(PluginPath("RatVolShapeGradBatch"));
  const long live = standin::LiveArrays();
  {
    std::vector<double> U(19, 0.0);
    U.insert(U.end(), 19, 1.0);
    const size_t nen = 19 * 19 * 19;
    const size_t P = static_cast<size_t>(INT_MAX) / nen + 1;
    const Array xi = standin::Matrix({3, P}), p = standin::Scalar(18), knots = standin::Row(U),
                w = standin::Row(std::vector<double>(nen, 1.0));
    const standin::Result r = CheckedCall(twin, 1, {&xi, &p, &p, &p, &knots, &knots, &knots, &w});
    EXPECT_EQ(r.id, "RatVolShapeGradBatch:tooManyPoints") << r.message;
  }
  EXPECT_EQ(standin::LiveArrays(), live);
}

}  // namespace
