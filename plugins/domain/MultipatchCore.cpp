// [gnum, interfaces, boundaries, boundary_dofs, counts] = MultipatchCore(tolerance, coefs, order,
//     knots1, knots2, knots3, spaceOrder, spaceKnots1, spaceKnots2, spaceKnots3, spaceWeights,
//     quadrature1, quadrature2, quadrature3, elements, options, ... for every patch)
// The native core of Multipatch: the patches' interfaces, global numbering and boundary faces.
#include "mesh_gateway.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunMultipatch(nlhs, plhs, nrhs, prhs);
}
