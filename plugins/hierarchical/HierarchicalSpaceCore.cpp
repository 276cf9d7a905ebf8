// [refined, elements, functions, gnum, knots, knot_counts, face_dofs, face_counts, counts] =
//     HierarchicalSpaceCore(header, 15 mesh inputs a patch, refined, interfaces, A, B)
// The native core of HierarchicalSpace, RefineElements, RefineFunctions, ProlongField and a
// hierarchical FieldEval: a hierarchical space's tables, refined, a field moved to a finer space,
// or a field's coefficients element by element.
#include "mesh_gateway.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunHierarchicalSpace(nlhs, plhs, nrhs, prhs);
}
