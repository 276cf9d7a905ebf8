// The host operations the plug-ins call. Built for GNU Octave's MEX interface, this is Octave's own
// mex.h; built as Octave-native functions (.oct), the same operations over Octave's own arrays
// (octave_api.h beside this file, which the gateway's Octave binding implements). Built for
// MATLAB's binary interface, these are MATLAB's C symbols as a .mexa64/.mexw64 built with the
// 32-bit-dimension ("_700") interface imports them from libmx and libmex; the project's stand-in
// host implements exactly these.
#ifndef NURBS_GATEWAY_MEX_API_H_
#define NURBS_GATEWAY_MEX_API_H_

#if defined(_WIN32)
#define NURBS_MEX_EXPORT __declspec(dllexport)
#elif defined(NURBS_HOST_OCT)
#define NURBS_MEX_EXPORT  // the entry is the module's own; Octave enters through its installer
#else
#define NURBS_MEX_EXPORT __attribute__((visibility("default")))
#endif

#if defined(NURBS_HOST_OCTAVE)

#include <mex.h>

#elif defined(NURBS_HOST_OCT)

#include "octave_api.h"

typedef octave_binding::Array mxArray;
typedef octave_binding::Index mwIndex;
typedef octave_binding::Index mwSize;
using octave_binding::mxCOMPLEX;
using octave_binding::mxCreateDoubleMatrix;
using octave_binding::mxCreateDoubleScalar;
using octave_binding::mxCreateSparse;
using octave_binding::mxCreateUninitNumericMatrix;
using octave_binding::mxDOUBLE_CLASS;
using octave_binding::mexErrMsgIdAndTxt;
using octave_binding::mexErrMsgTxt;
using octave_binding::mxGetClassName;
using octave_binding::mxGetIr;
using octave_binding::mxGetJc;
using octave_binding::mxGetM;
using octave_binding::mxGetN;
using octave_binding::mxGetNumberOfElements;
using octave_binding::mxGetPr;
using octave_binding::mxIsComplex;
using octave_binding::mxIsDouble;
using octave_binding::mxIsSparse;
using octave_binding::mxREAL;

#else

#include <cstddef>

extern "C" {

typedef struct mxArray_tag mxArray;
typedef enum { mxREAL, mxCOMPLEX } mxComplexity;

double* mxGetPr(const mxArray* array);
size_t mxGetM(const mxArray* array);
size_t mxGetN(const mxArray* array);
size_t mxGetNumberOfElements(const mxArray* array);
bool mxIsDouble(const mxArray* array);
bool mxIsComplex(const mxArray* array);
bool mxIsSparse(const mxArray* array);
const char* mxGetClassName(const mxArray* array);

mxArray* mxCreateDoubleMatrix_700(int rows, int cols, mxComplexity flag);
mxArray* mxCreateDoubleScalar(double value);
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700

// Sparse results, through the 64-bit index interface: MATLAB's documented
// mxCreateSparse(mwSize m, mwSize n, mwSize nzmax, mxComplexity), mxGetIr and mxGetJc (returning
// mwIndex *) with mwSize = mwIndex = size_t, which libmx exports under these "_730" names (the
// large-array-dimensions entry points that MATLAB's matrix.h binds them to, and that other
// languages' bindings call directly). A column-compressed array: jc[0..n] column starts, ir the
// row of every stored value, pr the values, nzmax of each.
mxArray* mxCreateSparse_730(size_t m, size_t n, size_t nzmax, mxComplexity flag);
size_t* mxGetIr_730(const mxArray* array);
size_t* mxGetJc_730(const mxArray* array);
#define mxCreateSparse mxCreateSparse_730
#define mxGetIr mxGetIr_730
#define mxGetJc mxGetJc_730
typedef size_t mwIndex;

// Neither returns: the host ends the call, possibly by a non-local jump.
void mexErrMsgTxt(const char* message);
void mexErrMsgIdAndTxt(const char* id, const char* format, ...);

}  // extern "C"

#endif  // NURBS_HOST_OCTAVE

extern "C" NURBS_MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs,
                                             const mxArray* prhs[]);

// Copies of a result the host holds at once as a call returns: Octave's MEX interface copies
// every output into an array of its own before it frees the call's, so that an output of b
// bytes needs 2 b then; MATLAB, and Octave's own binding, return the array as it was made.
#if defined(NURBS_HOST_OCTAVE)
constexpr int kResultCopies = 2;
#else
constexpr int kResultCopies = 1;
#endif

#endif  // NURBS_GATEWAY_MEX_API_H_
