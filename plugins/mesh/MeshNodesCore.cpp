// x = MeshNodesCore(coefs, order, knots1, knots2, knots3, spaceOrder, spaceKnots1, spaceKnots2,
//     spaceKnots3, spaceWeights, quadrature1, quadrature2, quadrature3, elements, options)
// The native core of MeshNodes: the physical coordinates of the mesh's nodes, rdim x nodes.
#include "mesh_gateway.h"
#include "registry.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunNodes(registry::kMeshNodes, nlhs, plhs, nrhs, prhs);
}
