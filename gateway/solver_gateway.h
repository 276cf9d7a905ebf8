// The solvers' native cores (solver_gateway.cpp): each reads and checks its inputs, makes its
// outputs through the host and calls the solvers layer once.
#ifndef NURBS_GATEWAY_SOLVER_GATEWAY_H_
#define NURBS_GATEWAY_SOLVER_GATEWAY_H_

#include "mex_api.h"

namespace gateway {

void RunMatrixFreeSetup(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void RunMatrixFreeApply(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void RunFastDiagonalisationSetup(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void RunFastDiagonalisationApply(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

}  // namespace gateway

#endif  // NURBS_GATEWAY_SOLVER_GATEWAY_H_
