// K = ElasticityMatrixCore(coefs, order, knots1, knots2, knots3, spaceOrder, spaceKnots1,
//     spaceKnots2, spaceKnots3, spaceWeights, quadrature1, quadrature2, quadrature3, elements,
//     options, lambda, mu)
// The native core of ElasticityMatrix: the form assembled over the mesh's elements.
#include "mesh_gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunForm(registry::kElasticityMatrix, nlhs, plhs, nrhs, prhs);
}
