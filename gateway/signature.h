// A plug-in's signature: its inputs by role, its outputs by name and the evaluator that computes
// them, checked against each other when the registry is compiled. Free of the host, so that the
// tests and benchmarks can read the registry too.
#ifndef NURBS_GATEWAY_SIGNATURE_H_
#define NURBS_GATEWAY_SIGNATURE_H_

#include <cstddef>

#include "evaluators.h"

namespace gateway {

constexpr int kMaxArgs = 9;

enum class Arg {
  Point,          // xi: element d is the coordinate of direction d; the batch form: column j is
                  // point j
  Degree,         // p, q, r (direction 0, 1, 2 in order): element 0 truncated toward zero
  Knots,          // knot, knotU, knotV, knotW (in order): a row, non-decreasing, no NaN
  Weights,        // one per control point, the product of n over directions
  ControlValues,  // a scalar field's values, one per control point
  Spans,          // element d is direction d's 0-based span, truncated; p <= s <= n - 1
  Index,          // 1-based basis-function index of the single direction, truncated; 1..n
};

struct ArgRule {
  const char* name;
  Arg kind;
};

// One point per call, or many: the batch twin of a plug-in, named after it with "Batch".
enum class Form { Point, Batch };

// What a plug-in's outputs are: rows of one entry per function that does not vanish, or scalars.
enum class Sizes { Rows, Scalars };

struct Signature {
  const char* name;  // the one-point plug-in; prefix of every error identifier
  const evaluators::Evaluator* evaluator;
  const ArgRule* args;  // the inputs in order
  int nargs;
  const char* const* outputs;  // the outputs' names in order, a choice of the evaluator's
  int noutputs;
  int slot[evaluators::kMaxOutputs];  // the evaluator's output behind output o, or -1
  Sizes sizes;
  const char* usage;  // the one-point form's fixed text on a wrong input count, or nullptr
};

// Outputs of a plug-in in a form: the twin of one that returns basis functions adds `idx`.
constexpr int OutputCount(const Signature& sig, Form form) {
  return sig.noutputs + (form == Form::Batch && sig.sizes == Sizes::Rows ? 1 : 0);
}

constexpr bool Same(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

template <std::size_t NI, std::size_t NO>
constexpr Signature MakeSignature(const char* name, const evaluators::Evaluator& evaluator,
                                  Sizes sizes, const ArgRule (&args)[NI],
                                  const char* const (&outputs)[NO], const char* usage) {
  Signature sig{name, &evaluator, args, static_cast<int>(NI), outputs, static_cast<int>(NO),
                {},   sizes,      usage};
  for (int o = 0; o < evaluators::kMaxOutputs; ++o) {
    sig.slot[o] = -1;
    for (int e = 0; o < sig.noutputs && e < evaluator.noutputs; ++e) {
      if (Same(outputs[o], evaluator.outputs[e])) sig.slot[o] = e;
    }
  }
  return sig;
}

// Whether the inputs give the evaluator everything it reads and nothing it ignores, and every
// output is one of the evaluator's.
constexpr int Count(const Signature& sig, Arg kind) {
  int count = 0;
  for (int k = 0; k < sig.nargs; ++k) count += sig.args[k].kind == kind;
  return count;
}

constexpr bool Valid(const Signature& sig) {
  const evaluators::Evaluator& ev = *sig.evaluator;
  bool valid = sig.nargs <= kMaxArgs && sig.noutputs <= evaluators::kMaxOutputs &&
               Count(sig, Arg::Point) == 1 && Count(sig, Arg::Degree) == ev.directions &&
               Count(sig, Arg::Knots) == ev.directions &&
               Count(sig, Arg::Weights) == (ev.weights ? 1 : 0) &&
               Count(sig, Arg::ControlValues) == (ev.values ? 1 : 0) &&
               Count(sig, Arg::Index) == (ev.index ? 1 : 0) && Count(sig, Arg::Spans) <= 1 &&
               (sig.sizes == Sizes::Rows) == ev.rows;
  for (int o = 0; o < sig.noutputs; ++o) valid = valid && sig.slot[o] >= 0;
  return valid;
}

// What a call over a whole mesh computes: the mesh's fields, one of the forms, or the nodes'
// coordinates alone.
enum class MeshKind { Fields, Stiffness, Mass, Load, Advection, Elasticity, Bilaplacian, Nodes };

// A call over a whole mesh: the m-function `name` over its native core `core`, whose inputs are
// the mesh's (gateway/mesh_gateway.h) and then `inputs`, whose outputs are `outputs` (each a
// comma-separated list of names).
struct MeshCall {
  const char* name;
  const char* core;
  MeshKind kind;
  const char* inputs;
  const char* outputs;
};

// The outputs of MeshEval's core, in order.
namespace mesh_output {
enum Output {
  kQuadNodes,
  kQuadWeights,
  kGeoMap,
  kGeoMapJac,
  kJacdet,
  kElementSize,
  kNormal,
  kConnectivity,
  kShapeFunctions,
  kGradients,
  kHessians,
  kLaplacians,
  kDofs,
  kNelDir,
  kCounts,
  kOutputs
};
}  // namespace mesh_output

// Names in a comma-separated list.
constexpr int ListCount(const char* list) {
  if (*list == '\0') return 0;
  int count = 1;
  for (; *list != '\0'; ++list) count += *list == ',';
  return count;
}

}  // namespace gateway

#endif  // NURBS_GATEWAY_SIGNATURE_H_
