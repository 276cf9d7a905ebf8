// The inputs the in-process benchmarks call the plug-ins with: uniform clamped knots, smooth
// weights, points spread over the domain.
#ifndef NURBS_BENCH_CASES_H_
#define NURBS_BENCH_CASES_H_

#include <cmath>
#include <random>
#include <vector>

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
  const std::vector<double> U = UniformKnots(p, n);
  size_t controls = 1;
  for (int d = 0; d < dirs; ++d) controls *= n;
  std::vector<double> w(controls);
  for (size_t k = 0; k < controls; ++k) w[k] = 1.0 + 0.5 * std::sin(static_cast<double>(k));
  std::vector<double> x, spans;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (size_t j = 0; j < P; ++j) {
    for (int d = 0; d < dirs; ++d) {
      const double u = j == 0 ? 0.4321 : unit(rng);
      x.push_back(u);
      spans.push_back(p + std::floor(u * (n - p)));
    }
  }
  const size_t rows = form == Form::Batch && dirs > 1 ? dirs : 1;
  std::vector<Array> args;
  for (int k = 0; k < sig.nargs; ++k) {
    switch (sig.args[k].kind) {
      case Arg::Point:
        args.push_back(standin::Matrix({rows, x.size() / rows}, x));
        break;
      case Arg::Degree:
        args.push_back(standin::Scalar(p));
        break;
      case Arg::Knots:
        args.push_back(standin::Row(U));
        break;
      case Arg::Weights:
      case Arg::ControlValues:
        args.push_back(standin::Row(w));
        break;
      case Arg::Spans:
        args.push_back(standin::Matrix({static_cast<size_t>(dirs), P}, spans));
        break;
      case Arg::Index:
        args.push_back(standin::Scalar(spans[0] - p + 1));
        break;
    }
  }
  return args;
}

}  // namespace cases

#endif  // NURBS_BENCH_CASES_H_
