#include "setup.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "NURBS.h"
#include "threads.h"

namespace solvers {
namespace {

const evaluators::Axis& AxisOf(const mesh::Mesh& m, int t, bool geometry) {
  return geometry ? m.geometry.axis[t] : m.space.axis[t];
}

std::size_t Points(const mesh::Mesh& m, int t) {
  return static_cast<std::size_t>(m.nel[t]) * static_cast<std::size_t>(m.rule[t].n);
}

Direction DirectionOf(const mesh::Mesh& m, int t, bool geometry, const double* table) {
  const evaluators::Axis& a = AxisOf(m, t, geometry);
  return Direction{a.p, a.n, Points(m, t), table};
}

enum class Make { Weight, Factors, Coordinates, Separable };

// The fit's logarithm and exponential, written out so that its arithmetic is the same sequence of
// IEEE operations on every platform and C library (and needs no libm symbol newer than the
// plug-ins may import): about 1e-16 relative, for positive finite x (the fit passes nothing else).
double Log(double x) {
  int e = 0;
  double m = std::frexp(x, &e);  // x = m 2^e, m in [1/2, 1)
  if (m < 0.70710678118654752) {
    m *= 2.0;
    --e;
  }
  // log m = 2 atanh(s), s = (m - 1) / (m + 1), |s| < 0.1716: the series to s^23.
  const double s = (m - 1.0) / (m + 1.0), s2 = s * s;
  double sum = 1.0 / 23.0;
  for (int k = 21; k >= 1; k -= 2) sum = 1.0 / k + s2 * sum;
  return 2.0 * s * sum + e * 0.69314718055994531;
}

double Exp(double x) {
  if (!(x < 709.0)) return x > 709.0 ? INFINITY : std::ldexp(1.0, 1023);
  if (!(x > -745.0)) return 0.0;
  // x = k log 2 + r, |r| <= log(2) / 2; e^r by its series to r^17.
  const double k = std::nearbyint(x / 0.69314718055994531);
  const double r = (x - k * 0.693145751953125) - k * 1.42860682030941723212e-6;
  double sum = 1.0;
  for (int n = 17; n >= 1; --n) sum = 1.0 + r * sum / n;
  return std::ldexp(sum, static_cast<int>(k));
}

// What the passes over the points know of them and make of them.
struct Pass {
  const Setup* s;
  Make make;
  int d, r;
  std::size_t Q[3], R, Q0;
  int nq[3], nel[3];
  std::size_t nqn;
  double* out;   // Factors: the factors (nf a point); Coordinates: x; Weight: W (nfW a point)
  int nf;
  const double* W;  // the space's weight function as the Weight pass left it; nullptr: none
  int nfW;
  bool gradW;
  // Separable: per problem j and entry k (e = j entries + k) the sums of the densities'
  // logarithms and their counts (at + half) along direction 0 per row (M0), along the last per
  // owner of a tile (ML), and along direction 1 in 3-D (M1).
  int problems, entries, stiffEntries;
  double *M0, *ML, *M1;
  std::size_t half0, halfL, half1, owners;
};

// The index in MeshEval's order of the nodes (element by element, each element's nodes direction
// 0 fastest) of the tile's points, one after the other along direction 0: set for the tile's
// first point, then Next() for each.
struct NodeWalk {
  std::size_t nq0, node, element, q0;
  std::size_t Index() const { return node + q0 + element; }
  void Next(std::size_t nqn) {
    if (++q0 == nq0) {
      q0 = 0;
      element += nqn;
    }
  }
};

NodeWalk StartWalk(const Pass& p, const std::size_t g[3]) {
  std::size_t node = 0, element = 0, nstep = 1, estep = 1;
  for (int t = 0; t < p.d; ++t) {
    const std::size_t nq = static_cast<std::size_t>(p.nq[t]);
    if (t > 0) node += (g[t] % nq) * nstep;
    element += (g[t] / nq) * estep;
    nstep *= nq;
    estep *= static_cast<std::size_t>(p.nel[t]);
  }
  const std::size_t nq0 = static_cast<std::size_t>(p.nq[0]);
  return NodeWalk{nq0, node, p.nqn * element, g[0] % nq0};
}

double CoefficientAt(const forms::Coefficient& c, int k, std::size_t node) {
  return c.constant ? c.v[k] : c.v[k + c.components * node];
}

// The map at tile point i from the geometry's fields (w x_m, w and their derivatives): x, J
// (J[m][i] = dx_m / dxi_i), the inverse Jinv[i][m] and det J, as the forms' sum factorisation
// forms them.
struct Map {
  double x[3], J[3][3], Jinv[3][3], det;
};

Map MapAt(int d, int r, const double* Z, std::size_t stride, std::size_t i) {
  Map m;  // set where d and r reach, read nowhere else
  const int pc = d + 1;
  const auto field = [&](int f, int c) { return Z[(f * pc + c) * stride + i]; };
  const double invW = 1.0 / field(r, 0);
  for (int a = 0; a < r; ++a) {
    m.x[a] = field(a, 0) * invW;
    for (int j = 0; j < d; ++j) m.J[a][j] = (field(a, 1 + j) - m.x[a] * field(r, 1 + j)) * invW;
  }
  if (d == 2) {
    m.det = m.J[0][0] * m.J[1][1] - m.J[0][1] * m.J[1][0];
    const double inv = 1.0 / m.det;
    m.Jinv[0][0] = m.J[1][1] * inv;
    m.Jinv[0][1] = -m.J[0][1] * inv;
    m.Jinv[1][0] = -m.J[1][0] * inv;
    m.Jinv[1][1] = m.J[0][0] * inv;
  } else {
    double cof[3][3];
    for (int a = 0; a < 3; ++a) {
      for (int j = 0; j < 3; ++j) {
        const int a1 = (a + 1) % 3, a2 = (a + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
        cof[a][j] = m.J[a1][j1] * m.J[a2][j2] - m.J[a1][j2] * m.J[a2][j1];
      }
    }
    m.det = (m.J[0][0] * cof[0][0] + m.J[0][1] * cof[0][1]) + m.J[0][2] * cof[0][2];
    const double inv = 1.0 / m.det;
    for (int a = 0; a < 3; ++a) {
      for (int j = 0; j < 3; ++j) m.Jinv[j][a] = cof[a][j] * inv;
    }
  }
  return m;
}

// Sum over m of Jinv[i][m] Jinv[j][m].
double Metric(int d, const Map& m, int i, int j) {
  double s = m.Jinv[i][0] * m.Jinv[j][0];
  for (int a = 1; a < d; ++a) s += m.Jinv[i][a] * m.Jinv[j][a];
  return s;
}

// The space's weight function at a point: 1 for B-splines, the Weight pass's value, or the
// geometry's own (the last field) where the space is the geometry's basis.
double WeightAt(const Pass& p, const double* Z, std::size_t stride, std::size_t i,
                const double* Wp) {
  if (p.s->mesh->space.weights == nullptr) return 1.0;
  if (p.W != nullptr) return Wp[0];
  return Z[(p.r * (p.d + 1)) * stride + i];
}

// The marginals a point feeds (bit 0: along direction 0, 1: along the last, 2: along direction 1
// of three): those along a direction sample the others at the central node of each element (the
// two central ones of an even rule, so that the sample is symmetric about the element's middle),
// so that a fit reads a few points an element rather than all of them.
unsigned Marginals(const Pass& p, std::size_t q0, const std::size_t g[3]) {
  const auto middle = [&](int t, std::size_t q) {
    const std::size_t n = static_cast<std::size_t>(p.nq[t]);
    return 2 * q + 1 == n || 2 * q == n || 2 * q + 2 == n;
  };
  const bool m0 = middle(0, q0), m1 = middle(1, g[1] % static_cast<std::size_t>(p.nq[1]));
  if (p.d == 2) return (m1 ? 1u : 0u) | (m0 ? 2u : 0u);
  const bool m2 = middle(2, g[2] % static_cast<std::size_t>(p.nq[2]));
  return (m1 && m2 ? 1u : 0u) | (m0 && m1 ? 2u : 0u) | (m0 && m2 ? 4u : 0u);
}

void Accumulate(const Pass& p, int e, unsigned marginals, std::size_t owner, std::size_t row,
                std::size_t g0, std::size_t gL, double density) {
  if (!(density > 0.0 && density < INFINITY)) return;
  const double v = Log(density);
  if (marginals & 1u) {
    const std::size_t at0 = (static_cast<std::size_t>(e) * p.R + row) * p.Q0 + g0;
    p.M0[at0] += v;
    p.M0[p.half0 + at0] += 1.0;
  }
  if (marginals & 2u) {
    const std::size_t QL = p.Q[p.d - 1];
    const std::size_t atL = (static_cast<std::size_t>(e) * p.owners + owner) * QL + gL;
    p.ML[atL] += v;
    p.ML[p.halfL + atL] += 1.0;
  }
  if (marginals & 4u) {
    const std::size_t at1 = static_cast<std::size_t>(e) * p.Q[1] + row;
    p.M1[at1] += v;
    p.M1[p.half1 + at1] += 1.0;
  }
}

void PassPoints(void* context, int, const Tile& tile, const double* Z, double*,
                std::size_t stride) {
  const Pass& p = *static_cast<const Pass*>(context);
  const Setup& s = *p.s;
  const int d = p.d;
  const std::size_t owner = d == 3 ? tile.row : tile.begin / kTileWidth;
  const std::size_t first[3] = {tile.begin, d == 3 ? tile.row : tile.gL, tile.gL};
  NodeWalk walk = StartWalk(p, first);
  for (std::size_t i = 0; i < tile.end - tile.begin; ++i, walk.Next(p.nqn)) {
    const std::size_t g[3] = {tile.begin + i, first[1], first[2]};
    const std::size_t cell = (tile.gL * p.R + tile.row) * p.Q0;  // the point's row of factors
    if (p.make == Make::Weight) {
      double* w = p.out + cell * static_cast<std::size_t>(p.nfW) + g[0];
      const int pc = PointComponents(d, p.gradW);
      for (int c = 0; c < pc; ++c) w[c * p.Q0] = Z[c * stride + i];
      continue;
    }
    const unsigned marginals = p.make == Make::Separable ? Marginals(p, walk.q0, g) : 0u;
    if (p.make == Make::Separable && marginals == 0u) continue;
    const Map m = MapAt(d, p.r, Z, stride, i);
    if (p.make == Make::Coordinates) {
      double* x = p.out + static_cast<std::size_t>(p.r) * walk.Index();
      for (int a = 0; a < p.r; ++a) x[a] = m.x[a];
      continue;
    }
    double qw = s.weights[0][g[0]];
    for (int t = 1; t < d; ++t) qw *= s.weights[t][g[t]];
    const double dx = qw * std::fabs(m.det);
    const double* Wp = p.W ? p.W + cell * static_cast<std::size_t>(p.nfW) + g[0] : nullptr;
    const double W = WeightAt(p, Z, stride, i, Wp);
    const std::size_t node = walk.Index();
    if (p.make == Make::Separable) {
      const double jac = std::fabs(m.det) / (W * W);
      for (int j = 0; j < p.problems; ++j) {
        for (int k = 0; k < p.stiffEntries; ++k) {
          double density;
          if (s.form == Form::Elasticity) {
            const double mu = CoefficientAt(s.c[1], 0, node);
            const double lambda = CoefficientAt(s.c[0], 0, node);
            density = (mu * Metric(d, m, k, k) + (lambda + mu) * (m.Jinv[k][j] * m.Jinv[k][j])) * jac;
          } else {
            density = std::fabs(s.scale[0]) * CoefficientAt(s.c[0], 0, node) * Metric(d, m, k, k) * jac;
          }
          Accumulate(p, j * p.entries + k, marginals, owner, tile.row, g[0], tile.gL, density);
        }
        if (p.entries > p.stiffEntries) {
          const forms::Coefficient& c = s.form == Form::Mass ? s.c[0] : s.c[1];
          const double density = std::fabs(s.scale[1]) * CoefficientAt(c, 0, node) * jac;
          Accumulate(p, j * p.entries + p.stiffEntries, marginals, owner, tile.row, g[0], tile.gL,
                     density);
        }
      }
      continue;
    }
    double* F = p.out + cell * static_cast<std::size_t>(p.nf) + g[0];
    const std::size_t fs = p.Q0;
    if (dx == 0.0) {  // contributes nothing, whatever its map
      for (int k = 0; k < p.nf; ++k) F[k * fs] = 0.0;
      continue;
    }
    // The mass alone folds the weight function in; the others leave it to the application,
    // which sums it at the points with the field (operator.h).
    int at = 0;
    switch (s.form) {
      case Form::Mass:
        F[0] = s.scale[1] * CoefficientAt(s.c[0], 0, node) * dx / (W * W);
        break;
      case Form::Stiffness:
      case Form::StiffnessMass: {
        const double c = s.scale[0] * CoefficientAt(s.c[0], 0, node) * dx;
        for (int i0 = 0; i0 < d; ++i0) {
          for (int j0 = i0; j0 < d; ++j0) F[(at++) * fs] = c * Metric(d, m, i0, j0);
        }
        if (s.form == Form::StiffnessMass) {
          F[at * fs] = s.scale[1] * CoefficientAt(s.c[1], 0, node) * dx;
        }
        break;
      }
      case Form::Elasticity: {
        for (int i0 = 0; i0 < d; ++i0) {
          for (int a = 0; a < d; ++a) F[(at++) * fs] = m.Jinv[i0][a];
        }
        F[(at++) * fs] = CoefficientAt(s.c[0], 0, node) * dx;
        F[at * fs] = CoefficientAt(s.c[1], 0, node) * dx;
        break;
      }
    }
  }
}

Pass MakePass(const Setup& s, Make make) {
  Pass p{};
  const mesh::Mesh& m = *s.mesh;
  p.s = &s;
  p.make = make;
  p.d = m.d;
  p.r = m.rdim;
  p.nqn = 1;
  for (int t = 0; t < m.d; ++t) {
    p.Q[t] = Points(m, t);
    p.nq[t] = m.rule[t].n;
    p.nel[t] = m.nel[t];
    p.nqn *= static_cast<std::size_t>(p.nq[t]);
  }
  p.Q0 = p.Q[0];
  p.R = m.d == 3 ? p.Q[1] : 1;
  return p;
}

// A forward sweep of the pass over the geometry's control points (w x, w y, w z, w) or, for the
// Weight pass, over the space's weights.
bool RunPass(const Setup& s, Pass* p) {
  const mesh::Mesh& m = *s.mesh;
  const bool weight = p->make == Make::Weight;
  Sweep sw{};
  sw.d = m.d;
  for (int t = 0; t < m.d; ++t) {
    sw.dir[t] = weight ? DirectionOf(m, t, false, s.space[t])
                       : DirectionOf(m, t, true, s.geometry[t]);
  }
  const double* in[4];
  if (weight) {
    sw.gradient = p->gradW;
    sw.fields = 1;
    in[0] = m.space.weights;
    sw.inStride = 1;
  } else {
    sw.gradient = true;
    sw.fields = m.rdim + 1;
    for (int a = 0; a < m.rdim; ++a) in[a] = m.coefs + a;
    in[m.rdim] = m.coefs + 3;
    sw.inStride = 4;
  }
  sw.in = in;
  sw.out = nullptr;
  sw.points = PassPoints;
  sw.context = p;
  sw.threads = s.threads;
  sw.width = s.width;
  sw.budget = s.budget;
  return Run(sw);
}

// The space's weight function at the points into `W` (nfW a point), where the space is rational
// and not the geometry's own basis.
bool WeightPass(const Setup& s, double* W, int nfW, bool gradient, Pass* p) {
  if (s.mesh->space.weights == nullptr || s.mesh->isoparametric) return true;
  Pass w = MakePass(s, Make::Weight);
  w.out = W;
  w.nfW = nfW;
  w.gradW = gradient;
  if (!RunPass(s, &w)) return false;
  p->W = W;
  p->nfW = nfW;
  p->gradW = gradient;
  return true;
}

// Direction t's 1-D matrix sum_g v(g) weight(g) T_a(g) T_b(g), T the values or derivatives.
void Matrix1D(const Direction& d, const double* weights, const double* v, bool derivative,
              double* A) {
  const std::size_t N = static_cast<std::size_t>(d.N);
  std::memset(A, 0, N * N * sizeof(double));
  const int n = d.p + 1;
  for (std::size_t g = 0; g < d.Q; ++g) {
    const std::size_t f = static_cast<std::size_t>(First(d, g));
    const double* T = derivative ? Derivatives(d, g) : Values(d, g);
    const double c = v[g] * weights[g];
    for (int b = 0; b < n; ++b) {
      const double cb = c * T[b];
      for (int a = 0; a < n; ++a) A[(f + a) + N * (f + b)] += cb * T[a];
    }
  }
}

}  // namespace

std::size_t TableDoubles(const mesh::Mesh& mesh, int t, bool geometry) {
  return static_cast<std::size_t>(2 * AxisOf(mesh, t, geometry).p + 3) * Points(mesh, t);
}

void MakeTable(const mesh::Mesh& mesh, int t, bool geometry, double* table) {
  const evaluators::Axis& a = AxisOf(mesh, t, geometry);
  const evaluators::Axis& space = mesh.space.axis[t];
  const int n = a.p + 1;
  double N0[kMaxDegree + 1], N1[kMaxDegree + 1];
  double* rows[2] = {N0, N1};
  const mesh::Rule& rule = mesh.rule[t];
  double* column = table;
  for (int e = 0; e < mesh.nel[t]; ++e) {
    const int s = mesh.span[t][e];
    const int span = geometry ? mesh.geometrySpan[t][e] : s;
    const double lo = space.U[s], hi = space.U[s + 1];
    for (int q = 0; q < rule.n; ++q, column += 2 * n + 1) {
      const double tq = rule.node[q];
      const double u = (1.0 - tq) * lo + tq * hi;
      dersBasisFuns(span, u, a.p, 1, a.U, rows);
      column[0] = span - a.p;
      for (int k = 0; k < n; ++k) {
        column[1 + k] = N0[k];
        column[1 + n + k] = N1[k];
      }
    }
  }
}

void MakeWeights(const mesh::Mesh& mesh, int t, double* weights) {
  const evaluators::Axis& space = mesh.space.axis[t];
  const mesh::Rule& rule = mesh.rule[t];
  for (int e = 0; e < mesh.nel[t]; ++e) {
    const int s = mesh.span[t][e];
    const double length = space.U[s + 1] - space.U[s];
    for (int q = 0; q < rule.n; ++q) *weights++ = length * rule.weight[q];
  }
}

std::size_t PointCount(const mesh::Mesh& mesh) {
  std::size_t n = 1;
  for (int t = 0; t < mesh.d; ++t) n *= Points(mesh, t);
  return n;
}

bool Factors(const Setup& s, double* factors) {
  Pass p = MakePass(s, Make::Factors);
  p.out = factors;
  p.nf = FactorCount(s.mesh->d, s.form, s.mesh->space.weights != nullptr);
  // The mass's weight function first, into the factors' own slot: each point's is read before
  // its factor is written.
  if (s.form == Form::Mass && !WeightPass(s, factors, p.nf, false, &p)) return false;
  if (evaluators::Stopping()) return true;
  return RunPass(s, &p);
}

bool Coordinates(const Setup& s, double* x) {
  Pass p = MakePass(s, Make::Coordinates);
  p.out = x;
  return RunPass(s, &p);
}

int Problems(const Setup& s) { return s.form == Form::Elasticity ? s.mesh->d : 1; }

bool Separable(const Setup& s, double* const K[3], double* const M[3], double* constants) {
  const mesh::Mesh& m = *s.mesh;
  Pass p = MakePass(s, Make::Separable);
  const int d = m.d;
  const bool stiff = s.form != Form::Mass && (s.form == Form::Elasticity || s.scale[0] != 0.0);
  const bool mass = s.form == Form::Mass || (s.form == Form::StiffnessMass && s.scale[1] != 0.0);
  p.problems = Problems(s);
  p.stiffEntries = stiff ? d : 0;
  p.entries = p.stiffEntries + (mass ? 1 : 0);
  const std::size_t E = static_cast<std::size_t>(p.problems) * p.entries;
  p.owners = d == 3 ? p.Q[1] : (p.Q0 + kTileWidth - 1) / kTileWidth;
  const std::size_t QL = p.Q[d - 1];
  p.half0 = E * p.R * p.Q0;
  p.halfL = E * p.owners * QL;
  p.half1 = d == 3 ? E * p.Q[1] : 0;
  const bool temp = m.space.weights != nullptr && !m.isoparametric;
  const std::size_t points = PointCount(m);
  std::size_t Qsum = 0;
  for (int t = 0; t < d; ++t) Qsum += p.Q[t];
  const std::size_t doubles =
      2 * (p.half0 + p.halfL + p.half1) + (temp ? points : 0) + 4 * Qsum + 2 * E * Qsum;
  double* block = static_cast<double*>(std::calloc(doubles, sizeof(double)));
  if (block == nullptr) return false;
  p.M0 = block;
  p.ML = p.M0 + 2 * p.half0;
  p.M1 = p.ML + 2 * p.halfL;
  double* W = p.M1 + 2 * p.half1;
  double* mean = W + (temp ? points : 0);  // E x (Qsum) marginal sums, then counts
  double* kappa = mean + 2 * E * Qsum;
  double* mu = kappa + 2 * Qsum;
  bool ok = WeightPass(s, W, 1, false, &p) && !evaluators::Stopping() && RunPass(s, &p);
  if (!ok || evaluators::Stopping()) {
    std::free(block);
    return ok;
  }
  // The marginal sums and counts of entry e along direction t at mean[(e Qsum + off_t + g)],
  // counts E Qsum further, each summed in order of the owners.
  std::size_t off[3] = {0, p.Q[0], p.Q[0] + (d == 3 ? p.Q[1] : 0)};
  for (std::size_t e = 0; e < E; ++e) {
    for (int h = 0; h < 2; ++h) {
      double* to = mean + h * E * Qsum + e * Qsum;
      for (std::size_t row = 0; row < p.R; ++row) {
        const double* from = p.M0 + h * p.half0 + (e * p.R + row) * p.Q0;
        for (std::size_t g = 0; g < p.Q0; ++g) to[off[0] + g] += from[g];
      }
      for (std::size_t o = 0; o < p.owners; ++o) {
        const double* from = p.ML + h * p.halfL + (e * p.owners + o) * QL;
        for (std::size_t g = 0; g < QL; ++g) to[off[d - 1] + g] += from[g];
      }
      if (d == 3) {
        const double* from = p.M1 + h * p.half1 + e * p.Q[1];
        for (std::size_t g = 0; g < p.Q[1]; ++g) to[off[1] + g] = from[g];
      }
    }
  }
  const auto alpha = [&](std::size_t e) {
    double sum = 0.0, count = 0.0;
    for (std::size_t g = 0; g < p.Q0; ++g) {
      sum += mean[e * Qsum + g];
      count += mean[E * Qsum + e * Qsum + g];
    }
    return count > 0.0 ? sum / count : 0.0;
  };
  const auto phi = [&](std::size_t e, int t, std::size_t g, double a) {
    const double sum = mean[e * Qsum + off[t] + g];
    const double count = mean[E * Qsum + e * Qsum + off[t] + g];
    return count > 0.0 ? sum / count - a : 0.0;
  };
  for (int j = 0; j < p.problems; ++j) {
    const std::size_t e0 = static_cast<std::size_t>(j) * p.entries;
    double a[4];
    for (int k = 0; k < p.entries; ++k) a[k] = alpha(e0 + k);
    for (int t = 0; t < d; ++t) {
      const Direction dir = DirectionOf(m, t, false, s.space[t]);
      for (std::size_t g = 0; g < p.Q[t]; ++g) {
        double l = 0.0;
        if (stiff) {
          for (int k = 0; k < d; ++k) {
            if (k != t) l += phi(e0 + k, t, g, a[k]);
          }
          l /= d - 1;
          kappa[g] = Exp(a[t] + phi(e0 + t, t, g, a[t]));
        } else {
          l = phi(e0, t, g, a[0]);
          kappa[g] = 1.0;
        }
        mu[g] = Exp(l);
      }
      const std::size_t N = static_cast<std::size_t>(dir.N);
      Matrix1D(dir, s.weights[t], kappa, true, K[t] + j * N * N);
      Matrix1D(dir, s.weights[t], mu, false, M[t] + j * N * N);
    }
    const double sign0 = s.form == Form::Elasticity ? 1.0 : (s.scale[0] < 0 ? -1.0 : 1.0);
    constants[2 * j] = stiff ? sign0 : 0.0;
    constants[2 * j + 1] =
        mass ? (s.scale[1] < 0 ? -1.0 : 1.0) * Exp(a[p.stiffEntries]) : 0.0;
  }
  std::free(block);
  return true;
}

}  // namespace solvers
