// [A1, A2, ...] = ReadPETScCore(name): the native core of ReadPETSc (gateway/file_gateway.cpp).
#include "file_gateway.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  gateway::RunReadPETSc(nlhs, plhs, nrhs, prhs);
}
