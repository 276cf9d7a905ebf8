// What the forms' cores share across their layouts (a patch, a domain's pieces, a hierarchical
// space): the form of a call, its coefficients, the size checks and the one output.
#ifndef NURBS_GATEWAY_FORM_GATEWAY_H_
#define NURBS_GATEWAY_FORM_GATEWAY_H_

#include <cstddef>

#include "forms.h"
#include "gateway.h"
#include "mex_api.h"
#include "signature.h"

namespace gateway {
namespace formcall {

forms::Kind KindOf(MeshKind kind);

// The names of a comma-separated list, at most two.
struct Names {
  char name[2][16];
  int count;
};
Names Split(const char* list);

// A coefficient is read by ReadCoefficient (mesh_gateway.h), which the solvers' cores share.

// Raises who:tooManyPoints where a result of n unknowns and up to `bound` entries cannot be made.
void CheckResultSize(const char* who, bool vector, std::size_t n, std::size_t bound);

// The one output: a dense column, or an n x n sparse matrix with room for `bound` entries.
struct Result {
  double* pr;
  mwIndex *ir, *jc;
};
Result MakeResult(Outputs* made, mxArray* plhs[], bool vector, std::size_t n, std::size_t bound);

}  // namespace formcall
}  // namespace gateway

#endif  // NURBS_GATEWAY_FORM_GATEWAY_H_
