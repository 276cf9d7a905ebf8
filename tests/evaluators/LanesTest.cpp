// The batch's vector lanes at the evaluator, without a host: every evaluator with a lane form at
// every alignment of its outputs and every tail length, against the same batch run one point at a
// time, and nothing written outside the outputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "batch.h"
#include "bits.h"
#include "environment.h"
#include "evaluators.h"
#include "lanes.h"
#include "random_case.h"

namespace {

using evaluators::Batch;
using evaluators::Call;
using evaluators::Evaluator;

// A value no evaluator writes: a NaN with a payload of its own.
constexpr uint64_t kUntouched = 0x7ff4dead0000beefULL;
constexpr size_t kGuard = 8;  // doubles on either side of an output

struct Problem {
  Call call{};
  std::vector<double> U[3], w, values, xi;
};

Problem MakeProblem(std::mt19937& rng, int directions, int p, size_t P, int more = 0) {
  Problem pr;
  pr.call.directions = directions;
  std::ptrdiff_t stride = 1;
  for (int d = 0; d < directions; ++d) {
    // Second derivatives need 3 functions.
    const int n = std::max(p + 1, 3) + static_cast<int>(rng() % 6) + more;
    pr.U[d] = RandomKnots(rng, p, n);
    pr.call.axis[d] = {p, pr.U[d].data(), static_cast<int>(pr.U[d].size()), n};
    pr.call.stride[d] = stride;
    stride *= n;
  }
  pr.w = RandomWeights(rng, static_cast<int>(stride));
  pr.call.weights = pr.w.data();
  std::uniform_real_distribution<double> value(-2.0, 2.0);
  for (std::ptrdiff_t k = 0; k < stride; ++k) pr.values.push_back(value(rng));
  pr.call.values = pr.values.data();
  pr.call.index = static_cast<int>(rng() % static_cast<unsigned>(stride));
  std::uniform_real_distribution<double> unit(-0.1, 1.1);
  const double odd[] = {NAN, INFINITY, -INFINITY, 1.0, 0.0};
  for (size_t j = 0; j < P * directions; ++j) {
    pr.xi.push_back(rng() % 5 == 0 ? odd[rng() % 5] : unit(rng));
  }
  return pr;
}

// The outputs of one run: each in a block with kGuard untouched values before and after it, the
// output itself starting `shift` doubles into the block.
struct Outputs {
  std::vector<std::vector<double>> blocks;
  size_t shift, size;
  Outputs(int count, size_t size_, size_t shift_) : shift(shift_), size(size_) {
    double untouched;
    std::memcpy(&untouched, &kUntouched, sizeof untouched);
    blocks.assign(count, std::vector<double>(2 * kGuard + shift + size, untouched));
  }
  double* at(int o) { return blocks[o].data() + kGuard + shift; }
  std::vector<double> values(int o) const {
    const auto first = blocks[o].begin() + static_cast<std::ptrdiff_t>(kGuard + shift);
    return std::vector<double>(first, first + static_cast<std::ptrdiff_t>(size));
  }
  bool GuardsIntact() const {
    for (const std::vector<double>& b : blocks) {
      for (size_t k = 0; k < b.size(); ++k) {
        if (k >= kGuard + shift && k < kGuard + shift + size) continue;
        uint64_t bits;
        std::memcpy(&bits, &b[k], sizeof bits);
        if (bits != kUntouched) return false;
      }
    }
    return true;
  }
};

// The batch of the problem into `out` (every output of the evaluator, and idx), on `threads`.
void RunInto(const Problem& pr, const Evaluator& ev, size_t P, Outputs* out, int threads) {
  Batch b{};
  b.call = &pr.call;
  b.evaluator = &ev;
  b.xi = pr.xi.data();
  b.points = P;
  b.outputs = ev.noutputs;
  for (int o = 0; o < ev.noutputs; ++o) {
    b.slot[o] = o;
    b.out[o] = out->at(o);
  }
  b.idx = ev.rows ? out->at(ev.noutputs) : nullptr;
  ASSERT_TRUE(evaluators::Run(b, threads));
}

// The evaluators with a lane form.
struct Form {
  const char* name;
  const Evaluator* evaluator;
};
const Form kForms[] = {{"CurveGradient", &evaluators::kCurveGradient},
                       {"CurveHessian", &evaluators::kCurveHessian},
                       {"CurveField", &evaluators::kCurveField},
                       {"CurveFieldD2", &evaluators::kCurveFieldD2},
                       {"SingleShape", &evaluators::kSingleShape},
                       {"SurfaceGradient", &evaluators::kSurfaceGradient},
                       {"SurfaceBSpline", &evaluators::kSurfaceBSpline},
                       {"SurfaceHessian", &evaluators::kSurfaceHessian},
                       {"VolumeGradient", &evaluators::kVolumeGradient},
                       {"VolumeHessian", &evaluators::kVolumeHessian}};

class Lanes : public ::testing::TestWithParam<Form> {
 protected:
  void TearDown() override { SetSimd(nullptr); }
  const Evaluator& evaluator() const { return *GetParam().evaluator; }
  int directions() const { return evaluator().directions; }
};

TEST_P(Lanes, AnyAlignmentAndTailGiveTheBitsOfOnePointAtATime) {
  const Evaluator& ev = evaluator();
  std::mt19937 rng(21);
  for (int p : {0, 1, 3, evaluators::kLaneMaxDegree, evaluators::kLaneMaxDegree + 1}) {
    if (directions() == 3 && p > 4) continue;
    for (size_t P : {1, 2, 3, 4, 5, 6, 7, 8, 9, 13}) {
      const Problem pr = MakeProblem(rng, directions(), p, P);
      const size_t size =
          P * static_cast<size_t>(ev.rows ? evaluators::LocalFunctions(pr.call) : 1);
      SetSimd("scalar");
      Outputs expected(ev.noutputs + 1, size, 0);
      RunInto(pr, ev, P, &expected, 1);
      for (const char* simd : {static_cast<const char*>(nullptr), "sse2"}) {
        SetSimd(simd);
        for (size_t shift : {0, 1, 2, 3}) {
          for (int threads : {1, 2}) {
            Outputs got(ev.noutputs + 1, size, shift);
            RunInto(pr, ev, P, &got, threads);
            SCOPED_TRACE(::testing::Message()
                         << "p = " << p << ", P = " << P << ", shift " << shift << ", NURBS_SIMD "
                         << (simd ? simd : "unset") << ", " << threads << " threads");
            EXPECT_TRUE(got.GuardsIntact());
            for (int o = 0; o <= ev.noutputs; ++o) {
              EXPECT_EQ(Bits(got.values(o)), Bits(expected.values(o))) << "output " << o;
            }
          }
        }
      }
    }
  }
}

// Points sorted in each direction on many spans, where a group's spans are looked for next to the
// last group's before any search: the bits of one point at a time, through a jump back to the
// start.
TEST_P(Lanes, SortedPointsOnManySpans) {
  std::mt19937 rng(24);
  const int d = directions();
  const size_t P = 41;
  Problem pr = MakeProblem(rng, d, 2, P, d == 3 ? 35 : 60);
  for (int k = 0; k < d; ++k) {
    std::vector<double> x;
    for (size_t j = 0; j < P; ++j) x.push_back(pr.xi[j * d + k]);
    std::sort(x.begin(), x.end());  // NaN and all: the order is what it is
    for (size_t j = 0; j < P; ++j) pr.xi[j * d + k] = j == 29 ? 0.01 : x[j];
  }
  const size_t size =
      P * static_cast<size_t>(evaluator().rows ? evaluators::LocalFunctions(pr.call) : 1);
  SetSimd("scalar");
  Outputs expected(evaluator().noutputs + 1, size, 0);
  RunInto(pr, evaluator(), P, &expected, 1);
  SetSimd(nullptr);
  Outputs got(evaluator().noutputs + 1, size, 0);
  RunInto(pr, evaluator(), P, &got, 1);
  for (int o = 0; o <= evaluator().noutputs; ++o) {
    EXPECT_EQ(Bits(got.values(o)), Bits(expected.values(o))) << "output " << o;
  }
}

// Which lanes a call runs in: none where any direction's degree is above the lane degree, none or
// two as NURBS_SIMD says, blanks around its value ignored.
TEST_P(Lanes, DispatchFollowsDegreeAndEnvironment) {
  std::mt19937 rng(22);
  const Problem low = MakeProblem(rng, directions(), 2, 1);
  const Problem high = MakeProblem(rng, directions(), evaluators::kLaneMaxDegree + 1, 1);
  Call mixed = low.call;
  mixed.axis[directions() - 1] = high.call.axis[directions() - 1];
  SetSimd(" sse2\t");
  EXPECT_EQ(evaluators::LanesFor(low.call, evaluator()).width, 2);
  EXPECT_EQ(evaluators::LanesFor(high.call, evaluator()).width, 0);
  EXPECT_EQ(evaluators::LanesFor(mixed, evaluator()).width, 0);
  for (const char* off : {"scalar", "sse", "2", "avx512"}) {
    SetSimd(off);
    EXPECT_EQ(evaluators::LanesFor(low.call, evaluator()).width, 0) << off;
  }
  for (const char* best : {static_cast<const char*>(nullptr), "", "  ", "avx2"}) {
    SetSimd(best);
    const int width = evaluators::LanesFor(low.call, evaluator()).width;
    EXPECT_TRUE(width == 2 || width == 4) << (best ? best : "unset");
  }
}

INSTANTIATE_TEST_SUITE_P(Evaluators, Lanes, ::testing::ValuesIn(kForms),
                         [](const ::testing::TestParamInfo<Form>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
