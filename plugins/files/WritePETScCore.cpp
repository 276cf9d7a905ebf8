// WritePETScCore(name, A1, A2, ...): the native core of WritePETSc (gateway/file_gateway.cpp).
#include "file_gateway.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunWritePETSc(nlhs, plhs, nrhs, prhs);
}
