// The host's floor for the Octave benchmarks: a MEX that takes the same inputs as a plug-in,
// reads nothing but its first two, and creates outputs of the plug-in's sizes, nothing else:
//   [a, b, ...] = TrivialMex(rows, cols, plug-in inputs...)
//       max(nargout, 1) outputs, rows x cols each, zeroed by the host; scalars for 0 x 0
//   [a, b, ...] = TrivialMex('sizes', S, inputs...)
//       output k is S(k, 1) x S(k, 2) (S has a row per output, max(nargout, 1) rows at least),
//       created uninitialised where the host allows it (Octave), as MeshEvalCore creates the
//       outputs it then writes whole
//   A = TrivialMex('sparse', [m n nnz], inputs...)
//       an m x n sparse matrix of nnz stored entries (spread evenly over the columns, value 1):
//       what the host costs to create and hand over a sparse result of that size, as the forms
//       create theirs (mxCreateSparse, then the column starts, rows and values written)
#include <cstring>

#include "mex_api.h"

namespace {

bool Mode(const mxArray* a, const char* name) {
  if (!mxIsChar(a)) return false;
  char text[16] = {};
  mxGetString(a, text, sizeof text);
  return std::strcmp(text, name) == 0;
}

void Sizes(int outputs, mxArray* plhs[], const mxArray* sizes) {
  const double* s = mxGetPr(sizes);
  const size_t k = mxGetM(sizes);
  if (mxGetN(sizes) != 2 || static_cast<int>(k) < outputs) {
    mexErrMsgTxt("TrivialMex('sizes', S): S must have two columns and a row per output");
  }
  for (int o = 0; o < outputs; ++o) {
    const mwSize m = static_cast<mwSize>(s[o]), n = static_cast<mwSize>(s[o + k]);
#if defined(NURBS_HOST_OCTAVE)
    plhs[o] = mxCreateUninitNumericMatrix(m, n, mxDOUBLE_CLASS, mxREAL);
#else
    plhs[o] = mxCreateDoubleMatrix(m, n, mxREAL);
#endif
  }
}

void Sparse(mxArray* plhs[], const mxArray* size) {
  if (mxGetNumberOfElements(size) != 3) {
    mexErrMsgTxt("TrivialMex('sparse', [m n nnz]): three numbers");
  }
  const double* s = mxGetPr(size);
  const mwSize m = static_cast<mwSize>(s[0]), n = static_cast<mwSize>(s[1]);
  mwSize nnz = static_cast<mwSize>(s[2]);
  if (n == 0 || nnz > m * n) nnz = n == 0 ? 0 : m * n;
  plhs[0] = mxCreateSparse(m, n, nnz > 0 ? nnz : 1, mxREAL);
  mwIndex* jc = mxGetJc(plhs[0]);
  mwIndex* ir = mxGetIr(plhs[0]);
  double* pr = mxGetPr(plhs[0]);
  // Column c holds rows 0 .. count - 1, the counts differing by at most one.
  mwIndex at = 0;
  for (mwSize c = 0; c < n; ++c) {
    jc[c] = at;
    const mwIndex end = static_cast<mwIndex>((c + 1) * nnz / n);
    for (mwIndex r = 0; at < end; ++r, ++at) {
      ir[at] = r;
      pr[at] = 1.0;
    }
  }
  jc[n] = at;
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const int outputs = nlhs > 1 ? nlhs : 1;
  if (nrhs > 1 && Mode(prhs[0], "sizes")) return Sizes(outputs, plhs, prhs[1]);
  if (nrhs > 1 && Mode(prhs[0], "sparse")) return Sparse(plhs, prhs[1]);
  const double rows = nrhs > 1 ? mxGetPr(prhs[0])[0] : 0;
  const double cols = nrhs > 1 ? mxGetPr(prhs[1])[0] : 0;
  for (int k = 0; k < outputs; ++k) {
    plhs[k] = rows > 0 ? mxCreateDoubleMatrix(static_cast<mwSize>(rows), static_cast<mwSize>(cols),
                                              mxREAL)
                       : mxCreateDoubleScalar(0.0);
  }
}
