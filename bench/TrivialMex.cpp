// The host's floor for the Octave benchmarks: a MEX that takes the same inputs as a plug-in,
// reads nothing but its first two, and creates max(nargout, 1) outputs of the plug-in's sizes:
//   [a, b, ...] = TrivialMex(rows, cols, plug-in inputs...)   rows x cols each, scalars for 0 x 0
#include "mex_api.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const double rows = nrhs > 1 ? mxGetPr(prhs[0])[0] : 0;
  const double cols = nrhs > 1 ? mxGetPr(prhs[1])[0] : 0;
  for (int k = 0; k < (nlhs > 1 ? nlhs : 1); ++k) {
    plhs[k] = rows > 0 ? mxCreateDoubleMatrix(static_cast<mwSize>(rows), static_cast<mwSize>(cols),
                                              mxREAL)
                       : mxCreateDoubleScalar(0.0);
  }
}
