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
  std::size_t pairs = 1;
  for (int d = 0; d < mesh.d; ++d) {
    pairs = Times(pairs, NeighbourPairs(mesh.space.axis[d], first[d], last[d]));
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

// The pattern of C components a function.
template <typename Index>
std::size_t ComponentPattern(int C, const Mesh& mesh, void* scratch, Index* jc, Index* ir) {
  char* at = static_cast<char*>(scratch);
  const Reach* reach[kMaxDirections] = {nullptr, nullptr, nullptr};
  int n[kMaxDirections] = {1, 1, 1};
  std::ptrdiff_t stride[kMaxDirections] = {0, 0, 0};
  static const Reach kOne = {0, 0, 0, 0};
  for (int d = 0; d < kMaxDirections; ++d) {
    if (d >= mesh.d) {
      reach[d] = &kOne;
      continue;
    }
    n[d] = mesh.space.axis[d].n;
    stride[d] = mesh.space.stride[d];
    Reach* r = reinterpret_cast<Reach*>(at);
    for (int i = 0; i < n[d]; ++i) r[i] = ReachOf(mesh, d, i);
    reach[d] = r;
    at += Round(static_cast<std::size_t>(n[d]) * sizeof(Reach));
  }
  Chosen chosen{nullptr, {2, 2, 2}};
  const bool all = AllElements(mesh);
  if (!all) {
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
  }

  const std::size_t ndof = static_cast<std::size_t>(n[0]) * n[1] * n[2];
  std::size_t nnz = 0;
  jc[0] = 0;
  Index column = 0;
  for (int c2 = 0; c2 < C; ++c2) {
    for (int j2 = 0; j2 < n[2]; ++j2) {
      for (int j1 = 0; j1 < n[1]; ++j1) {
        for (int j0 = 0; j0 < n[0]; ++j0) {
          const Reach* rj[3] = {&reach[0][j0], &reach[1][j1], &reach[2][j2]};
          // A column none of whose elements is chosen is empty: skipped without visiting its
          // neighbours, so that a chunk costs its unknowns and its own pairs.
          if (!all) {
            const int lo[3] = {rj[0]->elo, rj[1]->elo, rj[2]->elo};
            const int hi[3] = {rj[0]->ehi, rj[1]->ehi, rj[2]->ehi};
            if (lo[0] > hi[0] || lo[1] > hi[1] || lo[2] > hi[2] || chosen.Count(lo, hi) == 0) {
              jc[++column] = static_cast<Index>(nnz);
              continue;
            }
          }
          for (int c1 = 0; c1 < C; ++c1) {
            const std::size_t base = static_cast<std::size_t>(c1) * ndof;
            for (int r2 = rj[2]->nlo; r2 <= rj[2]->nhi; ++r2) {
              for (int r1 = rj[1]->nlo; r1 <= rj[1]->nhi; ++r1) {
                for (int r0 = rj[0]->nlo; r0 <= rj[0]->nhi; ++r0) {
                  if (!all) {
                    const Reach* rr[3] = {&reach[0][r0], &reach[1][r1], &reach[2][r2]};
                    int lo[3], hi[3];
                    for (int d = 0; d < 3; ++d) {
                      lo[d] = std::max(rj[d]->elo, rr[d]->elo);
                      hi[d] = std::min(rj[d]->ehi, rr[d]->ehi);
                    }
                    if (lo[0] > hi[0] || lo[1] > hi[1] || lo[2] > hi[2]) continue;
                    if (chosen.Count(lo, hi) == 0) continue;
                  }
                  ir[nnz++] = static_cast<Index>(base + r0 + r1 * stride[1] + r2 * stride[2]);
                }
              }
            }
          }
          jc[++column] = static_cast<Index>(nnz);
        }
      }
    }
  }
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

// Bytes of one piece's part of a domain pattern's scratch: its own pattern's scratch, column
// starts and rows.
template <typename Index>
std::size_t PieceBytes(const Mesh& mesh) {
  return Round(PatternBytes(mesh)) + Round((SpaceFunctions(mesh) + 1) * sizeof(Index)) +
         Round(PairBound(mesh) * sizeof(Index));
}

// The scratch of a domain pattern, in order: every piece's offset, the pieces' parts, the
// global columns' starts and sources (piece, local column), the merged scalar pattern.
struct DomainLayout {
  std::size_t pieces, starts, sources, merged, mergedRows, total;
};

template <typename Index>
DomainLayout DomainLayoutOf(const Piece pieces[], int count, std::size_t ndof) {
  DomainLayout l{};
  std::size_t at = Round((static_cast<std::size_t>(count) + 1) * sizeof(std::size_t));
  std::size_t rows = 0, columns = 0;
  l.pieces = at;
  for (int i = 0; i < count; ++i) {
    at += PieceBytes<Index>(*pieces[i].mesh);
    rows += PairBound(*pieces[i].mesh);
    columns += SpaceFunctions(*pieces[i].mesh);
  }
  l.starts = at;
  at += Round((ndof + 1) * sizeof(std::size_t));
  l.sources = at;
  at += Round(columns * 2 * sizeof(int));
  l.merged = at;
  at += Round((ndof + 1) * sizeof(Index));
  l.mergedRows = at;
  at += Round(rows * sizeof(Index));
  l.total = at;
  return l;
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
  Index* mjc = reinterpret_cast<Index*>(base + l.merged);
  Index* mir = reinterpret_cast<Index*>(base + l.mergedRows);
  // Piece i's pattern: its columns' starts and its rows, in its own numbering.
  const auto Columns = [&](int i) {
    return reinterpret_cast<Index*>(base + offset[i] + Round(PatternBytes(*pieces[i].mesh)));
  };
  const auto Rows = [&](int i) {
    return Columns(i) + Round((SpaceFunctions(*pieces[i].mesh) + 1) * sizeof(Index)) / sizeof(Index);
  };

  // Each piece's scalar pattern, and how many of its columns each global column takes.
  offset[0] = l.pieces;
  std::memset(start, 0, (ndof + 1) * sizeof(std::size_t));
  for (int i = 0; i < count; ++i) {
    const Mesh& mesh = *pieces[i].mesh;
    offset[i + 1] = offset[i] + PieceBytes<Index>(mesh);
    const Index* ljc = Columns(i);
    ComponentPattern(1, mesh, base + offset[i], Columns(i), Rows(i));
    const double* gnum = pieces[i].gnum;
    for (std::size_t b = 0, n = SpaceFunctions(mesh); b < n; ++b) {
      if (ljc[b + 1] > ljc[b]) ++start[static_cast<std::size_t>(gnum[b])];
    }
  }
  for (std::size_t J = 0; J < ndof; ++J) start[J + 1] += start[J];
  for (int i = 0; i < count; ++i) {
    const Index* ljc = Columns(i);
    const double* gnum = pieces[i].gnum;
    for (std::size_t b = 0, n = SpaceFunctions(*pieces[i].mesh); b < n; ++b) {
      if (ljc[b + 1] == ljc[b]) continue;
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
      const Index* ljc = Columns(i);
      const Index* lir = Rows(i);
      const double* gnum = pieces[i].gnum;
      for (Index r = ljc[b]; r < ljc[b + 1]; ++r) {
        const Index row = static_cast<Index>(gnum[static_cast<std::size_t>(lir[r])]) - 1;
        if (nnz > first && row <= mir[nnz - 1]) sorted = false;
        mir[nnz++] = row;
      }
    }
    if (!sorted) {
      std::sort(mir + first, mir + nnz);
      nnz = static_cast<std::size_t>(std::unique(mir + first, mir + nnz) - mir);
    }
    mjc[J + 1] = static_cast<Index>(nnz);
  }

  // Every component pair: component c of global function J at c ndof + J.
  const int C = Components(pieces[0].form, *pieces[0].mesh);
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
double ElementCost(const Form& form, const Mesh& mesh) {
  if (UseSumFactorised(form, mesh)) {
    return SumFactorisedCost(form, mesh) / static_cast<double>(mesh::MeshElements(mesh));
  }
  return ElementPathCost(form, mesh);
}

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

template <typename Index>
void AssembleDomain(const Piece pieces[], int count, std::size_t ndof, int threads,
                    const Index* jc, const Index* ir, double* pr) {
  std::size_t cut[65];
  Cut(jc, ndof, threads, cut);
  Job<Index> job{pieces, count, ndof, jc, ir, pr, cut};
  evaluators::Shares(static_cast<std::size_t>(threads), threads, 256 * 1024, Work<Index>, &job);
}

void AssembleDomainVector(const Piece pieces[], int count, std::size_t ndof, int threads,
                          double* out) {
  std::size_t cut[65];
  Cut<std::size_t>(nullptr, ndof, threads, cut);
  Job<std::size_t> job{pieces, count, ndof, nullptr, nullptr, out, cut};
  evaluators::Shares(static_cast<std::size_t>(threads), threads, 256 * 1024,
                     Work<std::size_t>, &job);
}

template <typename Index>
void Assemble(const Form& form, const Mesh& mesh, mesh::Scratch* const scratch[],
              void* const extra[], int threads, const Index* jc, const Index* ir, double* pr) {
  if (UseSumFactorised(form, mesh) &&
      AssembleSumFactorised(form, mesh, threads, jc, ir, pr)) {
    return;
  }
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
