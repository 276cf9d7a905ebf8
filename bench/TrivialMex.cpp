// The host's floor for the Octave benchmark: a MEX that takes the same inputs as a plug-in,
// reads nothing but its first, and creates max(nargout, 1) outputs of the plug-in's sizes:
//   [a, b, ...] = TrivialMex(cols, plug-in inputs...)   1 x cols rows, or scalars when cols = 0
#include "mex_api.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const int cols = nrhs > 0 ? static_cast<int>(mxGetPr(prhs[0])[0]) : 0;
  for (int k = 0; k < (nlhs > 1 ? nlhs : 1); ++k) {
    plhs[k] = cols > 0 ? mxCreateDoubleMatrix(1, cols, mxREAL) : mxCreateDoubleScalar(0.0);
  }
}
