// Locate's span search against the kernel's FindSpan: the same span for every point a call can
// hold, on knots with repeated and empty spans, at and between knots, at the ends, outside them,
// at NaN and the infinities.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "NURBS.h"
#include "evaluators.h"
#include "random_case.h"

namespace {

using evaluators::Call;

// Knots of degree p with n functions, each interior knot repeated up to p + 1 times now and then
// (empty spans), the ends repeated p + 1 times.
std::vector<double> Knots(std::mt19937& rng, int p, int n) {
  std::vector<double> U = RandomKnots(rng, p, n);
  for (size_t k = p + 2; k + p + 1 < U.size(); ++k) {
    if (rng() % 3 == 0) U[k] = U[k - 1];
  }
  return U;
}

TEST(Locate, FindsFindSpansSpan) {
  std::mt19937 rng(31);
  std::uniform_real_distribution<double> unit(-0.2, 1.2);
  const double inf = std::numeric_limits<double>::infinity();
  const double tiny = std::numeric_limits<double>::denorm_min();
  for (int t = 0; t < 400; ++t) {
    const int p = t % 6;
    const int n = p + 1 + static_cast<int>(rng() % 40);
    const std::vector<double> U = Knots(rng, p, n);
    Call call{};
    call.directions = 1;
    call.axis[0] = {p, U.data(), static_cast<int>(U.size()), n};
    std::vector<double> points = {NAN, -NAN, inf, -inf, 0.0, -0.0, tiny, -tiny, 1.0, 2.0, -1.0};
    for (double u : U) {
      points.insert(points.end(), {u, std::nextafter(u, -inf), std::nextafter(u, inf)});
    }
    for (int k = 0; k < 50; ++k) points.push_back(unit(rng));
    for (double x : points) {
      const evaluators::Site site = evaluators::Locate(call, &x);
      EXPECT_EQ(site.s[0], FindSpan(n - 1, p, site.u[0], U.data()))
          << "p = " << p << ", n = " << n << ", x = " << x;
    }
  }
}

// Groups located from a hint, as a batch does it: the same spans as the search, whether the points
// come sorted (the hint then holds), reversed, shuffled or mixed with NaN and far-out points, and
// the hint left at the last point's span.
TEST(LocateMany, AHintNeverChangesTheSpan) {
  std::mt19937 rng(32);
  std::uniform_real_distribution<double> unit(-0.2, 1.2);
  for (int t = 0; t < 200; ++t) {
    const int p = t % 5;
    const int n = p + 1 + static_cast<int>(rng() % 90);  // hints are tried above 32 spans
    const std::vector<double> U = Knots(rng, p, n);
    Call call{};
    call.directions = 2;  // the second direction reads the same knots, its points reversed
    call.axis[0] = call.axis[1] = {p, U.data(), static_cast<int>(U.size()), n};
    std::vector<double> x;
    for (double u : U) x.insert(x.end(), {u, std::nextafter(u, 2.0), 0.5 * (u + U.back())});
    for (int k = 0; k < 40; ++k) x.push_back(unit(rng));
    if (t % 4 == 3) x.insert(x.begin() + static_cast<std::ptrdiff_t>(rng() % x.size()), NAN);
    if (t % 2 == 0) std::sort(x.begin(), x.end());
    if (t % 8 == 2) x.push_back(-5.0);  // a jump back from the top
    const size_t P = x.size();
    std::vector<double> xy(2 * P);
    for (size_t j = 0; j < P; ++j) {
      xy[2 * j] = x[j];
      xy[2 * j + 1] = x[P - 1 - j];
    }
    for (int count : {1, 2, 4}) {
      evaluators::SpanHint hint = {{p, n - 1, 0}, {0, 0, 0}};
      for (size_t j = 0; j + count <= P; j += count) {
        evaluators::Site sites[evaluators::kMaxLocated];
        evaluators::LocateMany(call, &xy[2 * j], count, sites, &hint);
        for (int l = 0; l < count; ++l) {
          const evaluators::Site alone = evaluators::Locate(call, &xy[2 * (j + l)]);
          for (int d = 0; d < 2; ++d) {
            ASSERT_EQ(sites[l].s[d], alone.s[d]) << "p = " << p << ", n = " << n << ", count "
                                                 << count << ", point " << j + l << ", d " << d;
          }
        }
        EXPECT_EQ(hint.span[0], sites[count - 1].s[0]);
        EXPECT_EQ(hint.span[1], sites[count - 1].s[1]);
      }
    }
  }
}

// Two functions, one span: every point, however far out, is in it.
TEST(Locate, OneSpan) {
  const std::vector<double> U = {0.0, 0.0, 1.0, 1.0};
  Call call{};
  call.directions = 1;
  call.axis[0] = {1, U.data(), 4, 2};
  for (double x : {-1.0, 0.0, 0.5, 1.0, 7.0, static_cast<double>(NAN)}) {
    EXPECT_EQ(evaluators::Locate(call, &x).s[0], 1) << x;
  }
}

}  // namespace
