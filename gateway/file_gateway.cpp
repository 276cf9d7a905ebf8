// WritePETScCore and ReadPETScCore: arrays to and from PETSc's binary format (files/).
//
//   WritePETScCore(name, A1, A2, ...)    each a sparse matrix, a full vector or a full matrix
//   [A1, A2, ...] = ReadPETScCore(name)  the file's first objects in order
//
// name: the file's name as its UTF-8 bytes, a row of whole numbers 1..255 (the m-functions pass
// double (unicode2native (name, 'UTF-8'))). The file is opened only once every input is checked,
// and never while an output is made (the host may leave by a non-local jump then): each object is
// checked with the file open, the file closed, the output made, the file opened again and read.
#include "file_gateway.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "checks.h"
#include "gateway.h"
#include "petsc_binary.h"

namespace gateway {
namespace {

using petsc_binary::Fault;

constexpr std::size_t kMaxName = 4096;

struct Name {
  char text[kMaxName + 1];
};

Name ReadName(const char* who, const mxArray* a) {
  if (!mxIsDouble(a) || mxIsComplex(a) || mxIsSparse(a)) {
    Fail(who, "fileName",
         "filename must be a character row; its core takes its UTF-8 bytes as "
         "real doubles, found %s.",
         mxGetClassName(a));
  }
  const std::size_t n = mxGetNumberOfElements(a);
  if (n == 0 || n > kMaxName || (mxGetM(a) != 1 && mxGetN(a) != 1)) {
    Fail(who, "fileName", "filename must be a row of 1 to %zu characters, found %zu x %zu.",
         kMaxName, mxGetM(a), mxGetN(a));
  }
  Name name;
  const double* v = mxGetPr(a);
  for (std::size_t k = 0; k < n; ++k) {
    if (!(v[k] >= 1 && v[k] <= 255 && v[k] == std::trunc(v[k]))) {
      Fail(who, "fileName", "filename's byte %zu must be a whole number from 1 to 255, found %g.",
           k + 1, v[k]);
    }
    name.text[k] = static_cast<char>(static_cast<unsigned char>(v[k]));
  }
  name.text[n] = '\0';
  return name;
}

[[noreturn]] void FailOpen(const char* who, const Name& name, int error, bool write) {
  Fail(who, "openFailed", "%s could not be opened for %s: %s.", name.text,
       write ? "writing" : "reading", std::strerror(error));
}

// ReadPETSc's faults, once the file is closed; object: 1-based.
[[noreturn]] void FailRead(const Name& name, int object, const petsc_binary::Status& s) {
  const char* who = "ReadPETSc";
  const long long at = static_cast<long long>(s.at), value = static_cast<long long>(s.value);
  static const char* const kField[] = {"", "rows", "columns", "entries"};
  const char* field = s.at >= 1 && s.at <= 3 ? kField[s.at] : "";
  switch (s.fault) {
    case Fault::Open:
      FailOpen(who, name, static_cast<int>(s.value), false);
    case Fault::Truncated:
      Fail(who, "truncated",
           "%s ends inside object %d: %lld bytes are left and the object needs %lld.", name.text,
           object, at, value);
    case Fault::ClassId:
      Fail(who, "notPETSc",
           "%s is not a file of PETSc's binary format: object %d starts with %lld, not a class "
           "id of a vector (1211214) or a matrix (1211216).",
           name.text, object, value);
    case Fault::Unsupported:
      Fail(who, "unsupported", "%s: object %d is %s; vectors and sparse (AIJ) matrices are read.",
           name.text, object,
           value == -1 ? "a matrix stored dense"
                       : "of a PETSc class other than a vector or a matrix");
    case Fault::NegativeSize:
      Fail(who, "badHeader", "%s: object %d has %lld %s.", name.text, object, value, field);
    case Fault::RowLength:
      Fail(who, "badRowLengths",
           "%s: matrix %d gives row %lld %lld entries, below 0, more than its columns or past "
           "its entries.",
           name.text, object, at + 1, value);
    case Fault::RowTotal:
      Fail(who, "badRowLengths", "%s: matrix %d's row lengths sum to %lld, not its entries.",
           name.text, object, value);
    case Fault::Column:
      Fail(who, "badColumns",
           "%s: matrix %d's entry %lld has column %lld: outside the matrix, or not above the "
           "entry before it in its row.",
           name.text, object, at + 1, value);
    case Fault::OutOfMemory:
      Fail(who, "outOfMemory", "%s could not be read: no memory for its buffers.", name.text);
    default:
      Fail(who, "readFailed", "%s could not be read (object %d): %s.", name.text, object,
           std::strerror(static_cast<int>(s.value != 0 ? s.value : EIO)));
  }
}

// Opens for reading, or raises (nothing of ours is held then).
petsc_binary::File OpenToRead(const Name& name) {
  petsc_binary::File file;
  const petsc_binary::Status s = petsc_binary::Open(name.text, false, &file);
  if (s.fault != Fault::None) FailRead(name, 1, s);
  return file;
}

}  // namespace

void RunReadPETSc(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const char* who = "ReadPETSc";
  if (nrhs != 1) mexErrMsgTxt("1 input expected, as in [A1, A2, ...] = ReadPETScCore(name)");
  const Name name = ReadName(who, prhs[0]);
  const int objects = nlhs > 1 ? nlhs : 1;
  std::uint64_t offset = 0;
  for (int k = 0; k < objects; ++k) {
    petsc_binary::File file = OpenToRead(name);
    petsc_binary::Object o{};
    petsc_binary::Status s{};
    if (offset == file.size) {
      petsc_binary::Close(&file);
      Fail(who, "tooFewObjects", "%s holds %d object%s; %d were asked for.", name.text, k,
           k == 1 ? "" : "s", objects);
    }
    s = petsc_binary::ReadHeader(file, offset, &o);
    if (s.fault == Fault::None && o.classId == petsc_binary::kMatrixClass) {
      s = petsc_binary::CheckMatrix(file, o, nullptr);
    }
    petsc_binary::Close(&file);
    if (s.fault != Fault::None) FailRead(name, k + 1, s);
    const std::size_t most = MaxOutputElements();
    const std::size_t rows = static_cast<std::size_t>(o.rows),
                      cols = static_cast<std::size_t>(o.cols);
    if (rows > most || cols > most || static_cast<std::size_t>(o.entries) > most) {
      Fail(who, "tooLarge",
           "%s: object %d (%zu x %zu, %lld entries) is larger than this host's "
           "arrays.",
           name.text, k + 1, rows, cols, static_cast<long long>(o.entries));
    }
    // The output, with the file closed.
    double* x = nullptr;
    mwIndex *jc = nullptr, *ir = nullptr;
    if (o.classId == petsc_binary::kVectorClass) {
      Outputs made(k + 1, plhs);
      x = made.Matrix(k, rows, 1, Outputs::Fill::Caller);
    } else {
      // A short file may declare a large matrix (its columns cost the host a start each): asked
      // of the system first, as the twins ask for their outputs.
      const std::size_t stored = o.entries > 0 ? static_cast<std::size_t>(o.entries) : 1;
      if (!ResultsFit((cols + 1) * sizeof(mwIndex) + stored * (sizeof(mwIndex) + sizeof(double)))) {
        Fail(who, "outOfMemory",
             "%s: matrix %d (%zu x %zu, %lld entries) needs more memory than the system could "
             "give.",
             name.text, k + 1, rows, cols, static_cast<long long>(o.entries));
      }
      plhs[k] = mxCreateSparse(rows, cols, o.entries > 0 ? static_cast<std::size_t>(o.entries) : 1,
                               mxREAL);
      x = mxGetPr(plhs[k]);
      jc = mxGetJc(plhs[k]);
      ir = mxGetIr(plhs[k]);
    }
    file = OpenToRead(name);
    s = jc == nullptr ? petsc_binary::ReadVector(file, o, x)
                      : petsc_binary::ReadMatrix(file, o, jc, ir, x);
    petsc_binary::Close(&file);
    if (s.fault != Fault::None) FailRead(name, k + 1, s);
    offset += o.bytes;
  }
}

void RunWritePETSc(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  (void)plhs;
  const char* who = "WritePETSc";
  if (nrhs < 2) {
    mexErrMsgTxt("2 or more inputs expected, as in WritePETScCore(name, A1, A2, ...)");
  }
  if (nlhs > 0)
    Fail(who, "tooManyOutputs", "%d outputs were requested; WritePETSc has none.", nlhs);
  const Name name = ReadName(who, prhs[0]);
  const std::size_t most = static_cast<std::size_t>(petsc_binary::kMaxIndex);
  for (int k = 1; k < nrhs; ++k) {
    const mxArray* a = prhs[k];
    if (!mxIsDouble(a)) {
      Fail(who, "notDouble", "argument %d must be a real double array (sparse or full), found %s.",
           k + 1, mxGetClassName(a));
    }
    if (mxIsComplex(a)) {
      Fail(who, "complex", "argument %d must be real: PETSc's real build reads real values.",
           k + 1);
    }
    const std::size_t m = mxGetM(a), n = mxGetN(a);
    const std::size_t entries = mxIsSparse(a)        ? static_cast<std::size_t>(mxGetJc(a)[n])
                                : (m == 1 || n == 1) ? m * n
                                                     : 0;
    if (m > most || n > most || entries > most) {
      Fail(who, "tooLarge",
           "argument %d (%zu x %zu, %zu entries) does not fit PETSc's 32-bit indices: sizes and "
           "entries must be at most 2^31 - 1 = %zu.",
           k + 1, m, n, entries, most);
    }
  }
  petsc_binary::File file;
  petsc_binary::Status s = petsc_binary::Open(name.text, true, &file);
  if (s.fault != Fault::None) FailOpen(who, name, static_cast<int>(s.value), true);
  for (int k = 1; k < nrhs && s.fault == Fault::None; ++k) {
    const mxArray* a = prhs[k];
    const std::size_t m = mxGetM(a), n = mxGetN(a);
    if (mxIsSparse(a)) {
      s = petsc_binary::WriteSparse(&file, m, n, mxGetJc(a), mxGetIr(a), mxGetPr(a));
    } else if (m == 1 || n == 1 || m * n == 0) {
      s = petsc_binary::WriteVector(&file, mxGetPr(a), m * n);
    } else {
      s = petsc_binary::WriteFull(&file, m, n, mxGetPr(a));
    }
    if (s.fault != Fault::None) {
      const petsc_binary::Status closed = petsc_binary::Close(&file);
      (void)closed;
      petsc_binary::Remove(name.text);
      if (s.fault == Fault::TooLarge) {
        Fail(who, "tooLarge", "argument %d has more than 2^31 - 1 entries that are not 0.", k + 1);
      }
      if (s.fault == Fault::OutOfMemory) {
        Fail(who, "outOfMemory", "%s could not be written: no memory for argument %d's buffers.",
             name.text, k + 1);
      }
      Fail(who, "writeFailed", "%s could not be written (argument %d): %s.", name.text, k + 1,
           std::strerror(static_cast<int>(s.value != 0 ? s.value : EIO)));
    }
  }
  s = petsc_binary::Close(&file);
  if (s.fault != Fault::None) {
    petsc_binary::Remove(name.text);
    Fail(who, "writeFailed", "%s could not be written: %s.", name.text,
         std::strerror(static_cast<int>(s.value != 0 ? s.value : EIO)));
  }
}

}  // namespace gateway
