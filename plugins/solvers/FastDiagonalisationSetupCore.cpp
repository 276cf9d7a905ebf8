// [K1, M1, K2, M2, K3, M3, constants, weights] = FastDiagonalisationSetupCore(coefs,
//     order, knots1, knots2, knots3, spaceOrder, spaceKnots1, spaceKnots2, spaceKnots3,
//     spaceWeights, quadrature1, quadrature2, quadrature3, elements, options, form, coefficients)
// The native core of FastDiagonalisation's setup: each direction's weighted 1-D matrices.
#include "solver_gateway.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunFastDiagonalisationSetup(nlhs, plhs, nrhs, prhs);
}
