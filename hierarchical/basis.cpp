// The basis on an element: the two-scale relation, the change of basis from the element's
// tensor functions to the hierarchy's, the element's fields, and fields moved between spaces.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <new>

#include "NURBS.h"
#include "hierarchy_internal.h"

namespace hierarchical {

using namespace internal;

void TwoScale(int p, const double* U, int sp, const double* V, int sc, double* A) {
  double N[kMaxDegree + 1];
  for (int i = 0; i <= p; ++i) {
    // The blossom of the coarse functions' pieces on span sp at V[f + 1 .. f + p], f the fine
    // function: the recurrence of BasisFuns (The NURBS Book A2.2) with stage j at V[f + j].
    const int f = sc - p + i;
    N[0] = 1.0;
    for (int j = 1; j <= p; ++j) {
      const double x = V[f + j];
      double saved = 0.0;
      for (int r = 0; r < j; ++r) {
        const double a = U[sp + r + 1], b = U[sp + r + 1 - j];
        const double temp = N[r] / (a - b);
        N[r] = saved + (a - x) * temp;
        saved = (x - b) * temp;
      }
      N[j] = saved;
    }
    for (int j = 0; j <= p; ++j) A[i + (p + 1) * j] = N[j];
  }
}

struct Workspace {
  const Hierarchy* h;
  int nloc, rows, nqn, rdim;
  double* M;   // rows x nloc, row-major: the change of basis
  double* T;   // the same, for mode products
  std::size_t* g;  // each row's global function
  double* ws;      // each row's weight at its level (1 for B-splines)
  int* level;      // each row's level
  double* W;       // the weight function's coefficients on the current cell
  double* Wt;
  // Two-scale matrices of each level (from its parent) and direction, the last child asked.
  double* A;
  long long* key;  // (patch, child element) a level and direction; -1 none
  // The tensor fields of one element, and the weight function at its nodes.
  double *R, *gradient, *hessian, *laplacian;
  double *Wv, *Wg, *Wh, *Wl;
  double *fv, *fg;  // one rational row's numerator and its gradient at the nodes
  int* nz;  // each row's non-zero columns, nloc a row
  int* nzCount;
  void* scratchBlock;
  mesh::Scratch* scratch;
  // The one-element mesh's knots, spans and geometry spans.
  double window[kMaxDirections * (2 * kMaxDegree + 2)];
  int span[kMaxDirections], gspan[kMaxDirections];
};

namespace {

std::size_t Round(std::size_t bytes) { return (bytes + 63) / 64 * 64; }

struct WorkspaceLayout {
  std::size_t M, T, g, ws, level, W, Wt, A, key, R, gradient, hessian, laplacian, Wv, Wg, Wh, Wl,
      fv, fg, nz, nzCount, scratch, total;
};

// The tensor rows' sizes: the largest nodes an element and scratch over the patches' level-0
// meshes with the caller's wanted.
WorkspaceLayout LayoutOf(const Hierarchy& h, const mesh::Wanted& wanted, int* nqnOut,
                         int* rdimOut) {
  int nqn = 1, rdim = 1;
  std::size_t scratch = 0;
  for (int k = 0; k < h.npatch; ++k) {
    mesh::Mesh m = h.patch[k].mesh;
    m.wanted = wanted;
    nqn = std::max(nqn, mesh::Nodes(m));
    rdim = std::max(rdim, m.rdim);
    scratch = std::max(scratch, mesh::ScratchBytes(m));
  }
  *nqnOut = nqn;
  *rdimOut = rdim;
  const std::size_t rows = static_cast<std::size_t>(h.maxRows);
  const std::size_t nloc = static_cast<std::size_t>(h.maxLocal);
  const std::size_t q = static_cast<std::size_t>(nqn), r = static_cast<std::size_t>(rdim);
  const std::size_t p1 = static_cast<std::size_t>(h.maxDegree) + 1;
  WorkspaceLayout l{};
  std::size_t at = Round(sizeof(Workspace));
  const auto take = [&at](std::size_t bytes) {
    const std::size_t here = at;
    at += Round(bytes);
    return here;
  };
  l.M = take(rows * nloc * sizeof(double));
  l.T = take(rows * nloc * sizeof(double));
  l.g = take(rows * sizeof(std::size_t));
  l.ws = take(rows * sizeof(double));
  l.level = take(rows * sizeof(int));
  l.W = take(nloc * sizeof(double));
  l.Wt = take(nloc * sizeof(double));
  l.A = take(kMaxLevels * kMaxDirections * p1 * p1 * sizeof(double));
  l.key = take(kMaxLevels * kMaxDirections * 2 * sizeof(long long));
  l.R = take(q * nloc * sizeof(double));
  l.gradient = take(r * q * nloc * sizeof(double));
  l.hessian = take(wanted.hessian ? r * r * q * nloc * sizeof(double) : 0);
  l.laplacian = take(wanted.laplacian ? q * nloc * sizeof(double) : 0);
  l.Wv = take(q * sizeof(double));
  l.Wg = take(r * q * sizeof(double));
  l.Wh = take(wanted.hessian ? r * r * q * sizeof(double) : 0);
  l.Wl = take(wanted.laplacian ? q * sizeof(double) : 0);
  l.fv = take(q * sizeof(double));
  l.fg = take(r * q * sizeof(double));
  l.nz = take(rows * nloc * sizeof(int));
  l.nzCount = take(rows * sizeof(int));
  l.scratch = take(scratch);
  l.total = at;
  return l;
}

// Direction k's two-scale matrix of level `level` (>= 1) from its parent cell to child cell c.
const double* TwoScaleOf(const Hierarchy& h, Workspace* w, int patch, int level, int k, int c) {
  const PatchData& P = h.patch[patch];
  const std::size_t p1 = static_cast<std::size_t>(h.maxDegree) + 1;
  const std::size_t slot = static_cast<std::size_t>(level) * kMaxDirections + k;
  double* A = w->A + slot * p1 * p1;
  long long* key = w->key + 2 * slot;
  if (key[0] == patch && key[1] == c) return A;
  const Direction& a = P.axis[k];
  const std::uint64_t S = P.level[level].S, Sc = P.level[level - 1].S;
  const int parent = c / h.options.subdivision;
  double U[2 * kMaxDegree + 2], V[2 * kMaxDegree + 2];
  Window(a, Sc, Span(a, Sc, parent), U);
  Window(a, S, Span(a, S, c), V);
  TwoScale(P.p[k], U, P.p[k], V, P.p[k], A);
  key[0] = patch;
  key[1] = c;
  return A;
}

// rows x nloc row-major X (or one vector, rows 1) mapped from a parent cell's functions to its
// child's: one direction at a time, through T.
void Refine(const Hierarchy& h, Workspace* w, const PatchData& P, int patch, int level,
            const int e[3], double* X, int rows, double* T) {
  const int d = P.d;
  int before = 1;
  for (int k = 0; k < d; ++k) {
    const int n = P.p[k] + 1;
    int after = 1;
    for (int j = k + 1; j < d; ++j) after *= P.p[j] + 1;
    const double* A = TwoScaleOf(h, w, patch, level, k, e[k]);
    for (int r = 0; r < rows; ++r) {
      const double* x = X + static_cast<std::size_t>(r) * P.nloc;
      double* t = T + static_cast<std::size_t>(r) * P.nloc;
      for (int a = 0; a < after; ++a) {
        for (int i = 0; i < n; ++i) {
          for (int b = 0; b < before; ++b) {
            double v = 0.0;
            for (int j = 0; j < n; ++j) v += A[i + n * j] * x[b + before * (j + n * a)];
            t[b + before * (i + n * a)] = v;
          }
        }
      }
    }
    std::memcpy(X, T, static_cast<std::size_t>(rows) * P.nloc * sizeof(double));
    before *= n;
  }
}

// A box of cells lo..hi, first direction fastest, until visit returns false; whether it never did.
template <typename Visit>
bool EachCell(int d, const int lo[3], const int hi[3], Visit visit) {
  int c[3] = {0, 0, 0};
  for (c[2] = d > 2 ? lo[2] : 0; c[2] <= (d > 2 ? hi[2] : 0); ++c[2]) {
    for (c[1] = d > 1 ? lo[1] : 0; c[1] <= (d > 1 ? hi[1] : 0); ++c[1]) {
      for (c[0] = lo[0]; c[0] <= hi[0]; ++c[0]) {
        if (!visit(c)) return false;
      }
    }
  }
  return true;
}

// The cell's local function j as its tensor index at level L.
std::uint64_t LocalFunction(const Level& L, const PatchData& P, const int e[3], int j) {
  int i[3] = {0, 0, 0};
  for (int k = 0; k < P.d; ++k) {
    const int n = P.p[k] + 1;
    i[k] = Span(P.axis[k], L.S, e[k]) - P.p[k] + j % n;
    j /= n;
  }
  return EncodeFunction(L, P.d, i);
}

// The cell of level `level` that holds (is) element cell e of level `top`.
void Ancestor(int s, int top, int level, const int e[3], int out[3]) {
  int scale = 1;
  for (int k = level; k < top; ++k) scale *= s;
  for (int k = 0; k < 3; ++k) out[k] = e[k] / scale;
}

// The change of basis of element `at`: its rows (functions) in w->M, their global indices,
// weights and levels; the weight function's coefficients in w->W. Rows that vanish on the
// element are dropped. Returns the rows.
int ChangeOfBasis(const Hierarchy& h, Workspace* w, const Located& at) {
  const PatchData& P = h.patch[at.patch];
  const int d = P.d, nloc = P.nloc, s = h.options.subdivision;
  int rows = 0;
  int e[3];
  for (int k = 0; k <= at.level; ++k) {
    const Level& L = P.level[k];
    Ancestor(s, at.level, k, at.e, e);
    if (k == 0) {
      if (P.rational) {
        for (int j = 0; j < nloc; ++j) w->W[j] = P.weights[LocalFunction(L, P, e, j)];
      }
    } else {
      if (rows > 0) Refine(h, w, P, at.patch, k, e, w->M, rows, w->T);
      if (P.rational) Refine(h, w, P, at.patch, k, e, w->W, 1, w->Wt);
      if (h.options.truncated && rows > 0 && L.trunc.count > 0) {
        for (int j = 0; j < nloc; ++j) {
          if (L.trunc.Find(LocalFunction(L, P, e, j)) < 0) continue;
          for (int r = 0; r < rows; ++r) w->M[static_cast<std::size_t>(r) * nloc + j] = 0.0;
        }
        int kept = 0;
        for (int r = 0; r < rows; ++r) {
          const double* m = w->M + static_cast<std::size_t>(r) * nloc;
          bool zero = true;
          for (int j = 0; j < nloc && zero; ++j) zero = m[j] == 0.0;
          if (zero) continue;
          if (kept != r) {
            std::memcpy(w->M + static_cast<std::size_t>(kept) * nloc, m, nloc * sizeof(double));
            w->g[kept] = w->g[r];
            w->ws[kept] = w->ws[r];
            w->level[kept] = w->level[r];
          }
          ++kept;
        }
        rows = kept;
      }
    }
    if (k < at.level && !RefinedFlag(L, Encode(L, d, e))) continue;
    for (int j = 0; j < nloc; ++j) {
      const std::int64_t f = L.active.Find(LocalFunction(L, P, e, j));
      if (f < 0) continue;
      double* m = w->M + static_cast<std::size_t>(rows) * nloc;
      for (int i = 0; i < nloc; ++i) m[i] = 0.0;
      m[j] = 1.0;
      w->g[rows] = P.global[L.firstFunction + static_cast<std::size_t>(f)];
      w->ws[rows] = P.rational ? w->W[j] : 1.0;
      w->level[rows] = k;
      ++rows;
    }
  }
  return rows;
}

}  // namespace

std::size_t WorkspaceBytes(const Hierarchy& h, const mesh::Wanted& wanted) {
  int nqn, rdim;
  return LayoutOf(h, wanted, &nqn, &rdim).total;
}

Workspace* MakeWorkspace(const Hierarchy& h, const mesh::Wanted& wanted, void* block) {
  int nqn, rdim;
  const WorkspaceLayout l = LayoutOf(h, wanted, &nqn, &rdim);
  char* b = static_cast<char*>(block);
  Workspace* w = new (block) Workspace{};
  w->h = &h;
  w->nloc = h.maxLocal;
  w->rows = h.maxRows;
  w->nqn = nqn;
  w->rdim = rdim;
  w->M = reinterpret_cast<double*>(b + l.M);
  w->T = reinterpret_cast<double*>(b + l.T);
  w->g = reinterpret_cast<std::size_t*>(b + l.g);
  w->ws = reinterpret_cast<double*>(b + l.ws);
  w->level = reinterpret_cast<int*>(b + l.level);
  w->W = reinterpret_cast<double*>(b + l.W);
  w->Wt = reinterpret_cast<double*>(b + l.Wt);
  w->A = reinterpret_cast<double*>(b + l.A);
  w->key = reinterpret_cast<long long*>(b + l.key);
  for (std::size_t k = 0; k < 2 * kMaxLevels * kMaxDirections; ++k) w->key[k] = -1;
  w->R = reinterpret_cast<double*>(b + l.R);
  w->gradient = reinterpret_cast<double*>(b + l.gradient);
  w->hessian = wanted.hessian ? reinterpret_cast<double*>(b + l.hessian) : nullptr;
  w->laplacian = wanted.laplacian ? reinterpret_cast<double*>(b + l.laplacian) : nullptr;
  w->Wv = reinterpret_cast<double*>(b + l.Wv);
  w->Wg = reinterpret_cast<double*>(b + l.Wg);
  w->Wh = wanted.hessian ? reinterpret_cast<double*>(b + l.Wh) : nullptr;
  w->Wl = wanted.laplacian ? reinterpret_cast<double*>(b + l.Wl) : nullptr;
  w->fv = reinterpret_cast<double*>(b + l.fv);
  w->fg = reinterpret_cast<double*>(b + l.fg);
  w->nz = reinterpret_cast<int*>(b + l.nz);
  w->nzCount = reinterpret_cast<int*>(b + l.nzCount);
  w->scratchBlock = b + l.scratch;
  w->scratch = nullptr;
  return w;
}

int ElementFunctions(const Hierarchy& h, Workspace*, std::size_t element, std::size_t* rows) {
  const Located at = Locate(h, element);
  const PatchData& P = h.patch[at.patch];
  int count = 0;
  int e[3];
  for (int k = 0; k <= at.level; ++k) {
    const Level& L = P.level[k];
    Ancestor(h.options.subdivision, at.level, k, at.e, e);
    if (k < at.level && !RefinedFlag(L, Encode(L, P.d, e))) continue;
    for (int j = 0; j < P.nloc; ++j) {
      const std::int64_t f = L.active.Find(LocalFunction(L, P, e, j));
      if (f >= 0) rows[count++] = P.global[L.firstFunction + static_cast<std::size_t>(f)];
    }
  }
  // Ascending already within a patch (its functions numbered level by level, in tensor order);
  // glued ones may not be.
  if (!std::is_sorted(rows, rows + count)) std::sort(rows, rows + count);
  return count;
}

namespace {

// Each row's non-zero columns.
void NonZeros(Workspace* w, int rows, int nloc) {
  for (int r = 0; r < rows; ++r) {
    const double* m = w->M + static_cast<std::size_t>(r) * nloc;
    int* z = w->nz + static_cast<std::size_t>(r) * nloc;
    int n = 0;
    for (int j = 0; j < nloc; ++j) {
      if (m[j] != 0.0) z[n++] = j;
    }
    w->nzCount[r] = n;
  }
}

// o = sum over row r's non-zeros of M(r, j) t[j count .. j count + count - 1].
void MapRow(const Workspace* w, int r, int nloc, const double* t, std::size_t count, double* o) {
  const double* m = w->M + static_cast<std::size_t>(r) * nloc;
  const int* z = w->nz + static_cast<std::size_t>(r) * nloc;
  const int n = w->nzCount[r];
  if (n == 1 && m[z[0]] == 1.0) {
    std::memcpy(o, t + static_cast<std::size_t>(z[0]) * count, count * sizeof(double));
    return;
  }
  for (std::size_t q = 0; q < count; ++q) o[q] = 0.0;
  for (int k = 0; k < n; ++k) {
    const double c = m[z[k]];
    const double* tj = t + static_cast<std::size_t>(z[k]) * count;
    for (std::size_t q = 0; q < count; ++q) o[q] += c * tj[q];
  }
}

// Every row's, out holding count values a function.
void MapRows(const Workspace* w, int rows, int nloc, const double* t, std::size_t count,
             double* out) {
  for (int r = 0; r < rows; ++r) MapRow(w, r, nloc, t, count, out + static_cast<std::size_t>(r) * count);
}

// v[q] = sum_j W[j] t[j count + q].
void WeightAt(const double* W, int nloc, const double* t, std::size_t count, double* v) {
  for (std::size_t q = 0; q < count; ++q) v[q] = 0.0;
  for (int j = 0; j < nloc; ++j) {
    const double c = W[j];
    const double* tj = t + static_cast<std::size_t>(j) * count;
    for (std::size_t q = 0; q < count; ++q) v[q] += c * tj[q];
  }
}

}  // namespace

int EvaluateElement(const Hierarchy& h, Workspace* w, std::size_t element, int side,
                    const mesh::Fields& out) {
  const Located at = Locate(h, element);
  const PatchData& P = h.patch[at.patch];
  const Level& L = P.level[at.level];
  const int nloc = P.nloc;
  const int rows = ChangeOfBasis(h, w, at);
  // Second derivatives only where the workspace has room for them.
  mesh::Fields o = out;
  if (w->hessian == nullptr) o.hessian = nullptr;
  if (w->laplacian == nullptr) o.laplacian = nullptr;
  const bool second = o.hessian != nullptr || o.laplacian != nullptr;
  // The element as a mesh of one element: its level's knots around its cell, a direction's
  // functions those of the span (B-splines depend on their knots alone), the geometry's span of
  // the cell of level 0 that holds it; its scratch made afresh, since its tables are cached by
  // element and every such mesh has element 0 alone.
  mesh::Mesh mesh = P.mesh;
  std::ptrdiff_t stride = 1;
  for (int k = 0; k < P.d; ++k) {
    const Direction& a = P.axis[k];
    double* U = w->window + static_cast<std::size_t>(k) * (2 * kMaxDegree + 2);
    Window(a, L.S, Span(a, L.S, at.e[k]), U);
    mesh.space.axis[k] = {a.p, U, 2 * a.p + 2, a.p + 1};
    mesh.space.stride[k] = stride;
    stride *= a.p + 1;
    mesh.nel[k] = 1;
    w->span[k] = a.p;
    w->gspan[k] = a.gspan0[static_cast<std::uint64_t>(at.e[k]) / L.S];
    mesh.span[k] = &w->span[k];
    mesh.geometrySpan[k] = &w->gspan[k];
  }
  mesh.count = 1;
  mesh.side = side;
  mesh.wanted = {out.gradient != nullptr, o.hessian != nullptr, o.laplacian != nullptr};
  w->scratch = mesh::MakeScratch(mesh, w->scratchBlock);
  mesh::Fields t = o;
  t.R = w->R;
  t.gradient = o.gradient != nullptr || (P.rational && second) ? w->gradient : nullptr;
  t.hessian = o.hessian ? w->hessian : nullptr;
  t.laplacian = o.laplacian ? w->laplacian : nullptr;
  t.connectivity = nullptr;
  mesh::EvaluateElement(mesh, w->scratch, 0, t);

  const std::size_t nqn = static_cast<std::size_t>(mesh::Nodes(mesh));
  const std::size_t r = static_cast<std::size_t>(mesh.rdim);
  if (P.rational) {
    for (int a = 0; a < rows; ++a) {
      double* m = w->M + static_cast<std::size_t>(a) * nloc;
      for (int j = 0; j < nloc; ++j) m[j] *= w->ws[a];
    }
  }
  NonZeros(w, rows, nloc);
  if (out.connectivity) {
    for (int a = 0; a < rows; ++a) out.connectivity[a] = static_cast<double>(w->g[a] + 1);
  }
  if (!P.rational) {
    if (out.R) MapRows(w, rows, nloc, t.R, nqn, out.R);
    if (out.gradient) MapRows(w, rows, nloc, t.gradient, r * nqn, out.gradient);
    if (o.hessian) MapRows(w, rows, nloc, t.hessian, r * r * nqn, o.hessian);
    if (o.laplacian) MapRows(w, rows, nloc, t.laplacian, nqn, o.laplacian);
    return rows;
  }
  // A rational space: R = f / W with f the rows above, derivatives by the quotient rule.
  WeightAt(w->W, nloc, t.R, nqn, w->Wv);
  if (t.gradient) WeightAt(w->W, nloc, t.gradient, r * nqn, w->Wg);
  if (o.hessian) WeightAt(w->W, nloc, t.hessian, r * r * nqn, w->Wh);
  if (o.laplacian) WeightAt(w->W, nloc, t.laplacian, nqn, w->Wl);
  for (int a = 0; a < rows; ++a) {
    double* fv = w->fv;
    MapRow(w, a, nloc, t.R, nqn, fv);
    for (std::size_t q = 0; q < nqn; ++q) fv[q] /= w->Wv[q];  // R_a
    if (out.R) std::memcpy(out.R + nqn * a, fv, nqn * sizeof(double));
    if (!t.gradient) continue;
    double* g = w->fg;
    MapRow(w, a, nloc, t.gradient, r * nqn, g);
    for (std::size_t q = 0; q < nqn; ++q) {
      for (std::size_t c = 0; c < r; ++c) {
        g[c + r * q] = (g[c + r * q] - fv[q] * w->Wg[c + r * q]) / w->Wv[q];
      }
    }
    if (out.gradient) std::memcpy(out.gradient + r * nqn * a, g, r * nqn * sizeof(double));
    if (o.hessian) {
      double* H = o.hessian + r * r * nqn * a;
      MapRow(w, a, nloc, t.hessian, r * r * nqn, H);
      for (std::size_t q = 0; q < nqn; ++q) {
        const double* gq = g + r * q;
        const double* Wg = w->Wg + r * q;
        for (std::size_t c2 = 0; c2 < r; ++c2) {
          for (std::size_t c1 = 0; c1 < r; ++c1) {
            const std::size_t at2 = c1 + r * (c2 + r * q);
            H[at2] = (H[at2] - gq[c1] * Wg[c2] - Wg[c1] * gq[c2] - fv[q] * w->Wh[at2]) / w->Wv[q];
          }
        }
      }
    }
    if (o.laplacian) {
      double* Lp = o.laplacian + nqn * a;
      MapRow(w, a, nloc, t.laplacian, nqn, Lp);
      for (std::size_t q = 0; q < nqn; ++q) {
        double dot = 0.0;
        for (std::size_t c = 0; c < r; ++c) dot += g[c + r * q] * w->Wg[c + r * q];
        Lp[q] = (Lp[q] - 2.0 * dot - fv[q] * w->Wl[q]) / w->Wv[q];
      }
    }
  }
  return rows;
}

int SideFunctions(const Hierarchy& h, Workspace* w, std::size_t element, int side,
                  std::size_t* rows) {
  const Located at = Locate(h, element);
  const PatchData& P = h.patch[at.patch];
  const Level& L = P.level[at.level];
  const int fixed = (side - 1) / 2;
  const bool end = side % 2 == 0;
  if (fixed >= P.d || at.e[fixed] != (end ? L.nel[fixed] - 1 : 0)) return 0;
  const int n = ChangeOfBasis(h, w, at);
  // The fixed direction's local functions that do not vanish at the face.
  const Direction& a = P.axis[fixed];
  double U[2 * kMaxDegree + 2];
  Window(a, L.S, Span(a, L.S, at.e[fixed]), U);
  double N[kMaxDegree + 1];
  BasisFuns(a.p, end ? U[a.p + 1] : U[a.p], a.p, U, N);
  int stride = 1;
  for (int k = 0; k < fixed; ++k) stride *= P.p[k] + 1;
  int count = 0;
  for (int r = 0; r < n; ++r) {
    const double* m = w->M + static_cast<std::size_t>(r) * P.nloc;
    bool on = false;
    for (int j = 0; j < P.nloc && !on; ++j) {
      on = m[j] != 0.0 && N[(j / stride) % (P.p[fixed] + 1)] != 0.0;
    }
    if (on) rows[count++] = w->g[r];
  }
  return count;
}

void ElementCoefficients(const Hierarchy& h, Workspace* w, std::size_t element, const double* u,
                         int ncomp, double* v, double* wl) {
  const Located at = Locate(h, element);
  const PatchData& P = h.patch[at.patch];
  const int nloc = P.nloc;
  const int rows = ChangeOfBasis(h, w, at);
  for (int c = 0; c < ncomp; ++c) {
    double* vc = v + static_cast<std::size_t>(c) * nloc;
    for (int j = 0; j < nloc; ++j) vc[j] = 0.0;
    for (int a = 0; a < rows; ++a) {
      const double ua = u[w->g[a] + h.ndof * static_cast<std::size_t>(c)] * w->ws[a];
      const double* m = w->M + static_cast<std::size_t>(a) * nloc;
      for (int j = 0; j < nloc; ++j) vc[j] += ua * m[j];
    }
  }
  for (int j = 0; j < nloc; ++j) wl[j] = P.rational ? w->W[j] : 1.0;
}

std::size_t ElementAt(const Hierarchy& h, int patch, const double* xi) {
  const PatchData& P = h.patch[patch];
  for (int k = 0; k < P.d; ++k) {
    if (std::isnan(xi[k])) return SIZE_MAX;
  }
  for (int l = 0; l < P.levels; ++l) {
    const Level& L = P.level[l];
    int e[3] = {0, 0, 0};
    for (int k = 0; k < P.d; ++k) e[k] = ElementOfPoint(P.axis[k], L.S, xi[k]);
    const std::uint64_t cell = Encode(L, P.d, e);
    const std::int64_t found = L.cells.Find(cell);
    if (found >= 0) return L.firstElement + static_cast<std::size_t>(found);
    if (L.refined.Find(cell) < 0) return SIZE_MAX;
  }
  return SIZE_MAX;
}

void PointField(const Hierarchy& h, std::size_t element, const double* xi, const double* v,
                const double* wl, int ncomp, bool second, double* out) {
  const Located at = Locate(h, element);
  const PatchData& P = h.patch[at.patch];
  const Level& L = P.level[at.level];
  const int d = P.d;
  // Each direction's functions and derivatives at its coordinate, in the element's span.
  double table[kMaxDirections][3][kMaxDegree + 1];
  for (int k = 0; k < d; ++k) {
    const Direction& a = P.axis[k];
    double U[2 * kMaxDegree + 2];
    Window(a, L.S, Span(a, L.S, at.e[k]), U);
    double* rows[3] = {table[k][0], table[k][1], table[k][2]};
    dersBasisFuns(a.p, xi[k], a.p, 2, U, rows);
  }
  // The derivatives of the tensor products: (order in each direction) per output.
  static const int kOrders[3][10][3] = {
      {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}},
      {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {2, 0, 0}, {0, 2, 0}, {1, 1, 0}},
      {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {2, 0, 0}, {0, 2, 0}, {0, 0, 2},
       {1, 1, 0}, {0, 1, 1}, {1, 0, 1}}};
  const int first = 1 + d, all = second ? 1 + d + d * (d + 1) / 2 : first;
  double f[10 * 64] = {}, W[10] = {};
  const int nloc = P.nloc;
  for (int o = 0; o < all; ++o) {
    const int* ord = kOrders[d - 1][o];
    W[o] = 0.0;
    for (int c = 0; c < ncomp && c < 64; ++c) f[o * 64 + c] = 0.0;
    for (int j = 0; j < nloc; ++j) {
      double b = 1.0;
      int r = j;
      for (int k = 0; k < d; ++k) {
        const int n = P.p[k] + 1;
        b *= table[k][ord[k]][r % n];
        r /= n;
      }
      W[o] += wl[j] * b;
      for (int c = 0; c < ncomp && c < 64; ++c) f[o * 64 + c] += v[j + static_cast<std::size_t>(nloc) * c] * b;
    }
  }
  static const int kPairs[3][6][2] = {
      {{0, 0}}, {{0, 0}, {1, 1}, {0, 1}}, {{0, 0}, {1, 1}, {2, 2}, {0, 1}, {1, 2}, {0, 2}}};
  for (int c = 0; c < ncomp && c < 64; ++c) {
    const double u = f[c] / W[0];
    out[c] = u;
    double g[3] = {0, 0, 0};
    for (int k = 0; k < d; ++k) {
      g[k] = (f[(1 + k) * 64 + c] - u * W[1 + k]) / W[0];
      out[c + ncomp * (1 + k)] = g[k];
    }
    for (int t = 0; t < all - first; ++t) {
      const int i = kPairs[d - 1][t][0], j = kPairs[d - 1][t][1];
      const int o = first + t;
      out[c + ncomp * o] =
          (f[o * 64 + c] - g[i] * W[1 + j] - g[j] * W[1 + i] - u * W[o]) / W[0];
    }
  }
}

bool Nested(const Hierarchy& coarse, const Hierarchy& fine) {
  if (coarse.npatch != fine.npatch || coarse.options.subdivision != fine.options.subdivision ||
      coarse.options.truncated != fine.options.truncated) {
    return false;
  }
  for (int k = 0; k < coarse.npatch; ++k) {
    const PatchData& C = coarse.patch[k];
    const PatchData& F = fine.patch[k];
    if (C.d != F.d || C.nloc != F.nloc || C.rational != F.rational) return false;
    for (int j = 0; j < C.d; ++j) {
      if (C.axis[j].m0 != F.axis[j].m0 || C.p[j] != F.p[j]) return false;
      for (int i = 0; i < C.axis[j].m0; ++i) {
        if (C.axis[j].U0[i] != F.axis[j].U0[i]) return false;
      }
    }
    for (int l = 0; l < C.levels; ++l) {
      const Set& r = C.level[l].refined;
      for (std::size_t i = 0; i < r.count; ++i) {
        if (l >= F.levels || F.level[l].refined.Find(r.key[i]) < 0) return false;
      }
    }
  }
  return true;
}

bool Prolong(const Hierarchy& coarse, const Hierarchy& fine, Workspace* wc, Workspace* w,
             const double* u, int ncomp, double* out) {
  const int s = fine.options.subdivision;
  const std::size_t nloc = static_cast<std::size_t>(fine.maxLocal);
  double* cv = static_cast<double*>(
      std::malloc((nloc * (static_cast<std::size_t>(ncomp) + 2)) * sizeof(double)));
  if (cv == nullptr) return false;
  double* wl = cv + nloc * static_cast<std::size_t>(ncomp);
  double* tmp = wl + nloc;
  // In the order of the numbering: a function's coarser fine functions on a cell of its level
  // come before it, in its patch's order and so in the global one.
  for (std::size_t F = 0; F < fine.ndof; ++F) {
    const Function f = FunctionAt(fine, F);
    const PatchData& P = fine.patch[f.patch];
    const Level& L = P.level[f.level];
    for (int comp = 0; comp < ncomp; ++comp) out[F + fine.ndof * comp] = 0.0;
    // An active cell of the function's level in its support: there, the field's coefficients of
    // that level are the function's and its coarser ones'.
    int i[3], lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    DecodeFunction(L, P.d, f.index, i);
    for (int k = 0; k < P.d; ++k) Support(P.axis[k], L.S, i[k], &lo[k], &hi[k]);
    int q[3] = {0, 0, 0};
    const bool found = !EachCell(P.d, lo, hi, [&](const int* c) {
      if (L.cells.Find(Encode(L, P.d, c)) < 0) return true;
      for (int k = 0; k < 3; ++k) q[k] = c[k];
      return false;
    });
    if (!found) continue;
    // The coarse element that holds it: its first active ancestor.
    const PatchData& PC = coarse.patch[f.patch];
    int t = f.level, e[3];
    std::size_t ec = SIZE_MAX;
    for (; t >= 0 && ec == SIZE_MAX; --t) {
      Ancestor(s, f.level, t, q, e);
      if (t >= PC.levels) continue;
      const std::int64_t at = PC.level[t].cells.Find(Encode(PC.level[t], P.d, e));
      if (at >= 0) ec = PC.level[t].firstElement + static_cast<std::size_t>(at);
    }
    if (ec == SIZE_MAX) continue;
    ++t;
    ElementCoefficients(coarse, wc, ec, u, ncomp, cv, wl);
    const int n = P.nloc;
    for (int comp = 0; comp < ncomp; ++comp) {
      double* x = cv + static_cast<std::size_t>(comp) * n;
      for (int l = t + 1; l <= f.level; ++l) {
        int el[3];
        Ancestor(s, f.level, l, q, el);
        Refine(fine, w, P, f.patch, l, el, x, 1, tmp);
      }
    }
    int jF = 0;
    for (int k = P.d - 1; k >= 0; --k) {
      jF = jF * (P.p[k] + 1) + (i[k] - (Span(P.axis[k], L.S, q[k]) - P.p[k]));
    }
    Located at{};
    at.patch = f.patch;
    at.level = f.level;
    at.cell = Encode(L, P.d, q);
    for (int k = 0; k < 3; ++k) at.e[k] = q[k];
    const int rows = ChangeOfBasis(fine, w, at);
    double weight = 1.0;
    for (int r = 0; r < rows; ++r) {
      if (w->g[r] == F) weight = w->ws[r];
    }
    for (int comp = 0; comp < ncomp; ++comp) {
      double total = cv[jF + static_cast<std::size_t>(comp) * n];
      for (int r = 0; r < rows; ++r) {
        const double m = w->M[static_cast<std::size_t>(r) * n + jF];
        if (w->g[r] == F || w->level[r] >= f.level || m == 0.0) continue;
        total -= out[w->g[r] + fine.ndof * comp] * w->ws[r] * m;
      }
      out[F + fine.ndof * comp] = total / weight;
    }
  }
  std::free(cv);
  return true;
}

}  // namespace hierarchical
