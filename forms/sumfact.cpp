#include "sumfact.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "NURBS.h"
#include "threads.h"

namespace forms {
namespace {

using mesh::Mesh;

// Bytes of each of the slab's tables at most (the points', the first contraction's, the threads'
// own): blocks of this size are reused from one call to the next by the C library's allocator
// rather than mapped afresh (whose pages cost a fault each on their first touch); up to kLargest
// where kBudget would cut slabs of fewer than p + 1 elements. A box whose one layer of elements
// needs more takes the element path.
constexpr std::size_t kBudget = std::size_t{30} << 20;
constexpr std::size_t kLargest = std::size_t{256} << 20;
// Doubles of one run of a contraction: the rows of an element's pairs stay in cache.
constexpr std::size_t kTile = 128;
constexpr std::size_t kRun = 64;
constexpr std::size_t kStack = 256 * 1024;

std::size_t Round(std::size_t doubles) { return (doubles + 7) / 8 * 8; }

// One direction as the sums take it, over the box's elements. A box of fewer than three
// directions (a 2-D patch, a face) has its directions last, after dummy ones of one node and one
// function (value 1, derivative 0), so that every box has three.
struct Dir {
  int real;                        // the mesh's direction, or -1
  int e0;                          // the box's first element of that direction
  int p, n;                        // degree, functions an element
  int nq, nel;                     // nodes an element, elements (of the box)
  std::size_t Q;                   // nodes, nel nq
  int N;                           // functions (of the patch)
  int fa, na;                      // the box's functions: fa..fa+na-1
  int gn;                          // the geometry's functions an element
  std::ptrdiff_t stride, gstride;  // a function's step in the space's, the geometry's numbering
  int* first;                      // an element's first function, nel
  int* gfirst;                     // the geometry's, nel
  int* nlo;                        // function b meets nlo[b]..nhi[b] on the box (empty: nlo > nhi)
  int* nhi;
  std::size_t* pstart;  // N + 1: pair (a, b) at pstart[b] + a - nlo[b]
  int* pa;              // each pair's functions
  int* pb;
  double* B;  // Q x 2 x n: the space's values and derivatives at every node
  double* G;  // Q x 2 x gn: the geometry's
  double* w;  // Q: the rule's weights scaled to the element
};

// A face's fixed direction: the functions there at the face's one node.
struct Fixed {
  int dir;                         // the mesh's direction; -1: not a face
  int first, count;                // the space's functions that do not vanish there
  double N[kMaxDegree + 1];        // their values
  int gfirst, gcount;              // the geometry's functions of the boundary span
  double G[kMaxDegree + 1];        // their values
  std::ptrdiff_t stride, gstride;  // a step along the direction, space and geometry
};

// A point's record: E (grad R_a = w_a sum_i E[m][i] D_i N_a, E[m][i] at m * 4 + i), v (R_a = w_a
// v N_a), and the coefficients times dx.
constexpr int kRecord = 17;
constexpr int kV = 12, kC = 13, kMu = 16;

struct Term {
  int i, j;
};

// A block of the matrix: row component k, column component l, and its point factors' terms.
struct Block {
  int k, l;
  int terms;
  Term term[16];
};

// How one block's tables flow through the three contractions: stage s contracts direction
// 2 - s; its input tables (keys in) go into output tables (keys out).
struct Stage {
  int in, out;
  Term inKey[16], outKey[16];
  int to[16];  // the output table of each input
};

struct Plan {
  int D, rdim;
  bool rational;  // the space's weights
  Kind kind;
  bool symmetric;
  int C;        // a load's components
  Fixed fixed;  // a face's fixed direction (fixed.dir -1 over the elements)
  Dir dir[3];
  int dirOf[3];  // the box's direction of each of the mesh's, -1 for none (the fixed one, or d < 3)
  int blocks;
  Block block[9];
  Stage stage[9][3];
  // One block: its point factors are stored, one table for each distinct factor (F_ij = F_ji for
  // a symmetric form), rather than the points' records.
  bool direct;
  int factors;
  int factor[16];    // the table of each of the block's terms
  int L;             // elements of a slab along direction 2
  std::size_t rows;  // rows of nodes along direction 0 (Q0 each) in a run of the first pass
  std::size_t c;     // pairs of direction 2 a chunk of the second pass
  std::size_t sizeP, sizeT, perThread;
};

int Internal(int D, int i) { return i - 1 + (3 - D); }  // derivative index i's direction

// Whether derivative index i differentiates along direction t.
bool Differentiates(int D, int i, int t) { return i >= 1 && Internal(D, i) == t; }

void MakeStages(int D, const Block& b, Stage st[3]) {
  Term in[16];
  int count = b.terms;
  for (int k = 0; k < count; ++k) in[k] = b.term[k];
  for (int s = 0; s < 3; ++s) {
    const int t = 2 - s;
    Stage& g = st[s];
    g.in = count;
    g.out = 0;
    for (int k = 0; k < count; ++k) {
      g.inKey[k] = in[k];
      const auto keep = [&](int i) { return i >= 1 && Internal(D, i) < t ? i : 0; };
      const Term key{keep(in[k].i), keep(in[k].j)};
      int o = 0;
      while (o < g.out && !(g.outKey[o].i == key.i && g.outKey[o].j == key.j)) ++o;
      if (o == g.out) g.outKey[g.out++] = key;
      g.to[k] = o;
    }
    count = g.out;
    for (int k = 0; k < count; ++k) in[k] = g.outKey[k];
  }
}

void MakeBlocks(Plan* plan) {
  const int D = plan->D;
  int idx[4], ni = 0;
  for (int i = plan->rational ? 0 : 1; i <= D; ++i) idx[ni++] = i;
  const auto add = [&](int k, int l, bool value, bool allRows) {
    Block& b = plan->block[plan->blocks++];
    b.k = k;
    b.l = l;
    b.terms = 0;
    if (value) {
      b.term[b.terms++] = {0, 0};
      return;
    }
    for (int x = 0; x < (allRows ? ni : 1); ++x) {
      for (int y = 0; y < ni; ++y) b.term[b.terms++] = {allRows ? idx[x] : 0, idx[y]};
    }
  };
  plan->blocks = 0;
  switch (plan->kind) {
    case Kind::Mass:
      add(0, 0, true, true);
      break;
    case Kind::Load:
      // A vector: its point factors are the components' (LoadPasses); no pairs.
      plan->direct = true;
      plan->factors = plan->C;
      return;
    case Kind::Advection:
      add(0, 0, false, false);
      break;
    case Kind::Elasticity:
      for (int k = 0; k < plan->rdim; ++k) {
        for (int l = k; l < plan->rdim; ++l) add(k, l, false, true);
      }
      break;
    default:
      add(0, 0, false, true);
      break;
  }
  for (int b = 0; b < plan->blocks; ++b) MakeStages(D, plan->block[b], plan->stage[b]);
  plan->direct = plan->blocks == 1;
  plan->factors = 0;
  const Block& b = plan->block[0];
  for (int k = 0; k < b.terms; ++k) {
    int f = 0;
    while (f < k && !(b.term[f].i == b.term[k].i && b.term[f].j == b.term[k].j) &&
           !(plan->symmetric && b.term[f].i == b.term[k].j && b.term[f].j == b.term[k].i)) {
      ++f;
    }
    plan->factor[k] = f < k ? plan->factor[f] : plan->factors++;
  }
}

// The pairs of direction t whose functions b are those of elements elo..ehi-1.
void PairRange(const Dir& d, int elo, int ehi, std::size_t* pbase, std::size_t* count) {
  const int bmin = d.first[elo], bmax = d.first[ehi - 1] + d.p;
  *pbase = d.pstart[bmin];
  *count = d.pstart[bmax + 1] - d.pstart[bmin];
}

// Functions along direction 2 of the elements elo..ehi-1: first, count.
void FunctionRange(const Dir& d, int elo, int ehi, int* first, int* count) {
  *first = d.first[elo];
  *count = d.first[ehi - 1] + d.p - d.first[elo] + 1;
}

std::size_t ElementScratch(const Dir* d);

// Doubles of the tables a slab of elements elo..ehi-1 along direction 2 shares (its points'
// records, the first contraction's tables) and of one thread's own in either pass.
void SlabSizes(const Plan& plan, int elo, int ehi, std::size_t* P, std::size_t* T,
               std::size_t* own) {
  const Dir* d = plan.dir;
  const std::size_t S2 = static_cast<std::size_t>(ehi - elo) * d[2].nq;
  const std::size_t R0 = d[1].Q * d[0].Q;
  const std::size_t S = S2 * R0;
  if (plan.kind == Kind::Load) {
    // The components' factors; the first and second contractions' tables.
    int f2, n2;
    FunctionRange(d[2], elo, ehi, &f2, &n2);
    const std::size_t C = static_cast<std::size_t>(plan.C), ns2 = static_cast<std::size_t>(n2);
    *P = Round(C * S);
    *T = Round(C * ns2 * R0) + Round(C * ns2 * static_cast<std::size_t>(d[1].na) * d[0].Q);
    *own = 0;
    return;
  }
  std::size_t pbase, P2;
  PairRange(d[2], elo, ehi, &pbase, &P2);
  const std::size_t P1 = d[1].pstart[d[1].N], P0 = d[0].pstart[d[0].N];
  const std::size_t c = std::min(plan.c, P2);
  const std::size_t run = plan.rows * d[0].Q;
  *P = Round((plan.direct ? plan.factors : kRecord) * S);
  *T = *own = 0;
  for (int b = 0; b < plan.blocks; ++b) {
    const Stage* st = plan.stage[b];
    *T = std::max(*T, Round(st[0].out * P2 * R0));
    const std::size_t first =
        (plan.direct ? 0 : Round(plan.block[b].terms * S2 * run)) + Round(st[0].out * P2 * run);
    const std::size_t second = Round(st[1].out * P1 * c * d[0].Q) +
                               Round(st[1].out * d[0].Q * c * P1) + Round(P0 * c * P1);
    *own = std::max({*own, first, second});
  }
}

// The element's fields by sum factorisation: O[(q 4 + m) nc + c] for its nodes q (direction 0
// fastest), m = 0 the value and 1 + t the derivative along direction t, of the nc components of
// coefficients C[((a2 n1 + a1) n0 + a0) nc + c] against the tables (space: B, n; geometry: G,
// gn). scratch: ElementScratch.
template <int NC, bool kDerivatives>
void ElementFieldOf(const Dir* d, const int e[3], bool geometry, int components, const double* C,
                    double* S1, double* S2, double* O) {
  // The components' count known at compile time where it is 1, 3 or 4 (the loops over them then
  // unrolled, their sums in registers), and the derivatives left out where not wanted: the same
  // sums in the same order either way.
  const int nc = NC > 0 ? NC : components;
  const int kinds = kDerivatives ? 2 : 1;
  int n[3], nq[3];
  const double* T[3];
  for (int t = 0; t < 3; ++t) {
    n[t] = geometry ? d[t].gn : d[t].n;
    nq[t] = d[t].nq;
    T[t] = (geometry ? d[t].G : d[t].B) + static_cast<std::size_t>(e[t]) * nq[t] * 2 * n[t];
  }
  // S1[((a2 n1 + a1) nq0 + q0) 2 + k0][c] = sum_a0 T0[q0][k0][a0] C[a2][a1][a0][c]
  for (int a21 = 0; a21 < n[2] * n[1]; ++a21) {
    const double* c = C + static_cast<std::size_t>(a21) * n[0] * nc;
    for (int q0 = 0; q0 < nq[0]; ++q0) {
      for (int k0 = 0; k0 < kinds; ++k0) {
        const double* t0 = T[0] + (q0 * 2 + k0) * n[0];
        double* s = S1 + ((static_cast<std::size_t>(a21) * nq[0] + q0) * 2 + k0) * nc;
        for (int x = 0; x < nc; ++x) s[x] = 0.0;
        for (int a0 = 0; a0 < n[0]; ++a0) {
          for (int x = 0; x < nc; ++x) s[x] += t0[a0] * c[a0 * nc + x];
        }
      }
    }
  }
  // S2[((a2 nq1 + q1) nq0 + q0) 3 + m][c], m: value, d0, d1
  for (int a2 = 0; a2 < n[2]; ++a2) {
    for (int q1 = 0; q1 < nq[1]; ++q1) {
      const double* t1 = T[1] + q1 * 2 * n[1];
      for (int q0 = 0; q0 < nq[0]; ++q0) {
        double* s = S2 + ((static_cast<std::size_t>(a2) * nq[1] + q1) * nq[0] + q0) * 3 * nc;
        for (int x = 0; x < (kDerivatives ? 3 : 1) * nc; ++x) s[x] = 0.0;
        for (int a1 = 0; a1 < n[1]; ++a1) {
          const double* u = S1 + ((static_cast<std::size_t>(a2 * n[1] + a1) * nq[0] + q0) * 2) * nc;
          for (int x = 0; x < nc; ++x) {
            s[x] += t1[a1] * u[x];
            if (kDerivatives) {
              s[nc + x] += t1[a1] * u[nc + x];
              s[2 * nc + x] += t1[n[1] + a1] * u[x];
            }
          }
        }
      }
    }
  }
  // O[((q2 nq1 + q1) nq0 + q0) 4 + m][c], m: value, d0, d1, d2
  const int plane = nq[1] * nq[0];
  for (int q2 = 0; q2 < nq[2]; ++q2) {
    const double* t2 = T[2] + q2 * 2 * n[2];
    for (int q10 = 0; q10 < plane; ++q10) {
      double* o = O + (static_cast<std::size_t>(q2) * plane + q10) * 4 * nc;
      for (int x = 0; x < (kDerivatives ? 4 : 1) * nc; ++x) o[x] = 0.0;
      for (int a2 = 0; a2 < n[2]; ++a2) {
        const double* u = S2 + (static_cast<std::size_t>(a2) * plane + q10) * 3 * nc;
        for (int x = 0; x < nc; ++x) {
          o[x] += t2[a2] * u[x];
          if (kDerivatives) {
            o[nc + x] += t2[a2] * u[nc + x];
            o[2 * nc + x] += t2[a2] * u[2 * nc + x];
            o[3 * nc + x] += t2[n[2] + a2] * u[x];
          }
        }
      }
    }
  }
}

template <bool kDerivatives>
void ElementFieldWith(const Dir* d, const int e[3], bool geometry, int nc, const double* C,
                      double* S1, double* S2, double* O) {
  switch (nc) {
    case 1:
      ElementFieldOf<1, kDerivatives>(d, e, geometry, nc, C, S1, S2, O);
      break;
    case 3:
      ElementFieldOf<3, kDerivatives>(d, e, geometry, nc, C, S1, S2, O);
      break;
    case 4:
      ElementFieldOf<4, kDerivatives>(d, e, geometry, nc, C, S1, S2, O);
      break;
    default:
      ElementFieldOf<0, kDerivatives>(d, e, geometry, nc, C, S1, S2, O);
      break;
  }
}

// The element's fields (the derivatives only where asked).
void ElementField(const Dir* d, const int e[3], bool geometry, int nc, const double* C, double* S1,
                  double* S2, double* O, bool derivatives = true) {
  if (derivatives) {
    ElementFieldWith<true>(d, e, geometry, nc, C, S1, S2, O);
  } else {
    ElementFieldWith<false>(d, e, geometry, nc, C, S1, S2, O);
  }
}

std::size_t ElementScratch(const Dir* d) {
  std::size_t most = 0;
  {
    std::size_t n[3], nq[3];
    for (int t = 0; t < 3; ++t) {
      n[t] = static_cast<std::size_t>(std::max(d[t].gn, d[t].n));
      nq[t] = static_cast<std::size_t>(d[t].nq);
    }
    const std::size_t C = n[0] * n[1] * n[2] * 4;
    const std::size_t S1 = n[2] * n[1] * nq[0] * 2 * 4;
    const std::size_t S2 = n[2] * nq[1] * nq[0] * 3 * 4;
    const std::size_t O = nq[0] * nq[1] * nq[2] * 4 * 4;
    most = std::max(most, Round(C) + Round(S1) + Round(S2) + Round(O));
  }
  // The space's weights' field (one component) beside the geometry's.
  return most + Round(static_cast<std::size_t>(d[0].nq) * d[1].nq * d[2].nq * 4);
}

// What every share of a pass reads.
struct Job {
  const Plan* plan;
  const Form* form;
  const Mesh* mesh;
  const Box* box;
  const Target* target;
  double* work;  // perThread doubles a thread
  int elo, ehi;  // the slab
  std::size_t gbase, pbase2, P2, S;
  std::size_t c;  // pairs of direction 2 a chunk of the second pass, at most plan.c
  double *P, *T;  // the slab's records and first tables
  int b;          // the block
  double* pr;
  const void* jc;
  const void* ir;
  std::size_t ndof;  // the patch's functions
  const std::int64_t* g;  // looked up: each of the patch's functions' global index, 0-based
  // A load: the slab's functions along 2 (f2, n2), the second table, the box's vector.
  int f2, n2;
  double *T1, *F;
};

double Coefficient(const forms::Coefficient& c, int k, std::size_t q, std::size_t nqn,
                   std::size_t element) {
  return c.constant ? c.v[k] : c.v[k + c.components * (q + nqn * element)];
}

double Factor(const Plan& plan, const Block& b, const Term& term, const double* rec);

// The mesh's step of each of the box's directions in its numbering of elements (of the face's, on
// a side) and of an element's nodes.
void MeshSteps(const Mesh& mesh, const Dir* d, std::size_t elStep[3], std::size_t nodeStep[3]) {
  std::size_t es[3] = {0, 0, 0}, ns[3] = {0, 0, 0};
  {
    const int fixed = mesh.side > 0 ? (mesh.side - 1) / 2 : -1;
    std::size_t e = 1, n = 1;
    for (int m = 0; m < mesh.d; ++m) {
      if (m == fixed) continue;
      es[m] = e;
      ns[m] = n;
      e *= static_cast<std::size_t>(mesh.nel[m]);
      n *= static_cast<std::size_t>(mesh.rule[m].n);
    }
  }
  for (int k = 0; k < 3; ++k) {
    elStep[k] = d[k].real < 0 ? 0 : es[d[k].real];
    nodeStep[k] = d[k].real < 0 ? 0 : ns[d[k].real];
  }
}

// The records of the slab's points (or the block's point factors, or a load's), element by
// element.
void PointsShare(void* context, int t, std::size_t begin, std::size_t end) {
  const Job& job = *static_cast<const Job*>(context);
  const Plan& plan = *job.plan;
  const Mesh& mesh = *job.mesh;
  const Form& form = *job.form;
  const Dir* d = plan.dir;
  const Fixed& fx = plan.fixed;
  const bool face = fx.dir >= 0;
  const int D = plan.D, r = plan.rdim;
  const int nc = r + 1;
  // The map's inverse and the weight's gradient: for the forms of gradients only.
  const bool gradients = plan.kind != Kind::Mass && plan.kind != Kind::Load;
  double* C = job.work + static_cast<std::size_t>(t) * plan.perThread;
  const std::size_t nqn = static_cast<std::size_t>(d[0].nq) * d[1].nq * d[2].nq;
  // Carve: C, S1, S2, O, Ow (as ElementScratch sized them).
  std::size_t n3[3], nq3[3];
  for (int k = 0; k < 3; ++k) {
    n3[k] = static_cast<std::size_t>(std::max(d[k].gn, d[k].n));
    nq3[k] = static_cast<std::size_t>(d[k].nq);
  }
  double* S1 = C + Round(n3[0] * n3[1] * n3[2] * 4);
  double* S2 = S1 + Round(n3[2] * n3[1] * nq3[0] * 2 * 4);
  double* O = S2 + Round(n3[2] * nq3[1] * nq3[0] * 3 * 4);
  double* Ow = O + Round(nqn * 4 * 4);

  const std::size_t nel0 = static_cast<std::size_t>(d[0].nel),
                    nel1 = static_cast<std::size_t>(d[1].nel);
  const std::size_t R0 = d[1].Q * d[0].Q;
  // The mesh's element and node numbering: each direction's step.
  std::size_t elStep[3], nodeStep[3];
  MeshSteps(mesh, d, elStep, nodeStep);
  const double* sw = mesh.space.weights;
  const double* gw = mesh.geometry.weights;
  const std::int64_t* order = job.box->order;
  // A box's element (its own numbering, the mesh's order of directions, the first fastest).
  std::size_t orderStep[3] = {0, 0, 0};
  for (int m = 0, step = 1; m < 3; ++m) {
    const int k = plan.dirOf[m];
    if (k < 0) continue;
    orderStep[k] = static_cast<std::size_t>(step);
    step *= d[k].nel;
  }
  for (std::size_t x = begin; x < end; ++x) {
    if (evaluators::Stopping()) return;
    const int e[3] = {static_cast<int>(x % nel0), static_cast<int>(x / nel0 % nel1),
                      job.elo + static_cast<int>(x / (nel0 * nel1))};
    // The geometry's control points, w P and w (on a face, contracted along the fixed direction
    // with its functions at the face).
    {
      std::size_t c = 0;
      for (int a2 = 0; a2 < d[2].gn; ++a2) {
        for (int a1 = 0; a1 < d[1].gn; ++a1) {
          for (int a0 = 0; a0 < d[0].gn; ++a0, ++c) {
            const std::ptrdiff_t idx = (d[0].gfirst[e[0]] + a0) * d[0].gstride +
                                       (d[1].gfirst[e[1]] + a1) * d[1].gstride +
                                       (d[2].gfirst[e[2]] + a2) * d[2].gstride;
            if (!face) {
              const double* h = mesh.coefs + 4 * idx;
              const double wt = gw ? gw[idx] : 1.0;
              for (int m = 0; m < r; ++m) C[c * nc + m] = wt * (h[m] / h[3]);
              C[c * nc + r] = wt;
              continue;
            }
            for (int m = 0; m <= r; ++m) C[c * nc + m] = 0.0;
            for (int k = 0; k < fx.gcount; ++k) {
              const std::ptrdiff_t at = idx + (fx.gfirst + k) * fx.gstride;
              const double* h = mesh.coefs + 4 * at;
              const double wt = gw ? gw[at] : 1.0;
              for (int m = 0; m < r; ++m) C[c * nc + m] += fx.G[k] * (wt * (h[m] / h[3]));
              C[c * nc + r] += fx.G[k] * wt;
            }
          }
        }
      }
    }
    ElementField(d, e, true, nc, C, S1, S2, O);
    if (plan.rational) {
      std::size_t c = 0;
      for (int a2 = 0; a2 < d[2].n; ++a2) {
        for (int a1 = 0; a1 < d[1].n; ++a1) {
          for (int a0 = 0; a0 < d[0].n; ++a0, ++c) {
            const std::ptrdiff_t idx = (d[0].first[e[0]] + a0) * d[0].stride +
                                       (d[1].first[e[1]] + a1) * d[1].stride +
                                       (d[2].first[e[2]] + a2) * d[2].stride;
            if (!face) {
              C[c] = sw[idx];
              continue;
            }
            double v = 0.0;
            for (int k = 0; k < fx.count; ++k) v += fx.N[k] * sw[idx + (fx.first + k) * fx.stride];
            C[c] = v;
          }
        }
      }
      ElementField(d, e, false, 1, C, S1, S2, Ow, gradients);
    }
    std::size_t element = 0;
    if (order != nullptr) {
      std::size_t at = 0;
      for (int k = 0; k < 3; ++k) at += static_cast<std::size_t>(e[k]) * orderStep[k];
      element = static_cast<std::size_t>(order[at]);
    } else {
      for (int k = 0; k < 3; ++k) {
        element += static_cast<std::size_t>(e[k] + d[k].e0) * elStep[k];
      }
    }
    std::size_t q = 0;
    for (int q2 = 0; q2 < d[2].nq; ++q2) {
      for (int q1 = 0; q1 < d[1].nq; ++q1) {
        for (int q0 = 0; q0 < d[0].nq; ++q0, ++q) {
          const std::size_t g0 = static_cast<std::size_t>(e[0]) * d[0].nq + q0;
          const std::size_t g1 = static_cast<std::size_t>(e[1]) * d[1].nq + q1;
          const std::size_t g2 = static_cast<std::size_t>(e[2]) * d[2].nq + q2;
          const std::size_t point = (g2 - job.gbase) * R0 + g1 * d[0].Q + g0;
          double local[kRecord];
          double* rec = plan.direct ? local : job.P + point * kRecord;
          const std::size_t node = q0 * nodeStep[0] + q1 * nodeStep[1] + q2 * nodeStep[2];
          const double* o = O + q * 4 * nc;
          // x, J: J[m][i] along the box's direction i.
          // Reciprocals once a point: the forms are held to their sums' accuracy, not to the
          // mesh's bits.
          const double invW = 1.0 / o[r];
          double J[3][3] = {}, K[3][3] = {};
          for (int m = 0; m < r; ++m) {
            const double xm = o[m] * invW;
            for (int i = 0; i < D; ++i) {
              const double* dO = o + (1 + Internal(D, i + 1)) * nc;
              J[m][i] = (dO[m] - xm * dO[r]) * invW;
            }
          }
          double det;
          if (face) {
            // The face measure: the tangent's length, or the two tangents' cross product's.
            if (D == 1) {
              double s = 0.0;
              for (int m = 0; m < r; ++m) s += J[m][0] * J[m][0];
              det = std::sqrt(s);
            } else {
              const double c0 = J[1][0] * J[2][1] - J[2][0] * J[1][1];
              const double c1 = J[2][0] * J[0][1] - J[0][0] * J[2][1];
              const double c2 = J[0][0] * J[1][1] - J[1][0] * J[0][1];
              det = std::sqrt((c0 * c0 + c1 * c1) + c2 * c2);
            }
          } else if (D == 2) {
            det = J[0][0] * J[1][1] - J[0][1] * J[1][0];
            if (gradients) {
              const double inv = 1.0 / det;
              K[0][0] = J[1][1] * inv;
              K[0][1] = -J[1][0] * inv;
              K[1][0] = -J[0][1] * inv;
              K[1][1] = J[0][0] * inv;
            }
          } else {
            double Cf[3][3];
            for (int m = 0; m < (gradients ? 3 : 1); ++m) {
              for (int i = 0; i < 3; ++i) {
                const int m1 = (m + 1) % 3, m2 = (m + 2) % 3, i1 = (i + 1) % 3, i2 = (i + 2) % 3;
                Cf[m][i] = J[m1][i1] * J[m2][i2] - J[m1][i2] * J[m2][i1];
              }
            }
            det = (J[0][0] * Cf[0][0] + J[0][1] * Cf[0][1]) + J[0][2] * Cf[0][2];
            if (gradients) {
              const double inv = 1.0 / det;
              for (int m = 0; m < 3; ++m) {
                for (int i = 0; i < 3; ++i) K[m][i] = Cf[m][i] * inv;
              }
            }
          }
          const double dx = d[0].w[g0] * d[1].w[g1] * d[2].w[g2] * std::fabs(det);
          if (plan.kind == Kind::Load) {
            // f dx / W a component; nothing where dx is 0, whatever the map or f there.
            const double v = plan.rational ? 1.0 / Ow[q * 4] : 1.0;
            const forms::Coefficient& c = form.c[0];
            for (int m = 0; m < plan.C; ++m) {
              job.P[m * job.S + point] =
                  dx == 0.0 ? 0.0 : Coefficient(c, m, node, nqn, element) * dx * v;
            }
            continue;
          }
          for (int k = 0; k < kRecord; ++k) rec[k] = 0.0;
          if (dx == 0.0) {  // contributes nothing, whatever its map
            for (int f = 0; plan.direct && f < plan.factors; ++f) job.P[f * job.S + point] = 0.0;
            continue;
          }
          if (plan.rational) {
            const double* ow = Ow + q * 4;
            const double v = 1.0 / ow[0];
            for (int m = 0; m < r && gradients; ++m) {
              double g = 0.0;
              for (int i = 0; i < D; ++i) {
                g += K[m][i] * ow[1 + Internal(D, i + 1)];
                rec[m * 4 + 1 + i] = K[m][i] * v;
              }
              rec[m * 4] = -g * (v * v);
            }
            rec[kV] = v;
          } else {
            for (int m = 0; m < r && gradients; ++m) {
              for (int i = 0; i < D; ++i) rec[m * 4 + 1 + i] = K[m][i];
            }
            rec[kV] = 1.0;
          }
          for (int k = 0; k < form.coefficients; ++k) {
            const forms::Coefficient& c = form.c[k];
            for (int m = 0; m < c.components; ++m) {
              rec[(k == 0 ? kC : kMu) + m] = Coefficient(c, m, node, nqn, element) * dx;
            }
          }
          if (plan.direct) {
            const Block& b = plan.block[0];
            for (int k = 0; k < b.terms; ++k) {
              if (k == 0 || plan.factor[k] > plan.factor[k - 1]) {
                job.P[plan.factor[k] * job.S + point] = Factor(plan, b, b.term[k], rec);
              }
            }
          }
        }
      }
    }
  }
}

// Block b's point factor of term (i, j) at a point's record.
double Factor(const Plan& plan, const Block& b, const Term& term, const double* rec) {
  const int r = plan.rdim;
  const double* E = rec;
  switch (plan.kind) {
    case Kind::Mass:
      return rec[kC] * rec[kV] * rec[kV];
    case Kind::Advection: {
      double v = rec[kC] * E[term.j];
      for (int m = 1; m < r; ++m) v += rec[kC + m] * E[m * 4 + term.j];
      return rec[kV] * v;
    }
    case Kind::Elasticity: {
      const int k = b.k, l = b.l;
      double v = rec[kC] * (E[k * 4 + term.i] * E[l * 4 + term.j]) +
                 rec[kMu] * (E[l * 4 + term.i] * E[k * 4 + term.j]);
      if (k == l) {
        double dot = E[term.i] * E[term.j];
        for (int m = 1; m < r; ++m) dot += E[m * 4 + term.i] * E[m * 4 + term.j];
        v += rec[kMu] * dot;
      }
      return v;
    }
    default: {
      double dot = E[term.i] * E[term.j];
      for (int m = 1; m < r; ++m) dot += E[m * 4 + term.i] * E[m * 4 + term.j];
      return rec[kC] * dot;
    }
  }
}

// y[r] += sum_q c[q] x[q xs + r] for r in [0, n), q = 0..nq-1 in order: each y[r] read and
// written once for all nq nodes, four vectors of them at a time in registers. Products and sums
// apart (no fused multiply-add), so that every width gives the same bits.
#if defined(__GNUC__) && defined(__x86_64__)
#define NURBS_SUMFACT_LANES 1
#pragma GCC diagnostic ignored "-Wpsabi"
typedef double V2 __attribute__((vector_size(16)));
typedef double V4 __attribute__((vector_size(32)));

// Unaligned: the rows start anywhere.
template <class V>
inline __attribute__((always_inline)) V Load(const double* p) {
  V v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

template <class V>
inline __attribute__((always_inline)) void Store(double* p, V v) {
  __builtin_memcpy(p, &v, sizeof v);
}

template <class V>
inline __attribute__((always_inline)) void AccumulateLanes(std::size_t n, int nq, const double* c,
                                                           const double* __restrict x,
                                                           std::size_t xs, double* __restrict y) {
  constexpr std::size_t W = sizeof(V) / sizeof(double);
  std::size_t r = 0;
  for (; r + 4 * W <= n; r += 4 * W) {
    V a0 = Load<V>(y + r), a1 = Load<V>(y + r + W);
    V a2 = Load<V>(y + r + 2 * W), a3 = Load<V>(y + r + 3 * W);
    for (int q = 0; q < nq; ++q) {
      const double* xq = x + q * xs + r;
      const V cq = V{} + c[q];
      a0 += cq * Load<V>(xq);
      a1 += cq * Load<V>(xq + W);
      a2 += cq * Load<V>(xq + 2 * W);
      a3 += cq * Load<V>(xq + 3 * W);
    }
    Store(y + r, a0);
    Store(y + r + W, a1);
    Store(y + r + 2 * W, a2);
    Store(y + r + 3 * W, a3);
  }
  for (; r < n; ++r) {
    double a = y[r];
    for (int q = 0; q < nq; ++q) a += c[q] * x[q * xs + r];
    y[r] = a;
  }
}

void AccumulateSse2(std::size_t n, int nq, const double* c, const double* x, std::size_t xs,
                    double* y) {
  AccumulateLanes<V2>(n, nq, c, x, xs, y);
}

__attribute__((target("avx2"))) void AccumulateAvx2(std::size_t n, int nq, const double* c,
                                                    const double* x, std::size_t xs, double* y) {
  AccumulateLanes<V4>(n, nq, c, x, xs, y);
}

using AccumulateFunction = void (*)(std::size_t, int, const double*, const double*, std::size_t,
                                    double*);

AccumulateFunction Accumulator() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? AccumulateAvx2 : AccumulateSse2;
}
#else
void Accumulate(std::size_t n, int nq, const double* c, const double* __restrict x, std::size_t xs,
                double* __restrict y) {
  for (std::size_t r = 0; r < n; ++r) {
    double a = y[r];
    for (int q = 0; q < nq; ++q) a += c[q] * x[q * xs + r];
    y[r] = a;
  }
}

using AccumulateFunction = void (*)(std::size_t, int, const double*, const double*, std::size_t,
                                    double*);

AccumulateFunction Accumulator() { return Accumulate; }
#endif

// Y[pair - pbase][0..len-1] (rows ys apart) += sum over the nodes g of elements elo..ehi-1 of
// direction d of (D_ki N_a D_kj N_b)(g) X[g - gbase][0..len-1] (rows xs apart): each value's sum
// in node order.
void Contract(const Dir& d, int elo, int ehi, std::size_t gbase, std::size_t pbase, int ki, int kj,
              const double* X, std::size_t xs, double* Y, std::size_t ys, std::size_t len) {
  const int n = d.n;
  // Asked each time, not kept in a static: a static's guard needs the C++ runtime's threads,
  // which a plug-in must not import.
  const AccumulateFunction accumulate = Accumulator();
  double c[mesh::kMaxQuadrature];
  for (int e = elo; e < ehi; ++e) {
    const int f = d.first[e];
    const std::size_t g0 = static_cast<std::size_t>(e) * d.nq;
    const double* x = X + (g0 - gbase) * xs;
    for (int lb = 0; lb < n; ++lb) {
      const int b = f + lb;
      const std::size_t base = d.pstart[b] - pbase + static_cast<std::size_t>(f - d.nlo[b]);
      for (int la = 0; la < n; ++la) {
        for (int q = 0; q < d.nq; ++q) {
          const double* B = d.B + (g0 + q) * 2 * n;
          c[q] = B[ki * n + la] * B[kj * n + lb];
        }
        accumulate(len, d.nq, c, x, xs, Y + (base + la) * ys);
      }
    }
  }
}

// The first pass, for runs of plan.rows rows of nodes along direction 0 of the slab's (q1, q0):
// the block's point factors at every node along 2, contracted along 2 into T[key][q1][p2][q0].
void FirstShare(void* context, int t, std::size_t begin, std::size_t end) {
  const Job& job = *static_cast<const Job*>(context);
  const Plan& plan = *job.plan;
  const Dir* d = plan.dir;
  const Block& b = plan.block[job.b];
  const Stage& st = plan.stage[job.b][0];
  const std::size_t R0 = d[1].Q * d[0].Q, Q0 = d[0].Q, Q1 = d[1].Q;
  const std::size_t S2 = job.S / R0, P2 = job.P2;
  double* F = job.work + static_cast<std::size_t>(t) * plan.perThread;
  double* Y = F + (plan.direct ? 0 : Round(b.terms * S2 * plan.rows * Q0));
  for (std::size_t tile = begin; tile < end; ++tile) {
    if (evaluators::Stopping()) return;
    const std::size_t q1a = tile * plan.rows, q1b = std::min(Q1, q1a + plan.rows);
    const std::size_t r0 = q1a * Q0, len = (q1b - q1a) * Q0;
    if (!plan.direct) {
      for (std::size_t g = 0; g < S2; ++g) {
        const double* rec = job.P + (g * R0 + r0) * kRecord;
        for (std::size_t x = 0; x < len; ++x, rec += kRecord) {
          for (int k = 0; k < b.terms; ++k) {
            F[(k * S2 + g) * len + x] = Factor(plan, b, b.term[k], rec);
          }
        }
      }
    }
    std::memset(Y, 0, st.out * P2 * len * sizeof(double));
    for (int k = 0; k < st.in; ++k) {
      const double* X = plan.direct ? job.P + plan.factor[k] * job.S + r0 : F + k * S2 * len;
      Contract(d[2], job.elo, job.ehi, job.gbase, job.pbase2,
               Differentiates(plan.D, st.inKey[k].i, 2), Differentiates(plan.D, st.inKey[k].j, 2),
               X, plan.direct ? R0 : len, Y + st.to[k] * P2 * len, len, len);
    }
    for (int o = 0; o < st.out; ++o) {
      double* T = job.T + o * P2 * R0;
      const double* y = Y + o * P2 * len;
      for (std::size_t q1 = q1a; q1 < q1b; ++q1) {
        for (std::size_t p = 0; p < P2; ++p) {
          double* to = T + (q1 * P2 + p) * Q0;
          const double* from = y + p * len + (q1 - q1a) * Q0;
          for (std::size_t q0 = 0; q0 < Q0; ++q0) to[q0] = from[q0];
        }
      }
    }
  }
}

// The last stage's values into the box's own pattern, at the offsets its tensor structure gives
// (symmetric diagonal blocks on and above the diagonal): Y[p0 s0 + (p2 - p2a) s2 + p1 s1] for p2
// in p2a..p2b-1.
template <typename Index>
void ScatterOwn(const Job& job, const double* Y, std::size_t p2a, std::size_t p2b, std::size_t s0,
                std::size_t s2, std::size_t s1) {
  const Plan& plan = *job.plan;
  const Dir* d = plan.dir;
  const Block& b = plan.block[job.b];
  const Index* jc = static_cast<const Index*>(job.jc);
  const std::size_t P1 = d[1].pstart[d[1].N], P0 = d[0].pstart[d[0].N];
  const std::size_t R = (p2b - p2a) * P1;
  const double* sw = plan.rational ? job.mesh->space.weights : nullptr;
  const int* m = plan.dirOf;
  for (std::size_t r = 0; r < R; ++r) {
    const std::size_t p2 = job.pbase2 + p2a + r / P1, p1 = r % P1;
    const int a2 = d[2].pa[p2], b2 = d[2].pb[p2], a1 = d[1].pa[p1], b1 = d[1].pb[p1];
    // The entry's offset in its column, whose rows are in the mesh's order: each direction's
    // place and length there.
    std::size_t l[3] = {1, 1, 1}, o[3] = {0, 0, 0};
    l[2] = static_cast<std::size_t>(d[2].nhi[b2] - d[2].nlo[b2] + 1);
    l[1] = static_cast<std::size_t>(d[1].nhi[b1] - d[1].nlo[b1] + 1);
    o[2] = static_cast<std::size_t>(a2 - d[2].nlo[b2]);
    o[1] = static_cast<std::size_t>(a1 - d[1].nlo[b1]);
    const std::ptrdiff_t J21 = b1 * d[1].stride + b2 * d[2].stride;
    const std::ptrdiff_t I21 = a1 * d[1].stride + a2 * d[2].stride;
    for (std::size_t p0 = 0; p0 < P0; ++p0) {
      const int a0 = d[0].pa[p0], b0 = d[0].pb[p0];
      const std::size_t J = static_cast<std::size_t>(J21 + b0 * d[0].stride);
      const std::size_t I = static_cast<std::size_t>(I21 + a0 * d[0].stride);
      // A symmetric form's entries below the diagonal are mirrored at the end.
      if (plan.symmetric && b.k == b.l && I > J) continue;
      l[0] = static_cast<std::size_t>(d[0].nhi[b0] - d[0].nlo[b0] + 1);
      o[0] = static_cast<std::size_t>(a0 - d[0].nlo[b0]);
      const std::size_t column = static_cast<std::size_t>(b.l) * job.ndof + J;
      std::size_t offset = 0, step = 1;
      for (int k = 0; k < 3; ++k) {
        if (m[k] < 0) continue;
        offset += o[m[k]] * step;
        step *= l[m[k]];
      }
      offset += static_cast<std::size_t>(b.k) * step;
      double v = Y[p0 * s0 + (r / P1) * s2 + p1 * s1];
      if (sw) v *= sw[I] * sw[J];
      job.pr[static_cast<std::size_t>(jc[column]) + offset] += v;
    }
  }
}

// The same values looked up in the result's pattern through the target's numbering (job.g, the
// global row of each of the patch's functions), symmetric forms on and above the result's
// diagonal, a face's entries once for each pair of the fixed direction's functions there. The
// innermost loop runs along the mesh's first direction (of the box's), whose rows come one after
// another in a column: each column found once a run, its rows searched forward from the last one
// found (the next, mostly; else in steps that double).
template <typename Index>
void ScatterLookup(const Job& job, const double* Y, std::size_t p2a, std::size_t p2b,
                   std::size_t s0, std::size_t s2, std::size_t s1) {
  const Plan& plan = *job.plan;
  const Dir* d = plan.dir;
  const Block& b = plan.block[job.b];
  const Index* jc = static_cast<const Index*>(job.jc);
  const Index* ir = static_cast<const Index*>(job.ir);
  const double* sw = plan.rational ? job.mesh->space.weights : nullptr;
  const Fixed& fx = plan.fixed;
  const bool face = fx.dir >= 0;
  const int fixedCount = face ? fx.count : 1;
  const std::int64_t* g = job.g;
  const std::size_t ndof = job.target->ndof;
  const std::size_t rowBase = static_cast<std::size_t>(b.k) * ndof;
  const std::size_t columnBase = static_cast<std::size_t>(b.l) * ndof;
  // Each direction's pairs in this chunk, and their step in Y.
  const std::size_t lo[3] = {0, 0, job.pbase2 + p2a};
  const std::size_t hi[3] = {d[0].pstart[d[0].N], d[1].pstart[d[1].N], job.pbase2 + p2b};
  const std::size_t step[3] = {s0, s1, s2};
  int in = 0;
  for (int m = 2; m >= 0; --m) {
    if (plan.dirOf[m] >= 0) in = plan.dirOf[m];
  }
  const int u = in == 0 ? 1 : 0, v = in == 2 ? 1 : 2;  // the other two, outer first
  const Dir& di = d[in];
  for (std::size_t ku = lo[u]; ku < hi[u]; ++ku) {
    for (std::size_t kv = lo[v]; kv < hi[v]; ++kv) {
      const std::ptrdiff_t I2 = d[u].pa[ku] * d[u].stride + d[v].pa[kv] * d[v].stride;
      const std::ptrdiff_t J2 = d[u].pb[ku] * d[u].stride + d[v].pb[kv] * d[v].stride;
      const double* y = Y + (ku - lo[u]) * step[u] + (kv - lo[v]) * step[v];
      for (std::size_t k = lo[in]; k < hi[in];) {
        const int bi = di.pb[k];
        const std::size_t end = std::min(hi[in], di.pstart[bi + 1]);
        for (int kb = 0; kb < fixedCount; ++kb) {
          const std::ptrdiff_t J = J2 + bi * di.stride + (face ? (fx.first + kb) * fx.stride : 0);
          const std::size_t column = columnBase + static_cast<std::size_t>(g[J]);
          const std::size_t from = static_cast<std::size_t>(jc[column]);
          const std::size_t n = static_cast<std::size_t>(jc[column + 1]) - from;
          const Index* rows = ir + from;
          double* out = job.pr + from;
          std::size_t hint = SIZE_MAX;  // the column's last entry found
          for (std::size_t kk = k; kk < end; ++kk) {
            const double value = y[(kk - lo[in]) * step[in]];
            for (int ka = 0; ka < fixedCount; ++ka) {
              const std::ptrdiff_t I =
                  I2 + di.pa[kk] * di.stride + (face ? (fx.first + ka) * fx.stride : 0);
              const std::size_t row = rowBase + static_cast<std::size_t>(g[I]);
              if (plan.symmetric && row > column) continue;
              double x = value;
              if (face) x *= fx.N[ka] * fx.N[kb];
              if (sw) x *= sw[I] * sw[J];
              std::size_t at;
              if (hint + 1 < n && static_cast<std::size_t>(rows[hint + 1]) == row) {
                at = hint + 1;  // the next row (hint + 1 is 0 before the first is found)
              } else if (hint != SIZE_MAX && static_cast<std::size_t>(rows[hint]) < row) {
                std::size_t first = hint + 1, stride = 1;
                while (first + stride < n && static_cast<std::size_t>(rows[first + stride]) < row) {
                  first += stride;
                  stride *= 2;
                }
                const std::size_t last = std::min(n, first + stride + 1);
                at = static_cast<std::size_t>(
                    std::lower_bound(rows + first, rows + last, static_cast<Index>(row)) - rows);
              } else {
                at = static_cast<std::size_t>(
                    std::lower_bound(rows, rows + n, static_cast<Index>(row)) - rows);
              }
              if (at == n || static_cast<std::size_t>(rows[at]) != row) continue;  // not a pair
              out[at] += x;
              hint = at;
            }
          }
        }
        k = end;
      }
    }
  }
}

template <typename Index>
void Scatter(const Job& job, const double* Y, std::size_t p2a, std::size_t p2b, std::size_t s0,
             std::size_t s2, std::size_t s1) {
  if (job.target->own) {
    ScatterOwn<Index>(job, Y, p2a, p2b, s0, s2, s1);
  } else {
    ScatterLookup<Index>(job, Y, p2a, p2b, s0, s2, s1);
  }
}

// The second pass, for chunks of plan.c pairs of direction 2: the first tables contracted along
// 1, turned, contracted along 0 and added into the matrix.
template <typename Index>
void SecondShare(void* context, int t, std::size_t begin, std::size_t end) {
  const Job& job = *static_cast<const Job*>(context);
  const Plan& plan = *job.plan;
  const Dir* d = plan.dir;
  const Stage* st = plan.stage[job.b];
  const std::size_t Q0 = d[0].Q, Q1 = d[1].Q, P2 = job.P2;
  const std::size_t P1 = d[1].pstart[d[1].N], P0 = d[0].pstart[d[0].N];
  double* Y1 = job.work + static_cast<std::size_t>(t) * plan.perThread;
  const std::size_t c = job.c, most = std::min(plan.c, P2);
  double* X2 = Y1 + Round(st[1].out * P1 * most * Q0);
  double* Y2 = X2 + Round(st[1].out * Q0 * most * P1);
  for (std::size_t chunk = begin; chunk < end; ++chunk) {
    if (evaluators::Stopping()) return;
    const std::size_t p2a = chunk * c, p2b = std::min(P2, p2a + c);
    const std::size_t len1 = (p2b - p2a) * Q0, len2 = (p2b - p2a) * P1;
    std::memset(Y1, 0, st[1].out * P1 * len1 * sizeof(double));
    for (int k = 0; k < st[1].in; ++k) {
      Contract(d[1], 0, d[1].nel, 0, 0, Differentiates(plan.D, st[1].inKey[k].i, 1),
               Differentiates(plan.D, st[1].inKey[k].j, 1), job.T + k * P2 * Q1 * Q0 + p2a * Q0,
               P2 * Q0, Y1 + st[1].to[k] * P1 * len1, len1, len1);
    }
    if (d[0].real < 0) {
      // A 2-D patch: its one table is the matrix's, Y1[p1][p2 - p2a].
      Scatter<Index>(job, Y1, p2a, p2b, 0, 1, len1);
      continue;
    }
    for (int o = 0; o < st[1].out; ++o) {
      const double* y = Y1 + o * P1 * len1;
      double* x = X2 + o * Q0 * len2;
      for (std::size_t p1 = 0; p1 < P1; ++p1) {
        for (std::size_t p2 = 0; p2 < p2b - p2a; ++p2) {
          for (std::size_t q0 = 0; q0 < Q0; ++q0)
            x[q0 * len2 + p2 * P1 + p1] = y[p1 * len1 + p2 * Q0 + q0];
        }
      }
    }
    std::memset(Y2, 0, P0 * len2 * sizeof(double));
    for (int k = 0; k < st[2].in; ++k) {
      Contract(d[0], 0, d[0].nel, 0, 0, Differentiates(plan.D, st[2].inKey[k].i, 0),
               Differentiates(plan.D, st[2].inKey[k].j, 0), X2 + k * Q0 * len2, len2, Y2, len2,
               len2);
    }
    Scatter<Index>(job, Y2, p2a, p2b, len2, P1, 1);
  }
}

// Symmetric forms: every entry below the diagonal the one above it, for the share's columns.
template <typename Index>
void MirrorShare(void* context, int, std::size_t begin, std::size_t end) {
  const Job& job = *static_cast<const Job*>(context);
  // The box's directions in the mesh's order (its pattern's), a dummy one beyond d.
  const Dir* d[3];
  for (int m = 0; m < 3; ++m) {
    const int t = job.plan->dirOf[m];
    d[m] = t >= 0 ? &job.plan->dir[t] : &job.plan->dir[0];
  }
  const Index* jc = static_cast<const Index*>(job.jc);
  const std::size_t ndof = job.ndof;
  const auto Split = [&](std::size_t f, int x[3]) {
    for (int t = 0; t < 3; ++t) {
      if (d[t]->real < 0) {
        x[t] = 0;
        continue;
      }
      x[t] = static_cast<int>(f % static_cast<std::size_t>(d[t]->N));
      f /= static_cast<std::size_t>(d[t]->N);
    }
  };
  for (std::size_t col = begin; col < end; ++col) {
    if (((col - begin) & 1023) == 0 && evaluators::Stopping()) return;
    const std::size_t cb = col / ndof, J = col % ndof;
    int b[3];
    Split(J, b);
    std::size_t l[3];
    for (int t = 0; t < 3; ++t)
      l[t] = static_cast<std::size_t>(d[t]->nhi[b[t]] - d[t]->nlo[b[t]] + 1);
    const std::size_t count = l[0] * l[1] * l[2];
    std::size_t at = static_cast<std::size_t>(jc[col]);
    const std::size_t stored = static_cast<std::size_t>(jc[col + 1]) - at;
    if (count == 0) continue;
    for (std::size_t ca = 0; ca * count < stored; ++ca) {
      for (int a2 = d[2]->nlo[b[2]]; a2 <= d[2]->nhi[b[2]]; ++a2) {
        for (int a1 = d[1]->nlo[b[1]]; a1 <= d[1]->nhi[b[1]]; ++a1) {
          for (int a0 = d[0]->nlo[b[0]]; a0 <= d[0]->nhi[b[0]]; ++a0, ++at) {
            const std::size_t I =
                static_cast<std::size_t>(a0 * d[0]->stride + a1 * d[1]->stride + a2 * d[2]->stride);
            const std::size_t row = ca * ndof + I;
            if (row <= col) continue;
            // Entry (col, row): column row, rows of component cb, function J in I's reach.
            const int a[3] = {a0, a1, a2};
            std::size_t m[3];
            for (int t = 0; t < 3; ++t) {
              m[t] = static_cast<std::size_t>(d[t]->nhi[a[t]] - d[t]->nlo[a[t]] + 1);
            }
            const std::size_t offset =
                cb * m[0] * m[1] * m[2] + static_cast<std::size_t>(b[0] - d[0]->nlo[a0]) +
                m[0] * (static_cast<std::size_t>(b[1] - d[1]->nlo[a1]) +
                        m[1] * static_cast<std::size_t>(b[2] - d[2]->nlo[a2]));
            job.pr[at] = job.pr[static_cast<std::size_t>(jc[row]) + offset];
          }
        }
      }
    }
  }
}


// A symmetric pattern's entries below the diagonal from those above it, for the share's columns.
template <typename Index>
struct Mirror {
  const Index* jc;
  const Index* ir;
  double* pr;
  std::size_t columns;
};

template <typename Index>
void MirrorUpperShare(void* context, int, std::size_t begin, std::size_t end) {
  const Mirror<Index>& m = *static_cast<const Mirror<Index>*>(context);
  // Column i's next entry above the diagonal to be read, for every i from begin on: the columns
  // are taken in order, so each column's rows come in order too (the pattern is symmetric).
  const std::size_t n = m.columns - begin;
  std::size_t* next = static_cast<std::size_t*>(std::malloc(std::max<std::size_t>(n, 1) * sizeof(std::size_t)));
  if (next != nullptr) {
    for (std::size_t i = begin; i < m.columns; ++i) {
      next[i - begin] = static_cast<std::size_t>(
          std::lower_bound(m.ir + m.jc[i], m.ir + m.jc[i + 1], static_cast<Index>(begin)) - m.ir);
    }
  }
  for (std::size_t col = begin; col < end; ++col) {
    if (((col - begin) & 1023) == 0 && evaluators::Stopping()) break;
    const std::size_t last = static_cast<std::size_t>(m.jc[col + 1]);
    std::size_t k = static_cast<std::size_t>(
        std::upper_bound(m.ir + m.jc[col], m.ir + last, static_cast<Index>(col)) - m.ir);
    for (; k < last; ++k) {
      const std::size_t row = static_cast<std::size_t>(m.ir[k]);
      if (next != nullptr) {
        std::size_t& at = next[row - begin];
        if (at < static_cast<std::size_t>(m.jc[row + 1]) && static_cast<std::size_t>(m.ir[at]) == col) {
          m.pr[k] = m.pr[at++];
          continue;
        }
      }
      const Index* first = m.ir + m.jc[row];
      const Index* end2 = m.ir + m.jc[row + 1];
      const Index* at = std::lower_bound(first, end2, static_cast<Index>(col));
      if (at != end2 && static_cast<std::size_t>(*at) == col) m.pr[k] = m.pr[at - m.ir];
    }
  }
  std::free(next);
}

// A load's first pass, for runs of plan.rows rows of nodes along direction 0: each component's
// factors contracted along 2 against the functions there, into T[c][a2 - f2][q1][q0].
void LoadFirstShare(void* context, int, std::size_t begin, std::size_t end) {
  const Job& job = *static_cast<const Job*>(context);
  const Plan& plan = *job.plan;
  const Dir& d2 = plan.dir[2];
  const std::size_t Q0 = plan.dir[0].Q, Q1 = plan.dir[1].Q, R0 = Q1 * Q0;
  const std::size_t n2 = static_cast<std::size_t>(job.n2);
  const auto accumulate = Accumulator();
  double c[mesh::kMaxQuadrature];
  for (std::size_t tile = begin; tile < end; ++tile) {
    if (evaluators::Stopping()) return;
    const std::size_t q1a = tile * plan.rows, q1b = std::min(Q1, q1a + plan.rows);
    const std::size_t r0 = q1a * Q0, len = (q1b - q1a) * Q0;
    for (int m = 0; m < plan.C; ++m) {
      double* T = job.T + static_cast<std::size_t>(m) * n2 * R0;
      for (std::size_t a = 0; a < n2; ++a) std::memset(T + a * R0 + r0, 0, len * sizeof(double));
      for (int e = job.elo; e < job.ehi; ++e) {
        const std::size_t g0 = static_cast<std::size_t>(e) * d2.nq;
        const double* x = job.P + static_cast<std::size_t>(m) * job.S + (g0 - job.gbase) * R0 + r0;
        for (int la = 0; la < d2.n; ++la) {
          for (int q = 0; q < d2.nq; ++q) c[q] = d2.B[(g0 + q) * 2 * d2.n + la];
          const std::size_t a = static_cast<std::size_t>(d2.first[e] + la - job.f2);
          accumulate(len, d2.nq, c, x, R0, T + a * R0 + r0);
        }
      }
    }
  }
}

// The second pass, for rows (c, a2): contracted along 1 into T1[c][a2 - f2][a1 - fa1][q0].
void LoadSecondShare(void* context, int, std::size_t begin, std::size_t end) {
  const Job& job = *static_cast<const Job*>(context);
  const Plan& plan = *job.plan;
  const Dir& d1 = plan.dir[1];
  const std::size_t Q0 = plan.dir[0].Q, R0 = d1.Q * Q0;
  const std::size_t na1 = static_cast<std::size_t>(d1.na);
  const auto accumulate = Accumulator();
  double c[mesh::kMaxQuadrature];
  for (std::size_t row = begin; row < end; ++row) {
    if (evaluators::Stopping()) return;
    double* Y = job.T1 + row * na1 * Q0;
    std::memset(Y, 0, na1 * Q0 * sizeof(double));
    const double* X = job.T + row * R0;
    for (int e = 0; e < d1.nel; ++e) {
      const std::size_t g0 = static_cast<std::size_t>(e) * d1.nq;
      for (int la = 0; la < d1.n; ++la) {
        for (int q = 0; q < d1.nq; ++q) c[q] = d1.B[(g0 + q) * 2 * d1.n + la];
        const std::size_t a = static_cast<std::size_t>(d1.first[e] + la - d1.fa);
        accumulate(Q0, d1.nq, c, X + g0 * Q0, Q0, Y + a * Q0);
      }
    }
  }
}

// The third pass, for rows (c, a2, a1): contracted along 0 and added into the box's vector
// F[c][a2 - fa2][a1 - fa1][a0 - fa0].
void LoadThirdShare(void* context, int, std::size_t begin, std::size_t end) {
  const Job& job = *static_cast<const Job*>(context);
  const Plan& plan = *job.plan;
  const Dir& d0 = plan.dir[0];
  const Dir& d2 = plan.dir[2];
  const std::size_t na0 = static_cast<std::size_t>(d0.na), na1 = static_cast<std::size_t>(plan.dir[1].na);
  const std::size_t na2 = static_cast<std::size_t>(d2.na), n2 = static_cast<std::size_t>(job.n2);
  for (std::size_t row = begin; row < end; ++row) {
    if (((row - begin) & 255) == 0 && evaluators::Stopping()) return;
    const std::size_t m = row / (n2 * na1), a2 = row / na1 % n2, a1 = row % na1;
    const std::size_t A2 = a2 + static_cast<std::size_t>(job.f2 - d2.fa);
    double* F = job.F + ((m * na2 + A2) * na1 + a1) * na0;
    const double* y = job.T1 + row * d0.Q;
    for (int e = 0; e < d0.nel; ++e) {
      const std::size_t g0 = static_cast<std::size_t>(e) * d0.nq;
      for (int la = 0; la < d0.n; ++la) {
        double& f = F[d0.first[e] + la - d0.fa];
        for (int q = 0; q < d0.nq; ++q) f += d0.B[(g0 + q) * 2 * d0.n + la] * y[g0 + q];
      }
    }
  }
}

// The fixed direction of a side, or -1.
int SideDirection(const Mesh& mesh) { return mesh.side > 0 ? (mesh.side - 1) / 2 : -1; }

// Estimated pairs a node of a box's direction m: a direction of few elements has (p + 1)^2 pairs
// to its p + 1 nodes an element, a long one about 2.
double PairsPerNode(const Mesh& mesh, const Box& box, int m) {
  const double p = mesh.space.axis[m].p, nel = box.hi[m] - box.lo[m];
  const double functions = std::min<double>(mesh.space.axis[m].n, nel + p);
  return functions * std::min(2 * p + 1, nel + p) / (nel * mesh.rule[m].n);
}

// The order in which a box's directions are summed: the mesh's (but a side's fixed one) into
// reals[0..D-1], the one with the most pairs a node first, since the last is contracted first and
// its pairs multiply the tables that the others' contractions take (a slab one element thick is
// contracted last). A direction goes before another only with a quarter more pairs a node: the
// mesh's order keeps a column's rows one after another along direction 0. Returns D.
int BoxOrder(const Mesh& mesh, const Box& box, int reals[3]) {
  const int fixed = SideDirection(mesh);
  int D = 0;
  double r[3];
  for (int m = 0; m < mesh.d; ++m) {
    if (m == fixed) continue;
    r[D] = PairsPerNode(mesh, box, m);
    reals[D++] = m;
  }
  for (int i = 1; i < D; ++i) {
    for (int j = i; j > 0 && r[j] > 1.25 * r[j - 1]; --j) {
      std::swap(r[j], r[j - 1]);
      std::swap(reals[j], reals[j - 1]);
    }
  }
  return D;
}

// The box's directions' tables into memory from `at`; returns the doubles used (at nullptr:
// counts). The directions are the mesh's but a side's fixed one, in BoxOrder's order, the last
// ones; dirOf: the box's direction of each of the mesh's.
std::size_t Directions(const Mesh& mesh, const Box& box, Dir dir[3], int dirOf[3], double* at) {
  std::size_t used = 0;
  const auto take = [&](std::size_t doubles) {
    double* here = at ? at + used : nullptr;
    used += Round(doubles);
    return here;
  };
  int reals[3];
  const int D = BoxOrder(mesh, box, reals);
  for (int m = 0; m < 3; ++m) dirOf[m] = -1;
  for (int t = 0; t < 3; ++t) {
    Dir& d = dir[t];
    const int r = t - (3 - D) < 0 ? -1 : reals[t - (3 - D)];
    if (r >= 0) dirOf[r] = t;
    d.real = r;
    const bool dummy = r < 0;
    d.e0 = dummy ? 0 : box.lo[r];
    d.p = dummy ? 0 : mesh.space.axis[r].p;
    d.n = d.p + 1;
    d.nq = dummy ? 1 : mesh.rule[r].n;
    d.nel = dummy ? 1 : box.hi[r] - box.lo[r];
    d.Q = static_cast<std::size_t>(d.nel) * d.nq;
    d.N = dummy ? 1 : mesh.space.axis[r].n;
    d.gn = dummy ? 1 : mesh.geometry.axis[r].p + 1;
    d.stride = dummy ? 0 : mesh.space.stride[r];
    d.gstride = dummy ? 0 : mesh.geometry.stride[r];
    const std::size_t intsPerDouble = sizeof(double) / sizeof(int);
    const auto ints = [&](std::size_t n) {
      return reinterpret_cast<int*>(take((n + intsPerDouble - 1) / intsPerDouble));
    };
    d.first = ints(static_cast<std::size_t>(d.nel));
    d.gfirst = ints(static_cast<std::size_t>(d.nel));
    d.nlo = ints(static_cast<std::size_t>(d.N));
    d.nhi = ints(static_cast<std::size_t>(d.N));
    d.pstart = reinterpret_cast<std::size_t*>(take(static_cast<std::size_t>(d.N) + 1));
    d.B = take(d.Q * 2 * d.n);
    d.G = take(d.Q * 2 * d.gn);
    d.w = take(d.Q);
    // The pairs: counted from the spans (the tables' own count is needed before they exist).
    std::size_t pairs = 0;
    const int* span = dummy ? nullptr : mesh.span[r] + d.e0;
    const int* gspan = dummy ? nullptr : mesh.geometrySpan[r] + d.e0;
    if (at != nullptr) {
      for (int e = 0; e < d.nel; ++e) {
        d.first[e] = dummy ? 0 : span[e] - d.p;
        d.gfirst[e] = dummy ? 0 : gspan[e] - (d.gn - 1);
      }
      d.fa = d.first[0];
      d.na = d.first[d.nel - 1] + d.p - d.fa + 1;
      d.pstart[0] = 0;
      for (int b = 0; b < d.N; ++b) {
        if (dummy) {
          d.nlo[b] = d.nhi[b] = 0;
        } else {
          const int elo = static_cast<int>(std::lower_bound(span, span + d.nel, b) - span);
          const int ehi =
              static_cast<int>(std::lower_bound(span, span + d.nel, b + d.p + 1) - span) - 1;
          if (elo > ehi) {
            d.nlo[b] = 1;
            d.nhi[b] = 0;
          } else {
            d.nlo[b] = std::max(0, span[elo] - d.p);
            d.nhi[b] = std::min(d.N - 1, span[ehi]);
          }
        }
        d.pstart[b + 1] =
            d.pstart[b] + static_cast<std::size_t>(std::max(0, d.nhi[b] - d.nlo[b] + 1));
      }
      pairs = d.pstart[d.N];
    } else {
      // At most 2p + 1 a function.
      pairs = static_cast<std::size_t>(d.N) * (2 * d.p + 1);
    }
    d.pa = ints(pairs);
    d.pb = ints(pairs);
    if (at == nullptr) continue;
    for (int b = 0; b < d.N; ++b) {
      for (int a = d.nlo[b]; a <= d.nhi[b]; ++a) {
        const std::size_t k = d.pstart[b] + static_cast<std::size_t>(a - d.nlo[b]);
        d.pa[k] = a;
        d.pb[k] = b;
      }
    }
    double N0[kMaxDegree + 1], N1[kMaxDegree + 1];
    double* rows[2] = {N0, N1};
    for (int e = 0; e < d.nel; ++e) {
      for (int q = 0; q < d.nq; ++q) {
        const std::size_t g = static_cast<std::size_t>(e) * d.nq + q;
        if (dummy) {
          d.B[g * 2] = d.G[g * 2] = 1.0;
          d.B[g * 2 + 1] = d.G[g * 2 + 1] = 0.0;
          d.w[g] = 1.0;
          continue;
        }
        const evaluators::Axis& a = mesh.space.axis[r];
        const evaluators::Axis& ga = mesh.geometry.axis[r];
        const int s = span[e];
        const double lo = a.U[s], hi = a.U[s + 1];
        const double tq = mesh.rule[r].node[q];
        const double u = (1.0 - tq) * lo + tq * hi;
        d.w[g] = (hi - lo) * mesh.rule[r].weight[q];
        dersBasisFuns(s, u, a.p, 1, a.U, rows);
        for (int k = 0; k < d.n; ++k) {
          d.B[(g * 2) * d.n + k] = N0[k];
          d.B[(g * 2 + 1) * d.n + k] = N1[k];
        }
        dersBasisFuns(gspan[e], u, ga.p, 1, ga.U, rows);
        for (int k = 0; k < d.gn; ++k) {
          d.G[(g * 2) * d.gn + k] = N0[k];
          d.G[(g * 2 + 1) * d.gn + k] = N1[k];
        }
      }
    }
  }
  return used;
}

// A side's fixed direction: its functions at the face's one node, the domain's start or end
// exactly, in the boundary element's span (as the mesh layer takes them).
void MakeFixed(const Mesh& mesh, Fixed* f) {
  f->dir = SideDirection(mesh);
  if (f->dir < 0) return;
  const int k = f->dir;
  const bool start = mesh.side % 2 == 1;
  const int e = start ? 0 : mesh.nel[k] - 1;
  const evaluators::Axis& a = mesh.space.axis[k];
  const evaluators::Axis& ga = mesh.geometry.axis[k];
  const double u = start ? a.U[a.p] : a.U[a.n];
  double N[kMaxDegree + 1];
  const int s = mesh.span[k][e], gs = mesh.geometrySpan[k][e];
  BasisFuns(s, u, a.p, a.U, N);
  int lo = -1, hi = -2;
  for (int i = 0; i <= a.p; ++i) {
    if (N[i] != 0.0) {
      if (lo < 0) lo = i;
      hi = i;
    }
  }
  f->first = s - a.p + std::max(lo, 0);
  f->count = hi - lo + 1 > 0 ? hi - lo + 1 : 0;
  for (int i = 0; i < f->count; ++i) f->N[i] = N[lo + i];
  BasisFuns(gs, u, ga.p, ga.U, N);
  f->gfirst = gs - ga.p;
  f->gcount = ga.p + 1;
  for (int i = 0; i < f->gcount; ++i) f->G[i] = N[i];
  f->stride = mesh.space.stride[k];
  f->gstride = mesh.geometry.stride[k];
}

// The plan of a form over a mesh, without its tables (sizes only where dir has none); a face's
// fixed direction where `face` (it needs the span tables).
void MakePlan(const Form& form, const Mesh& mesh, Plan* plan, bool face = true) {
  plan->D = mesh.side > 0 ? mesh.d - 1 : mesh.d;
  plan->rdim = mesh.rdim;
  plan->rational = mesh.space.weights != nullptr;
  plan->kind = form.kind;
  plan->symmetric = Symmetric(form.kind);
  plan->C = Components(form, mesh);
  plan->fixed.dir = -1;
  if (face) MakeFixed(mesh, &plan->fixed);
  MakeBlocks(plan);
}

// The slab's length along direction 2, and the sizes for it: the most elements whose tables fit
// blocks of kBudget, or where that leaves fewer than p + 1 elements (the pairs that span two slabs
// are summed in each, up to (L + p) / L times the work of the second pass), of kLargest.
bool ChooseSlabs(Plan* plan, int threads) {
  const Dir* d = plan->dir;
  // Runs of about kTile values, and at least some 16 of them a pass, so that two or more threads
  // share a pass evenly (no value's sum depends on the runs).
  // Runs of at least kRun values where direction 0 has few nodes (a box thin along it), so that
  // the contractions keep their vector lanes busy.
  const std::size_t run = std::max<std::size_t>(1, kTile / d[0].Q);
  plan->rows = std::max<std::size_t>(
      1, std::min(run, std::max((d[1].Q + 15) / 16, (kRun + d[0].Q - 1) / d[0].Q)));
  plan->c = run;  // at most; each slab's chunks cut like the rows (Job::c)
  const auto fits = [&](int L, std::size_t cap, bool keep) {
    std::size_t P = 0, T = 0, own = Round(ElementScratch(d));
    for (int e = 0; e < d[2].nel; e += L) {
      std::size_t p, t, o;
      SlabSizes(*plan, e, std::min(d[2].nel, e + L), &p, &t, &o);
      P = std::max(P, p);
      T = std::max(T, t);
      own = std::max(own, o);
    }
    const std::size_t most = std::max({P, T, own * static_cast<std::size_t>(threads)});
    if (most * sizeof(double) > cap) return false;
    if (keep) {
      plan->L = L;
      plan->sizeP = P;
      plan->sizeT = T;
      plan->perThread = own;
    }
    return true;
  };
  const auto largest = [&](std::size_t cap) {
    for (int L = d[2].nel; L >= 1; L = L == 1 ? 0 : (L + 1) / 2) {
      if (fits(L, cap, false)) return L;
    }
    return 0;
  };
  int L = largest(kBudget);
  if (L < std::min(d[2].nel, d[2].p + 1)) L = std::max(L, largest(kLargest));
  // Shorter slabs where NURBS_FORMS_SLAB asks (tests: the pairs that span slabs).
  if (const char* most = std::getenv("NURBS_FORMS_SLAB")) {
    const int cap = std::atoi(most);
    if (cap > 0 && cap < L) L = cap;
  }
  return L > 0 && fits(L, kLargest, true);
}

const char* MethodFromEnvironment() {
  const char* m = std::getenv("NURBS_FORMS_METHOD");
  return m != nullptr ? m : "";
}

// A box with an element in every direction.
bool NonEmpty(const Mesh& mesh, const Box& box) {
  const int fixed = SideDirection(mesh);
  for (int m = 0; m < mesh.d; ++m) {
    if (m != fixed && box.hi[m] <= box.lo[m]) return false;
  }
  return true;
}

// The memory of a call over its boxes: the largest box's tables, records, first tables, each
// thread's own and (a load) the box's vector. false where it could not be had.
struct Memory {
  double *tables, *records, *first, *own, *vector;
};

void Free(Memory* m) {
  std::free(m->tables);
  std::free(m->records);
  std::free(m->first);
  std::free(m->own);
  std::free(m->vector);
  *m = Memory{};
}

// Doubles of a load box's vector: its functions' in every component.
std::size_t BoxVector(const Plan& plan) {
  const Dir* d = plan.dir;
  return Round(static_cast<std::size_t>(plan.C) * static_cast<std::size_t>(d[0].na) *
               static_cast<std::size_t>(d[1].na) * static_cast<std::size_t>(d[2].na));
}

bool Allocate(const Form& form, const Mesh& mesh, const Box boxes[], int count, int threads,
              Plan* plan, Memory* m) {
  *m = Memory{};
  std::size_t dirDoubles = 0;
  for (int k = 0; k < count; ++k) {
    dirDoubles = std::max(dirDoubles, Directions(mesh, boxes[k], plan->dir, plan->dirOf, nullptr));
  }
  m->tables = static_cast<double*>(std::malloc(std::max<std::size_t>(dirDoubles, 1) * sizeof(double)));
  if (m->tables == nullptr) return false;
  std::size_t P = 1, T = 1, own = 1, vector = 1;
  for (int k = 0; k < count; ++k) {
    if (!NonEmpty(mesh, boxes[k])) continue;
    Directions(mesh, boxes[k], plan->dir, plan->dirOf, m->tables);
    if (!ChooseSlabs(plan, threads)) {
      Free(m);
      return false;
    }
    P = std::max(P, plan->sizeP);
    T = std::max(T, plan->sizeT);
    own = std::max(own, plan->perThread);
    if (form.kind == Kind::Load) vector = std::max(vector, BoxVector(*plan));
  }
  m->records = static_cast<double*>(std::malloc(P * sizeof(double)));
  m->first = static_cast<double*>(std::malloc(T * sizeof(double)));
  m->own = static_cast<double*>(std::malloc(own * static_cast<std::size_t>(threads) * sizeof(double)));
  if (form.kind == Kind::Load) m->vector = static_cast<double*>(std::malloc(vector * sizeof(double)));
  if (m->records == nullptr || m->first == nullptr || m->own == nullptr ||
      (form.kind == Kind::Load && m->vector == nullptr)) {
    Free(m);
    return false;
  }
  return true;
}

std::size_t PatchFunctions(const Mesh& mesh) {
  std::size_t ndof = 1;
  for (int d = 0; d < mesh.d; ++d) ndof *= static_cast<std::size_t>(mesh.space.axis[d].n);
  return ndof;
}

// One box of a matrix: every slab's points, then each block's two passes; the mirror of a
// symmetric form in the box's own pattern.
template <typename Index>
void MatrixBox(Job* job, int threads) {
  const Plan& plan = *job->plan;
  const Dir* d = plan.dir;
  const auto run = [&](std::size_t count, evaluators::ShareFunction f) {
    evaluators::Shares(count, static_cast<int>(std::min<std::size_t>(threads, count)), kStack, f,
                       job);
  };
  for (int elo = 0; elo < d[2].nel; elo += plan.L) {
    job->elo = elo;
    job->ehi = std::min(d[2].nel, elo + plan.L);
    job->gbase = static_cast<std::size_t>(elo) * d[2].nq;
    PairRange(d[2], job->elo, job->ehi, &job->pbase2, &job->P2);
    job->S = static_cast<std::size_t>(job->ehi - elo) * d[2].nq * d[1].Q * d[0].Q;
    run(static_cast<std::size_t>(d[0].nel) * d[1].nel * static_cast<std::size_t>(job->ehi - elo),
        PointsShare);
    const std::size_t c = std::max<std::size_t>(
        1, std::min(plan.c, std::max((job->P2 + 15) / 16, (kRun + d[0].Q - 1) / d[0].Q)));
    job->c = c;
    for (int b = 0; b < plan.blocks && !evaluators::Stopping(); ++b) {
      job->b = b;
      run((d[1].Q + plan.rows - 1) / plan.rows, FirstShare);
      run((job->P2 + c - 1) / c, SecondShare<Index>);
    }
    // A stopped call's result is discarded by its caller: nothing more to sum.
    if (evaluators::Stopping()) return;
  }
  if (plan.symmetric && job->target->own) {
    const std::size_t columns =
        job->ndof * static_cast<std::size_t>(Components(*job->form, *job->mesh));
    run(columns, MirrorShare<Index>);
  }
}

// One box of a load: every slab's factors and three passes into the box's vector, which is then
// added into the result through the target's numbering (a face's once for each of the fixed
// direction's functions), in order.
void VectorBox(Job* job, int threads, double* out) {
  const Plan& plan = *job->plan;
  const Dir* d = plan.dir;
  const auto run = [&](std::size_t count, evaluators::ShareFunction f) {
    evaluators::Shares(count, static_cast<int>(std::min<std::size_t>(threads, count)), kStack, f,
                       job);
  };
  const std::size_t C = static_cast<std::size_t>(plan.C);
  const std::size_t na0 = static_cast<std::size_t>(d[0].na), na1 = static_cast<std::size_t>(d[1].na),
                    na2 = static_cast<std::size_t>(d[2].na);
  std::memset(job->F, 0, C * na0 * na1 * na2 * sizeof(double));
  for (int elo = 0; elo < d[2].nel; elo += plan.L) {
    job->elo = elo;
    job->ehi = std::min(d[2].nel, elo + plan.L);
    job->gbase = static_cast<std::size_t>(elo) * d[2].nq;
    FunctionRange(d[2], job->elo, job->ehi, &job->f2, &job->n2);
    const std::size_t R0 = d[1].Q * d[0].Q;
    job->S = static_cast<std::size_t>(job->ehi - elo) * d[2].nq * R0;
    job->T1 = job->T + Round(C * static_cast<std::size_t>(job->n2) * R0);
    run(static_cast<std::size_t>(d[0].nel) * d[1].nel * static_cast<std::size_t>(job->ehi - elo),
        PointsShare);
    run((d[1].Q + plan.rows - 1) / plan.rows, LoadFirstShare);
    run(C * static_cast<std::size_t>(job->n2), LoadSecondShare);
    run(C * static_cast<std::size_t>(job->n2) * na1, LoadThirdShare);
    if (evaluators::Stopping()) return;
  }
  const Target& target = *job->target;
  const Fixed& fx = plan.fixed;
  const int fixedCount = fx.dir >= 0 ? fx.count : 1;
  const double* sw = plan.rational ? job->mesh->space.weights : nullptr;
  const double* F = job->F;
  for (std::size_t m = 0; m < C; ++m) {
    for (std::size_t a2 = 0; a2 < na2; ++a2) {
      for (std::size_t a1 = 0; a1 < na1; ++a1) {
        for (std::size_t a0 = 0; a0 < na0; ++a0, ++F) {
          const std::ptrdiff_t I0 = (d[0].fa + static_cast<std::ptrdiff_t>(a0)) * d[0].stride +
                                    (d[1].fa + static_cast<std::ptrdiff_t>(a1)) * d[1].stride +
                                    (d[2].fa + static_cast<std::ptrdiff_t>(a2)) * d[2].stride;
          for (int k = 0; k < fixedCount; ++k) {
            std::ptrdiff_t I = I0;
            double v = *F;
            if (fx.dir >= 0) {
              I += (fx.first + k) * fx.stride;
              v *= fx.N[k];
            }
            if (sw) v *= sw[I];
            const std::size_t g = target.gnum ? static_cast<std::size_t>(target.gnum[I]) - 1
                                              : static_cast<std::size_t>(I);
            out[m * target.ndof + g] += v;
          }
        }
      }
    }
  }
}

template <typename Index>
bool Run(const Form& form, const Mesh& mesh, const Box boxes[], int count, const Target& target,
         int threads, const Index* jc, const Index* ir, double* pr) {
  if (target.serial) threads = 1;
  Plan plan{};
  MakePlan(form, mesh, &plan);
  Memory m;
  if (!Allocate(form, mesh, boxes, count, threads, &plan, &m)) return false;
  Job job{};
  job.plan = &plan;
  job.form = &form;
  job.mesh = &mesh;
  job.target = &target;
  job.P = m.records;
  job.T = m.first;
  job.work = m.own;
  job.F = m.vector;
  job.pr = pr;
  job.jc = jc;
  job.ir = ir;
  job.ndof = PatchFunctions(mesh);
  // A looked-up matrix: the numbering as indices, once.
  std::int64_t* g = nullptr;
  if (!target.own && form.kind != Kind::Load) {
    g = static_cast<std::int64_t*>(std::malloc(job.ndof * sizeof(std::int64_t)));
    if (g == nullptr) {
      Free(&m);
      return false;
    }
    for (std::size_t a = 0; a < job.ndof; ++a) {
      g[a] = target.gnum ? static_cast<std::int64_t>(target.gnum[a]) - 1
                         : static_cast<std::int64_t>(a);
    }
  }
  job.g = g;
  for (int k = 0; k < count && !evaluators::Stopping(); ++k) {
    if (!NonEmpty(mesh, boxes[k])) continue;
    job.box = &boxes[k];
    Directions(mesh, boxes[k], plan.dir, plan.dirOf, m.tables);
    ChooseSlabs(&plan, threads);  // as Allocate found it: it fits
    if (form.kind == Kind::Load) {
      VectorBox(&job, threads, pr);
    } else {
      MatrixBox<Index>(&job, threads);
    }
  }
  Free(&m);
  std::free(g);
  return true;
}

}  // namespace

bool SumFactorisable(const Form& form, const Mesh& mesh) {
  if (mesh.d < 2 || mesh.d != mesh.rdim) return false;
  switch (form.kind) {
    case Kind::Stiffness:
    case Kind::Advection:
    case Kind::Elasticity:
      if (mesh.side != 0) return false;
      break;
    case Kind::Mass:
    case Kind::Load:
      break;
    default:
      return false;
  }
  for (int d = 0; d < mesh.d; ++d) {
    if (mesh.nel[d] < 1) return false;
  }
  return true;
}

Box WholeBox(const Mesh& mesh) {
  Box b{{0, 0, 0}, {1, 1, 1}, nullptr};
  for (int d = 0; d < mesh.d; ++d) b.hi[d] = mesh.nel[d];
  const int fixed = SideDirection(mesh);
  if (fixed >= 0) {
    b.lo[fixed] = mesh.side % 2 == 1 ? 0 : mesh.nel[fixed] - 1;
    b.hi[fixed] = b.lo[fixed] + 1;
  }
  return b;
}

double BoxCost(const Form& form, const Mesh& mesh, const Box& box) {
  // Multiply-adds of the contractions, a point's records, and the geometry's own sums, counted
  // for the box at its largest slab.
  Plan plan{};
  MakePlan(form, mesh, &plan, false);
  double points = 1.0, pairs[3] = {1.0, 1.0, 1.0}, Q[3] = {1.0, 1.0, 1.0}, n2[3] = {1, 1, 1};
  double nel[3] = {1, 1, 1}, nq[3] = {1, 1, 1}, fn[3] = {1, 1, 1}, p1[3] = {1, 1, 1};
  int reals[3];
  const int D = BoxOrder(mesh, box, reals);
  for (int t = 0; t < 3; ++t) {
    const int i = t - (3 - D);
    if (i < 0) continue;
    const int r = reals[i];
    const double p = mesh.space.axis[r].p;
    nel[t] = box.hi[r] - box.lo[r];
    nq[t] = mesh.rule[r].n;
    Q[t] = nel[t] * nq[t];
    fn[t] = std::min<double>(mesh.space.axis[r].n, nel[t] + p);
    pairs[t] = fn[t] * std::min(2 * p + 1, nel[t] + p);
    n2[t] = (p + 1) * (p + 1) * nq[t];
    p1[t] = p + 1;
    points *= Q[t];
  }
  double work = 0.0;
  if (form.kind == Kind::Load) {
    work = plan.C * (points * p1[2] + fn[2] * Q[1] * Q[0] * p1[1] + fn[2] * fn[1] * Q[0] * p1[0]);
  }
  for (int b = 0; b < plan.blocks; ++b) {
    const Stage* st = plan.stage[b];
    // Each stage's input table of Q x R: n^2 multiply-adds per node and r, over nq nodes an
    // element.
    work += st[0].in * (n2[2] / nq[2]) * points;
    work += st[1].in * n2[1] / nq[1] * Q[0] * pairs[2];
    work += st[2].in * n2[0] / nq[0] * pairs[2] * pairs[1];
  }
  double geometry = 0.0;
  for (int d = 0; d < mesh.d; ++d) geometry += 8.0 * (mesh.geometry.axis[d].p + 1);
  // Scaled to the measured times (the ring, the annulus; 1 to 3 times the raw count). A point of
  // the mass or the load needs no inverse map: some half the cost of one of a gradient's.
  if (form.kind == Kind::Mass || form.kind == Kind::Load) {
    return 1.0 * work + points * (40.0 + 2.0 * geometry);
  }
  return 1.0 * work + points * (120.0 + 3.0 * geometry + 20.0 * plan.blocks);
}

Method Forced(const Form& form) {
  if (form.method != Method::Auto) return form.method;
  const char* m = MethodFromEnvironment();
  if (std::strcmp(m, "elements") == 0) return Method::Elements;
  if (std::strcmp(m, "sumfact") == 0) return Method::SumFactorised;
  return Method::Auto;
}

template <typename Index>
bool AssembleSumFactorised(const Form& form, const Mesh& mesh, const Box boxes[], int count,
                           const Target& target, int threads, const Index* jc, const Index* ir,
                           double* pr) {
  return Run(form, mesh, boxes, count, target, threads, jc, ir, pr);
}

bool AssembleSumFactorisedVector(const Form& form, const Mesh& mesh, const Box boxes[], int count,
                                 const Target& target, int threads, double* out) {
  return Run<std::size_t>(form, mesh, boxes, count, target, threads, nullptr, nullptr, out);
}

template <typename Index>
void MirrorUpper(std::size_t columns, const Index* jc, const Index* ir, double* pr, int threads) {
  Mirror<Index> m{jc, ir, pr, columns};
  evaluators::Shares(columns, static_cast<int>(std::min<std::size_t>(threads, columns)), kStack,
                     MirrorUpperShare<Index>, &m);
}

template bool AssembleSumFactorised<std::int64_t>(const Form&, const Mesh&, const Box[], int,
                                                  const Target&, int, const std::int64_t*,
                                                  const std::int64_t*, double*);
template bool AssembleSumFactorised<std::size_t>(const Form&, const Mesh&, const Box[], int,
                                                 const Target&, int, const std::size_t*,
                                                 const std::size_t*, double*);
template void MirrorUpper<std::int64_t>(std::size_t, const std::int64_t*, const std::int64_t*,
                                        double*, int);
template void MirrorUpper<std::size_t>(std::size_t, const std::size_t*, const std::size_t*,
                                       double*, int);

bool CoverElements(const Mesh& mesh, Cover* cover) {
  *cover = Cover{0, nullptr, nullptr};
  const std::size_t count = mesh.count;
  if (count == 0) return true;
  const int fixed = SideDirection(mesh);
  int reals[3] = {0, 0, 0}, D = 0;
  for (int m = 0; m < mesh.d; ++m) {
    if (m != fixed) reals[D++] = m;
  }
  int lo[3] = {0, 0, 0}, n[3] = {1, 1, 1};
  {
    int hi[3] = {0, 0, 0};
    for (int t = 0; t < D; ++t) {
      lo[t] = mesh.nel[reals[t]];
      hi[t] = -1;
    }
    for (std::size_t k = 0; k < count; ++k) {
      int e[3];
      mesh::ElementIndex(mesh, mesh::ElementAt(mesh, k), e);
      for (int t = 0; t < D; ++t) {
        lo[t] = std::min(lo[t], e[reals[t]]);
        hi[t] = std::max(hi[t], e[reals[t]]);
      }
    }
    for (int t = 0; t < D; ++t) n[t] = hi[t] - lo[t] + 1;
  }
  // Scattered elements: the element path (boxes of a few elements each would cost more).
  const std::size_t most = 4 * count + 4096;
  std::size_t V = 1;
  for (int t = 0; t < 3; ++t) {
    if (static_cast<std::size_t>(n[t]) > most / V) return false;
    V *= static_cast<std::size_t>(n[t]);
  }
  std::int64_t* at = static_cast<std::int64_t*>(std::malloc(V * sizeof(std::int64_t)));
  Box* boxes = static_cast<Box*>(std::malloc(count * sizeof(Box)));
  std::int64_t* order = static_cast<std::int64_t*>(std::malloc(count * sizeof(std::int64_t)));
  const auto fail = [&]() {
    std::free(at);
    std::free(boxes);
    std::free(order);
    return false;
  };
  if (at == nullptr || boxes == nullptr || order == nullptr) return fail();
  for (std::size_t v = 0; v < V; ++v) at[v] = -1;
  const std::size_t s1 = static_cast<std::size_t>(n[0]), s2 = s1 * static_cast<std::size_t>(n[1]);
  for (std::size_t k = 0; k < count; ++k) {
    int e[3];
    mesh::ElementIndex(mesh, mesh::ElementAt(mesh, k), e);
    std::size_t v = 0;
    const std::size_t step[3] = {1, s1, s2};
    for (int t = 0; t < D; ++t) v += static_cast<std::size_t>(e[reals[t]] - lo[t]) * step[t];
    if (at[v] >= 0) return fail();  // listed twice: summed twice, element by element
    at[v] = static_cast<std::int64_t>(k);
  }
  // Cells present and not yet in a box have their position (>= 0); taken ones -2.
  const auto present = [&](int i0, int i1, int i2) {
    return at[static_cast<std::size_t>(i0) + s1 * static_cast<std::size_t>(i1) +
              s2 * static_cast<std::size_t>(i2)] >= 0;
  };
  int boxCount = 0;
  std::size_t o = 0;
  for (int c2 = 0; c2 < n[2]; ++c2) {
    for (int c1 = 0; c1 < n[1]; ++c1) {
      for (int c0 = 0; c0 < n[0]; ++c0) {
        if (!present(c0, c1, c2)) continue;
        int l0 = 1, l1 = 1, l2 = 1;
        while (c0 + l0 < n[0] && present(c0 + l0, c1, c2)) ++l0;
        const auto row = [&](int i1, int i2) {
          for (int i0 = c0; i0 < c0 + l0; ++i0) {
            if (!present(i0, i1, i2)) return false;
          }
          return true;
        };
        while (c1 + l1 < n[1] && row(c1 + l1, c2)) ++l1;
        const auto layer = [&](int i2) {
          for (int i1 = c1; i1 < c1 + l1; ++i1) {
            if (!row(i1, i2)) return false;
          }
          return true;
        };
        while (c2 + l2 < n[2] && layer(c2 + l2)) ++l2;
        Box& b = boxes[boxCount++];
        b = WholeBox(mesh);
        const int start[3] = {c0, c1, c2}, length[3] = {l0, l1, l2};
        for (int t = 0; t < D; ++t) {
          b.lo[reals[t]] = lo[t] + start[t];
          b.hi[reals[t]] = lo[t] + start[t] + length[t];
        }
        b.order = order + o;
        for (int i2 = c2; i2 < c2 + l2; ++i2) {
          for (int i1 = c1; i1 < c1 + l1; ++i1) {
            for (int i0 = c0; i0 < c0 + l0; ++i0) {
              std::int64_t& cell = at[static_cast<std::size_t>(i0) + s1 * static_cast<std::size_t>(i1) +
                                      s2 * static_cast<std::size_t>(i2)];
              order[o++] = cell;
              cell = -2;
            }
          }
        }
      }
    }
  }
  std::free(at);
  *cover = Cover{boxCount, boxes, order};
  return true;
}

void FreeCover(Cover* cover) {
  std::free(cover->boxes);
  std::free(cover->order);
  *cover = Cover{0, nullptr, nullptr};
}

namespace {

// Doubles of one thread's scratch for an element's coordinates: the element's control points, the
// two partial sums, each direction's functions at its nodes.
std::size_t NodeScratch(const Mesh& mesh) {
  std::size_t n[3] = {1, 1, 1}, nq[3] = {1, 1, 1};
  const int fixed = SideDirection(mesh);
  for (int d = 0; d < mesh.d; ++d) {
    n[d] = static_cast<std::size_t>(mesh.geometry.axis[d].p) + 1;
    nq[d] = d == fixed ? 1 : static_cast<std::size_t>(mesh.rule[d].n);
  }
  const std::size_t nc = 4;
  return Round(n[0] * n[1] * n[2] * nc) + Round(n[2] * n[1] * nq[0] * nc) +
         Round(n[2] * nq[1] * nq[0] * nc) + Round((nq[0] * n[0] + nq[1] * n[1] + nq[2] * n[2]));
}

struct NodeJob {
  const Mesh* mesh;
  double* work;
  std::size_t perThread;
  double* x;
};

// Each element's nodes: its control points (w x, w) contracted against the geometry's functions
// at the nodes one direction at a time, then divided by the weight.
void NodeShare(void* context, int t, std::size_t begin, std::size_t end) {
  const NodeJob& job = *static_cast<const NodeJob*>(context);
  const Mesh& mesh = *job.mesh;
  const int fixed = SideDirection(mesh);
  const int r = mesh.rdim, nc = r + 1;
  int n[3] = {1, 1, 1}, nq[3] = {1, 1, 1};
  for (int d = 0; d < mesh.d; ++d) {
    n[d] = mesh.geometry.axis[d].p + 1;
    nq[d] = d == fixed ? 1 : mesh.rule[d].n;
  }
  double* C = job.work + static_cast<std::size_t>(t) * job.perThread;
  double* S1 = C + Round(static_cast<std::size_t>(n[0]) * n[1] * n[2] * 4);
  double* S2 = S1 + Round(static_cast<std::size_t>(n[2]) * n[1] * nq[0] * 4);
  double* G[3];
  G[0] = S2 + Round(static_cast<std::size_t>(n[2]) * nq[1] * nq[0] * 4);
  G[1] = G[0] + nq[0] * n[0];
  G[2] = G[1] + nq[1] * n[1];
  const std::size_t nqn = static_cast<std::size_t>(nq[0]) * nq[1] * nq[2];
  const double* gw = mesh.geometry.weights;
  for (std::size_t k = begin; k < end; ++k) {
    if ((k - begin) % 64 == 0 && evaluators::Stopping()) return;
    int e[3];
    mesh::ElementIndex(mesh, mesh::ElementAt(mesh, k), e);
    int gfirst[3] = {0, 0, 0};
    for (int d = 0; d < 3; ++d) {
      if (d >= mesh.d) {
        G[d][0] = 1.0;
        continue;
      }
      const evaluators::Axis& a = mesh.space.axis[d];
      const evaluators::Axis& ga = mesh.geometry.axis[d];
      const int gs = mesh.geometrySpan[d][e[d]];
      gfirst[d] = gs - ga.p;
      for (int q = 0; q < nq[d]; ++q) {
        double u;
        if (d == fixed) {
          u = mesh.side % 2 == 1 ? a.U[a.p] : a.U[a.n];
        } else {
          const int s = mesh.span[d][e[d]];
          const double lo = a.U[s], hi = a.U[s + 1];
          const double tq = mesh.rule[d].node[q];
          u = (1.0 - tq) * lo + tq * hi;
        }
        BasisFuns(gs, u, ga.p, ga.U, G[d] + q * n[d]);
      }
    }
    std::size_t c = 0;
    for (int a2 = 0; a2 < n[2]; ++a2) {
      for (int a1 = 0; a1 < n[1]; ++a1) {
        for (int a0 = 0; a0 < n[0]; ++a0, ++c) {
          std::ptrdiff_t idx = gfirst[0] + a0;
          if (mesh.d > 1) idx += (gfirst[1] + a1) * mesh.geometry.stride[1];
          if (mesh.d > 2) idx += (gfirst[2] + a2) * mesh.geometry.stride[2];
          const double* h = mesh.coefs + 4 * idx;
          const double wt = gw ? gw[idx] : 1.0;
          for (int m = 0; m < r; ++m) C[c * nc + m] = wt * (h[m] / h[3]);
          C[c * nc + r] = wt;
        }
      }
    }
    // S1[(a2 n1 + a1) nq0 + q0] = sum_a0 G0[q0][a0] C[a2][a1][a0]
    for (int a21 = 0; a21 < n[2] * n[1]; ++a21) {
      for (int q0 = 0; q0 < nq[0]; ++q0) {
        double* s = S1 + (static_cast<std::size_t>(a21) * nq[0] + q0) * nc;
        for (int m = 0; m < nc; ++m) s[m] = 0.0;
        for (int a0 = 0; a0 < n[0]; ++a0) {
          const double g = G[0][q0 * n[0] + a0];
          const double* cc = C + (static_cast<std::size_t>(a21) * n[0] + a0) * nc;
          for (int m = 0; m < nc; ++m) s[m] += g * cc[m];
        }
      }
    }
    for (int a2 = 0; a2 < n[2]; ++a2) {
      for (int q1 = 0; q1 < nq[1]; ++q1) {
        for (int q0 = 0; q0 < nq[0]; ++q0) {
          double* s = S2 + ((static_cast<std::size_t>(a2) * nq[1] + q1) * nq[0] + q0) * nc;
          for (int m = 0; m < nc; ++m) s[m] = 0.0;
          for (int a1 = 0; a1 < n[1]; ++a1) {
            const double g = G[1][q1 * n[1] + a1];
            const double* u = S1 + ((static_cast<std::size_t>(a2) * n[1] + a1) * nq[0] + q0) * nc;
            for (int m = 0; m < nc; ++m) s[m] += g * u[m];
          }
        }
      }
    }
    double* out = job.x + k * nqn * static_cast<std::size_t>(r);
    const std::size_t plane = static_cast<std::size_t>(nq[1]) * nq[0];
    for (int q2 = 0; q2 < nq[2]; ++q2) {
      for (std::size_t q10 = 0; q10 < plane; ++q10) {
        double o[4] = {0.0, 0.0, 0.0, 0.0};
        for (int a2 = 0; a2 < n[2]; ++a2) {
          const double g = G[2][q2 * n[2] + a2];
          const double* u = S2 + (static_cast<std::size_t>(a2) * plane + q10) * nc;
          for (int m = 0; m < nc; ++m) o[m] += g * u[m];
        }
        double* xq = out + (static_cast<std::size_t>(q2) * plane + q10) * r;
        for (int m = 0; m < r; ++m) xq[m] = o[m] / o[r];
      }
    }
  }
}

}  // namespace

bool NodeCoordinates(const Mesh& mesh, int threads, double* x) {
  if (mesh.count == 0) return true;
  NodeJob job{&mesh, nullptr, NodeScratch(mesh), x};
  job.work = static_cast<double*>(
      std::malloc(job.perThread * static_cast<std::size_t>(threads) * sizeof(double)));
  if (job.work == nullptr) return false;
  evaluators::Shares(mesh.count, static_cast<int>(std::min<std::size_t>(threads, mesh.count)),
                     kStack, NodeShare, &job);
  std::free(job.work);
  return true;
}

double NodeCost(const Mesh& mesh) {
  double cost = 0.0;
  for (int d = 0; d < mesh.d; ++d) cost += 8.0 * (mesh.geometry.axis[d].p + 1);
  return static_cast<double>(mesh::Nodes(mesh)) * (20.0 + cost);
}

}  // namespace forms
