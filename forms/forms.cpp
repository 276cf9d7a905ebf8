#include "forms.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "sumfact.h"
#include "threads.h"

namespace forms {
namespace {

using mesh::kMaxDirections;
using mesh::Mesh;

std::size_t Times(std::size_t a, std::size_t b) {
  return b != 0 && a > SIZE_MAX / b ? SIZE_MAX : a * b;
}

// The first element whose span is at least s, in a direction's ascending span table.
int FirstElementFrom(const int* span, int nel, int s) {
  return static_cast<int>(std::lower_bound(span, span + nel, s) - span);
}

// Function i of a direction lives on spans i..i+p: its elements elo..ehi (empty where elo > ehi),
// and the functions it meets there, nlo..nhi.
struct Reach {
  int elo, ehi, nlo, nhi;
};

Reach ReachOf(const Mesh& mesh, int d, int i) {
  const int* span = mesh.span[d];
  const int nel = mesh.nel[d];
  const int p = mesh.space.axis[d].p;
  const int n = mesh.space.axis[d].n;
  Reach r;
  r.elo = FirstElementFrom(span, nel, i);
  r.ehi = FirstElementFrom(span, nel, i + p + 1) - 1;
  if (r.elo > r.ehi) return {1, 0, 1, 0};
  r.nlo = std::max(0, span[r.elo] - p);
  r.nhi = std::min(n - 1, span[r.ehi]);
  return r;
}

// The bound's 1-D factor without the span tables (before anything is allocated): the functions
// each function of the direction meets on the direction's elements first..last (0-based, in
// the order of the non-empty spans), summed.
std::size_t NeighbourPairs(const evaluators::Axis& a, int first, int last) {
  // The non-empty spans of the elements first..last.
  int lo = -1, hi = -2;
  for (int s = a.p, e = 0; s < a.n && e <= last; ++s) {
    if (!(a.U[s] < a.U[s + 1])) continue;
    if (e == first) lo = s;
    hi = s;
    ++e;
  }
  std::size_t pairs = 0;
  for (int i = std::max(0, lo - a.p); i <= std::min(a.n - 1, hi); ++i) {
    int from = -1, to = -1;
    for (int s = std::max({i, a.p, lo}); s <= std::min({i + a.p, a.n - 1, hi}); ++s) {
      if (a.U[s] < a.U[s + 1]) {
        if (from < 0) from = s;
        to = s;
      }
    }
    if (from < 0) continue;
    pairs += static_cast<std::size_t>(std::min(a.n - 1, to) - std::max(0, from - a.p) + 1);
  }
  return pairs;
}

// Chosen elements counted in boxes of the element grid: a summed-volume table.
struct Chosen {
  std::int64_t* sum;  // (nel0 + 1) (nel1 + 1) (nel2 + 1)
  int n[3];           // nel + 1 a direction
  std::int64_t& at(int i, int j, int k) { return sum[i + n[0] * (j + n[1] * k)]; }
  std::int64_t at(int i, int j, int k) const { return sum[i + n[0] * (j + n[1] * k)]; }
  // Chosen elements with e_d in lo[d]..hi[d] for every d.
  std::int64_t Count(const int lo[3], const int hi[3]) const {
    std::int64_t total = 0;
    for (int corner = 0; corner < 8; ++corner) {
      const int i = corner & 1 ? lo[0] : hi[0] + 1;
      const int j = corner & 2 ? lo[1] : hi[1] + 1;
      const int k = corner & 4 ? lo[2] : hi[2] + 1;
      const int sign = ((corner & 1) + ((corner >> 1) & 1) + ((corner >> 2) & 1)) % 2 ? -1 : 1;
      total += sign * at(i, j, k);
    }
    return total;
  }
};

bool AllElements(const Mesh& mesh) { return mesh.elements == nullptr && mesh.side == 0; }

std::size_t GridSize(const Mesh& mesh) {
  std::size_t n = 1;
  for (int d = 0; d < kMaxDirections; ++d) n *= d < mesh.d ? mesh.nel[d] + 1u : 2u;
  return n;
}

std::size_t Round(std::size_t bytes) { return (bytes + 63) / 64 * 64; }

}  // namespace

mesh::Wanted Needs(Kind kind) {
  switch (kind) {
    case Kind::Stiffness:
    case Kind::Advection:
    case Kind::Elasticity:
      return {true, false, false};
    case Kind::Bilaplacian:
      return {false, false, true};
    default:
      return {false, false, false};
  }
}

bool Symmetric(Kind kind) { return kind != Kind::Advection && kind != Kind::Load; }

bool IsVector(Kind kind) { return kind == Kind::Load; }

int Components(const Form& form, const Mesh& mesh) {
  if (form.kind == Kind::Elasticity) return mesh.rdim;
  if (form.kind == Kind::Load) return form.c[0].components;
  return 1;
}

std::size_t Unknowns(const Form& form, const Mesh& mesh) {
  std::size_t n = static_cast<std::size_t>(Components(form, mesh));
  for (int d = 0; d < mesh.d; ++d) n = Times(n, static_cast<std::size_t>(mesh.space.axis[d].n));
  return n;
}

namespace {

// Pairs of functions that share an element, per component pair: every element's, or where fewer
// are evaluated at most the pairs of the box of elements that holds them, and at most nsh^2 for
// each of them (a chunk of consecutive elements gets about its own pairs).
std::size_t PairBound(const Mesh& mesh) {
  int first[kMaxDirections] = {0, 0, 0}, last[kMaxDirections] = {0, 0, 0};
  for (int d = 0; d < mesh.d; ++d) last[d] = mesh.nel[d] - 1;
  const bool all = AllElements(mesh);
  if (!all) {
    for (int d = 0; d < mesh.d; ++d) {
      first[d] = mesh.nel[d];
      last[d] = -1;
    }
    for (std::size_t k = 0; k < mesh.count; ++k) {
      int e[kMaxDirections];
      mesh::ElementIndex(mesh, mesh::ElementAt(mesh, k), e);
      for (int d = 0; d < mesh.d; ++d) {
        first[d] = std::min(first[d], e[d]);
        last[d] = std::max(last[d], e[d]);
      }
    }
    if (mesh.count == 0) return 0;
  }
  // On a side, the fixed direction's functions that vanish there are in no pair.
  int keepFirst = 0, keepLast = -1;
  const int fixed = mesh::SideRange(mesh, &keepFirst, &keepLast);
  std::size_t pairs = 1;
  for (int d = 0; d < mesh.d; ++d) {
    const std::size_t kept = static_cast<std::size_t>(std::max(0, keepLast - keepFirst + 1));
    pairs = Times(pairs, d == fixed ? kept * kept
                                    : NeighbourPairs(mesh.space.axis[d], first[d], last[d]));
  }
  if (!all) {
    const std::size_t nsh = static_cast<std::size_t>(mesh::Functions(mesh));
    pairs = std::min(pairs, Times(mesh.count, Times(nsh, nsh)));
  }
  return pairs;
}

}  // namespace

std::size_t PatternBound(const Form& form, const Mesh& mesh) {
  const std::size_t C = static_cast<std::size_t>(Components(form, mesh));
  return Times(Times(C, C), PairBound(mesh));
}

std::size_t PatternBytes(const Mesh& mesh) {
  std::size_t bytes = 0;
  for (int d = 0; d < mesh.d; ++d) {
    bytes += Round(static_cast<std::size_t>(mesh.space.axis[d].n) * sizeof(Reach));
  }
  if (!AllElements(mesh)) bytes += Round(GridSize(mesh) * sizeof(std::int64_t));
  return bytes;
}

namespace {

// A mesh's columns as its pattern sees them: each direction's reach, and where fewer elements
// are evaluated, the table of the chosen ones. Made in PatternBytes of scratch.
struct Columns {
  const Reach* reach[kMaxDirections];
  int n[kMaxDirections];
  std::ptrdiff_t stride[kMaxDirections];
  Chosen chosen;
  bool all;
  // The functions in the pattern along each direction: all of them, but on a side the fixed
  // direction's that do not vanish there (the others' contributions are 0).
  int keepFirst[kMaxDirections], keepLast[kMaxDirections];
  // Chosen elements that are a few boxes, every element once: each function's reach within each
  // box (no table to consult a pair), from the elements' spans.
  Cover cover;
  const int* span[kMaxDirections];
  int p[kMaxDirections];
};

// The most boxes a pattern takes the chosen elements as (more: the table, pair by pair).
constexpr int kPatternBoxes = 16;

void FreeColumns(Columns* c) { FreeCover(&c->cover); }

Columns MakeColumns(const Mesh& mesh, void* scratch) {
  char* at = static_cast<char*>(scratch);
  Columns c{};
  static const Reach kOne = {0, 0, 0, 0};
  for (int d = 0; d < kMaxDirections; ++d) {
    c.n[d] = 1;
    c.stride[d] = 0;
    if (d >= mesh.d) {
      c.reach[d] = &kOne;
      continue;
    }
    c.n[d] = mesh.space.axis[d].n;
    c.stride[d] = mesh.space.stride[d];
    Reach* r = reinterpret_cast<Reach*>(at);
    for (int i = 0; i < c.n[d]; ++i) r[i] = ReachOf(mesh, d, i);
    c.reach[d] = r;
    at += Round(static_cast<std::size_t>(c.n[d]) * sizeof(Reach));
  }
  for (int d = 0; d < kMaxDirections; ++d) {
    c.keepFirst[d] = 0;
    c.keepLast[d] = c.n[d] - 1;
  }
  int first = 0, last = -1;
  const int fixed = mesh::SideRange(mesh, &first, &last);
  if (fixed >= 0) {
    c.keepFirst[fixed] = first;
    c.keepLast[fixed] = last;
  }
  c.chosen = Chosen{nullptr, {2, 2, 2}};
  c.all = AllElements(mesh);
  c.cover = Cover{0, nullptr, nullptr};
  if (!c.all) {
    Chosen& chosen = c.chosen;
    for (int d = 0; d < mesh.d; ++d) chosen.n[d] = mesh.nel[d] + 1;
    chosen.sum = reinterpret_cast<std::int64_t*>(at);
    std::memset(chosen.sum, 0, GridSize(mesh) * sizeof(std::int64_t));
    for (std::size_t k = 0; k < mesh.count; ++k) {
      int e[kMaxDirections];
      mesh::ElementIndex(mesh, mesh::ElementAt(mesh, k), e);
      ++chosen.at(e[0] + 1, e[1] + 1, e[2] + 1);
    }
    for (int k = 0; k < chosen.n[2]; ++k) {
      for (int j = 0; j < chosen.n[1]; ++j) {
        for (int i = 0; i < chosen.n[0]; ++i) {
          std::int64_t v = chosen.at(i, j, k);
          if (i > 0) v += chosen.at(i - 1, j, k);
          if (j > 0) v += chosen.at(i, j - 1, k);
          if (k > 0) v += chosen.at(i, j, k - 1);
          if (i > 0 && j > 0) v -= chosen.at(i - 1, j - 1, k);
          if (j > 0 && k > 0) v -= chosen.at(i, j - 1, k - 1);
          if (i > 0 && k > 0) v -= chosen.at(i - 1, j, k - 1);
          if (i > 0 && j > 0 && k > 0) v += chosen.at(i - 1, j - 1, k - 1);
          chosen.at(i, j, k) = v;
        }
      }
    }
    // A few boxes, each element once: the pattern from each box's reach.
    Cover cover{};
    if (CoverElements(mesh, &cover)) {
      if (cover.count >= 1 && cover.count <= kPatternBoxes) {
        c.cover = cover;
        for (int d = 0; d < mesh.d; ++d) {
          c.span[d] = mesh.span[d];
          c.p[d] = mesh.space.axis[d].p;
        }
      } else {
        FreeCover(&cover);
      }
    }
  }
  return c;
}

// Whether column (j0, j1, j2) is empty: none of its elements is chosen. A column is skipped
// without visiting its neighbours, so that a chunk costs its unknowns and its own pairs.
bool EmptyColumn(const Columns& c, const int j[3]) {
  for (int d = 0; d < kMaxDirections; ++d) {
    if (j[d] < c.keepFirst[d] || j[d] > c.keepLast[d]) return true;
  }
  if (c.all) return false;
  const Reach* rj[3] = {&c.reach[0][j[0]], &c.reach[1][j[1]], &c.reach[2][j[2]]};
  const int lo[3] = {rj[0]->elo, rj[1]->elo, rj[2]->elo};
  const int hi[3] = {rj[0]->ehi, rj[1]->ehi, rj[2]->ehi};
  if (lo[0] > hi[0] || lo[1] > hi[1] || lo[2] > hi[2]) return true;
  if (c.cover.count == 0) return c.chosen.Count(lo, hi) == 0;
  for (int k = 0; k < c.cover.count; ++k) {
    const Box& box = c.cover.boxes[k];
    bool meets = true;
    for (int d = 0; d < kMaxDirections && meets; ++d) {
      meets = d >= 3 || std::max(lo[d], box.lo[d]) <= std::min(hi[d], box.hi[d] - 1);
    }
    if (meets) return false;
  }
  return true;
}

// A column's rows within each box of the cover: per box and direction the functions of the
// box's elements in the column's reach (empty: first > last).
struct BoxRanges {
  int first[kPatternBoxes][kMaxDirections], last[kPatternBoxes][kMaxDirections];
  int count;
};

void RangesOf(const Columns& c, const int j[3], BoxRanges* r) {
  r->count = 0;
  for (int k = 0; k < c.cover.count; ++k) {
    const Box& box = c.cover.boxes[k];
    bool meets = true;
    int first[kMaxDirections], last[kMaxDirections];
    for (int d = 0; d < kMaxDirections && meets; ++d) {
      const Reach& q = c.reach[d][j[d]];
      if (c.span[d] == nullptr) {  // beyond the mesh's directions
        first[d] = last[d] = 0;
        continue;
      }
      const int elo = std::max(q.elo, box.lo[d]), ehi = std::min(q.ehi, box.hi[d] - 1);
      meets = elo <= ehi;
      if (!meets) break;
      first[d] = std::max({0, c.span[d][elo] - c.p[d], c.keepFirst[d]});
      last[d] = std::min({c.n[d] - 1, c.span[d][ehi], c.keepLast[d]});
      meets = first[d] <= last[d];
    }
    if (!meets) continue;
    for (int d = 0; d < kMaxDirections; ++d) {
      r->first[r->count][d] = first[d];
      r->last[r->count][d] = last[d];
    }
    ++r->count;
  }
}

// Column j's rows (one component), ascending in the mesh's numbering, base + row (or gnum of the
// row minus 1, where gnum is given) into out; returns how many.
template <typename Index>
std::size_t ColumnRows(const Columns& c, const int j[3], std::size_t base, const double* gnum,
                       Index* out) {
  const Reach* rj[3] = {&c.reach[0][j[0]], &c.reach[1][j[1]], &c.reach[2][j[2]]};
  std::size_t count = 0;
  const auto emit = [&](int r0, int r1, int r2) {
    const std::size_t row = static_cast<std::size_t>(r0 + r1 * c.stride[1] + r2 * c.stride[2]);
    out[count++] =
        static_cast<Index>(gnum ? static_cast<std::size_t>(gnum[row]) - 1 : base + row);
  };
  if (c.cover.count > 0) {
    // The union of the boxes' tensor ranges, in order: each line of rows along direction 0 as
    // its boxes' intervals merged.
    BoxRanges r;
    RangesOf(c, j, &r);
    if (r.count == 0) return 0;
    int from[3], to[3];
    for (int d = 0; d < 3; ++d) {
      from[d] = r.first[0][d];
      to[d] = r.last[0][d];
      for (int k = 1; k < r.count; ++k) {
        from[d] = std::min(from[d], r.first[k][d]);
        to[d] = std::max(to[d], r.last[k][d]);
      }
    }
    for (int r2 = from[2]; r2 <= to[2]; ++r2) {
      for (int r1 = from[1]; r1 <= to[1]; ++r1) {
        // The intervals along direction 0 of the boxes holding (r1, r2), merged in order.
        int a[kPatternBoxes], e[kPatternBoxes], n = 0;
        for (int k = 0; k < r.count; ++k) {
          if (r2 < r.first[k][2] || r2 > r.last[k][2] || r1 < r.first[k][1] || r1 > r.last[k][1])
            continue;
          int at = n++;
          for (; at > 0 && a[at - 1] > r.first[k][0]; --at) {
            a[at] = a[at - 1];
            e[at] = e[at - 1];
          }
          a[at] = r.first[k][0];
          e[at] = r.last[k][0];
        }
        int next = -1;  // rows below it are out
        for (int k = 0; k < n; ++k) {
          for (int r0 = std::max(a[k], next); r0 <= e[k]; ++r0) emit(r0, r1, r2);
          next = std::max(next, e[k] + 1);
        }
      }
    }
    return count;
  }
  int from[3], to[3];
  for (int d = 0; d < 3; ++d) {
    from[d] = std::max(rj[d]->nlo, c.keepFirst[d]);
    to[d] = std::min(rj[d]->nhi, c.keepLast[d]);
  }
  for (int r2 = from[2]; r2 <= to[2]; ++r2) {
    for (int r1 = from[1]; r1 <= to[1]; ++r1) {
      for (int r0 = from[0]; r0 <= to[0]; ++r0) {
        if (!c.all) {
          const Reach* rr[3] = {&c.reach[0][r0], &c.reach[1][r1], &c.reach[2][r2]};
          int lo[3], hi[3];
          for (int d = 0; d < 3; ++d) {
            lo[d] = std::max(rj[d]->elo, rr[d]->elo);
            hi[d] = std::min(rj[d]->ehi, rr[d]->ehi);
          }
          if (lo[0] > hi[0] || lo[1] > hi[1] || lo[2] > hi[2]) continue;
          if (c.chosen.Count(lo, hi) == 0) continue;
        }
        emit(r0, r1, r2);
      }
    }
  }
  return count;
}

// The pattern of C components a function.
template <typename Index>
std::size_t ComponentPattern(int C, const Mesh& mesh, void* scratch, Index* jc, Index* ir) {
  Columns c = MakeColumns(mesh, scratch);
  const std::size_t ndof = static_cast<std::size_t>(c.n[0]) * c.n[1] * c.n[2];
  std::size_t nnz = 0;
  jc[0] = 0;
  Index column = 0;
  for (int c2 = 0; c2 < C; ++c2) {
    for (int j2 = 0; j2 < c.n[2]; ++j2) {
      for (int j1 = 0; j1 < c.n[1]; ++j1) {
        for (int j0 = 0; j0 < c.n[0]; ++j0) {
          const int j[3] = {j0, j1, j2};
          if (!EmptyColumn(c, j)) {
            for (int c1 = 0; c1 < C; ++c1) {
              nnz += ColumnRows(c, j, static_cast<std::size_t>(c1) * ndof, nullptr, ir + nnz);
            }
          }
          jc[++column] = static_cast<Index>(nnz);
        }
      }
    }
  }
  FreeColumns(&c);
  return nnz;
}

}  // namespace

template <typename Index>
std::size_t Pattern(const Form& form, const Mesh& mesh, void* scratch, Index* jc, Index* ir) {
  return ComponentPattern(Components(form, mesh), mesh, scratch, jc, ir);
}

std::size_t DomainPatternBound(const Piece pieces[], int count) {
  std::size_t bound = 0;
  for (int i = 0; i < count; ++i) {
    const std::size_t b = PatternBound(pieces[i].form, *pieces[i].mesh);
    bound = b > SIZE_MAX - bound ? SIZE_MAX : bound + b;
  }
  return bound;
}

namespace {

// Functions of a mesh's space.
std::size_t SpaceFunctions(const Mesh& mesh) {
  std::size_t n = 1;
  for (int d = 0; d < mesh.d; ++d) n = Times(n, static_cast<std::size_t>(mesh.space.axis[d].n));
  return n;
}

// The scratch of a domain pattern, in order: every piece's offset, the pieces' columns
// (PatternBytes each, and each piece's Columns), the global columns' starts and sources (piece,
// local column), and for several components a function the merged pattern of one.
struct DomainLayout {
  std::size_t pieces, columns, starts, sources, merged, mergedRows, total;
};

template <typename Index>
DomainLayout DomainLayoutOf(const Piece pieces[], int count, std::size_t ndof) {
  DomainLayout l{};
  std::size_t at = Round((static_cast<std::size_t>(count) + 1) * sizeof(std::size_t));
  std::size_t rows = 0, columns = 0;
  l.pieces = at;
  for (int i = 0; i < count; ++i) {
    at += Round(PatternBytes(*pieces[i].mesh));
    rows += PairBound(*pieces[i].mesh);
    columns += SpaceFunctions(*pieces[i].mesh);
  }
  l.columns = at;
  at += Round(static_cast<std::size_t>(count) * sizeof(Columns));
  l.starts = at;
  at += Round((ndof + 1) * sizeof(std::size_t));
  l.sources = at;
  at += Round(columns * 2 * sizeof(int));
  const bool components = count > 0 && Components(pieces[0].form, *pieces[0].mesh) > 1;
  l.merged = at;
  if (components) at += Round((ndof + 1) * sizeof(Index));
  l.mergedRows = at;
  if (components) at += Round(rows * sizeof(Index));
  l.total = at;
  return l;
}

// A local column's index in each direction.
void Split(const Columns& c, std::size_t b, int j[3]) {
  j[0] = static_cast<int>(b % static_cast<std::size_t>(c.n[0]));
  j[1] = static_cast<int>(b / static_cast<std::size_t>(c.n[0]) % static_cast<std::size_t>(c.n[1]));
  j[2] = static_cast<int>(b / (static_cast<std::size_t>(c.n[0]) * static_cast<std::size_t>(c.n[1])));
}

}  // namespace

std::size_t DomainPatternBytes(const Piece pieces[], int count, std::size_t ndof) {
  return std::max(DomainLayoutOf<std::int64_t>(pieces, count, ndof).total,
                  DomainLayoutOf<std::size_t>(pieces, count, ndof).total);
}

template <typename Index>
std::size_t DomainPattern(const Piece pieces[], int count, std::size_t ndof, void* scratch,
                          Index* jc, Index* ir) {
  char* base = static_cast<char*>(scratch);
  const DomainLayout l = DomainLayoutOf<Index>(pieces, count, ndof);
  std::size_t* offset = reinterpret_cast<std::size_t*>(base);
  std::size_t* start = reinterpret_cast<std::size_t*>(base + l.starts);
  int* source = reinterpret_cast<int*>(base + l.sources);
  const int C = Components(pieces[0].form, *pieces[0].mesh);
  // One component's merged pattern: the result's own where there is one component a function.
  Index* mjc = C > 1 ? reinterpret_cast<Index*>(base + l.merged) : jc;
  Index* mir = C > 1 ? reinterpret_cast<Index*>(base + l.mergedRows) : ir;

  // Each piece's columns, and how many of its columns each global column takes.
  offset[0] = l.pieces;
  std::memset(start, 0, (ndof + 1) * sizeof(std::size_t));
  Columns* columns = reinterpret_cast<Columns*>(base + l.columns);
  for (int i = 0; i < count; ++i) {
    const Mesh& mesh = *pieces[i].mesh;
    offset[i + 1] = offset[i] + Round(PatternBytes(mesh));
    Columns& c = columns[i];
    c = MakeColumns(mesh, base + offset[i]);
    const double* gnum = pieces[i].gnum;
    for (std::size_t b = 0, n = SpaceFunctions(mesh); b < n; ++b) {
      int j[3];
      Split(c, b, j);
      if (!EmptyColumn(c, j)) ++start[static_cast<std::size_t>(gnum[b])];
    }
  }
  for (std::size_t J = 0; J < ndof; ++J) start[J + 1] += start[J];
  for (int i = 0; i < count; ++i) {
    const Mesh& mesh = *pieces[i].mesh;
    const Columns& c = columns[i];
    const double* gnum = pieces[i].gnum;
    for (std::size_t b = 0, n = SpaceFunctions(mesh); b < n; ++b) {
      int j[3];
      Split(c, b, j);
      if (EmptyColumn(c, j)) continue;
      int* s = source + 2 * start[static_cast<std::size_t>(gnum[b]) - 1]++;
      s[0] = i;
      s[1] = static_cast<int>(b);
    }
  }
  for (std::size_t J = ndof; J > 0; --J) start[J] = start[J - 1];
  start[0] = 0;

  // The global columns: their sources' rows mapped, sorted and without repeats where more than
  // one local column meets there or the numbering does not keep the order.
  std::size_t nnz = 0;
  mjc[0] = 0;
  for (std::size_t J = 0; J < ndof; ++J) {
    const std::size_t first = nnz;
    bool sorted = true;
    for (std::size_t k = start[J]; k < start[J + 1]; ++k) {
      const int i = source[2 * k];
      const std::size_t b = static_cast<std::size_t>(source[2 * k + 1]);
      const Columns& c = columns[i];
      int j[3];
      Split(c, b, j);
      const std::size_t from = nnz;
      nnz += ColumnRows(c, j, 0, pieces[i].gnum, mir + nnz);
      for (std::size_t r = from > first ? from : first + 1; r < nnz; ++r) {
        if (mir[r] <= mir[r - 1]) sorted = false;
      }
    }
    if (!sorted) {
      std::sort(mir + first, mir + nnz);
      nnz = static_cast<std::size_t>(std::unique(mir + first, mir + nnz) - mir);
    }
    mjc[J + 1] = static_cast<Index>(nnz);
  }
  for (int i = 0; i < count; ++i) FreeColumns(&columns[i]);
  if (C == 1) return nnz;

  // Every component pair: component c of global function J at c ndof + J.
  std::size_t out = 0, column = 0;
  jc[0] = 0;
  for (int c2 = 0; c2 < C; ++c2) {
    for (std::size_t J = 0; J < ndof; ++J) {
      for (int c1 = 0; c1 < C; ++c1) {
        const Index shift = static_cast<Index>(static_cast<std::size_t>(c1) * ndof);
        for (Index k = mjc[J]; k < mjc[J + 1]; ++k) ir[out++] = shift + mir[k];
      }
      jc[++column] = static_cast<Index>(out);
    }
  }
  return out;
}

namespace {

// One thread's element scratch: the element's fields and what its matrix is made from.
struct Element {
  mesh::Fields fields;
  double* dx;    // nqn: weight times jacdet
  double* W;     // nqn: coefficient times dx (lambda dx for elasticity)
  double* M;     // nqn: mu dx
  double* T;     // transposed values or gradients, [m][q][b]: rdim nqn nsh
  double* P;     // one function's weighted values or gradients, rdim nqn
  double* acc;   // one row of the element matrix, nloc
  double* Ke;    // nloc x nloc, column-major
  std::ptrdiff_t* row;  // global unknown of every local one, nloc
};

struct Sizes {
  std::size_t nqn, nsh, r, C, nloc;
};

Sizes SizesOf(const Form& form, const Mesh& mesh, int functions = 0) {
  Sizes s;
  s.nqn = static_cast<std::size_t>(mesh::Nodes(mesh));
  s.nsh = static_cast<std::size_t>(std::max(mesh::Functions(mesh), functions));
  s.r = static_cast<std::size_t>(mesh.rdim);
  s.C = static_cast<std::size_t>(Components(form, mesh));
  s.nloc = s.nsh * s.C;
  return s;
}

// The doubles of each part, in order; index types after.
struct Plan {
  std::size_t weights, jacdet, conn, R, gradient, laplacian, dx, W, M, T, P, acc, Ke, total;
};

Plan PlanOf(const Form& form, const Mesh& mesh, int functions = 0) {
  const Sizes s = SizesOf(form, mesh, functions);
  const mesh::Wanted need = Needs(form.kind);
  Plan p{};
  std::size_t at = 0;
  const auto take = [&at](std::size_t doubles) {
    const std::size_t here = at;
    at += (doubles + 7) / 8 * 8;
    return here;
  };
  p.weights = take(s.nqn);
  p.jacdet = take(s.nqn);
  p.conn = take(s.nsh);
  p.R = take(s.nqn * s.nsh);
  p.gradient = take(need.gradient ? s.r * s.nqn * s.nsh : 0);
  p.laplacian = take(need.laplacian ? s.nqn * s.nsh : 0);
  p.dx = take(s.nqn);
  p.W = take(s.nqn);
  p.M = take(s.nqn);
  p.T = take(s.r * s.nqn * s.nsh);
  p.P = take(2 * s.r * s.nqn);
  p.acc = take(2 * s.nloc);
  p.Ke = take(s.nloc * s.nloc);
  p.total = at;
  return p;
}

Element Carve(const Form& form, const Mesh& mesh, void* block, int functions = 0) {
  const Plan p = PlanOf(form, mesh, functions);
  const mesh::Wanted need = Needs(form.kind);
  double* b = static_cast<double*>(block);
  Element e{};
  e.fields.weights = b + p.weights;
  e.fields.jacdet = b + p.jacdet;
  e.fields.connectivity = b + p.conn;
  e.fields.R = b + p.R;
  e.fields.gradient = need.gradient ? b + p.gradient : nullptr;
  e.fields.laplacian = need.laplacian ? b + p.laplacian : nullptr;
  e.dx = b + p.dx;
  e.W = b + p.W;
  e.M = b + p.M;
  e.T = b + p.T;
  e.P = b + p.P;
  e.acc = b + p.acc;
  e.Ke = b + p.Ke;
  e.row = reinterpret_cast<std::ptrdiff_t*>(b + p.total);
  return e;
}

double Value(const Coefficient& c, int k, std::size_t q, std::size_t nqn, std::size_t element) {
  return c.constant ? c.v[k] : c.v[k + c.components * (q + nqn * element)];
}

// T[(m nqn + q) nsh + b] = source[m + rdim (q + nqn b)]: gradients (rdim of them) or values
// (rdim 1) with the functions last, so that a row of the element matrix runs over b in the
// innermost loop, contiguous, each entry its own sum in the same order.
void Transpose(const double* source, std::size_t rdim, std::size_t nqn, std::size_t nsh,
               double* T) {
  for (std::size_t b = 0; b < nsh; ++b) {
    for (std::size_t q = 0; q < nqn; ++q) {
      for (std::size_t m = 0; m < rdim; ++m) {
        T[(m * nqn + q) * nsh + b] = source[m + rdim * (q + nqn * b)];
      }
    }
  }
}

// acc0[b] += t0 row[b] and acc1[b] += t1 row[b] for b in [0, n): apart, so that the compiler
// vectorises over b (each entry keeps its own sum in order).
void Accumulate(std::size_t n, double t0, double t1, const double* __restrict row,
                double* __restrict acc0, double* __restrict acc1) {
  for (std::size_t b = 0; b < n; ++b) {
    acc0[b] += t0 * row[b];
    acc1[b] += t1 * row[b];
  }
}

void Accumulate(std::size_t n, double t, const double* __restrict row, double* __restrict acc) {
  for (std::size_t b = 0; b < n; ++b) acc[b] += t * row[b];
}

// Ke(a, b) = sum over q and m of P_a[q m] T[m][q][b] with P_a = weight(q) times the source's
// row a: computed for b >= a and mirrored where symmetric, for every b otherwise. Two rows at a
// time share the loads of T; each entry is still its own sum over q and m in order.
void WeightedProducts(const double* source, std::size_t rdim, const Element& el, const Sizes& s,
                      const double* weight, bool symmetric) {
  Transpose(source, rdim, s.nqn, s.nsh, el.T);
  const std::size_t depth = s.nqn * rdim;
  double* P0 = el.P;
  double* P1 = el.P + depth;
  double* acc0 = el.acc;
  double* acc1 = el.acc + s.nsh;
  for (std::size_t a = 0; a < s.nsh; a += 2) {
    const bool two = a + 1 < s.nsh;
    for (std::size_t q = 0; q < s.nqn; ++q) {
      for (std::size_t m = 0; m < rdim; ++m) {
        P0[q * rdim + m] = weight[q] * source[m + rdim * (q + s.nqn * a)];
        P1[q * rdim + m] = two ? weight[q] * source[m + rdim * (q + s.nqn * (a + 1))] : 0.0;
      }
    }
    const std::size_t b0 = symmetric ? a : 0;
    for (std::size_t b = b0; b < s.nsh; ++b) acc0[b] = acc1[b] = 0.0;
    for (std::size_t q = 0; q < s.nqn; ++q) {
      for (std::size_t m = 0; m < rdim; ++m) {
        const double* row = el.T + (m * s.nqn + q) * s.nsh;
        Accumulate(s.nsh - b0, P0[q * rdim + m], P1[q * rdim + m], row + b0, acc0 + b0,
                   acc1 + b0);
      }
    }
    for (std::size_t b = b0; b < s.nsh; ++b) {
      el.Ke[a + s.nloc * b] = acc0[b];
      if (symmetric) el.Ke[b + s.nloc * a] = acc0[b];
    }
    if (!two) break;
    for (std::size_t b = symmetric ? a + 1 : 0; b < s.nsh; ++b) {
      el.Ke[(a + 1) + s.nloc * b] = acc1[b];
      if (symmetric) el.Ke[b + s.nloc * (a + 1)] = acc1[b];
    }
  }
}

// A node where dx is 0 (the map singular there, or a rule's weight 0) contributes nothing: its
// values, gradients and Laplacians are zeroed, since a singular map's are Inf or NaN and 0 times
// them would be NaN.
void DropVoidNodes(const Element& el, const Sizes& s) {
  const mesh::Fields& f = el.fields;
  for (std::size_t q = 0; q < s.nqn; ++q) {
    if (el.dx[q] != 0.0) continue;
    for (std::size_t a = 0; a < s.nsh; ++a) {
      f.R[q + s.nqn * a] = 0.0;
      if (f.gradient != nullptr) {
        for (std::size_t m = 0; m < s.r; ++m) f.gradient[m + s.r * (q + s.nqn * a)] = 0.0;
      }
      if (f.laplacian != nullptr) f.laplacian[q + s.nqn * a] = 0.0;
    }
  }
}

// A coefficient's value at node q, 0 where the node contributes nothing (whatever the value).
double ValueAt(const Coefficient& c, int k, std::size_t q, const Element& el, const Sizes& s,
               std::size_t element) {
  return el.dx[q] == 0.0 ? 0.0 : Value(c, k, q, s.nqn, element);
}

// The element matrix (or vector, in el.acc) of the k-th evaluated element, whose fields are in
// el.fields.
void ElementMatrix(const Form& form, const Element& el, const Sizes& s, std::size_t k) {
  const mesh::Fields& f = el.fields;
  for (std::size_t q = 0; q < s.nqn; ++q) el.dx[q] = f.weights[q] * f.jacdet[q];
  DropVoidNodes(el, s);
  const Coefficient& c = form.c[0];
  switch (form.kind) {
    case Kind::Stiffness:
    case Kind::Mass:
    case Kind::Bilaplacian: {
      for (std::size_t q = 0; q < s.nqn; ++q) el.W[q] = ValueAt(c, 0, q, el, s, k) * el.dx[q];
      const double* source = form.kind == Kind::Stiffness ? f.gradient
                             : form.kind == Kind::Mass    ? f.R
                                                          : f.laplacian;
      WeightedProducts(source, form.kind == Kind::Stiffness ? s.r : 1, el, s, el.W, true);
      break;
    }
    case Kind::Advection: {
      // T[q][b] = b(q) . grad R_b(q); Ke(a, b) = sum_q (dx R_a)(q) T[q][b].
      for (std::size_t b = 0; b < s.nsh; ++b) {
        for (std::size_t q = 0; q < s.nqn; ++q) {
          const double* g = f.gradient + s.r * (q + s.nqn * b);
          double v = ValueAt(c, 0, q, el, s, k) * g[0];
          for (std::size_t m = 1; m < s.r; ++m) {
            v += ValueAt(c, static_cast<int>(m), q, el, s, k) * g[m];
          }
          el.T[q * s.nsh + b] = v;
        }
      }
      for (std::size_t a = 0; a < s.nsh; ++a) {
        for (std::size_t b = 0; b < s.nsh; ++b) el.acc[b] = 0.0;
        for (std::size_t q = 0; q < s.nqn; ++q) {
          Accumulate(s.nsh, el.dx[q] * f.R[q + s.nqn * a], el.T + q * s.nsh, el.acc);
        }
        for (std::size_t b = 0; b < s.nsh; ++b) el.Ke[a + s.nloc * b] = el.acc[b];
      }
      break;
    }
    case Kind::Elasticity: {
      const Coefficient& mu = form.c[1];
      for (std::size_t q = 0; q < s.nqn; ++q) {
        el.W[q] = ValueAt(c, 0, q, el, s, k) * el.dx[q];
        el.M[q] = ValueAt(mu, 0, q, el, s, k) * el.dx[q];
      }
      Transpose(f.gradient, s.r, s.nqn, s.nsh, el.T);
      const double* G = f.gradient;
      for (std::size_t c1 = 0; c1 < s.C; ++c1) {
        for (std::size_t a = 0; a < s.nsh; ++a) {
          const std::size_t A = c1 * s.nsh + a;
          for (std::size_t c2 = c1; c2 < s.C; ++c2) {
            const std::size_t b0 = c2 == c1 ? a : 0;
            for (std::size_t b = b0; b < s.nsh; ++b) el.acc[b] = 0.0;
            for (std::size_t q = 0; q < s.nqn; ++q) {
              const double* ga = G + s.r * (q + s.nqn * a);
              const double la = el.W[q] * ga[c1];
              const double ma = el.M[q] * ga[c2];
              const double* t1 = el.T + (c2 * s.nqn + q) * s.nsh;
              const double* t2 = el.T + (c1 * s.nqn + q) * s.nsh;
              if (c1 != c2) {
                for (std::size_t b = b0; b < s.nsh; ++b) el.acc[b] += la * t1[b] + ma * t2[b];
              } else {
                for (std::size_t m = 0; m < s.r; ++m) el.P[m] = el.M[q] * ga[m];
                for (std::size_t b = b0; b < s.nsh; ++b) {
                  double v = la * t1[b] + ma * t2[b];
                  for (std::size_t m = 0; m < s.r; ++m) {
                    v += el.P[m] * el.T[(m * s.nqn + q) * s.nsh + b];
                  }
                  el.acc[b] += v;
                }
              }
            }
            for (std::size_t b = b0; b < s.nsh; ++b) {
              const std::size_t B = c2 * s.nsh + b;
              el.Ke[A + s.nloc * B] = el.acc[b];
              el.Ke[B + s.nloc * A] = el.acc[b];
            }
          }
        }
      }
      break;
    }
    case Kind::Load: {
      for (std::size_t comp = 0; comp < s.C; ++comp) {
        for (std::size_t q = 0; q < s.nqn; ++q) {
          el.W[q] = ValueAt(c, static_cast<int>(comp), q, el, s, k) * el.dx[q];
        }
        for (std::size_t a = 0; a < s.nsh; ++a) {
          double v = 0.0;
          for (std::size_t q = 0; q < s.nqn; ++q) v += el.W[q] * f.R[q + s.nqn * a];
          el.acc[comp * s.nsh + a] = v;
        }
      }
      break;
    }
  }
}

// The k-th evaluated element's unknowns, as global rows: component c of function a at c ndof + a,
// a the function's index in the patch or, through gnum, in the domain.
void Rows(const Element& el, const Sizes& s, std::size_t ndof, const double* gnum) {
  for (std::size_t a = 0; a < s.nsh; ++a) {
    const std::size_t local = static_cast<std::size_t>(el.fields.connectivity[a]) - 1;
    const std::size_t global = gnum ? static_cast<std::size_t>(gnum[local]) - 1 : local;
    for (std::size_t c = 0; c < s.C; ++c) {
      el.row[c * s.nsh + a] = static_cast<std::ptrdiff_t>(c * ndof + global);
    }
  }
}

// Whether element `element` has a function in [lo, hi) (scalar, 0-based indices, global through
// gnum where it is given).
bool Touches(const Mesh& mesh, const double* gnum, std::size_t element, std::size_t lo,
             std::size_t hi) {
  int first[kMaxDirections], last[kMaxDirections];
  mesh::ElementBox(mesh, element, first, last);
  const std::ptrdiff_t* stride = mesh.space.stride;
  if (gnum == nullptr) {
    std::size_t a = 0, b = 0;
    for (int d = 0; d < mesh.d; ++d) {
      a += static_cast<std::size_t>(first[d]) * static_cast<std::size_t>(stride[d]);
      b += static_cast<std::size_t>(last[d]) * static_cast<std::size_t>(stride[d]);
    }
    return a < hi && b >= lo;
  }
  for (int i = first[2]; i <= last[2]; ++i) {
    for (int j = first[1]; j <= last[1]; ++j) {
      for (int k = first[0]; k <= last[0]; ++k) {
        const std::size_t g = static_cast<std::size_t>(gnum[k + j * stride[1] + i * stride[2]]) - 1;
        if (g >= lo && g < hi) return true;
      }
    }
  }
  return false;
}

template <typename Index>
struct Job {
  const Piece* pieces;
  int count;
  std::size_t ndof;  // global functions
  const Index* jc;
  const Index* ir;
  double* out;       // pr, or the vector
  // Thread t owns the functions cut[t]..cut[t+1]-1 (0-based), and with them every component's
  // unknown of each: their columns, or a vector's rows. Cutting by function rather than by
  // unknown keeps a vector-valued space's components together, so that each element is
  // evaluated by the one or two threads whose functions it holds, not by every thread.
  std::size_t* cut;
};

template <typename Index>
void Work(void* context, int t, std::size_t, std::size_t) {
  const Job<Index>& job = *static_cast<const Job<Index>*>(context);
  const std::size_t ndof = job.ndof;
  const std::size_t lo = job.cut[t], hi = job.cut[t + 1];
  if (lo >= hi) return;
  for (int which = 0; which < job.count; ++which) {
    const Piece& piece = job.pieces[which];
    const Form& form = piece.form;
    const Mesh& mesh = *piece.mesh;
    const ElementRows* mapped = piece.rows;
    const int functions = mapped ? mapped->functions : 0;
    const Sizes sizes = SizesOf(form, mesh, functions);
    const Element el = Carve(form, mesh, piece.extra[t], functions);
    const bool vector = IsVector(form.kind);
    // Mapped rows are not in runs along xi.
    const std::size_t run = mapped ? 1 : static_cast<std::size_t>(mesh.space.axis[0].p) + 1;
    // On a side, a matrix's rows and columns of the functions that vanish there are not in its
    // pattern: their contributions are 0, and left out. Mapped rows are in their own pattern,
    // every row of the element's.
    int keepFirst = 0, keepLast = -1;
    const int fixed = vector || mapped ? -1 : mesh::SideRange(mesh, &keepFirst, &keepLast);
    const std::size_t fixedStride = fixed < 0 ? 1 : static_cast<std::size_t>(mesh.space.stride[fixed]);
    const std::size_t fixedCount =
        fixed < 0 ? 1 : static_cast<std::size_t>(mesh.space.axis[fixed].n);
    const auto kept = [&](std::size_t a) {
      if (fixed < 0) return true;
      const std::size_t local = static_cast<std::size_t>(el.fields.connectivity[a]) - 1;
      const int f = static_cast<int>(local / fixedStride % fixedCount);
      return f >= keepFirst && f <= keepLast;
    };
    for (std::size_t k = 0; k < mesh.count; ++k) {
      if (evaluators::Stopping()) return;
      Sizes s = sizes;
      if (mapped) {
        if (!mapped->touches(mapped->context, k, lo, hi)) continue;
        s.nsh = static_cast<std::size_t>(mapped->evaluate(mapped->context, t, k, el.fields));
        s.nloc = s.nsh * s.C;
      } else {
        const std::size_t element = mesh::ElementAt(mesh, k);
        if (!Touches(mesh, piece.gnum, element, lo, hi)) continue;
        mesh::EvaluateElement(mesh, piece.scratch[t], element, el.fields);
      }
      ElementMatrix(form, el, s, k);
      Rows(el, s, ndof, piece.gnum);
      if (vector) {
        for (std::size_t A = 0; A < s.nloc; ++A) {
          const std::size_t I = static_cast<std::size_t>(el.row[A]);
          const std::size_t a = I % ndof;
          if (a >= lo && a < hi) job.out[I] += el.acc[A];
        }
        continue;
      }
      for (std::size_t B = 0; B < s.nloc; ++B) {
        const std::size_t J = static_cast<std::size_t>(el.row[B]);
        const std::size_t b = J % ndof;
        if (b < lo || b >= hi) continue;
        if (!kept(B % s.nsh)) continue;
        const Index* first = job.ir + job.jc[J];
        const Index* last = job.ir + job.jc[J + 1];
        double* column = job.out + job.jc[J];
        if (mapped) {
          // Mapped rows: each run of consecutive unknowns found once, the search narrowed
          // to what follows the last run where the rows ascend.
          const Index* from = first;
          for (std::size_t A = 0; A < s.nloc;) {
            const std::ptrdiff_t row = el.row[A];
            std::size_t length = 1;
            while (A + length < s.nloc &&
                   el.row[A + length] == row + static_cast<std::ptrdiff_t>(length)) {
              ++length;
            }
            if (from > first && static_cast<std::ptrdiff_t>(from[-1]) >= row) from = first;
            const Index* at = std::lower_bound(from, last, static_cast<Index>(row));
            for (std::size_t i = 0; i < length; ++i) column[(at - first) + i] += el.Ke[(A + i) + s.nloc * B];
            from = at + length;
            A += length;
          }
          continue;
        }
        // The element's rows come in runs along xi, each a run of consecutive entries of the
        // column where its unknowns are consecutive (always within a patch's own numbering);
        // elsewhere each row is found on its own.
        for (std::size_t A = 0; A < s.nloc; A += run) {
          const std::ptrdiff_t row = el.row[A];
          if (fixed == 0) {
            // The side's direction is the run's: row by row.
            for (std::size_t i = 0; i < run; ++i) {
              if (!kept((A + i) % s.nsh)) continue;
              const std::size_t at = static_cast<std::size_t>(
                  std::lower_bound(first, last, static_cast<Index>(el.row[A + i])) - first);
              column[at] += el.Ke[(A + i) + s.nloc * B];
            }
            continue;
          }
          if (!kept(A % s.nsh)) continue;
          bool consecutive = true;
          for (std::size_t i = 1; i < run; ++i) {
            consecutive = consecutive && el.row[A + i] == row + static_cast<std::ptrdiff_t>(i);
          }
          if (consecutive) {
            const std::size_t at = static_cast<std::size_t>(
                std::lower_bound(first, last, static_cast<Index>(row)) - first);
            for (std::size_t i = 0; i < run; ++i) column[at + i] += el.Ke[(A + i) + s.nloc * B];
            continue;
          }
          for (std::size_t i = 0; i < run; ++i) {
            const std::size_t at = static_cast<std::size_t>(
                std::lower_bound(first, last, static_cast<Index>(el.row[A + i])) - first);
            column[at] += el.Ke[(A + i) + s.nloc * B];
          }
        }
      }
    }
  }
}

// Functions cut where the stored entries of their first component's columns are shared evenly
// (every component's columns hold the same pattern); a vector's in equal counts.
template <typename Index>
void Cut(const Index* jc, std::size_t n, int threads, std::size_t cut[]) {
  cut[0] = 0;
  for (int t = 1; t < threads; ++t) {
    if (jc == nullptr) {
      cut[t] = n / static_cast<std::size_t>(threads) * static_cast<std::size_t>(t);
      continue;
    }
    const std::size_t nnz = static_cast<std::size_t>(jc[n]);
    const std::size_t target = nnz / static_cast<std::size_t>(threads) * static_cast<std::size_t>(t);
    cut[t] = static_cast<std::size_t>(std::lower_bound(jc, jc + n + 1, static_cast<Index>(target)) - jc);
    if (cut[t] < cut[t - 1]) cut[t] = cut[t - 1];
  }
  cut[threads] = n;
}

}  // namespace

std::size_t ElementBytes(const Form& form, const Mesh& mesh, int functions) {
  const Sizes s = SizesOf(form, mesh, functions);
  return PlanOf(form, mesh, functions).total * sizeof(double) + s.nloc * sizeof(std::ptrdiff_t) +
         64;
}

// Measured per pair of functions, node and unit of depth (one thread, this machine's cores):
// 0.3 to 0.45 ns for the stiffness (depth rdim) and mass, 0.3 to 0.4 for elasticity at depth
// 3.6 in two and three dimensions.
double ElementPathCost(const Form& form, const Mesh& mesh) {
  const Sizes s = SizesOf(form, mesh);
  const double nloc = static_cast<double>(s.nloc);
  const double pairs = form.kind == Kind::Load ? nloc
                       : nloc * nloc * (Symmetric(form.kind) ? 0.5 : 1.0);
  const double depth = form.kind == Kind::Stiffness || form.kind == Kind::Advection
                           ? static_cast<double>(s.r)
                       : form.kind == Kind::Elasticity ? 3.6
                                                       : 1.0;
  return mesh::ElementCost(mesh) + 0.4 * pairs * static_cast<double>(s.nqn) * depth;
}

namespace {

// The element path over pieces: every thread its share of the unknowns, every piece's elements
// that touch them.
template <typename Index>
void AssembleElements(const Piece pieces[], int count, std::size_t ndof, int threads,
                      const Index* jc, const Index* ir, double* pr) {
  std::size_t cut[65];
  Cut(jc, ndof, threads, cut);
  Job<Index> job{pieces, count, ndof, jc, ir, pr, cut};
  evaluators::Shares(static_cast<std::size_t>(threads), threads, 256 * 1024, Work<Index>, &job);
}

void AssembleElementsVector(const Piece pieces[], int count, std::size_t ndof, int threads,
                            double* out) {
  std::size_t cut[65];
  Cut<std::size_t>(nullptr, ndof, threads, cut);
  Job<std::size_t> job{pieces, count, ndof, nullptr, nullptr, out, cut};
  evaluators::Shares(static_cast<std::size_t>(threads), threads, 256 * 1024,
                     Work<std::size_t>, &job);
}

// How a piece is summed: by sum factorisation over boxes of its elements, or element by element.
struct Way {
  bool boxes;
  bool own;  // one box that is every evaluated element: the piece's own pattern, if a patch's
  Cover cover;
  Box one;
  double cost;  // estimated nanoseconds, one thread
  const Box* list() const { return cover.count > 0 ? cover.boxes : &one; }
  int count() const { return cover.count > 0 ? cover.count : 1; }
};

// The lowest degree of the space's directions.
int LowestDegree(const Mesh& mesh) {
  int lowest = mesh.space.axis[0].p;
  for (int d = 1; d < mesh.d; ++d) lowest = std::min(lowest, mesh.space.axis[d].p);
  return lowest;
}

// The way of a piece: the whole mesh, or a side, as one box; a chunk as the boxes it is made of,
// where it is one (no element twice, not scattered far apart). Forced by form.method or
// NURBS_FORMS_METHOD where both apply; otherwise the sum factorisation where it is estimated
// cheaper, and for a matrix over elements only from degree 2 (where it was measured faster).
Way Choose(const Form& form, const Mesh& mesh) {
  Way w{};
  w.cost = ElementPathCost(form, mesh) * static_cast<double>(mesh.count);
  if (mesh.count == 0 || !SumFactorisable(form, mesh)) return w;
  const Method method = Forced(form);
  if (method == Method::Elements) return w;
  // A matrix over elements, measured on the ring and the annulus (one thread, the best of five
  // interleaved runs): from degree 2 sum factorisation is 1.2 to 4 times faster in 2-D and 3-D
  // alike, and more with the degree; at degree 1 it ranges from 1.7 times faster to 2 times
  // slower. Below degree 2, or where a direction has a lower one, the element path.
  const bool matrix = !IsVector(form.kind) && mesh.side == 0;
  if (method == Method::Auto && matrix && LowestDegree(mesh) < 2) return w;
  if (mesh.elements == nullptr) {
    // Every element of a patch or a side: the sum factorisation as measured (a matrix from
    // degree 2, above; a load or a face's form at every degree, measured faster from degree 1 on
    // the ring: 1.9 against 2.2 ms at degree 1, 4.3 against 8.0 at 2, 16 against 256 at 6, one
    // thread).
    w.one = WholeBox(mesh);
    w.own = true;
    w.boxes = true;
    w.cost = BoxCost(form, mesh, w.one);
    return w;
  }
  Cover cover{};
  if (!CoverElements(mesh, &cover)) return w;
  double cost = 0.0;
  for (int k = 0; k < cover.count; ++k) cost += BoxCost(form, mesh, cover.boxes[k]);
  if (method == Method::Auto && !(cost < w.cost)) {
    FreeCover(&cover);
    return w;
  }
  w.boxes = true;
  w.cost = cost;
  w.own = cover.count == 1;
  w.cover = cover;
  return w;
}

void Release(Way* w) {
  FreeCover(&w->cover);
  w->boxes = false;
}

// Whether gnum maps two of the patch's functions to one index (a patch glued to itself): then two
// threads could add into one entry, and the piece is summed on one.
bool Repeats(const Mesh& mesh, const double* gnum, std::size_t ndof) {
  if (gnum == nullptr) return false;
  std::uint64_t* seen = static_cast<std::uint64_t*>(std::calloc(ndof / 64 + 1, sizeof(std::uint64_t)));
  if (seen == nullptr) return true;
  bool repeats = false;
  for (std::size_t a = 0, n = SpaceFunctions(mesh); a < n && !repeats; ++a) {
    const std::size_t g = static_cast<std::size_t>(gnum[a]) - 1;
    repeats = (seen[g / 64] >> (g % 64)) & 1u;
    seen[g / 64] |= std::uint64_t{1} << (g % 64);
  }
  std::free(seen);
  return repeats;
}

}  // namespace

double ElementCost(const Form& form, const Mesh& mesh) {
  if (mesh.count == 0) return ElementPathCost(form, mesh);
  Way w = Choose(form, mesh);
  const double cost = w.cost / static_cast<double>(mesh.count);
  Release(&w);
  return cost;
}

template <typename Index>
void AssembleDomain(const Piece pieces[], int count, std::size_t ndof, int threads,
                    const Index* jc, const Index* ir, double* pr) {
  // The pieces summed by sum factorisation first, one after another, then the others element by
  // element; a symmetric form's lower triangle from its upper one where any piece was looked up.
  Piece* rest = static_cast<Piece*>(std::malloc(static_cast<std::size_t>(count) * sizeof(Piece)));
  int others = 0;
  bool mirror = false;
  const bool single = count == 1 && pieces[0].gnum == nullptr;
  for (int i = 0; i < count; ++i) {
    const Piece& piece = pieces[i];
    // Mapped rows (a hierarchical space's elements) are summed element by element.
    Way w = rest != nullptr && piece.rows == nullptr ? Choose(piece.form, *piece.mesh) : Way{};
    bool done = false;
    if (w.boxes && !evaluators::Stopping()) {
      Target target{single && w.own && piece.mesh->side == 0, piece.gnum, ndof, false};
      target.serial = !target.own && threads > 1 && Repeats(*piece.mesh, piece.gnum, ndof);
      done = AssembleSumFactorised(piece.form, *piece.mesh, w.list(), w.count(), target, threads,
                                   jc, ir, pr);
      mirror = mirror || (done && !target.own);
    }
    Release(&w);
    if (!done && rest != nullptr) rest[others++] = piece;
  }
  if (rest == nullptr) {
    AssembleElements(pieces, count, ndof, threads, jc, ir, pr);
  } else if (others > 0) {
    AssembleElements(rest, others, ndof, threads, jc, ir, pr);
  }
  std::free(rest);
  if (mirror && Symmetric(pieces[0].form.kind) && !evaluators::Stopping()) {
    const std::size_t columns =
        ndof * static_cast<std::size_t>(Components(pieces[0].form, *pieces[0].mesh));
    MirrorUpper(columns, jc, ir, pr, threads);
  }
}

void AssembleDomainVector(const Piece pieces[], int count, std::size_t ndof, int threads,
                          double* out) {
  Piece* rest = static_cast<Piece*>(std::malloc(static_cast<std::size_t>(count) * sizeof(Piece)));
  int others = 0;
  for (int i = 0; i < count; ++i) {
    const Piece& piece = pieces[i];
    // Mapped rows (a hierarchical space's elements) are summed element by element.
    Way w = rest != nullptr && piece.rows == nullptr ? Choose(piece.form, *piece.mesh) : Way{};
    bool done = false;
    if (w.boxes && !evaluators::Stopping()) {
      const Target target{false, piece.gnum, ndof, false};
      done = AssembleSumFactorisedVector(piece.form, *piece.mesh, w.list(), w.count(), target,
                                         threads, out);
    }
    Release(&w);
    if (!done && rest != nullptr) rest[others++] = piece;
  }
  if (rest == nullptr) {
    AssembleElementsVector(pieces, count, ndof, threads, out);
  } else if (others > 0) {
    AssembleElementsVector(rest, others, ndof, threads, out);
  }
  std::free(rest);
}

template <typename Index>
void Assemble(const Form& form, const Mesh& mesh, mesh::Scratch* const scratch[],
              void* const extra[], int threads, const Index* jc, const Index* ir, double* pr) {
  const Piece piece{&mesh, form, nullptr, scratch, extra};
  AssembleDomain(&piece, 1, SpaceFunctions(mesh), threads, jc, ir, pr);
}

void AssembleVector(const Form& form, const Mesh& mesh, mesh::Scratch* const scratch[],
                    void* const extra[], int threads, double* out) {
  const Piece piece{&mesh, form, nullptr, scratch, extra};
  AssembleDomainVector(&piece, 1, SpaceFunctions(mesh), threads, out);
}

template <typename Index>
std::size_t DropZeros(std::size_t columns, Index* jc, Index* ir, double* pr) {
  std::size_t kept = 0;
  std::size_t start = 0;
  for (std::size_t j = 0; j < columns; ++j) {
    const std::size_t end = static_cast<std::size_t>(jc[j + 1]);
    for (std::size_t k = start; k < end; ++k) {
      if (pr[k] != 0.0) {
        ir[kept] = ir[k];
        pr[kept] = pr[k];
        ++kept;
      }
    }
    start = end;
    jc[j + 1] = static_cast<Index>(kept);
  }
  return kept;
}

template std::size_t Pattern<std::int64_t>(const Form&, const Mesh&, void*, std::int64_t*,
                                           std::int64_t*);
template std::size_t Pattern<std::size_t>(const Form&, const Mesh&, void*, std::size_t*,
                                          std::size_t*);
template void Assemble<std::int64_t>(const Form&, const Mesh&, mesh::Scratch* const[],
                                     void* const[], int, const std::int64_t*, const std::int64_t*,
                                     double*);
template void Assemble<std::size_t>(const Form&, const Mesh&, mesh::Scratch* const[],
                                    void* const[], int, const std::size_t*, const std::size_t*,
                                    double*);
template std::size_t DomainPattern<std::int64_t>(const Piece[], int, std::size_t, void*,
                                                 std::int64_t*, std::int64_t*);
template std::size_t DomainPattern<std::size_t>(const Piece[], int, std::size_t, void*,
                                                std::size_t*, std::size_t*);
template void AssembleDomain<std::int64_t>(const Piece[], int, std::size_t, int,
                                           const std::int64_t*, const std::int64_t*, double*);
template void AssembleDomain<std::size_t>(const Piece[], int, std::size_t, int,
                                          const std::size_t*, const std::size_t*, double*);
template std::size_t DropZeros<std::int64_t>(std::size_t, std::int64_t*, std::int64_t*, double*);
template std::size_t DropZeros<std::size_t>(std::size_t, std::size_t*, std::size_t*, double*);

}  // namespace forms
