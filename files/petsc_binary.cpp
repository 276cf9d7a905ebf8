#include "petsc_binary.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace petsc_binary {
namespace {

constexpr Status kOk{Fault::None, 0, 0};

Status Failed(Fault fault, std::int64_t at = 0, std::int64_t value = 0) {
  return {fault, at, value};
}

bool Seek(std::FILE* f, std::uint64_t at) {
#if defined(_WIN32)
  return _fseeki64(f, static_cast<__int64>(at), SEEK_SET) == 0;
#else
  return fseeko(f, static_cast<off_t>(at), SEEK_SET) == 0;
#endif
}

std::uint32_t Get32(const unsigned char* b) {
  return static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
         static_cast<std::uint32_t>(b[2]) << 8 | static_cast<std::uint32_t>(b[3]);
}

void Put32(std::uint32_t v, unsigned char* b) {
  b[0] = static_cast<unsigned char>(v >> 24);
  b[1] = static_cast<unsigned char>(v >> 16);
  b[2] = static_cast<unsigned char>(v >> 8);
  b[3] = static_cast<unsigned char>(v);
}

std::int32_t GetInt(const unsigned char* b) {
  const std::uint32_t u = Get32(b);
  std::int32_t v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

double GetDouble(const unsigned char* b) {
  const std::uint64_t u = static_cast<std::uint64_t>(Get32(b)) << 32 | Get32(b + 4);
  double v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

void PutInt(std::int64_t v, unsigned char* b) { Put32(static_cast<std::uint32_t>(v), b); }

void PutDouble(double v, unsigned char* b) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  Put32(static_cast<std::uint32_t>(u >> 32), b);
  Put32(static_cast<std::uint32_t>(u), b + 4);
}

// Elements of the buffer of one stream.
constexpr std::size_t kChunk = 8192;

// One of a matrix's three arrays read in order, `width` bytes an element, through a buffer of
// kChunk elements refilled where it left off (the streams share the file, so each seeks).
class In {
 public:
  In(const File& file, std::uint64_t at, std::int64_t count, int width, unsigned char* buffer)
      : f_(file.f), at_(at), left_(count), width_(width), buffer_(buffer) {}
  // The next element's bytes, or nullptr where the file could not be read.
  const unsigned char* Next() {
    if (pos_ == fill_) {
      const std::size_t n =
          left_ < static_cast<std::int64_t>(kChunk) ? static_cast<std::size_t>(left_) : kChunk;
      if (n == 0 || !Seek(f_, at_) ||
          std::fread(buffer_, static_cast<std::size_t>(width_), n, f_) != n) {
        return nullptr;
      }
      at_ += n * static_cast<std::uint64_t>(width_);
      left_ -= static_cast<std::int64_t>(n);
      fill_ = n;
      pos_ = 0;
    }
    return buffer_ + (pos_++) * static_cast<std::size_t>(width_);
  }

 private:
  std::FILE* f_;
  std::uint64_t at_;
  std::int64_t left_;
  int width_;
  unsigned char* buffer_;
  std::size_t fill_ = 0, pos_ = 0;
};

// The same for writing: an array written in order from `at`, flushed a buffer at a time.
class Out {
 public:
  Out(File* file, std::uint64_t at, int width, unsigned char* buffer)
      : file_(file), at_(at), width_(width), buffer_(buffer) {}
  unsigned char* Next() {
    if (fill_ == kChunk && !Flush()) return nullptr;
    return buffer_ + (fill_++) * static_cast<std::size_t>(width_);
  }
  bool Flush() {
    if (fill_ == 0) return true;
    if (!Seek(file_->f, at_) ||
        std::fwrite(buffer_, static_cast<std::size_t>(width_), fill_, file_->f) != fill_) {
      return false;
    }
    at_ += fill_ * static_cast<std::uint64_t>(width_);
    if (at_ > file_->size) file_->size = at_;
    fill_ = 0;
    return true;
  }

 private:
  File* file_;
  std::uint64_t at_;
  int width_;
  unsigned char* buffer_;
  std::size_t fill_ = 0;
};

// Buffers of `streams` streams of 8-byte elements for f(buffers), freed after it. By hand, not
// by a destructor: a destructor would bring the C++ unwinder into every plug-in that reads.
struct Buffers {
  unsigned char* block;
  unsigned char* at(int k) const { return block + static_cast<std::size_t>(k) * kChunk * 8; }
};

template <typename F>
Status WithBuffers(int streams, F f) {
  Buffers b{
      static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(streams) * kChunk * 8))};
  if (b.block == nullptr) return Failed(Fault::OutOfMemory);
  const Status s = f(b);
  std::free(b.block);
  return s;
}

// A matrix's three arrays as streams.
struct MatrixStreams {
  MatrixStreams(const File& file, const Object& o, const Buffers& b)
      : lengths(file, o.offset + 16, o.rows, 4, b.at(0)),
        columns(file, o.offset + 16 + 4 * static_cast<std::uint64_t>(o.rows), o.entries, 4,
                b.at(1)),
        values(file,
               o.offset + 16 + 4 * static_cast<std::uint64_t>(o.rows) +
                   4 * static_cast<std::uint64_t>(o.entries),
               o.entries, 8, b.at(2)) {}
  In lengths, columns, values;
};

// Every entry of a checked matrix in the file's order, row by row: visit(row, column, value).
template <typename Visit>
Status ForEachEntryWith(const File& file, const Object& o, Visit visit, const Buffers& buffers) {
  MatrixStreams s(file, o, buffers);
  for (std::int64_t i = 0; i < o.rows; ++i) {
    const unsigned char* l = s.lengths.Next();
    if (l == nullptr) return Failed(Fault::Read);
    const std::int32_t length = GetInt(l);
    for (std::int32_t k = 0; k < length; ++k) {
      const unsigned char* c = s.columns.Next();
      const unsigned char* v = s.values.Next();
      if (c == nullptr || v == nullptr) return Failed(Fault::Read);
      if (!visit(i, GetInt(c), GetDouble(v))) return Failed(Fault::Read);
    }
  }
  return kOk;
}

template <typename Visit>
Status ForEachEntry(const File& file, const Object& o, Visit visit) {
  return WithBuffers(3, [&](const Buffers& b) { return ForEachEntryWith(file, o, visit, b); });
}

}  // namespace

Status Open(const char* name, bool write, File* file) {
  file->f = nullptr;
  file->size = 0;
#if defined(_WIN32)
  const int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
  if (wide <= 0) return Failed(Fault::Open, 0, EINVAL);
  wchar_t* w = static_cast<wchar_t*>(std::malloc(static_cast<std::size_t>(wide) * sizeof(wchar_t)));
  if (w == nullptr) return Failed(Fault::OutOfMemory);
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, w, wide);
  errno = 0;
  file->f = _wfopen(w, write ? L"wb" : L"rb");
  std::free(w);
#else
  errno = 0;
  file->f = std::fopen(name, write ? "wb" : "rb");
#endif
  if (file->f == nullptr) return Failed(Fault::Open, 0, errno);
  if (!write) {
#if defined(_WIN32)
    const bool end = _fseeki64(file->f, 0, SEEK_END) == 0;
    const __int64 size = end ? _ftelli64(file->f) : -1;
#else
    const bool end = fseeko(file->f, 0, SEEK_END) == 0;
    const off_t size = end ? ftello(file->f) : -1;
#endif
    if (size < 0) {
      std::fclose(file->f);
      file->f = nullptr;
      return Failed(Fault::Read, 0, errno);
    }
    file->size = static_cast<std::uint64_t>(size);
  }
  return kOk;
}

bool Remove(const char* name) {
#if defined(_WIN32)
  wchar_t w[4097];
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, w, 4097) <= 0) return false;
  return _wremove(w) == 0;
#else
  return std::remove(name) == 0;
#endif
}

Status Close(File* file) {
  if (file->f == nullptr) return kOk;
  errno = 0;
  const bool failed = std::ferror(file->f) != 0;
  const bool closed = std::fclose(file->f) == 0;
  file->f = nullptr;
  return failed || !closed ? Failed(Fault::Write, 0, errno) : kOk;
}

Status ReadHeader(const File& file, std::uint64_t offset, Object* o) {
  const std::uint64_t left = offset <= file.size ? file.size - offset : 0;
  unsigned char h[16];
  const std::size_t have = left < 16 ? static_cast<std::size_t>(left) : 16;
  if (have < 8) return Failed(Fault::Truncated, static_cast<std::int64_t>(left), 8);
  if (!Seek(file.f, offset) || std::fread(h, 1, have, file.f) != have) {
    return Failed(Fault::Read);
  }
  o->classId = GetInt(h);
  o->offset = offset;
  if (o->classId == kVectorClass) {
    const std::int32_t n = GetInt(h + 4);
    if (n < 0) return Failed(Fault::NegativeSize, 1, n);
    o->rows = o->entries = n;
    o->cols = 1;
    o->bytes = 8 + 8 * static_cast<std::uint64_t>(n);
  } else if (o->classId == kMatrixClass) {
    if (have < 16) return Failed(Fault::Truncated, static_cast<std::int64_t>(left), 16);
    const std::int32_t m = GetInt(h + 4), n = GetInt(h + 8), nz = GetInt(h + 12);
    if (nz == -1) return Failed(Fault::Unsupported, 0, -1);
    if (m < 0) return Failed(Fault::NegativeSize, 1, m);
    if (n < 0) return Failed(Fault::NegativeSize, 2, n);
    if (nz < 0) return Failed(Fault::NegativeSize, 3, nz);
    o->rows = m;
    o->cols = n;
    o->entries = nz;
    o->bytes = 16 + 4 * static_cast<std::uint64_t>(m) + 12 * static_cast<std::uint64_t>(nz);
  } else if (o->classId >= 1211211 && o->classId <= 1211230) {
    // PETSc's other classes (index sets, distributed arrays, ...).
    return Failed(Fault::Unsupported, 0, o->classId);
  } else {
    return Failed(Fault::ClassId, 0, o->classId);
  }
  if (o->bytes > left) {
    return Failed(Fault::Truncated, static_cast<std::int64_t>(left),
                  static_cast<std::int64_t>(o->bytes));
  }
  return kOk;
}

Status ReadVector(const File& file, const Object& o, double* x) {
  return WithBuffers(1, [&](const Buffers& buffers) {
    In values(file, o.offset + 8, o.entries, 8, buffers.at(0));
    for (std::int64_t k = 0; k < o.entries; ++k) {
      const unsigned char* v = values.Next();
      if (v == nullptr) return Failed(Fault::Read);
      x[k] = GetDouble(v);
    }
    return kOk;
  });
}

namespace {

Status CheckMatrixWith(const File& file, const Object& o, std::int64_t* nonzeros,
                       const Buffers& buffers) {
  MatrixStreams s(file, o, buffers);
  std::int64_t entry = 0, count = 0;
  for (std::int64_t i = 0; i < o.rows; ++i) {
    const unsigned char* l = s.lengths.Next();
    if (l == nullptr) return Failed(Fault::Read);
    const std::int32_t length = GetInt(l);
    if (length < 0 || length > o.cols || length > o.entries - entry) {
      return Failed(Fault::RowLength, i, length);
    }
    std::int64_t before = -1;
    for (std::int32_t k = 0; k < length; ++k, ++entry) {
      const unsigned char* c = s.columns.Next();
      if (c == nullptr) return Failed(Fault::Read);
      const std::int32_t column = GetInt(c);
      if (column <= before || column >= o.cols) return Failed(Fault::Column, entry, column);
      before = column;
      if (nonzeros != nullptr) {
        const unsigned char* v = s.values.Next();
        if (v == nullptr) return Failed(Fault::Read);
        if (GetDouble(v) != 0.0) ++count;
      }
    }
  }
  if (entry != o.entries) return Failed(Fault::RowTotal, 0, entry);
  if (nonzeros != nullptr) *nonzeros = count;
  return kOk;
}

}  // namespace

Status CheckMatrix(const File& file, const Object& o, std::int64_t* nonzeros) {
  return WithBuffers(3, [&](const Buffers& b) { return CheckMatrixWith(file, o, nonzeros, b); });
}

template <typename Index>
Status ReadMatrix(const File& file, const Object& o, Index* jc, Index* ir, double* pr) {
  const std::size_t n = static_cast<std::size_t>(o.cols);
  for (std::size_t j = 0; j <= n; ++j) jc[j] = 0;
  // Counts a column, then the columns' starts; the file may have changed since it was checked,
  // so every index is checked again against what the output holds.
  Status s = ForEachEntry(file, o, [&](std::int64_t, std::int32_t c, double v) {
    if (c < 0 || c >= o.cols) return false;
    if (v != 0.0) ++jc[c + 1];
    return true;
  });
  if (s.fault != Fault::None) return s;
  for (std::size_t j = 0; j < n; ++j) jc[j + 1] += jc[j];
  const Index total = jc[n];
  if (static_cast<std::int64_t>(total) > o.entries) return Failed(Fault::Read);
  s = ForEachEntry(file, o, [&](std::int64_t i, std::int32_t c, double v) {
    if (c < 0 || c >= o.cols) return false;
    if (v == 0.0) return true;
    const Index k = jc[c]++;
    if (k >= total || k >= jc[c + 1]) return false;
    ir[k] = static_cast<Index>(i);
    pr[k] = v;
    return true;
  });
  if (s.fault != Fault::None) return s;
  for (std::size_t j = n; j > 0; --j) jc[j] = jc[j - 1];
  jc[0] = 0;
  return kOk;
}

template Status ReadMatrix<std::size_t>(const File&, const Object&, std::size_t*, std::size_t*,
                                        double*);
template Status ReadMatrix<std::int64_t>(const File&, const Object&, std::int64_t*, std::int64_t*,
                                         double*);
template Status ReadMatrix<std::int32_t>(const File&, const Object&, std::int32_t*, std::int32_t*,
                                         double*);

Status WriteVector(File* file, const double* x, std::size_t n) {
  if (n > static_cast<std::size_t>(kMaxIndex)) {
    return Failed(Fault::TooLarge, 1, static_cast<std::int64_t>(n));
  }
  return WithBuffers(1, [&](const Buffers& buffers) {
    Out out(file, file->size, 4, buffers.at(0));
    unsigned char* b;
    if ((b = out.Next()) == nullptr) return Failed(Fault::Write, 0, errno);
    PutInt(kVectorClass, b);
    if ((b = out.Next()) == nullptr) return Failed(Fault::Write, 0, errno);
    PutInt(static_cast<std::int64_t>(n), b);
    if (!out.Flush()) return Failed(Fault::Write, 0, errno);
    Out values(file, file->size, 8, buffers.at(0));
    for (std::size_t k = 0; k < n; ++k) {
      if ((b = values.Next()) == nullptr) return Failed(Fault::Write, 0, errno);
      PutDouble(x[k], b);
    }
    return values.Flush() ? kOk : Failed(Fault::Write, 0, errno);
  });
}

namespace {

// The header and row lengths of an m x n matrix of nnz entries, counts[i] in row i.
Status WriteMatrixHead(File* file, std::size_t m, std::size_t n, std::size_t nnz,
                       const std::int32_t* counts, unsigned char* buffer) {
  Out out(file, file->size, 4, buffer);
  const std::int64_t head[4] = {kMatrixClass, static_cast<std::int64_t>(m),
                                static_cast<std::int64_t>(n), static_cast<std::int64_t>(nnz)};
  unsigned char* b;
  for (std::int64_t v : head) {
    if ((b = out.Next()) == nullptr) return Failed(Fault::Write, 0, errno);
    PutInt(v, b);
  }
  for (std::size_t i = 0; i < m; ++i) {
    if ((b = out.Next()) == nullptr) return Failed(Fault::Write, 0, errno);
    PutInt(counts[i], b);
  }
  return out.Flush() ? kOk : Failed(Fault::Write, 0, errno);
}

Status CheckSizes(std::size_t m, std::size_t n, std::size_t nnz) {
  const std::size_t most = static_cast<std::size_t>(kMaxIndex);
  if (m > most) return Failed(Fault::TooLarge, 1, static_cast<std::int64_t>(m));
  if (n > most) return Failed(Fault::TooLarge, 2, static_cast<std::int64_t>(n));
  if (nnz > most) return Failed(Fault::TooLarge, 3, static_cast<std::int64_t>(nnz));
  return kOk;
}

}  // namespace

template <typename Index>
Status WriteSparse(File* file, std::size_t m, std::size_t n, const Index* jc, const Index* ir,
                   const double* pr) {
  const std::size_t nnz = static_cast<std::size_t>(jc[n]);
  Status s = CheckSizes(m, n, nnz);
  if (s.fault != Fault::None) return s;
  // The rows in blocks of at most `chunk` entries (and rows), each scattered into the block's
  // buffers from every column's cursor: a sweep of the columns per block, so the block is large
  // enough for some 16 blocks in all but never less than 2^16 entries; halved where memory is
  // short. A row longer than the block goes alone, straight from the columns to the file.
  std::size_t chunk = nnz / 16 < (std::size_t{1} << 16) ? std::size_t{1} << 16 : nnz / 16;
  std::int32_t* counts = static_cast<std::int32_t*>(std::malloc((m + 1) * sizeof(std::int32_t)));
  Index* cursor = static_cast<Index*>(std::malloc((n + 1) * sizeof(Index)));
  unsigned char* block = static_cast<unsigned char*>(std::malloc(chunk * (4 + 8 + 4)));
  while (block == nullptr && chunk > 1024) {
    chunk /= 2;
    block = static_cast<unsigned char*>(std::malloc(chunk * (4 + 8 + 4)));
  }
  const Buffers buffers{static_cast<unsigned char*>(std::malloc(2 * kChunk * 8))};
  if (counts == nullptr || cursor == nullptr || block == nullptr || buffers.block == nullptr) {
    std::free(counts);
    std::free(cursor);
    std::free(block);
    std::free(buffers.block);
    return Failed(Fault::OutOfMemory);
  }
  std::int32_t* columns = reinterpret_cast<std::int32_t*>(block);
  double* values = reinterpret_cast<double*>(block + 4 * chunk);
  std::int32_t* fill = reinterpret_cast<std::int32_t*>(block + 12 * chunk);
  for (std::size_t i = 0; i < m; ++i) counts[i] = 0;
  for (std::size_t k = 0; k < nnz; ++k) ++counts[ir[k]];
  for (std::size_t j = 0; j < n; ++j) cursor[j] = jc[j];
  s = WriteMatrixHead(file, m, n, nnz, counts, buffers.at(0));
  const std::uint64_t start = file->size;
  Out indices(file, start, 4, buffers.at(0));
  Out entries(file, start + 4 * static_cast<std::uint64_t>(nnz), 8, buffers.at(1));
  bool ok = s.fault == Fault::None;
  for (std::size_t r0 = 0; ok && r0 < m;) {
    std::size_t r1 = r0, taken = 0;
    while (r1 < m && r1 - r0 < chunk && taken + static_cast<std::size_t>(counts[r1]) <= chunk) {
      taken += static_cast<std::size_t>(counts[r1++]);
    }
    if (r1 == r0) {
      // One row longer than the block.
      for (std::size_t j = 0; ok && j < n; ++j) {
        if (cursor[j] < jc[j + 1] && static_cast<std::size_t>(ir[cursor[j]]) == r0) {
          unsigned char* c = indices.Next();
          unsigned char* v = entries.Next();
          ok = c != nullptr && v != nullptr;
          if (ok) {
            PutInt(static_cast<std::int64_t>(j), c);
            PutDouble(pr[cursor[j]++], v);
          }
        }
      }
      ++r0;
      continue;
    }
    std::int32_t at = 0;
    for (std::size_t i = r0; i < r1; ++i) {
      fill[i - r0] = at;
      at += counts[i];
    }
    for (std::size_t j = 0; j < n; ++j) {
      for (Index k = cursor[j]; k < jc[j + 1] && static_cast<std::size_t>(ir[k]) < r1; ++k) {
        const std::int32_t slot = fill[static_cast<std::size_t>(ir[k]) - r0]++;
        columns[slot] = static_cast<std::int32_t>(j);
        values[slot] = pr[k];
        cursor[j] = k + 1;
      }
    }
    for (std::size_t k = 0; ok && k < taken; ++k) {
      unsigned char* c = indices.Next();
      unsigned char* v = entries.Next();
      ok = c != nullptr && v != nullptr;
      if (ok) {
        PutInt(columns[k], c);
        PutDouble(values[k], v);
      }
    }
    r0 = r1;
  }
  ok = ok && indices.Flush() && entries.Flush();
  const int error = errno;
  std::free(counts);
  std::free(cursor);
  std::free(block);
  std::free(buffers.block);
  if (s.fault != Fault::None) return s;
  return ok ? kOk : Failed(Fault::Write, 0, error);
}

template Status WriteSparse<std::size_t>(File*, std::size_t, std::size_t, const std::size_t*,
                                         const std::size_t*, const double*);
template Status WriteSparse<std::int64_t>(File*, std::size_t, std::size_t, const std::int64_t*,
                                          const std::int64_t*, const double*);
template Status WriteSparse<std::int32_t>(File*, std::size_t, std::size_t, const std::int32_t*,
                                          const std::int32_t*, const double*);

Status WriteFull(File* file, std::size_t m, std::size_t n, const double* a) {
  Status s = CheckSizes(m, n, 0);
  if (s.fault != Fault::None) return s;
  std::size_t nnz = 0;
  for (std::size_t k = 0; k < m * n; ++k) nnz += a[k] != 0.0;
  s = CheckSizes(m, n, nnz);
  if (s.fault != Fault::None) return s;
  std::int32_t* counts = static_cast<std::int32_t*>(std::calloc(m + 1, sizeof(std::int32_t)));
  const Buffers buffers{static_cast<unsigned char*>(std::malloc(2 * kChunk * 8))};
  if (counts == nullptr || buffers.block == nullptr) {
    std::free(counts);
    std::free(buffers.block);
    return Failed(Fault::OutOfMemory);
  }
  for (std::size_t i = 0; i < m; ++i) {
    std::int32_t c = 0;
    for (std::size_t j = 0; j < n; ++j) c += a[i + m * j] != 0.0;
    counts[i] = c;
  }
  s = WriteMatrixHead(file, m, n, nnz, counts, buffers.at(0));
  std::free(counts);
  const std::uint64_t start = file->size;
  Out indices(file, start, 4, buffers.at(0));
  Out entries(file, start + 4 * static_cast<std::uint64_t>(nnz), 8, buffers.at(1));
  bool ok = s.fault == Fault::None;
  for (std::size_t i = 0; ok && i < m; ++i) {
    for (std::size_t j = 0; ok && j < n; ++j) {
      const double v = a[i + m * j];
      if (v == 0.0) continue;
      unsigned char* c = indices.Next();
      unsigned char* e = entries.Next();
      ok = c != nullptr && e != nullptr;
      if (ok) {
        PutInt(static_cast<std::int64_t>(j), c);
        PutDouble(v, e);
      }
    }
  }
  ok = ok && indices.Flush() && entries.Flush();
  const int error = errno;
  std::free(buffers.block);
  if (s.fault != Fault::None) return s;
  return ok ? kOk : Failed(Fault::Write, 0, error);
}

}  // namespace petsc_binary
