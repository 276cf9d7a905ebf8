// The host operations the gateway calls, as Octave's own binding (gateway/octave_binding.cpp)
// gives them: the MEX interface's names, arguments and meanings over Octave's arrays, so that one
// gateway source serves both kinds of host. C++ functions of their own namespace, not C symbols: Octave's
// MEX implementation exports the C ones in the same process.
//
// An Array is an argument of the call (read in place, never copied) or a result, made as the
// Octave array it is returned as (NDArray, SparseMatrix), so that nothing is copied on return.
#ifndef NURBS_MEX_OCTAVE_API_H_
#define NURBS_MEX_OCTAVE_API_H_

#include <cstddef>
#include <cstdint>

namespace octave_binding {

struct Array;
typedef std::int64_t Index;  // Octave's octave_idx_type, its sparse matrices' indices
enum Complexity { mxREAL, mxCOMPLEX };
enum ClassID { mxDOUBLE_CLASS };

double* mxGetPr(const Array* a);
std::size_t mxGetM(const Array* a);
std::size_t mxGetN(const Array* a);  // the product of every dimension after the first
std::size_t mxGetNumberOfElements(const Array* a);
bool mxIsDouble(const Array* a);
bool mxIsComplex(const Array* a);
bool mxIsSparse(const Array* a);
const char* mxGetClassName(const Array* a);

// Zeros; uninitialised (the caller writes every element); a 1 x 1; an m x n sparse matrix with
// room for nzmax entries, its column starts jc[0..n] and row indices ir.
Array* mxCreateDoubleMatrix(std::size_t m, std::size_t n, Complexity flag);
Array* mxCreateUninitNumericMatrix(std::size_t m, std::size_t n, ClassID id, Complexity flag);
Array* mxCreateDoubleScalar(double value);
Array* mxCreateSparse(std::size_t m, std::size_t n, std::size_t nzmax, Complexity flag);
Index* mxGetIr(const Array* a);
Index* mxGetJc(const Array* a);

// Raise Octave's error, "Name: message" as Octave's MEX interface words it; neither returns.
[[noreturn]] void mexErrMsgTxt(const char* message);
[[noreturn]] void mexErrMsgIdAndTxt(const char* id, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace octave_binding

#endif  // NURBS_MEX_OCTAVE_API_H_
