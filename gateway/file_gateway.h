// The native cores of PETSc's binary files (files/petsc_binary.h): WritePETScCore and
// ReadPETScCore, over the host through the gateway's one interface.
#ifndef NURBS_GATEWAY_FILE_GATEWAY_H_
#define NURBS_GATEWAY_FILE_GATEWAY_H_

#include "mex_api.h"

namespace gateway {

void RunWritePETSc(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void RunReadPETSc(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

}  // namespace gateway

#endif  // NURBS_GATEWAY_FILE_GATEWAY_H_
