// The hierarchy: levels, their active cells and functions, the numbering, and refinement.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "NURBS.h"
#include "hierarchy_internal.h"

namespace hierarchical {
namespace internal {

void* Arena::Take(std::size_t bytes) {
  if (failed) return nullptr;
  if (count == capacity) {
    const std::size_t more = capacity == 0 ? 64 : 2 * capacity;
    void** grown = static_cast<void**>(std::realloc(blocks, more * sizeof(void*)));
    if (grown == nullptr) {
      failed = true;
      return nullptr;
    }
    blocks = grown;
    capacity = more;
  }
  void* p = std::malloc(bytes > 0 ? bytes : 1);
  if (p == nullptr) {
    failed = true;
    return nullptr;
  }
  blocks[count++] = p;
  return p;
}

void Arena::Free() {
  for (std::size_t k = 0; k < count; ++k) std::free(blocks[k]);
  std::free(blocks);
  blocks = nullptr;
  count = capacity = 0;
}

std::int64_t Set::Find(std::uint64_t k) const {
  if (count == 0) return -1;
  std::size_t i = Hash(k) & mask;
  for (;;) {
    const std::uint32_t t = table[i];
    if (t == 0) return -1;
    if (key[t - 1] == k) return static_cast<std::int64_t>(t) - 1;
    i = (i + 1) & mask;
  }
}

bool MakeSet(Arena* arena, std::uint64_t* keys, std::size_t count, Set* set) {
  set->key = keys;
  set->count = count;
  set->table = nullptr;
  set->mask = 0;
  if (count == 0) return true;
  if (count >= 0x7fffffffu) return false;
  std::size_t size = 16;
  while (size < 2 * count) size *= 2;
  std::uint32_t* table = static_cast<std::uint32_t*>(arena->Take(size * sizeof(std::uint32_t)));
  if (table == nullptr) return false;
  std::memset(table, 0, size * sizeof(std::uint32_t));
  const std::size_t mask = size - 1;
  for (std::size_t k = 0; k < count; ++k) {
    std::size_t i = Hash(keys[k]) & mask;
    while (table[i] != 0) i = (i + 1) & mask;
    table[i] = static_cast<std::uint32_t>(k + 1);
  }
  set->table = table;
  set->mask = mask;
  return true;
}

bool Marks::Has(std::uint64_t k) const {
  if (count == 0) return false;
  std::size_t i = Hash(k) & mask;
  for (;;) {
    const std::uint64_t t = table[i];
    if (t == 0) return false;
    if (t == k + 1) return true;
    i = (i + 1) & mask;
  }
}

bool Marks::Add(std::uint64_t k) {
  if (2 * (count + 1) > size) {
    const std::size_t grown = size == 0 ? 64 : 2 * size;
    std::uint64_t* t = static_cast<std::uint64_t*>(std::calloc(grown, sizeof(std::uint64_t)));
    std::uint64_t* o = static_cast<std::uint64_t*>(
        std::realloc(order, grown / 2 * sizeof(std::uint64_t)));
    if (t == nullptr || o == nullptr) {
      std::free(t);
      if (o != nullptr) order = o;
      return false;
    }
    order = o;
    const std::size_t m = grown - 1;
    for (std::size_t j = 0; j < count; ++j) {
      std::size_t i = Hash(order[j]) & m;
      while (t[i] != 0) i = (i + 1) & m;
      t[i] = order[j] + 1;
    }
    std::free(table);
    table = t;
    size = grown;
    mask = m;
  }
  std::size_t i = Hash(k) & mask;
  while (table[i] != 0) {
    if (table[i] == k + 1) return true;
    i = (i + 1) & mask;
  }
  table[i] = k + 1;
  order[count++] = k;
  return true;
}

void Marks::Free() {
  std::free(table);
  std::free(order);
  *this = Marks{};
}

// A tensor index of counts n[0..d-1] (the first fastest) and its position; directions beyond d
// are 0.
std::uint64_t EncodeIndex(const int n[kMaxDirections], int d, const int e[kMaxDirections]) {
  std::uint64_t c = 0;
  for (int k = d - 1; k >= 0; --k) c = c * static_cast<std::uint64_t>(n[k]) + e[k];
  return c;
}

void DecodeIndex(const int n[kMaxDirections], int d, std::uint64_t c, int e[kMaxDirections]) {
  for (int k = 0; k < kMaxDirections; ++k) {
    e[k] = 0;
    if (k < d) {
      e[k] = static_cast<int>(c % static_cast<std::uint64_t>(n[k]));
      c /= static_cast<std::uint64_t>(n[k]);
    }
  }
}

void Decode(const Level& L, int d, std::uint64_t cell, int e[kMaxDirections]) {
  DecodeIndex(L.nel, d, cell, e);
}

std::uint64_t Encode(const Level& L, int d, const int e[kMaxDirections]) {
  return EncodeIndex(L.nel, d, e);
}

void DecodeFunction(const Level& L, int d, std::uint64_t f, int i[kMaxDirections]) {
  DecodeIndex(L.nfun, d, f, i);
}

std::uint64_t EncodeFunction(const Level& L, int d, const int i[kMaxDirections]) {
  return EncodeIndex(L.nfun, d, i);
}

std::uint64_t Scale(int s, int level) {
  std::uint64_t S = 1;
  for (int l = 0; l < level; ++l) S *= static_cast<std::uint64_t>(s);
  return S;
}

int Cells(const Direction& a, std::uint64_t S) {
  return static_cast<int>(static_cast<std::uint64_t>(a.nel0) * S);
}

int Functions(const Direction& a, std::uint64_t S) {
  return a.n0 + static_cast<int>((S - 1) * static_cast<std::uint64_t>(a.nel0));
}

int Span(const Direction& a, std::uint64_t S, int e) {
  const std::uint64_t j = static_cast<std::uint64_t>(e) / S, t = static_cast<std::uint64_t>(e) % S;
  return a.span0[j] + static_cast<int>((S - 1) * j + t);
}

int LastStartAtMost(const Direction& a, std::uint64_t S, long long sigma) {
  // Element j of level 0 starts at index span0[j] + (S - 1) j of this level: with single
  // interior knots span0[j] = p + j, so that j = (sigma - p) / S; a step or two from there
  // where knots repeat, a bisection where they repeat much.
  const long long N = static_cast<long long>(S) - 1;
  const auto start = [&](int j) { return a.span0[j] + N * j; };
  long long guess = (sigma - a.p) / static_cast<long long>(S);
  int j = static_cast<int>(std::min<long long>(std::max<long long>(guess, 0), a.nel0 - 1));
  for (int step = 0; step < 4; ++step) {
    if (start(j) > sigma) {
      if (j == 0) return -1;
      --j;
    } else if (j + 1 < a.nel0 && start(j + 1) <= sigma) {
      ++j;
    } else {
      return j;
    }
  }
  int lo = 0, hi = a.nel0 - 1;
  j = -1;
  while (lo <= hi) {
    const int mid = (lo + hi) / 2;
    if (start(mid) <= sigma) {
      j = mid;
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  return j;
}

double Knot(const Direction& a, std::uint64_t S, int i) {
  // The last element j of level 0 whose start's index at this level is at most i.
  const std::uint64_t N = S - 1;
  const int j = LastStartAtMost(a, S, i);
  if (j < 0) return a.U0[i];
  const std::uint64_t start = static_cast<std::uint64_t>(a.span0[j]) + N * static_cast<std::uint64_t>(j);
  const std::uint64_t t = static_cast<std::uint64_t>(i) - start;
  if (t > N) return a.U0[static_cast<std::uint64_t>(i) - N * (static_cast<std::uint64_t>(j) + 1)];
  const double lo0 = a.U0[a.span0[j]], width = a.U0[a.span0[j] + 1] - lo0;
  return lo0 + width * (static_cast<double>(t) / static_cast<double>(S));
}

namespace {

// The first element of the level whose span is at least sigma (Cells(a, S) where none is): the
// last element j of level 0 whose first span, span0[j] + (S - 1) j, is at most sigma, then the
// offset within it, or the next element of level 0 where sigma lies past j's spans.
int FirstElementFrom(const Direction& a, std::uint64_t S, long long sigma) {
  const long long N = static_cast<long long>(S) - 1;
  const int j = LastStartAtMost(a, S, sigma);
  if (j < 0) return 0;
  const long long t = sigma - (a.span0[j] + N * j);
  if (t <= N) return static_cast<int>(static_cast<long long>(j) * static_cast<long long>(S) + t);
  return static_cast<int>(static_cast<long long>(j + 1) * static_cast<long long>(S));
}

}  // namespace

void Support(const Direction& a, std::uint64_t S, int i, int* lo, int* hi) {
  // Elements whose span lies in [i, i + p].
  *lo = FirstElementFrom(a, S, i);
  *hi = FirstElementFrom(a, S, static_cast<long long>(i) + a.p + 1) - 1;
}

int ElementOfPoint(const Direction& a, std::uint64_t S, double x) {
  const double first = a.U0[a.p], last = a.U0[a.n0];
  x = std::min(std::max(x, first), last);
  const int span = FindSpan(a.n0 - 1, a.p, x, a.U0);
  const int j = std::max(0, static_cast<int>(std::upper_bound(a.span0, a.span0 + a.nel0, span) - a.span0) - 1);
  const double lo0 = a.U0[a.span0[j]], width = a.U0[a.span0[j] + 1] - lo0;
  double guess = std::floor((x - lo0) / width * static_cast<double>(S));
  if (!(guess >= 0)) guess = 0;
  std::uint64_t t = std::min(static_cast<std::uint64_t>(guess), S - 1);
  const auto at = [&](std::uint64_t k) { return lo0 + width * (static_cast<double>(k) / static_cast<double>(S)); };
  while (t > 0 && x < at(t)) --t;
  while (t + 1 < S && x >= at(t + 1)) ++t;
  return static_cast<int>(static_cast<std::uint64_t>(j) * S + t);
}

void Window(const Direction& a, std::uint64_t S, int span, double* w) {
  for (int k = 0; k < 2 * a.p + 2; ++k) w[k] = Knot(a, S, span - a.p + k);
}

bool RefinedFlag(const Level& L, std::uint64_t cell) {
  const std::int64_t at = L.refined.Find(cell);
  return at >= 0 && L.hasActive[at] != 0;
}

int PatchOfElement(const Hierarchy& h, std::size_t element) {
  int lo = 0, hi = h.npatch - 1;
  while (lo < hi) {
    const int mid = (lo + hi + 1) / 2;
    if (h.patch[mid].firstElement <= element) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  return lo;
}

Located Locate(const Hierarchy& h, std::size_t element) {
  Located at{};
  at.patch = PatchOfElement(h, element);
  const PatchData& P = h.patch[at.patch];
  int level = 0;
  for (int l = 0; l < P.levels; ++l) {
    if (P.level[l].cells.count > 0 && P.level[l].firstElement <= element) level = l;
  }
  at.level = level;
  const Level& L = P.level[level];
  at.cell = L.cells.key[element - L.firstElement];
  Decode(L, P.d, at.cell, at.e);
  return at;
}

}  // namespace internal

using namespace internal;

namespace {

bool Whole(double v, double lo, double hi) { return v >= lo && v <= hi && v == std::trunc(v); }

// Cells of a patch's level in direction k: nel0 s^level, or 0 where that passes kMaxCells.
long long CellsOf(int nel0, int s, int level) {
  long long n = nel0;
  for (int l = 0; l < level; ++l) {
    n *= s;
    if (n > kMaxCells) return 0;
  }
  return n;
}

// The (patch, level, cell) of a refinement column as one key, for comparisons.
struct Column {
  double patch, level, cell;
};

bool Before(const Column& a, const Column& b) {
  if (a.patch != b.patch) return a.patch < b.patch;
  if (a.level != b.level) return a.level < b.level;
  return a.cell < b.cell;
}

Column ColumnAt(const Refinement& r, std::size_t k) {
  return {r.cells[3 * k], r.cells[3 * k + 1], r.cells[3 * k + 2]};
}

// Whether the refinement holds (patch, level, cell): binary search over the sorted columns.
bool Holds(const Refinement& r, Column c) {
  std::size_t lo = 0, hi = r.count;
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    if (Before(ColumnAt(r, mid), c)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo >= r.count) return false;
  const Column f = ColumnAt(r, lo);
  return f.patch == c.patch && f.level == c.level && f.cell == c.cell;
}

// A face as the hierarchy reads it: its fixed direction and end, and the patch's directions that
// are its first and second.
struct FaceOf {
  int fixed;
  bool end;
  int fd;
  int dirs[2];
};

FaceOf MakeFaceOf(int d, int side) {
  FaceOf f{};
  f.fixed = (side - 1) / 2;
  f.end = side % 2 == 0;
  f.fd = d - 1;
  for (int j = 0, m = 0; j < d; ++j) {
    if (j != f.fixed) f.dirs[m++] = j;
  }
  return f;
}

struct Orient {
  int perm[2];
  bool rev[2];
};

Orient OrientOf(const domain::Interface& i, int d) {
  Orient o{{0, 1}, {false, false}};
  if (d == 2) {
    o.rev[0] = i.flag == -1;
  } else if (d == 3) {
    if (i.flag == -1) {
      o.perm[0] = 1;
      o.perm[1] = 0;
    }
    o.rev[0] = i.ornt1 == -1;
    o.rev[1] = i.ornt2 == -1;
  }
  return o;
}

// Index tuple a of the first face (counts na over its patch's directions) mapped to the second
// face's patch directions (counts nb), at the second face's end layer.
void MapAcross(const FaceOf& fa, const FaceOf& fb, const Orient& o, const int a[3],
               const int nb[3], int b[3]) {
  b[0] = b[1] = b[2] = 0;
  for (int m = 0; m < fa.fd; ++m) {
    const int dir = fb.dirs[o.perm[m]];
    const int v = a[fa.dirs[m]];
    b[dir] = o.rev[m] ? nb[dir] - 1 - v : v;
  }
  b[fb.fixed] = fb.end ? nb[fb.fixed] - 1 : 0;
}

bool OpenAt(const Axis& a, bool end) {
  for (int k = 1; k <= a.p; ++k) {
    if (end ? a.U[a.m - 1 - k] != a.U[a.m - 1] : a.U[k] != a.U[0]) return false;
  }
  return true;
}

}  // namespace

Finding Check(const PatchInput patches[], int npatch, const Options& options,
              const Refinement& r, const domain::Interface interfaces[], int ninterfaces) {
  Finding f{Fault::None, 0, 0, 0};
  const int s = options.subdivision;
  Column previous{-1, -1, -1};
  for (std::size_t k = 0; k < r.count; ++k) {
    const Column c = ColumnAt(r, k);
    f.at = k;
    if (!Whole(c.patch, 1, npatch)) {
      f.fault = Fault::Patch;
      return f;
    }
    const int p = static_cast<int>(c.patch) - 1;
    f.patch = p;
    if (!Whole(c.level, 0, kMaxLevels - 2)) {
      f.fault = Fault::Level;
      return f;
    }
    const int level = static_cast<int>(c.level);
    f.level = level;
    const mesh::Mesh& m = *patches[p].mesh;
    double cells = 1.0;
    for (int d = 0; d < m.d; ++d) {
      if (CellsOf(m.nel[d], s, level + 1) == 0) {
        f.fault = Fault::TooFine;
        f.level = level + 1;
        return f;
      }
      cells *= static_cast<double>(CellsOf(m.nel[d], s, level));
    }
    if (!Whole(c.cell, 1, cells)) {
      f.fault = Fault::Cell;
      return f;
    }
    if (k > 0 && !Before(previous, c)) {
      f.fault = Fault::Order;
      return f;
    }
    previous = c;
    if (level > 0) {
      // The parent: each direction's index divided by s.
      std::uint64_t cell = static_cast<std::uint64_t>(c.cell) - 1, parent = 0, scale = 1;
      for (int d = 0; d < m.d; ++d) {
        const std::uint64_t n = static_cast<std::uint64_t>(CellsOf(m.nel[d], s, level));
        const std::uint64_t e = cell % n;
        cell /= n;
        parent += (e / static_cast<std::uint64_t>(s)) * scale;
        scale *= n / static_cast<std::uint64_t>(s);
      }
      if (!Holds(r, {c.patch, c.level - 1, static_cast<double>(parent + 1)})) {
        f.fault = Fault::Parent;
        return f;
      }
    }
  }
  f = Finding{Fault::None, 0, 0, 0};
  for (int i = 0; i < ninterfaces; ++i) {
    const domain::Interface& in = interfaces[i];
    f.at = static_cast<std::size_t>(i);
    const mesh::Mesh& A = *patches[in.patch1].mesh;
    const mesh::Mesh& B = *patches[in.patch2].mesh;
    const FaceOf fa = MakeFaceOf(A.d, in.side1), fb = MakeFaceOf(B.d, in.side2);
    const Orient o = OrientOf(in, A.d);
    for (int m = 0; m < fa.fd; ++m) {
      const Axis& a = A.space.axis[fa.dirs[m]];
      const Axis& b = B.space.axis[fb.dirs[o.perm[m]]];
      if (a.n != b.n || a.p != b.p || A.nel[fa.dirs[m]] != B.nel[fb.dirs[o.perm[m]]]) {
        f.fault = Fault::Interface;
        return f;
      }
    }
    if (!OpenAt(A.space.axis[fa.fixed], fa.end) || !OpenAt(B.space.axis[fb.fixed], fb.end)) {
      f.fault = Fault::NotOpen;
      f.patch = OpenAt(A.space.axis[fa.fixed], fa.end) ? in.patch2 : in.patch1;
      return f;
    }
  }
  return Finding{Fault::None, 0, 0, 0};
}

namespace {

// Sorted, unique.
std::size_t Unique(std::uint64_t* keys, std::size_t count) {
  std::sort(keys, keys + count);
  return static_cast<std::size_t>(std::unique(keys, keys + count) - keys);
}

// A box of indices lo..hi (inclusive) a direction, visited with the first direction fastest;
// stops where visit returns false. Returns whether every visit returned true.
template <typename Visit>
bool EachInBox(int d, const int lo[3], const int hi[3], Visit visit) {
  int i[3] = {lo[0], d > 1 ? lo[1] : 0, d > 2 ? lo[2] : 0};
  const int h1 = d > 1 ? hi[1] : 0, h2 = d > 2 ? hi[2] : 0;
  for (i[2] = d > 2 ? lo[2] : 0; i[2] <= h2; ++i[2]) {
    for (i[1] = d > 1 ? lo[1] : 0; i[1] <= h1; ++i[1]) {
      for (i[0] = lo[0]; i[0] <= hi[0]; ++i[0]) {
        if (!visit(i)) return false;
      }
    }
  }
  return true;
}

// A patch's directions from its level-0 mesh: element spans, and each element's geometry span.
bool MakeDirections(Arena* arena, const mesh::Mesh& base, PatchData* P) {
  for (int k = 0; k < base.d; ++k) {
    const Axis& a = base.space.axis[k];
    Direction& D = P->axis[k];
    D.p = a.p;
    D.n0 = a.n;
    D.m0 = a.m;
    D.U0 = a.U;
    D.nel0 = mesh::CountElements(a);
    D.span0 = static_cast<int*>(arena->Take(2 * static_cast<std::size_t>(D.nel0) * sizeof(int)));
    if (D.span0 == nullptr) return false;
    D.gspan0 = D.span0 + D.nel0;
    mesh::ElementSpans(a, D.span0);
    const Axis& g = base.geometry.axis[k];
    for (int e = 0; e < D.nel0; ++e) D.gspan0[e] = FindSpan(g.n - 1, g.p, a.U[D.span0[e]], g.U);
  }
  return true;
}

void SetLevel(const PatchData& P, int s, int l, Level* L) {
  L->S = Scale(s, l);
  L->ncell = L->nfunctions = 1;
  for (int k = 0; k < kMaxDirections; ++k) {
    L->nel[k] = L->nfun[k] = 1;
    if (k >= P.d) continue;
    L->nel[k] = Cells(P.axis[k], L->S);
    L->nfun[k] = Functions(P.axis[k], L->S);
    L->ncell *= static_cast<std::uint64_t>(L->nel[k]);
    L->nfunctions *= static_cast<std::uint64_t>(L->nfun[k]);
  }
}

// Function f's support at level L, a box of cells; false where it is empty.
bool SupportBox(const PatchData& P, const Level& L, std::uint64_t f, int lo[3], int hi[3]) {
  int i[3];
  DecodeFunction(L, P.d, f, i);
  for (int k = 0; k < 3; ++k) lo[k] = hi[k] = 0;
  for (int k = 0; k < P.d; ++k) {
    Support(P.axis[k], L.S, i[k], &lo[k], &hi[k]);
    if (lo[k] > hi[k]) return false;
  }
  return true;
}

// Whether every level-l cell of function f's support is in `set`, or (parent) every level-(l-1)
// parent of them is. A function with an empty support (repeated knots) is in no set.
bool SupportIn(const PatchData& P, const Level& L, int s, std::uint64_t f, const Set& set,
               const Level* parent) {
  if (set.count == 0) return false;
  int lo[3], hi[3];
  if (!SupportBox(P, L, f, lo, hi)) return false;
  if (parent) {
    for (int k = 0; k < P.d; ++k) {
      lo[k] /= s;
      hi[k] /= s;
    }
  }
  const Level& at = parent ? *parent : L;
  return EachInBox(P.d, lo, hi, [&](const int* e) { return set.Find(Encode(at, P.d, e)) >= 0; });
}

// The functions of a cell of level L: a box of their tensor indices.
void CellFunctions(const PatchData& P, const Level& L, const int e[3], int lo[3], int hi[3]) {
  for (int k = 0; k < 3; ++k) {
    lo[k] = hi[k] = 0;
    if (k < P.d) {
      hi[k] = Span(P.axis[k], L.S, e[k]);
      lo[k] = hi[k] - P.p[k];
    }
  }
}

bool BuildPatch(Arena* arena, const Options& options, const PatchInput& in,
                const Refinement& r, int index, std::size_t* refinedAt, PatchData* P) {
  const mesh::Mesh& base = *in.mesh;
  const int d = base.d, s = options.subdivision;
  P->base = in.mesh;
  P->d = d;
  P->nloc = 1;
  for (int k = 0; k < d; ++k) {
    P->p[k] = base.space.axis[k].p;
    P->nloc *= P->p[k] + 1;
  }
  P->weights = in.weights;
  P->rational = false;
  if (in.weights) {
    std::size_t n = 1;
    for (int k = 0; k < d; ++k) n *= static_cast<std::size_t>(base.space.axis[k].n);
    for (std::size_t a = 1; a < n && !P->rational; ++a) P->rational = in.weights[a] != in.weights[0];
  }
  // This patch's columns: [*refinedAt, end).
  std::size_t first = *refinedAt, end = first;
  while (end < r.count && r.cells[3 * end] == index + 1) ++end;
  *refinedAt = end;
  int top = -1;
  for (std::size_t k = first; k < end; ++k) top = std::max(top, static_cast<int>(r.cells[3 * k + 1]));
  P->levels = top + 2;
  P->level = static_cast<Level*>(arena->Take(static_cast<std::size_t>(P->levels) * sizeof(Level)));
  if (P->level == nullptr) return false;
  for (int l = 0; l < P->levels; ++l) new (&P->level[l]) Level{};

  if (!MakeDirections(arena, base, P)) return false;
  for (int l = 0; l < P->levels; ++l) SetLevel(*P, s, l, &P->level[l]);
  // An element's shape: the level-0 mesh as a B-spline space, every element, no side.
  P->mesh = base;
  P->mesh.isoparametric = false;
  P->mesh.space.weights = nullptr;
  P->mesh.space.values = nullptr;
  P->mesh.elements = nullptr;
  P->mesh.side = 0;
  // The refined sets.
  std::size_t at = first;
  for (int l = 0; l < P->levels; ++l) {
    std::size_t n = 0;
    while (at + n < end && r.cells[3 * (at + n) + 1] == l) ++n;
    std::uint64_t* keys =
        static_cast<std::uint64_t*>(arena->Take((n > 0 ? n : 1) * sizeof(std::uint64_t)));
    std::uint8_t* flags = static_cast<std::uint8_t*>(arena->Take(n > 0 ? n : 1));
    if (keys == nullptr || flags == nullptr) return false;
    for (std::size_t k = 0; k < n; ++k) {
      keys[k] = static_cast<std::uint64_t>(r.cells[3 * (at + k) + 2]) - 1;
      flags[k] = 0;
    }
    at += n;
    if (!MakeSet(arena, keys, n, &P->level[l].refined)) return false;
    P->level[l].hasActive = flags;
  }

  // Active cells and functions, and the functions whose support lies in Omega^l.
  std::size_t functions = 0;
  for (int l = 0; l < P->levels; ++l) {
    Level& L = P->level[l];
    const Level* coarse = l > 0 ? &P->level[l - 1] : nullptr;
    // Cells of Omega^l that are not refined.
    std::uint64_t* cells = nullptr;
    std::size_t ncells = 0;
    if (l == 0) {
      cells = static_cast<std::uint64_t*>(
          arena->Take(static_cast<std::size_t>(L.ncell - L.refined.count + 1) * sizeof(std::uint64_t)));
      if (cells == nullptr) return false;
      for (std::uint64_t c = 0; c < L.ncell; ++c) {
        if (L.refined.Find(c) < 0) cells[ncells++] = c;
      }
    } else {
      std::size_t sd = 1;
      for (int k = 0; k < d; ++k) sd *= static_cast<std::size_t>(s);
      cells = static_cast<std::uint64_t*>(
          arena->Take((coarse->refined.count * sd + 1) * sizeof(std::uint64_t)));
      if (cells == nullptr) return false;
      for (std::size_t k = 0; k < coarse->refined.count; ++k) {
        int pe[3];
        Decode(*coarse, d, coarse->refined.key[k], pe);
        int lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
        for (int j = 0; j < d; ++j) {
          lo[j] = s * pe[j];
          hi[j] = lo[j] + s - 1;
        }
        EachInBox(d, lo, hi, [&](const int* e) {
          const std::uint64_t c = Encode(L, d, e);
          if (L.refined.Find(c) < 0) cells[ncells++] = c;
          return true;
        });
      }
      std::sort(cells, cells + ncells);
    }
    if (!MakeSet(arena, cells, ncells, &L.cells)) return false;

    // Candidate functions: every one (level 0), or those of the children of refined cells.
    std::uint64_t* candidates = nullptr;
    std::size_t ncand = 0;
    if (l == 0) {
      candidates = static_cast<std::uint64_t*>(
          std::malloc(static_cast<std::size_t>(L.nfunctions) * sizeof(std::uint64_t)));
      if (candidates == nullptr) return false;
      for (std::uint64_t f = 0; f < L.nfunctions; ++f) candidates[ncand++] = f;
    } else {
      std::size_t box = 1;
      for (int k = 0; k < d; ++k) box *= static_cast<std::size_t>(s + P->p[k]);
      // A parent's children's functions: at most s + p a direction with single knots; repeated
      // knots only make fewer, as spans of the children are s consecutive elements.
      std::size_t bound = coarse->refined.count * box;
      candidates = static_cast<std::uint64_t*>(std::malloc((bound + 1) * sizeof(std::uint64_t)));
      if (candidates == nullptr) return false;
      for (std::size_t k = 0; k < coarse->refined.count; ++k) {
        int pe[3];
        Decode(*coarse, d, coarse->refined.key[k], pe);
        int lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
        for (int j = 0; j < d; ++j) {
          hi[j] = Span(P->axis[j], L.S, s * pe[j] + s - 1);
          lo[j] = Span(P->axis[j], L.S, s * pe[j]) - P->p[j];
        }
        EachInBox(d, lo, hi, [&](const int* i) {
          candidates[ncand++] = EncodeFunction(L, d, i);
          return true;
        });
      }
      ncand = Unique(candidates, ncand);
    }
    std::uint64_t* active =
        static_cast<std::uint64_t*>(arena->Take((ncand + 1) * sizeof(std::uint64_t)));
    std::uint64_t* trunc =
        l > 0 ? static_cast<std::uint64_t*>(arena->Take((ncand + 1) * sizeof(std::uint64_t)))
              : nullptr;
    if (active == nullptr || (l > 0 && trunc == nullptr)) {
      std::free(candidates);
      return false;
    }
    std::size_t nactive = 0, ntrunc = 0;
    for (std::size_t k = 0; k < ncand; ++k) {
      const std::uint64_t f = candidates[k];
      if (l > 0) {
        if (!SupportIn(*P, L, s, f, coarse->refined, coarse)) continue;
        trunc[ntrunc++] = f;
      } else {
        // A function with an empty support is no function of the space.
        int lo[3], hi[3];
        if (!SupportBox(*P, L, f, lo, hi)) continue;
      }
      if (!SupportIn(*P, L, s, f, L.refined, nullptr)) active[nactive++] = f;
    }
    std::free(candidates);
    if (!MakeSet(arena, active, nactive, &L.active)) return false;
    if (l > 0 && !MakeSet(arena, trunc, ntrunc, &L.trunc)) return false;
    L.firstFunction = functions;
    functions += nactive;
    // Refined cells on which some function of this level is active.
    for (std::size_t k = 0; k < L.refined.count; ++k) {
      int e[3], lo[3], hi[3];
      Decode(L, d, L.refined.key[k], e);
      CellFunctions(*P, L, e, lo, hi);
      L.hasActive[k] = !EachInBox(d, lo, hi, [&](const int* i) {
        return L.active.Find(EncodeFunction(L, d, i)) < 0;
      });
    }
  }
  P->functions = functions;
  return true;
}

// Union-find over every patch's functions.
std::size_t Root(std::size_t* parent, std::size_t a) {
  while (parent[a] != a) {
    parent[a] = parent[parent[a]];
    a = parent[a];
  }
  return a;
}

void Join(std::size_t* parent, std::size_t a, std::size_t b) {
  a = Root(parent, a);
  b = Root(parent, b);
  if (a == b) return;
  if (a < b) {
    parent[b] = a;
  } else {
    parent[a] = b;
  }
}

// The cells of level l along face f of patch A that are refined in A, each found refined in B
// across the interface.
bool Conforms(const PatchData& A, const FaceOf& fa, const PatchData& B, const FaceOf& fb,
              const Orient& o, int l) {
  if (l >= A.levels) return true;
  const Level& LA = A.level[l];
  const Set* other = l < B.levels ? &B.level[l].refined : nullptr;
  for (std::size_t k = 0; k < LA.refined.count; ++k) {
    int e[3];
    Decode(LA, A.d, LA.refined.key[k], e);
    if (e[fa.fixed] != (fa.end ? LA.nel[fa.fixed] - 1 : 0)) continue;
    if (other == nullptr) return false;
    int b[3];
    MapAcross(fa, fb, o, e, B.level[l].nel, b);
    if (other->Find(Encode(B.level[l], B.d, b)) < 0) return false;
  }
  return true;
}

}  // namespace

Hierarchy* Build(const PatchInput patches[], int npatch, const Options& options,
                 const Refinement& r, const domain::Interface interfaces[], int ninterfaces,
                 Finding* finding) {
  *finding = Finding{Fault::None, 0, 0, 0};
  Hierarchy* h = static_cast<Hierarchy*>(std::calloc(1, sizeof(Hierarchy)));
  if (h == nullptr) {
    finding->fault = Fault::OutOfMemory;
    return nullptr;
  }
  new (h) Hierarchy{};
  Arena& arena = h->arena;
  h->npatch = npatch;
  h->d = patches[0].mesh->d;
  h->options = options;
  h->interfaces = interfaces;
  h->ninterfaces = ninterfaces;
  const auto fail = [&](Fault fault) {
    Release(h);
    finding->fault = fault;
    return static_cast<Hierarchy*>(nullptr);
  };
  h->patch = static_cast<PatchData*>(arena.Take(static_cast<std::size_t>(npatch) * sizeof(PatchData)));
  if (h->patch == nullptr) return fail(Fault::OutOfMemory);
  std::size_t refinedAt = 0, local = 0, elements = 0;
  for (int k = 0; k < npatch; ++k) {
    PatchData& P = h->patch[k];
    new (&P) PatchData{};
    if (!BuildPatch(&arena, options, patches[k], r, k, &refinedAt, &P)) {
      return fail(Fault::OutOfMemory);
    }
    P.firstElement = elements;
    for (int l = 0; l < P.levels; ++l) {
      P.level[l].firstElement = elements;
      elements += P.level[l].cells.count;
    }
    P.elements = elements - P.firstElement;
    P.firstLocal = local;
    local += P.functions;
    h->levels = std::max(h->levels, [&] {
      int top = 0;
      for (int l = 0; l < P.levels; ++l) {
        if (P.level[l].cells.count > 0) top = l;
      }
      return top + 1;
    }());
    int rows = 0;
    for (int l = 0; l < P.levels; ++l) rows += P.nloc;
    h->maxRows = std::max(h->maxRows, rows);
    h->maxLocal = std::max(h->maxLocal, P.nloc);
    for (int j = 0; j < P.d; ++j) h->maxDegree = std::max(h->maxDegree, P.p[j]);
  }
  h->nel = elements;

  // The numbering: glued across interfaces, first come first numbered.
  std::size_t* parent =
      static_cast<std::size_t*>(std::malloc((local + 1) * sizeof(std::size_t)));
  if (parent == nullptr) return fail(Fault::OutOfMemory);
  for (std::size_t a = 0; a < local; ++a) parent[a] = a;
  for (int i = 0; i < ninterfaces; ++i) {
    const domain::Interface& in = interfaces[i];
    const PatchData& A = h->patch[in.patch1];
    const PatchData& B = h->patch[in.patch2];
    const FaceOf fa = MakeFaceOf(A.d, in.side1), fb = MakeFaceOf(B.d, in.side2);
    const Orient o = OrientOf(in, A.d);
    // The inverse orientation, from B's face to A's.
    Orient back{{0, 1}, {false, false}};
    for (int m = 0; m < fa.fd; ++m) {
      back.perm[o.perm[m]] = m;
      back.rev[o.perm[m]] = o.rev[m];
    }
    const int levels = std::max(A.levels, B.levels);
    for (int l = 0; l < levels; ++l) {
      if (!Conforms(A, fa, B, fb, o, l) || !Conforms(B, fb, A, fa, back, l)) {
        std::free(parent);
        Release(h);
        finding->fault = Fault::NotConforming;
        finding->at = static_cast<std::size_t>(i);
        finding->level = l;
        return nullptr;
      }
      if (l >= A.levels || l >= B.levels) continue;
      const Level& LA = A.level[l];
      const Level& LB = B.level[l];
      int nb[3] = {1, 1, 1};
      for (int j = 0; j < B.d; ++j) nb[j] = LB.nfun[j];
      for (std::size_t k = 0; k < LA.active.count; ++k) {
        int idx[3];
        DecodeFunction(LA, A.d, LA.active.key[k], idx);
        if (idx[fa.fixed] != (fa.end ? LA.nfun[fa.fixed] - 1 : 0)) continue;
        int b[3];
        MapAcross(fa, fb, o, idx, nb, b);
        const std::int64_t at = LB.active.Find(EncodeFunction(LB, B.d, b));
        if (at < 0) {
          std::free(parent);
          Release(h);
          finding->fault = Fault::NotConforming;
          finding->at = static_cast<std::size_t>(i);
          finding->level = l;
          return nullptr;
        }
        Join(parent, A.firstLocal + LA.firstFunction + k,
             B.firstLocal + LB.firstFunction + static_cast<std::size_t>(at));
      }
    }
  }
  std::size_t* global = static_cast<std::size_t*>(arena.Take((local + 1) * sizeof(std::size_t)));
  std::size_t* index = static_cast<std::size_t*>(std::malloc((local + 1) * sizeof(std::size_t)));
  h->ownerPatch = static_cast<int*>(arena.Take((local + 1) * sizeof(int)));
  h->ownerLocal = static_cast<std::size_t*>(arena.Take((local + 1) * sizeof(std::size_t)));
  if (global == nullptr || index == nullptr || h->ownerPatch == nullptr || h->ownerLocal == nullptr) {
    std::free(parent);
    std::free(index);
    return fail(Fault::OutOfMemory);
  }
  const std::size_t none = SIZE_MAX;
  for (std::size_t a = 0; a < local; ++a) index[a] = none;
  std::size_t ndof = 0;
  for (int k = 0; k < npatch; ++k) {
    PatchData& P = h->patch[k];
    P.global = global + P.firstLocal;
    for (std::size_t a = 0; a < P.functions; ++a) {
      const std::size_t root = Root(parent, P.firstLocal + a);
      if (index[root] == none) {
        index[root] = ndof;
        h->ownerPatch[ndof] = k;
        h->ownerLocal[ndof] = a;
        ++ndof;
      }
      P.global[a] = index[root];
    }
  }
  std::free(parent);
  std::free(index);
  h->ndof = ndof;
  return h;
}

void Release(Hierarchy* h) {
  if (h == nullptr) return;
  h->arena.Free();
  std::free(h);
}

std::size_t Functions(const Hierarchy& h) { return h.ndof; }
std::size_t Elements(const Hierarchy& h) { return h.nel; }
int Levels(const Hierarchy& h) { return h.levels; }
int Patches(const Hierarchy& h) { return h.npatch; }
int Dimension(const Hierarchy& h) { return h.d; }
int MaxFunctions(const Hierarchy& h) { return h.maxRows; }

Cell ElementCell(const Hierarchy& h, std::size_t element) {
  const Located at = Locate(h, element);
  Cell c{at.patch, at.level, at.cell, {at.e[0], at.e[1], at.e[2]}};
  return c;
}

void ElementBox(const Hierarchy& h, std::size_t element, double lo[kMaxDirections],
                double hi[kMaxDirections]) {
  const Located at = Locate(h, element);
  const PatchData& P = h.patch[at.patch];
  const Level& L = P.level[at.level];
  for (int k = 0; k < kMaxDirections; ++k) {
    lo[k] = hi[k] = 0.0;
    if (k < P.d) {
      const int s = Span(P.axis[k], L.S, at.e[k]);
      lo[k] = Knot(P.axis[k], L.S, s);
      hi[k] = Knot(P.axis[k], L.S, s + 1);
    }
  }
}

std::size_t ElementOf(const Hierarchy& h, int patch, int level, std::uint64_t cell) {
  if (patch < 0 || patch >= h.npatch) return SIZE_MAX;
  const PatchData& P = h.patch[patch];
  if (level < 0 || level >= P.levels) return SIZE_MAX;
  const std::int64_t at = P.level[level].cells.Find(cell);
  return at < 0 ? SIZE_MAX : P.level[level].firstElement + static_cast<std::size_t>(at);
}

Function FunctionAt(const Hierarchy& h, std::size_t f) {
  return PatchFunction(h, h.ownerPatch[f], h.ownerLocal[f]);
}

Function PatchFunction(const Hierarchy& h, int k, std::size_t a) {
  const PatchData& P = h.patch[k];
  int level = 0;
  for (int l = 0; l < P.levels; ++l) {
    if (P.level[l].active.count > 0 && P.level[l].firstFunction <= a) level = l;
  }
  const Level& L = P.level[level];
  return {k, level, L.active.key[a - L.firstFunction]};
}

std::size_t PatchFunctions(const Hierarchy& h, int patch) { return h.patch[patch].functions; }
const std::size_t* PatchNumbering(const Hierarchy& h, int patch) { return h.patch[patch].global; }

int PatchLevels(const Hierarchy& h, int patch) { return h.patch[patch].levels; }
int LocalFunctions(const Hierarchy& h, int patch) { return h.patch[patch].nloc; }

const mesh::Mesh& PatchMesh(const Hierarchy& h, int patch) { return h.patch[patch].mesh; }

int LevelCells(const Hierarchy& h, int patch, int level, int direction) {
  return Cells(h.patch[patch].axis[direction], Scale(h.options.subdivision, level));
}

int LevelKnots(const Hierarchy& h, int patch, int level, int direction, double* U) {
  const Direction& a = h.patch[patch].axis[direction];
  const std::uint64_t S = Scale(h.options.subdivision, level);
  const int m = Functions(a, S) + a.p + 1;
  for (int i = 0; i < m && U; ++i) U[i] = Knot(a, S, i);
  return m;
}

namespace {

// Refinement in progress: each patch's and level's new refined cells.
struct Refining {
  const Hierarchy* h;
  int admissibility;
  Marks* marks;  // npatch x kMaxLevels
  bool failed;
  // The cells still to refine: (patch, level, cell), a stack.
  std::uint64_t* stack;
  std::size_t size, capacity;

  Marks& At(int patch, int level) { return marks[patch * kMaxLevels + level]; }
  bool Refined(int patch, int level, std::uint64_t cell) {
    const PatchData& P = h->patch[patch];
    if (level < P.levels && P.level[level].refined.Find(cell) >= 0) return true;
    return At(patch, level).Has(cell);
  }
};

// Level l's cell counts of a patch, whether or not the hierarchy holds the level.
void LevelCells(const PatchData& P, int s, int level, int nel[3]) {
  for (int k = 0; k < 3; ++k) {
    nel[k] = 1;
    if (k < P.d) nel[k] = static_cast<int>(CellsOf(P.level[0].nel[k], s, level));
  }
}

std::uint64_t ParentCell(const PatchData& P, int s, int level, std::uint64_t cell) {
  int nel[3], e[3], pn[3];
  LevelCells(P, s, level, nel);
  LevelCells(P, s, level - 1, pn);
  DecodeIndex(nel, P.d, cell, e);
  for (int k = 0; k < P.d; ++k) e[k] /= s;
  return EncodeIndex(pn, P.d, e);
}

bool InOmega(Refining* R, int patch, int level, std::uint64_t cell) {
  if (level == 0) return true;
  const int s = R->h->options.subdivision;
  return R->Refined(patch, level - 1, ParentCell(R->h->patch[patch], s, level, cell));
}

bool Active(Refining* R, int patch, int level, std::uint64_t cell) {
  return InOmega(R, patch, level, cell) && !R->Refined(patch, level, cell);
}

bool Push(Refining* R, int patch, int level, std::uint64_t cell, bool expanded) {
  if (R->size + 1 > R->capacity) {
    const std::size_t more = R->capacity == 0 ? 256 : 2 * R->capacity;
    std::uint64_t* s = static_cast<std::uint64_t*>(
        std::realloc(R->stack, more * 4 * sizeof(std::uint64_t)));
    if (s == nullptr) return false;
    R->stack = s;
    R->capacity = more;
  }
  std::uint64_t* at = R->stack + 4 * R->size++;
  at[0] = static_cast<std::uint64_t>(patch);
  at[1] = static_cast<std::uint64_t>(level);
  at[2] = cell;
  at[3] = expanded;
  return true;
}

// The active cells of Buffa and Giannelli's neighbourhood of cell Q (patch, level l, e): at
// level j = l - m + 1, those that hold a cell of the support extension of Q at level j + 1
// (truncated) or that are in the support extension at level j (hierarchical).
template <typename Visit>
void Neighbourhood(Refining* R, int patch, int level, const int e[3], Visit visit) {
  const int m = R->admissibility;
  const int j = level - m + 1;
  if (m < 2 || j < 0) return;
  const PatchData& P = R->h->patch[patch];
  const int s = R->h->options.subdivision;
  const bool truncated = R->h->options.truncated;
  const int at = truncated ? j + 1 : j;  // the level of the support extension
  int nat[3], nj[3];
  LevelCells(P, s, at, nat);
  LevelCells(P, s, j, nj);
  int lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  int scale = 1;
  for (int k = 0; k < level - at; ++k) scale *= s;
  for (int k = 0; k < P.d; ++k) {
    const int ek = e[k] / scale;
    // The supports of the functions on the cell: spans sp - p .. sp + p.
    const Direction& a = P.axis[k];
    const std::uint64_t S = Scale(s, at);
    const int sp = Span(a, S, ek);
    int flo, fhi;
    Support(a, S, std::max(0, sp - P.p[k]), &lo[k], &flo);
    Support(a, S, std::min(Functions(a, S) - 1, sp), &fhi, &hi[k]);
    (void)nat;
    if (truncated) {
      lo[k] /= s;
      hi[k] /= s;
    }
  }
  EachInBox(P.d, lo, hi, [&](const int* c) {
    const std::uint64_t cell = EncodeIndex(nj, P.d, c);
    if (Active(R, patch, j, cell)) visit(cell);
    return true;
  });
}

// Refines cell (patch, level, cell) as refine_recursive does: its neighbourhood's active cells
// first, then the cell; a cell outside Omega^level has its parent refined first.
bool RefineCell(Refining* R, int patch, int level, std::uint64_t cell) {
  if (!Push(R, patch, level, cell, false)) return false;
  while (R->size > 0) {
    std::uint64_t* top = R->stack + 4 * (R->size - 1);
    const int p = static_cast<int>(top[0]), l = static_cast<int>(top[1]);
    const std::uint64_t c = top[2];
    if (R->Refined(p, l, c)) {
      --R->size;
      continue;
    }
    const PatchData& P = R->h->patch[p];
    if (top[3] == 0) {
      top[3] = 1;
      if (l > 0 && !InOmega(R, p, l, c)) {
        if (!Push(R, p, l - 1, ParentCell(P, R->h->options.subdivision, l, c), false)) return false;
        continue;
      }
      int nel[3], e[3];
      LevelCells(P, R->h->options.subdivision, l, nel);
      DecodeIndex(nel, P.d, c, e);
      bool ok = true;
      Neighbourhood(R, p, l, e, [&](std::uint64_t k) {
        ok = ok && Push(R, p, l - R->admissibility + 1, k, false);
      });
      if (!ok) return false;
      continue;
    }
    --R->size;
    if (!R->At(p, l).Add(c)) return false;
  }
  return true;
}

}  // namespace

std::size_t Refine(const Hierarchy& h, const std::size_t* marked, std::size_t count,
                   bool functions, int admissibility, double* out) {
  Refining R{};
  R.h = &h;
  R.admissibility = admissibility;
  const std::size_t nmarks = static_cast<std::size_t>(h.npatch) * kMaxLevels;
  R.marks = static_cast<Marks*>(std::calloc(nmarks, sizeof(Marks)));
  if (R.marks == nullptr) return SIZE_MAX;
  bool ok = true;
  const int s = h.options.subdivision;
  for (std::size_t k = 0; k < count && ok; ++k) {
    if (!functions) {
      const Located at = Locate(h, marked[k]);
      ok = RefineCell(&R, at.patch, at.level, at.cell);
      continue;
    }
    // A function: the active cells of its level in its support, in every patch it lives in.
    const Function f = FunctionAt(h, marked[k]);
    for (int p = 0; p < h.npatch && ok; ++p) {
      const PatchData& P = h.patch[p];
      if (f.level >= P.levels) continue;
      const Level& L = P.level[f.level];
      const std::int64_t local = L.active.Find(f.index);
      bool here = p == f.patch;
      if (!here && local >= 0) {
        here = P.global[L.firstFunction + static_cast<std::size_t>(local)] == marked[k];
      }
      if (!here) continue;
      const std::uint64_t index = p == f.patch ? f.index : L.active.key[local];
      int lo[3], hi[3];
      if (!SupportBox(P, L, index, lo, hi)) continue;
      EachInBox(P.d, lo, hi, [&](const int* e) {
        const std::uint64_t c = Encode(L, P.d, e);
        if (L.cells.Find(c) >= 0) ok = ok && RefineCell(&R, p, f.level, c);
        return ok;
      });
    }
  }
  // Interfaces: every new cell along one has its match across refined too, until nothing more.
  if (ok && h.ninterfaces > 0) {
    std::size_t* done = static_cast<std::size_t*>(std::calloc(nmarks, sizeof(std::size_t)));
    ok = done != nullptr;
    bool changed = true;
    while (changed && ok) {
      changed = false;
      for (int p = 0; p < h.npatch && ok; ++p) {
        for (int l = 0; l < kMaxLevels - 1 && ok; ++l) {
          Marks& M = R.At(p, l);
          std::size_t& from = done[p * kMaxLevels + l];
          for (std::size_t k = from; k < M.count && ok; ++k) {
            const std::uint64_t c = M.order[k];
            const PatchData& P = h.patch[p];
            int nel[3], e[3];
            LevelCells(P, s, l, nel);
            DecodeIndex(nel, P.d, c, e);
            for (int i = 0; i < h.ninterfaces && ok; ++i) {
              const domain::Interface& in = h.interfaces[i];
              for (int side = 0; side < 2 && ok; ++side) {
                const int pa = side == 0 ? in.patch1 : in.patch2;
                const int pb = side == 0 ? in.patch2 : in.patch1;
                if (pa != p) continue;
                const FaceOf fa = MakeFaceOf(P.d, side == 0 ? in.side1 : in.side2);
                const FaceOf fb = MakeFaceOf(P.d, side == 0 ? in.side2 : in.side1);
                if (e[fa.fixed] != (fa.end ? nel[fa.fixed] - 1 : 0)) continue;
                Orient o = OrientOf(in, P.d);
                if (side == 1) {
                  Orient back{{0, 1}, {false, false}};
                  for (int m = 0; m < fa.fd; ++m) {
                    back.perm[o.perm[m]] = m;
                    back.rev[o.perm[m]] = o.rev[m];
                  }
                  o = back;
                }
                int nb[3], b[3];
                LevelCells(h.patch[pb], s, l, nb);
                MapAcross(fa, fb, o, e, nb, b);
                const std::uint64_t cb = EncodeIndex(nb, P.d, b);
                if (!R.Refined(pb, l, cb)) {
                  ok = RefineCell(&R, pb, l, cb);
                  changed = true;
                }
              }
            }
          }
          from = M.count;
        }
      }
    }
    std::free(done);
  }
  std::size_t total = 0;
  if (ok) {
    // Old and new refined cells, merged per patch and level.
    std::uint64_t* merged = nullptr;
    std::size_t room = 0;
    for (int p = 0; p < h.npatch && ok; ++p) {
      const PatchData& P = h.patch[p];
      for (int l = 0; l < kMaxLevels - 1 && ok; ++l) {
        const Marks& M = R.At(p, l);
        const std::size_t old = l < P.levels ? P.level[l].refined.count : 0;
        const std::size_t n = old + M.count;
        if (n == 0) continue;
        if (n > room) {
          std::uint64_t* grown =
              static_cast<std::uint64_t*>(std::realloc(merged, n * sizeof(std::uint64_t)));
          if (grown == nullptr) {
            ok = false;
            break;
          }
          merged = grown;
          room = n;
        }
        for (std::size_t k = 0; k < old; ++k) merged[k] = P.level[l].refined.key[k];
        for (std::size_t k = 0; k < M.count; ++k) merged[old + k] = M.order[k];
        const std::size_t u = Unique(merged, n);
        if (out) {
          for (std::size_t k = 0; k < u; ++k) {
            double* col = out + 3 * (total + k);
            col[0] = p + 1;
            col[1] = l;
            col[2] = static_cast<double>(merged[k] + 1);
          }
        }
        total += u;
      }
    }
    std::free(merged);
  }
  for (std::size_t k = 0; k < nmarks; ++k) R.marks[k].Free();
  std::free(R.marks);
  std::free(R.stack);
  return ok ? total : SIZE_MAX;
}

}  // namespace hierarchical
