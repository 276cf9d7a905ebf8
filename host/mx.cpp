// libmx: host arrays. Every array is counted from creation to destruction, and the ones created
// while a plug-in runs are remembered, so the loader can tell which it left unstored.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <numeric>

#include "standin.h"
#include "standin_internal.h"

struct mxArray_tag {
  standin::Class cls;
  std::vector<size_t> dims;
  bool complex;
  bool sparse;
  std::vector<double> re;  // a sparse array's: nzmax values
  std::vector<double> im;
  std::vector<size_t> ir, jc;  // a sparse array's rows (nzmax) and column starts (n + 1)
};

namespace standin {
namespace {

std::atomic<long> live{0};
thread_local std::vector<mxArray*>* created = nullptr;
thread_local int hostDepth = 0;

struct HostScope {
  HostScope() { ++hostDepth; }
  ~HostScope() { --hostDepth; }
};

size_t Count(const std::vector<size_t>& dims) {
  return std::accumulate(dims.begin(), dims.end(), size_t{1}, std::multiplies<size_t>());
}

mxArray* New(Class cls, std::vector<size_t> dims, bool complex, bool sparse) {
  const HostScope scope;
  while (dims.size() < 2) dims.push_back(1);
  const size_t n = Count(dims);
  mxArray* a = new mxArray{cls,
                           std::move(dims),
                           complex,
                           sparse,
                           std::vector<double>(n),
                           std::vector<double>(complex ? n : 0),
                           {},
                           {}};
  ++live;
  if (created != nullptr) created->push_back(a);
  return a;
}

}  // namespace

void TrackCreated(std::vector<mxArray*>* list) { created = list; }

Array Matrix(std::vector<size_t> dims, const std::vector<double>& values) {
  mxArray* a = New(Class::Double, std::move(dims), false, false);
  std::copy_n(values.begin(), std::min(values.size(), a->re.size()), a->re.begin());
  return Array(a);
}

Array Matrix(std::vector<size_t> dims, std::initializer_list<double> values) {
  return Matrix(std::move(dims), std::vector<double>(values));
}

Array Row(const std::vector<double>& values) { return Matrix({1, values.size()}, values); }

Array Scalar(double value) { return Matrix({1, 1}, {value}); }

Array Make(Class cls, std::vector<size_t> dims, bool complex, bool sparse) {
  return Array(New(cls, std::move(dims), complex, sparse));
}

std::vector<double> Values(const mxArray* a) { return a->re; }

Sparse SparseOf(const mxArray* a) {
  Sparse s;
  if (!a->sparse || a->jc.empty()) return s;
  s.rows = a->dims[0];
  s.cols = a->jc.size() - 1;
  const size_t nnz = a->jc.back();
  s.jc = a->jc;
  s.ir.assign(a->ir.begin(), a->ir.begin() + static_cast<std::ptrdiff_t>(nnz));
  s.pr.assign(a->re.begin(), a->re.begin() + static_cast<std::ptrdiff_t>(nnz));
  return s;
}
std::vector<size_t> Dims(const mxArray* a) { return a->dims; }
long LiveArrays() { return live.load(); }
bool InHost() { return hostDepth > 0; }

}  // namespace standin

using standin::Class;

extern "C" {

double* mxGetPr(const mxArray* a) {
  return a->re.empty() ? nullptr : const_cast<double*>(a->re.data());
}

size_t mxGetM(const mxArray* a) { return a->dims[0]; }

size_t mxGetN(const mxArray* a) {
  size_t n = 1;
  for (size_t d = 1; d < a->dims.size(); ++d) n *= a->dims[d];
  return n;
}

size_t mxGetNumberOfElements(const mxArray* a) { return standin::Count(a->dims); }

bool mxIsDouble(const mxArray* a) { return a->cls == Class::Double; }
bool mxIsComplex(const mxArray* a) { return a->complex; }
bool mxIsSparse(const mxArray* a) { return a->sparse; }

const char* mxGetClassName(const mxArray* a) {
  switch (a->cls) {
    case Class::Double:
      return "double";
    case Class::Single:
      return "single";
    case Class::Int32:
      return "int32";
    case Class::Uint8:
      return "uint8";
    case Class::Logical:
      return "logical";
    case Class::Char:
      return "char";
    case Class::Cell:
      return "cell";
    case Class::Struct:
      return "struct";
  }
  return "unknown";
}

mxArray* mxCreateDoubleMatrix_700(int rows, int cols, mxComplexity flag) {
  const standin::HostScope scope;
  if (rows < 0) rows = 0;
  if (cols < 0) cols = 0;
  return standin::New(Class::Double, {static_cast<size_t>(rows), static_cast<size_t>(cols)},
                      flag == mxCOMPLEX, false);
}

mxArray* mxCreateSparse_730(size_t m, size_t n, size_t nzmax, mxComplexity flag) {
  const standin::HostScope scope;
  if (nzmax == 0) nzmax = 1;  // as MATLAB: room for one value at least
  mxArray* a = standin::New(Class::Double, {m, n}, flag == mxCOMPLEX, true);
  a->re.assign(nzmax, 0.0);
  if (a->complex) a->im.assign(nzmax, 0.0);
  a->ir.assign(nzmax, 0);
  a->jc.assign(n + 1, 0);
  return a;
}

size_t* mxGetIr_730(const mxArray* a) {
  return a->sparse ? const_cast<size_t*>(a->ir.data()) : nullptr;
}

size_t* mxGetJc_730(const mxArray* a) {
  return a->sparse ? const_cast<size_t*>(a->jc.data()) : nullptr;
}

mxArray* mxCreateDoubleScalar(double value) {
  const standin::HostScope scope;
  mxArray* a = standin::New(Class::Double, {1, 1}, false, false);
  a->re[0] = value;
  return a;
}

void mxDestroyArray(mxArray* a) {
  if (a == nullptr) return;
  const standin::HostScope scope;
  --standin::live;
  delete a;
}

}  // extern "C"
