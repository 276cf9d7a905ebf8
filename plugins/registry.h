// The registry in C++: registry::kName, the Signature of each plug-in of registry.def, checked at
// compile time against its evaluator, and registry::kAll, every one in the table's order.
#ifndef NURBS_PLUGINS_REGISTRY_H_
#define NURBS_PLUGINS_REGISTRY_H_

#include "evaluators.h"
#include "signature.h"

namespace registry {

// Every input by name and role, and every output by name, so that the table lists them bare.
namespace names {
using gateway::Arg;
using gateway::ArgRule;
constexpr ArgRule xi{"xi", Arg::Point};
constexpr ArgRule p{"p", Arg::Degree};
constexpr ArgRule q{"q", Arg::Degree};
constexpr ArgRule r{"r", Arg::Degree};
constexpr ArgRule knot{"knot", Arg::Knots};
constexpr ArgRule knotU{"knotU", Arg::Knots};
constexpr ArgRule knotV{"knotV", Arg::Knots};
constexpr ArgRule knotW{"knotW", Arg::Knots};
constexpr ArgRule weights{"weights", Arg::Weights};
constexpr ArgRule points{"points", Arg::ControlValues};
constexpr ArgRule spans{"spans", Arg::Spans};
constexpr ArgRule i{"i", Arg::Index};

constexpr const char* R = "R";
constexpr const char* dRdxi = "dRdxi";
constexpr const char* dRdeta = "dRdeta";
constexpr const char* dRdzeta = "dRdzeta";
constexpr const char* dR2dxi = "dR2dxi";
constexpr const char* dR2deta = "dR2deta";
constexpr const char* dR2dzeta = "dR2dzeta";
constexpr const char* dR2dxideta = "dR2dxideta";
constexpr const char* dR2detazeta = "dR2detazeta";
constexpr const char* dR2dxizeta = "dR2dxizeta";
constexpr const char* interp = "interp";
constexpr const char* interp_deriv = "interp_deriv";
constexpr const char* interp_deriv2 = "interp_deriv2";
constexpr const char* Nip = "Nip";
constexpr const char* dNipdxi = "dNipdxi";
}  // namespace names

// The one usage text fixed word for word by what its callers have long matched against.
constexpr const char* FixedUsage(const char* name) {
  return gateway::Same(name, "RatSingleShape")
             ? "You fool! You haven't passed in 5 arguments to the function.We expect it to be "
               "in the form [Nip] = RatSingleShape(i, p, xi, knot, weights)\n"
             : nullptr;
}

#define NURBS_LIST(...) __VA_ARGS__
#define NURBS_DOMAIN(...)
#define NURBS_HIERARCHICAL(...)
#define NURBS_FILE(...)
#define NURBS_MFUNCTION(...)
#define NURBS_CORE(...)
#define NURBS_MESH(...)
#define NURBS_PLUGIN(name, folder, evaluator, sizes, inputs, outputs)                           \
  namespace name##_table {                                                                      \
    using namespace names;                                                                      \
    constexpr gateway::ArgRule kInputs[] = {NURBS_LIST inputs};                                 \
    constexpr const char* kOutputs[] = {NURBS_LIST outputs};                                    \
  }                                                                                             \
  constexpr gateway::Signature k##name =                                                        \
      gateway::MakeSignature(#name, evaluators::k##evaluator, gateway::Sizes::sizes,            \
                             name##_table::kInputs, name##_table::kOutputs, FixedUsage(#name)); \
  static_assert(gateway::Valid(k##name), #name ": inputs or outputs do not fit " #evaluator);
#include "registry.def"
#undef NURBS_PLUGIN

constexpr const gateway::Signature* kAll[] = {
#define NURBS_PLUGIN(name, ...) &k##name,
#include "registry.def"
#undef NURBS_PLUGIN
};
#undef NURBS_MESH

using gateway::ListCount;
using gateway::MeshCall;
using gateway::MeshKind;

#define NURBS_PLUGIN(...)
#define NURBS_STRING(...) #__VA_ARGS__
#define NURBS_MESH(name, folder, kind, inputs, outputs)                             \
  constexpr MeshCall k##name = {#name, #name "Core", MeshKind::kind, NURBS_STRING inputs, \
                                NURBS_STRING outputs};
#include "registry.def"
#undef NURBS_MESH

constexpr const MeshCall* kMeshCalls[] = {
#define NURBS_MESH(name, ...) &k##name,
#include "registry.def"
#undef NURBS_MESH
};
#undef NURBS_PLUGIN
#undef NURBS_STRING

// The native cores the solvers' m-functions call, by name, in the table's order.
#undef NURBS_CORE
#define NURBS_PLUGIN(...)
#define NURBS_MESH(...)
#define NURBS_CORE(name, folder) #name,
constexpr const char* kCores[] = {
#include "registry.def"
};
#undef NURBS_CORE
#undef NURBS_PLUGIN
#undef NURBS_MESH

#undef NURBS_LIST
#undef NURBS_DOMAIN
#undef NURBS_HIERARCHICAL
#undef NURBS_FILE
#undef NURBS_MFUNCTION

}  // namespace registry

#endif  // NURBS_PLUGINS_REGISTRY_H_
