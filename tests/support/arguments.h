// A call's inputs in a plug-in's order, made from its parts by role: what the tests, the build
// comparison and the benchmarks all need to call any plug-in of the registry or its twin.
#ifndef NURBS_TESTS_SUPPORT_ARGUMENTS_H_
#define NURBS_TESTS_SUPPORT_ARGUMENTS_H_

#include <cstddef>
#include <vector>

#include "registry.h"
#include "standin.h"

struct Parts {
  int p[3] = {0, 0, 0};
  std::vector<double> U[3];
  std::vector<double> weights, values;  // values: a field's control values
  double index = 1;                     // 1-based, for the single function
  std::size_t points = 1;
  std::vector<double> x;      // the points' coordinates, one point after the other
  std::vector<double> spans;  // the points' spans, likewise, where the plug-in takes them
};

// The one-point form takes one point's coordinates and spans as rows; the batch form a row of P
// coordinates for a curve, d x P matrices otherwise.
inline std::vector<standin::Array> Arguments(const gateway::Signature& sig, gateway::Form form,
                                             const Parts& parts) {
  using gateway::Arg;
  const std::size_t d = static_cast<std::size_t>(sig.evaluator->directions);
  const bool batch = form == gateway::Form::Batch;
  std::vector<standin::Array> args;
  for (int k = 0, p = 0, knots = 0; k < sig.nargs; ++k) {
    switch (sig.args[k].kind) {
      case Arg::Point:
        args.push_back(batch && d > 1 ? standin::Matrix({d, parts.points}, parts.x)
                                      : standin::Row(parts.x));
        break;
      case Arg::Degree:
        args.push_back(standin::Scalar(parts.p[p++]));
        break;
      case Arg::Knots:
        args.push_back(standin::Row(parts.U[knots++]));
        break;
      case Arg::Weights:
        args.push_back(standin::Row(parts.weights));
        break;
      case Arg::ControlValues:
        args.push_back(standin::Row(parts.values));
        break;
      case Arg::Spans:
        args.push_back(batch ? standin::Matrix({d, parts.points}, parts.spans)
                             : standin::Row(parts.spans));
        break;
      case Arg::Index:
        args.push_back(standin::Scalar(parts.index));
        break;
    }
  }
  return args;
}

#endif  // NURBS_TESTS_SUPPORT_ARGUMENTS_H_
