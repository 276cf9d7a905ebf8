// y = MatrixFreeApplyCore(header, sizes, table1, table2, table3, factors, weights, gnum,
//     ... (7 arrays a patch), free, x)
// The native core of MatrixFreeOperator's handle: the operator applied to x.
#include "solver_gateway.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunMatrixFreeApply(nlhs, plhs, nrhs, prhs);
}
