// The pattern of functions that share an element, from each element's list of functions.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "forms.h"

namespace forms {
namespace {

std::size_t Round(std::size_t bytes) { return (bytes + 63) / 64 * 64; }

// The scratch: each function's elements (start n + 1, then the list), a mark a function, one
// column's rows.
struct Layout {
  std::size_t first, elements, mark, column, total;
};

Layout LayoutOf(std::size_t n, std::size_t elements, const std::size_t* start) {
  Layout l{};
  std::size_t at = 0;
  l.first = at;
  at += Round((n + 1) * sizeof(std::size_t));
  l.elements = at;
  at += Round(start[elements] * sizeof(std::size_t));
  l.mark = at;
  at += Round(n * sizeof(std::size_t));
  l.column = at;
  at += Round(n * sizeof(std::size_t));
  l.total = at;
  return l;
}

// Each function's elements, and marks cleared.
void Transpose(std::size_t n, std::size_t elements, const std::size_t* start,
               const std::size_t* rows, const Layout& l, char* base) {
  std::size_t* first = reinterpret_cast<std::size_t*>(base + l.first);
  std::size_t* of = reinterpret_cast<std::size_t*>(base + l.elements);
  std::size_t* mark = reinterpret_cast<std::size_t*>(base + l.mark);
  std::memset(first, 0, (n + 1) * sizeof(std::size_t));
  for (std::size_t k = 0; k < start[elements]; ++k) ++first[rows[k] + 1];
  for (std::size_t a = 0; a < n; ++a) first[a + 1] += first[a];
  for (std::size_t e = 0; e < elements; ++e) {
    for (std::size_t k = start[e]; k < start[e + 1]; ++k) of[first[rows[k]]++] = e;
  }
  for (std::size_t a = n; a > 0; --a) first[a] = first[a - 1];
  first[0] = 0;
  for (std::size_t a = 0; a < n; ++a) mark[a] = SIZE_MAX;
}

// Column J's rows (scalar) into column, unsorted; returns how many.
std::size_t Column(std::size_t J, const std::size_t* start, const std::size_t* rows,
                   const Layout& l, char* base) {
  const std::size_t* first = reinterpret_cast<const std::size_t*>(base + l.first);
  const std::size_t* of = reinterpret_cast<const std::size_t*>(base + l.elements);
  std::size_t* mark = reinterpret_cast<std::size_t*>(base + l.mark);
  std::size_t* column = reinterpret_cast<std::size_t*>(base + l.column);
  std::size_t count = 0;
  for (std::size_t k = first[J]; k < first[J + 1]; ++k) {
    const std::size_t e = of[k];
    for (std::size_t i = start[e]; i < start[e + 1]; ++i) {
      const std::size_t r = rows[i];
      if (mark[r] == J) continue;
      mark[r] = J;
      column[count++] = r;
    }
  }
  return count;
}

}  // namespace

std::size_t ListPatternBytes(std::size_t n, std::size_t elements, const std::size_t* start) {
  return LayoutOf(n, elements, start).total;
}

std::size_t ListPatternCount(std::size_t n, std::size_t elements, const std::size_t* start,
                             const std::size_t* rows, void* scratch) {
  const Layout l = LayoutOf(n, elements, start);
  char* base = static_cast<char*>(scratch);
  Transpose(n, elements, start, rows, l, base);
  std::size_t nnz = 0;
  for (std::size_t J = 0; J < n; ++J) nnz += Column(J, start, rows, l, base);
  return nnz;
}

template <typename Index>
std::size_t ListPattern(int C, std::size_t n, std::size_t elements, const std::size_t* start,
                        const std::size_t* rows, void* scratch, Index* jc, Index* ir) {
  const Layout l = LayoutOf(n, elements, start);
  char* base = static_cast<char*>(scratch);
  std::size_t* column = reinterpret_cast<std::size_t*>(base + l.column);
  std::size_t* mark = reinterpret_cast<std::size_t*>(base + l.mark);
  Transpose(n, elements, start, rows, l, base);
  std::size_t nnz = 0, at = 0;
  jc[0] = 0;
  for (int c2 = 0; c2 < C; ++c2) {
    // Marks are per column: a column met again in the next component starts afresh.
    for (std::size_t a = 0; a < n; ++a) mark[a] = SIZE_MAX;
    for (std::size_t J = 0; J < n; ++J) {
      const std::size_t count = Column(J, start, rows, l, base);
      std::sort(column, column + count);
      for (int c1 = 0; c1 < C; ++c1) {
        const std::size_t shift = static_cast<std::size_t>(c1) * n;
        for (std::size_t k = 0; k < count; ++k) ir[nnz++] = static_cast<Index>(shift + column[k]);
      }
      jc[++at] = static_cast<Index>(nnz);
    }
  }
  return nnz;
}

template std::size_t ListPattern<std::int64_t>(int, std::size_t, std::size_t, const std::size_t*,
                                               const std::size_t*, void*, std::int64_t*,
                                               std::int64_t*);
template std::size_t ListPattern<std::size_t>(int, std::size_t, std::size_t, const std::size_t*,
                                              const std::size_t*, void*, std::size_t*,
                                              std::size_t*);

}  // namespace forms
