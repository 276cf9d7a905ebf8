// Locate's span search against the kernel's FindSpan: the same span for every point a call can
// hold, on knots with repeated and empty spans, at and between knots, at the ends, outside them,
// at NaN and the infinities.
#include <gtest/gtest.h>

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
