// y = FastDiagonalisationApplyCore(n, sizes, U1, lambda1, U2, lambda2, U3, lambda3,
//     scale, map, ... (9 arrays a piece), x)
// The native core of FastDiagonalisation's handle: the preconditioner applied to x.
#include "solver_gateway.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunFastDiagonalisationApply(nlhs, plhs, nrhs, prhs);
}
