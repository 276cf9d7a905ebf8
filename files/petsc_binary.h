// PETSc's binary file format, read and written without PETSc and free of the host.
//
// A file is a sequence of objects, every number big-endian, indices 32-bit (PETSc's default
// build, Debian's among them):
//   vector  int32 1211214, int32 n, then n doubles
//   matrix  int32 1211216, int32 M, int32 N, int32 nz, then M int32 row lengths, nz int32 column
//           indices (0-based, row by row, ascending within a row), nz doubles (the same order)
// A matrix is compressed by rows there; the host's sparse matrices are compressed by columns.
// Both directions stream through a bounded buffer: no transposed copy is made, only a count per
// row (writing) or the output's own column starts (reading) and a cursor per column.
//
// Reading checks every field of a header against the bytes the file has left before anything is
// sized by it, and every row length and column index before the output is made, so that a file
// that is truncated, corrupt or not PETSc's at all is a fault with its position, never a read
// out of bounds, a large allocation or a loop without end.
#ifndef NURBS_FILES_PETSC_BINARY_H_
#define NURBS_FILES_PETSC_BINARY_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace petsc_binary {

constexpr std::int32_t kVectorClass = 1211214;
constexpr std::int32_t kMatrixClass = 1211216;
// The largest size, row count, column count or entry count a 32-bit index holds.
constexpr std::int64_t kMaxIndex = 2147483647;

enum class Fault {
  None,
  Open,          // the file could not be opened (detail: errno)
  Read,          // a read failed
  Write,         // a write failed (a full disk: detail errno)
  Truncated,     // the file ends inside an object: at, what it holds; value, what it needs
  ClassId,       // not an object of this format: value, the class id found
  Unsupported,   // an object of the format this reader does not take: value, the class id,
                 // or -1 for a matrix stored dense
  NegativeSize,  // a size below 0: at, which field (1 rows, 2 columns, 3 entries); value
  RowLength,     // row `at` has `value` entries: below 0, more than the columns, or past nz
  RowTotal,      // the row lengths sum to `value`, not nz
  Column,        // entry `at` (0-based, in the file's order) has column `value`: outside
                 // 0..N-1, or not above the one before it in its row
  TooLarge,      // a size, or the entries, above kMaxIndex: at, which (1 rows, 2 columns,
                 // 3 entries); value, the size
  OutOfMemory,   // the buffer could not be had
};

struct Status {
  Fault fault;
  std::int64_t at, value;
};

// An open file and its size in bytes (reading); its size so far (writing).
struct File {
  std::FILE* f;
  std::uint64_t size;
};

// Opens the file named in UTF-8 for reading or for writing (created or emptied). Windows: the
// name is converted to UTF-16 for the system. The size is read at opening.
Status Open(const char* name, bool write, File* file);
// Removes the file named in UTF-8 (a partly written one); whether it could be.
bool Remove(const char* name);
// Closes; for a written file, whether everything reached the system (a late fault of a full disk).
Status Close(File* file);

// One object's header, at `offset` bytes into the file; bytes: the whole object's.
struct Object {
  std::int32_t classId;
  std::int64_t rows, cols, entries;  // a vector: rows = entries = n, cols = 1
  std::uint64_t offset, bytes;
};

// Reads the header at offset and checks it against the file's size: a known class, sizes at
// least 0, and the object's whole length within the file.
Status ReadHeader(const File& file, std::uint64_t offset, Object* object);

// A vector's n values into x.
Status ReadVector(const File& file, const Object& object, double* x);

// A matrix's row lengths and column indices, checked, without its values being read and without
// an allocation but the buffer's; *nonzeros: the entries whose value is not 0 (they need its
// values: counted only where nonzeros is not nullptr).
Status CheckMatrix(const File& file, const Object& object, std::int64_t* nonzeros);

// The matrix (checked by CheckMatrix) compressed by columns: jc[0..N], ir and pr of the entries
// whose value is not 0 (the host's sparse() keeps no zeros), rows ascending in every column.
template <typename Index>
Status ReadMatrix(const File& file, const Object& object, Index* jc, Index* ir, double* pr);

// Appends a vector of n values.
Status WriteVector(File* file, const double* x, std::size_t n);

// Appends an m x n matrix compressed by columns (jc[0..n], ir, pr; rows ascending in a column),
// every stored entry, rows and columns and entries each at most kMaxIndex (TooLarge before
// anything is written).
template <typename Index>
Status WriteSparse(File* file, std::size_t m, std::size_t n, const Index* jc, const Index* ir,
                   const double* pr);

// Appends an m x n full matrix (column-major) as a sparse one of its entries that are not 0.
Status WriteFull(File* file, std::size_t m, std::size_t n, const double* a);

}  // namespace petsc_binary

#endif  // NURBS_FILES_PETSC_BINARY_H_
