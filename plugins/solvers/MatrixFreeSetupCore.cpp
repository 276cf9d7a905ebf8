// [sizes, table1, table2, table3, factors, weights] = MatrixFreeSetupCore(coefs, order,
//     knots1, knots2, knots3, spaceOrder, spaceKnots1, spaceKnots2, spaceKnots3, spaceWeights,
//     quadrature1, quadrature2, quadrature3, elements, options, form, coefficients)
// The native core of MatrixFreeOperator's setup: the patch's tables and point factors.
#include "solver_gateway.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunMatrixFreeSetup(nlhs, plhs, nrhs, prhs);
}
