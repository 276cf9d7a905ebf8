// F = LoadVectorCore(coefs, order, knots1, knots2, knots3, spaceOrder, spaceKnots1, spaceKnots2,
//     spaceKnots3, spaceWeights, quadrature1, quadrature2, quadrature3, elements, options, f)
// The native core of LoadVector: the form assembled over the mesh's elements.
#include "mesh_gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunForm(registry::kLoadVector, nlhs, plhs, nrhs, prhs);
}
