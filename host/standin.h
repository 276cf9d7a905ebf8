// The stand-in host: libmx and libmex with MATLAB's sonames and symbol names, enough of them to
// load and run the plug-ins as MATLAB does, plus what tests need around a call: arrays of any
// class and shape, a plug-in loaded by file name, the error a call raised, and a count of the
// arrays still alive.
#ifndef NURBS_HOST_STANDIN_H_
#define NURBS_HOST_STANDIN_H_

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "mex_api.h"

extern "C" {
void mxDestroyArray(mxArray* array);
}

namespace standin {

// The file name extension MATLAB gives MEX files on this platform.
#if defined(_WIN32)
constexpr const char* kMexSuffix = ".mexw64";
#else
constexpr const char* kMexSuffix = ".mexa64";
#endif

enum class Class { Double, Single, Int32, Uint8, Logical, Char, Cell, Struct };

struct ArrayDeleter {
  void operator()(mxArray* a) const { mxDestroyArray(a); }
};
using Array = std::unique_ptr<mxArray, ArrayDeleter>;

// A double array of the given shape holding values column-major (zeros past the end).
Array Matrix(std::vector<size_t> dims, std::initializer_list<double> values = {});
Array Matrix(std::vector<size_t> dims, const std::vector<double>& values);
Array Row(const std::vector<double>& values);  // 1 x numel
Array Scalar(double value);
// Any class, complex or sparse: for the checks that must turn these away.
Array Make(Class cls, std::vector<size_t> dims, bool complex = false, bool sparse = false);

std::vector<double> Values(const mxArray* a);  // the real data, column-major

// A sparse array's stored entries (jc.back() of them); empty for a full array.
struct Sparse {
  size_t rows = 0, cols = 0;
  std::vector<size_t> jc, ir;
  std::vector<double> pr;
};
Sparse SparseOf(const mxArray* a);
std::vector<size_t> Dims(const mxArray* a);

long LiveArrays();  // arrays created and not yet destroyed, on any thread

// Whether this thread is inside a host operation now: what the host allocates there (arrays,
// their data) is the host's, not the plug-in's.
bool InHost();

// What one call of mexFunction left behind.
struct Result {
  bool failed = false;  // it raised an error through mexErrMsgTxt or mexErrMsgIdAndTxt
  std::string id;       // the identifier, empty for mexErrMsgTxt
  std::string message;
  std::vector<Array> outputs;  // the slots it was given, in order; nullptr where nothing was stored
  int dropped = 0;             // arrays it created but did not store (the host frees them)
  bool overrun = false;        // it wrote past the slots it was given
  bool foreign = false;        // it stored an array it did not create
};

// A plug-in loaded by file name, as MATLAB loads a MEX file.
class Plugin {
 public:
  explicit Plugin(const std::string& path);
  // A plug-in linked into the caller, entered at its mexFunction.
  explicit Plugin(void (*entry)(int, mxArray**, int, const mxArray**))
      : handle_(nullptr), entry_(entry) {}
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // Calls mexFunction with nlhs and the inputs. As MATLAB does, it passes max(nlhs, 1) slots.
  Result Call(int nlhs, const std::vector<const mxArray*>& inputs) const;

 private:
  void* handle_;
  void (*entry_)(int, mxArray**, int, const mxArray**);
};

}  // namespace standin

#endif  // NURBS_HOST_STANDIN_H_
