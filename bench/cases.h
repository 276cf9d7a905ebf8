// The inputs the in-process benchmarks call the plug-ins with: uniform clamped knots, smooth
// weights, points spread over the domain.
#ifndef NURBS_BENCH_CASES_H_
#define NURBS_BENCH_CASES_H_

#include <cmath>
#include <random>
#include <vector>

#include "arguments.h"
#include "registry.h"
#include "standin.h"

namespace cases {

using gateway::Arg;
using gateway::Form;
using gateway::Signature;
using standin::Array;

inline std::vector<double> UniformKnots(int p, int n) {
  std::vector<double> U(p, 0.0);
  for (int k = 0; k <= n - p; ++k) U.push_back(static_cast<double>(k) / (n - p));
  U.insert(U.end(), p, 1.0);
  return U;
}

// The inputs of a plug-in at degree p with n functions per direction, at P points: the first at
// 0.4321 in every direction, the others spread over the domain.
inline std::vector<Array> Inputs(const Signature& sig, Form form, int p, int n, size_t P) {
  const int dirs = sig.evaluator->directions;
  Parts parts;
  size_t controls = 1;
  for (int d = 0; d < dirs; ++d) {
    parts.p[d] = p;
    parts.U[d] = UniformKnots(p, n);
    controls *= n;
  }
  for (size_t k = 0; k < controls; ++k) {
    parts.weights.push_back(1.0 + 0.5 * std::sin(static_cast<double>(k)));
  }
  parts.values = parts.weights;
  parts.points = P;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (size_t j = 0; j < P; ++j) {
    for (int d = 0; d < dirs; ++d) {
      const double u = j == 0 ? 0.4321 : unit(rng);
      parts.x.push_back(u);
      parts.spans.push_back(p + std::floor(u * (n - p)));
    }
  }
  parts.index = parts.spans[0] - p + 1;
  return Arguments(sig, form, parts);
}

}  // namespace cases

#endif  // NURBS_BENCH_CASES_H_
