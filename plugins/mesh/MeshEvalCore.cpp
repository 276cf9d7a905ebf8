// [quad_nodes, quad_weights, geo_map, geo_map_jac, jacdet, element_size, normal, connectivity,
//  shape_functions, shape_function_gradients, shape_function_hessians,
//  shape_function_laplacians, dofs, nel_dir, counts] = MeshEvalCore(coefs, order, knots1,
//  knots2, knots3, spaceOrder, spaceKnots1, spaceKnots2, spaceKnots3, spaceWeights, quadrature1,
//  quadrature2, quadrature3, elements, options)
// The native core of MeshEval: a patch's quadrature data in physical space, element by element,
// each output a matrix of one column per element (MeshEval gives them their shapes).
#include "mesh_gateway.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunMeshEval(nlhs, plhs, nrhs, prhs);
}
