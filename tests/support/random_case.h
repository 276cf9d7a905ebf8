// Random but valid inputs for the plug-ins: clamped knot vectors, weights, and whole cases of
// one to three directions.
#ifndef NURBS_TESTS_PLUGINS_RANDOM_CASE_H_
#define NURBS_TESTS_PLUGINS_RANDOM_CASE_H_

#include <algorithm>
#include <random>
#include <vector>

// A clamped knot vector on [0, 1] for degree p with n basis functions: random interior knots,
// the second one doubled where there are enough.
inline std::vector<double> RandomKnots(std::mt19937& rng, int p, int n) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> inner(n - p - 1);
  for (double& u : inner) u = unit(rng);
  std::sort(inner.begin(), inner.end());
  if (inner.size() > 3 && p > 1) inner[2] = inner[1];
  std::vector<double> U(p + 1, 0.0);
  U.insert(U.end(), inner.begin(), inner.end());
  U.insert(U.end(), p + 1, 1.0);
  return U;
}

inline std::vector<double> RandomWeights(std::mt19937& rng, int n) {
  std::uniform_real_distribution<double> weight(0.2, 1.2);
  std::vector<double> w(n);
  for (double& v : w) v = weight(rng);
  return w;
}

// A random case of one to three directions: degrees, clamped knots, weights for every control
// point, and a point that is now and then outside the knot range or on the last knot.
struct RandomCase {
  int p[3];
  std::vector<double> U[3];
  std::vector<double> w;
  double x[3];
  int n[3];
};

inline RandomCase MakeRandomCase(std::mt19937& rng, int directions, int maxDegree,
                                 int minFunctions) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  RandomCase c{};
  size_t count = 1;
  for (int d = 0; d < directions; ++d) {
    c.p[d] = static_cast<int>(unit(rng) * (maxDegree + 1));
    c.n[d] = std::max(c.p[d] + 1, minFunctions) + static_cast<int>(unit(rng) * 5);
    c.U[d] = RandomKnots(rng, c.p[d], c.n[d]);
    const double pick = unit(rng);
    c.x[d] = pick < 0.1 ? 1.0 : pick < 0.15 ? -0.05 : unit(rng);
    count *= c.n[d];
  }
  c.w = RandomWeights(rng, static_cast<int>(count));
  return c;
}

#endif  // NURBS_TESTS_PLUGINS_RANDOM_CASE_H_
