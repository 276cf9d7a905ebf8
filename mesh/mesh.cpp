#include "mesh.h"

#include <cmath>
#include <cstdint>
#include <new>

#include "NURBS.h"
#include "lanes.h"
#include "threads.h"

namespace mesh {
namespace {

using evaluators::Axis;
using evaluators::Basis;
using evaluators::Call;
using evaluators::Dest;
using evaluators::Site;

// The second derivatives in the order of the Hessian evaluators' outputs, as pairs (i, j).
constexpr int kPairs[3][6][2] = {
    {{0, 0}},
    {{0, 0}, {1, 1}, {0, 1}},
    {{0, 0}, {1, 1}, {2, 2}, {0, 1}, {1, 2}, {0, 2}},
};

// Derivatives a direction's table holds: first always (the Jacobian), second for Hessians and
// Laplacians.
int Order(const Mesh& mesh) { return mesh.wanted.hessian || mesh.wanted.laplacian ? 2 : 1; }

// Rows one point needs: the values, d first derivatives and, at order 2, the second ones.
int RowCount(const Mesh& mesh) {
  return 1 + mesh.d + (Order(mesh) == 2 ? SecondDerivatives(mesh.d) : 0);
}

// The fixed direction of a side, or -1.
int SideDirection(const Mesh& mesh) { return mesh.side > 0 ? (mesh.side - 1) / 2 : -1; }

// A cube root from basic arithmetic and frexp/ldexp alone (exact), so that the same bits come
// out on every platform: Newton's method from a guess within a factor of 2.
double CubeRoot(double v) {
  if (!(v > 0.0) || std::isinf(v)) return v;
  int e = 0;
  std::frexp(v, &e);  // v = f 2^e, 0.5 <= f < 1: the root is 2^(e/3) times 0.79 to 1
  const int r = ((e % 3) + 3) % 3;
  double y = std::ldexp(1.0, (e - r) / 3) * (r == 0 ? 0.9 : r == 1 ? 1.13 : 1.42);
  for (int k = 0; k < 8; ++k) y -= (y * y * y - v) / (3.0 * y * y);
  return y;
}

}  // namespace

// One direction's functions at the nodes of its current element.
struct Table {
  long element;  // the element of the direction they belong to; -1: none yet
  int n;         // nodes
  double node[kMaxQuadrature];
  double weight[kMaxQuadrature];  // scaled to the element
  Basis* space;                   // n entries
  Basis* geometry;                // n entries; the same as space when isoparametric
};

struct Scratch {
  Table table[kMaxDirections];
  double* rows;          // the space's rows of one point, RowCount x nsh
  double* geometryRows;  // the geometry's, RowCount x ng (the same as rows when isoparametric)
  // The rows of a group of mesh.lanes nodes, node l's entry a of row o at (o count + a) lanes + l
  // (count: nsh, ng); nullptr without lanes.
  double* laneRows;
  double* laneGeometryRows;
  std::ptrdiff_t* geometryIndex;  // the element's control points, ng of them
  double* geometryPoints;         // their Cartesian coordinates, rdim x ng
  double* connectivity;           // the element's functions, 1-based, nsh of them
};

int SecondDerivatives(int d) { return d * (d + 1) / 2; }

int Functions(const Mesh& mesh) { return evaluators::LocalFunctions(mesh.space); }

int GeometryFunctions(const Mesh& mesh) { return evaluators::LocalFunctions(mesh.geometry); }

int Nodes(const Mesh& mesh) {
  int n = 1;
  for (int d = 0; d < mesh.d; ++d) n *= d == SideDirection(mesh) ? 1 : mesh.rule[d].n;
  return n;
}

std::size_t MeshElements(const Mesh& mesh) {
  std::size_t n = 1;
  for (int d = 0; d < mesh.d; ++d) {
    if (d != SideDirection(mesh)) n *= static_cast<std::size_t>(mesh.nel[d]);
  }
  return n;
}

bool HasNormal(const Mesh& mesh) { return mesh.side > 0 || (mesh.d == 2 && mesh.rdim == 3); }

int CountElements(const Axis& a) {
  int count = 0;
  for (int s = a.p; s < a.n; ++s) count += a.U[s] < a.U[s + 1];
  return count;
}

void ElementSpans(const Axis& a, int* span) {
  for (int s = a.p, e = 0; s < a.n; ++s) {
    if (a.U[s] < a.U[s + 1]) span[e++] = s;
  }
}

std::size_t SpanInts(const Mesh& mesh) {
  std::size_t ints = 0;
  for (int d = 0; d < mesh.d; ++d) ints += 2 * static_cast<std::size_t>(mesh.nel[d]);
  return ints;
}

void Spans(Mesh* mesh, int* ints) {
  for (int d = 0; d < mesh->d; ++d) {
    int* span = ints;
    int* geometrySpan = ints + mesh->nel[d];
    ints += 2 * mesh->nel[d];
    ElementSpans(mesh->space.axis[d], span);
    const Axis& g = mesh->geometry.axis[d];
    // The geometry's span that holds the element: the one where its start lies, as the space
    // refines the geometry.
    for (int e = 0; e < mesh->nel[d]; ++e) {
      geometrySpan[e] = FindSpan(g.n - 1, g.p, mesh->space.axis[d].U[span[e]], g.U);
    }
    mesh->span[d] = span;
    mesh->geometrySpan[d] = geometrySpan;
  }
}

namespace {

// Bytes of the scratch's parts, each rounded up to a multiple of 64.
std::size_t Round(std::size_t bytes) { return (bytes + 63) / 64 * 64; }

struct Layout {
  std::size_t table[kMaxDirections][2];  // offsets of the space's and geometry's Basis arrays
  std::size_t rows, geometryRows, laneRows, laneGeometryRows, geometryIndex, geometryPoints,
      connectivity, total;
};

Layout Plan(const Mesh& mesh) {
  Layout l{};
  std::size_t at = Round(sizeof(Scratch));
  for (int d = 0; d < mesh.d; ++d) {
    const std::size_t n = static_cast<std::size_t>(mesh.rule[d].n);
    l.table[d][0] = at;
    at += Round(n * sizeof(Basis));
    l.table[d][1] = mesh.isoparametric ? l.table[d][0] : at;
    if (!mesh.isoparametric) at += Round(n * sizeof(Basis));
  }
  const std::size_t rows = static_cast<std::size_t>(RowCount(mesh));
  const std::size_t nsh = static_cast<std::size_t>(Functions(mesh));
  const std::size_t ng = static_cast<std::size_t>(GeometryFunctions(mesh));
  l.rows = at;
  at += Round(rows * nsh * sizeof(double));
  l.geometryRows = mesh.isoparametric ? l.rows : at;
  if (!mesh.isoparametric) at += Round(rows * ng * sizeof(double));
  const std::size_t lanes = static_cast<std::size_t>(mesh.lanes);
  l.laneRows = at;
  at += Round(lanes * rows * nsh * sizeof(double));
  l.laneGeometryRows = mesh.isoparametric ? l.laneRows : at;
  if (!mesh.isoparametric) at += Round(lanes * rows * ng * sizeof(double));
  l.geometryIndex = at;
  at += Round(ng * sizeof(std::ptrdiff_t));
  l.geometryPoints = at;
  at += Round(ng * static_cast<std::size_t>(mesh.rdim) * sizeof(double));
  l.connectivity = at;
  at += Round(nsh * sizeof(double));
  l.total = at;
  return l;
}

}  // namespace

std::size_t ScratchBytes(const Mesh& mesh) { return Plan(mesh).total; }

Scratch* MakeScratch(const Mesh& mesh, void* block) {
  const Layout l = Plan(mesh);
  char* base = static_cast<char*>(block);
  Scratch* s = new (block) Scratch;
  for (int d = 0; d < kMaxDirections; ++d) {
    Table& t = s->table[d];
    t.element = -1;
    t.n = 0;
    t.space = d < mesh.d ? reinterpret_cast<Basis*>(base + l.table[d][0]) : nullptr;
    t.geometry = d < mesh.d ? reinterpret_cast<Basis*>(base + l.table[d][1]) : nullptr;
  }
  s->rows = reinterpret_cast<double*>(base + l.rows);
  s->geometryRows = reinterpret_cast<double*>(base + l.geometryRows);
  s->laneRows = mesh.lanes > 1 ? reinterpret_cast<double*>(base + l.laneRows) : nullptr;
  s->laneGeometryRows =
      mesh.lanes > 1 ? reinterpret_cast<double*>(base + l.laneGeometryRows) : nullptr;
  s->geometryIndex = reinterpret_cast<std::ptrdiff_t*>(base + l.geometryIndex);
  s->geometryPoints = reinterpret_cast<double*>(base + l.geometryPoints);
  s->connectivity = reinterpret_cast<double*>(base + l.connectivity);
  return s;
}

std::size_t ElementAt(const Mesh& mesh, std::size_t k) {
  return mesh.elements ? static_cast<std::size_t>(mesh.elements[k]) - 1 : k;
}

void ElementIndex(const Mesh& mesh, std::size_t element, int e[kMaxDirections]) {
  const int fixed = SideDirection(mesh);
  std::size_t rest = element;
  for (int d = 0; d < kMaxDirections; ++d) {
    if (d >= mesh.d) {
      e[d] = 0;
    } else if (d == fixed) {
      e[d] = mesh.side % 2 == 1 ? 0 : mesh.nel[d] - 1;
    } else {
      e[d] = static_cast<int>(rest % static_cast<std::size_t>(mesh.nel[d]));
      rest /= static_cast<std::size_t>(mesh.nel[d]);
    }
  }
}

void ElementBox(const Mesh& mesh, std::size_t element, int first[kMaxDirections],
                int last[kMaxDirections]) {
  int e[kMaxDirections];
  ElementIndex(mesh, element, e);
  for (int d = 0; d < kMaxDirections; ++d) {
    first[d] = last[d] = 0;
    if (d < mesh.d) {
      last[d] = mesh.span[d][e[d]];
      first[d] = last[d] - mesh.space.axis[d].p;
    }
  }
}

namespace {

// Direction d's functions at the nodes of its element e, unless they are there already.
void Fill(const Mesh& mesh, int d, int e, Table* t) {
  if (t->element == e) return;
  t->element = e;
  const Axis& a = mesh.space.axis[d];
  const Axis& g = mesh.geometry.axis[d];
  const int s = mesh.span[d][e];
  const int gs = mesh.geometrySpan[d][e];
  const int order = Order(mesh);
  if (d == SideDirection(mesh)) {
    // The face's one node: the domain's start or end, exactly.
    t->n = 1;
    t->node[0] = mesh.side % 2 == 1 ? a.U[a.p] : a.U[a.n];
    t->weight[0] = 1.0;
  } else {
    const Rule& rule = mesh.rule[d];
    const double lo = a.U[s], hi = a.U[s + 1];
    t->n = rule.n;
    for (int q = 0; q < rule.n; ++q) {
      const double tq = rule.node[q];
      t->node[q] = (1.0 - tq) * lo + tq * hi;  // lo and hi exactly at tq = 0 and 1
      t->weight[q] = (hi - lo) * rule.weight[q];
    }
  }
  evaluators::LaneBasisFuns(a, s, t->node, t->n, order, mesh.lanes, t->space);
  if (!mesh.isoparametric) {
    evaluators::LaneBasisFuns(g, gs, t->node, t->n, order, mesh.lanes, t->geometry);
  }
}

// The rows of one point into rows[o * count + a]: values, first derivatives, and at order 2 the
// second ones in the Hessian evaluators' order. A rational basis where the call has weights.
void PointRows(const Call& call, const Site& site, const Basis* const b[], int order, double* rows,
               int count) {
  const int d = call.directions;
  Dest out{};
  const int firsts = 1 + d;
  for (int o = 0; o < firsts; ++o) out.at[o] = rows + o * count;
  if (call.weights == nullptr) {
    if (order == 2) {
      for (int o = firsts; o < firsts + SecondDerivatives(d); ++o) out.at[o] = rows + o * count;
    }
    switch (d) {
      case 1:
        evaluators::CurveBSplineRows(call, site, b, out);
        break;
      case 2:
        evaluators::SurfaceBSplineRows(call, site, b, out);
        if (order == 2) evaluators::SurfaceBSplineSecondRows(call, site, b, out);
        break;
      default:
        evaluators::VolumeBSplineRows(call, site, b, out);
        break;
    }
    return;
  }
  switch (d) {
    case 1:
      // The curve's rows are RatCurveShapeGrad's; its second derivatives RatCurveShapeHess's.
      evaluators::CurveGradientRows(call, site, b, out);
      if (order == 2) {
        Dest second{};
        second.at[2] = rows + 2 * count;
        evaluators::CurveHessianRows(call, site, b, second);
      }
      break;
    case 2:
      if (order == 2) {
        for (int o = 3; o < 6; ++o) out.at[o] = rows + o * count;
        evaluators::SurfaceHessianRows(call, site, b, out);
      } else {
        evaluators::SurfaceGradientRows(call, site, b, out);
      }
      break;
    default:
      if (order == 2) {
        for (int o = 4; o < 10; ++o) out.at[o] = rows + o * count;
        evaluators::VolumeHessianRows(call, site, b, out);
      } else {
        evaluators::VolumeGradientRows(call, site, b, out);
      }
      break;
  }
}

// PointRows in vector lanes: the lane forms of the rows functions PointRows calls, for `width`
// nodes at once (lanes.h); second only for a rational curve's second derivatives. nullptr where
// the call has none (a degree above the lanes'), for both alike.
struct NodeLanes {
  evaluators::LaneRowsGroup first, second;
};

NodeLanes NodeLanesFor(const Call& call, int order, int width) {
  using evaluators::LaneRows;
  NodeLanes l{nullptr, nullptr};
  const bool second = order == 2;
  if (call.weights == nullptr) {
    switch (call.directions) {
      case 1:
        l.first = LaneRows(call, evaluators::CurveBSplineRows, width);
        break;
      case 2:
        // Its lane form writes SurfaceBSplineSecondRows' products too where they are asked.
        l.first = LaneRows(call, evaluators::SurfaceBSplineRows, width);
        break;
      default:
        l.first = LaneRows(call, evaluators::VolumeBSplineRows, width);
        break;
    }
  } else {
    switch (call.directions) {
      case 1:
        l.first = LaneRows(call, evaluators::CurveGradientRows, width);
        if (second) l.second = LaneRows(call, evaluators::CurveHessianRows, width);
        break;
      case 2:
        l.first = LaneRows(
            call, second ? evaluators::SurfaceHessianRows : evaluators::SurfaceGradientRows, width);
        break;
      default:
        l.first = LaneRows(
            call, second ? evaluators::VolumeHessianRows : evaluators::VolumeGradientRows, width);
        break;
    }
  }
  return l;
}

// The rows of nodes sites[0..width-1] into rows[(o count + a) width + l], as PointRows gives them
// for each. Returns the lanes that hold a NaN, which are to be evaluated again one at a time.
unsigned LaneNodeRows(const Call& call, const NodeLanes& lanes, const Site* sites,
                      const Basis* const* bases, int order, int width, double* rows, int count) {
  const int d = call.directions;
  const int total = 1 + d + (order == 2 ? SecondDerivatives(d) : 0);
  double* out[evaluators::kMaxOutputs] = {};
  const std::size_t P = static_cast<std::size_t>(width);
  for (int o = 0; o < total; ++o) out[o] = rows + static_cast<std::size_t>(o) * count * P;
  if (call.weights != nullptr && d == 1 && order == 2) {
    // RatCurveShapeGrad's R and dR, RatCurveShapeHess's second derivatives.
    double* first[evaluators::kMaxOutputs] = {out[0], out[1]};
    double* second[evaluators::kMaxOutputs] = {nullptr, nullptr, out[2]};
    return lanes.first(call, sites, bases, first, P, 0) |
           lanes.second(call, sites, bases, second, P, 0);
  }
  return lanes.first(call, sites, bases, out, P, 0);
}

// Global indices of an element's functions, row order: first + k + j n0 + i n0 n1.
template <typename Index>
void Indices(const Call& call, const Site& site, Index* at, Index base) {
  const std::ptrdiff_t first = evaluators::SpanOffset(call, site);
  int top[kMaxDirections] = {0, 0, 0};
  std::ptrdiff_t step[kMaxDirections] = {0, 0, 0};
  for (int d = 0; d < call.directions; ++d) {
    top[d] = call.axis[d].p;
    step[d] = call.stride[d];
  }
  int e = 0;
  for (int i = 0; i <= top[2]; ++i) {
    for (int j = 0; j <= top[1]; ++j) {
      const std::ptrdiff_t row = first + j * step[1] + i * step[2];
      for (int k = 0; k <= top[0]; ++k) at[e++] = base + static_cast<Index>(row + k);
    }
  }
}

// The map at one point and what the push-forward needs of it.
struct Map {
  double x[3];
  double J[3][3];       // J[m][i] = dx_m / dxi_i
  double H[3][6] = {};  // H[m][k]: second derivative pair k of x_m
  double K[3][3];       // K[m][i]: grad R = K grad_xi R
  double Ginv[3][3];    // (J'J)^-1 = K'K
  double jacdet;
};

// x, J (and H) from the geometry's rows (entry a of row o at rows[(o ng + a) stride]) and the
// element's Cartesian control points P (rdim x ng).
template <int D, int RDIM>
void Contract(const double* rows, std::ptrdiff_t stride, const double* P, int ng, bool second,
              Map* map) {
  for (int m = 0; m < RDIM; ++m) {
    double x = 0.0;
    for (int a = 0; a < ng; ++a) x += rows[a * stride] * P[m + RDIM * a];
    map->x[m] = x;
    for (int i = 0; i < D; ++i) {
      const double* dR = rows + (1 + i) * ng * stride;
      double v = 0.0;
      for (int a = 0; a < ng; ++a) v += dR[a * stride] * P[m + RDIM * a];
      map->J[m][i] = v;
    }
    if (second) {
      for (int k = 0; k < D * (D + 1) / 2; ++k) {
        const double* d2R = rows + (1 + D + k) * ng * stride;
        double v = 0.0;
        for (int a = 0; a < ng; ++a) v += d2R[a * stride] * P[m + RDIM * a];
        map->H[m][k] = v;
      }
    }
  }
}

// K, G^-1 and jacdet from J.
template <int D, int RDIM>
void Invert(Map* map) {
  const auto& J = map->J;
  if (D == RDIM) {
    double det;
    if (D == 1) {
      det = J[0][0];
      map->K[0][0] = 1.0 / det;
    } else if (D == 2) {
      det = J[0][0] * J[1][1] - J[0][1] * J[1][0];
      map->K[0][0] = J[1][1] / det;
      map->K[0][1] = -J[1][0] / det;
      map->K[1][0] = -J[0][1] / det;
      map->K[1][1] = J[0][0] / det;
    } else {
      // Cofactors C[m][i] of J[m][i]; J^-T = C / det.
      double C[3][3];
      for (int m = 0; m < 3; ++m) {
        for (int i = 0; i < 3; ++i) {
          const int m1 = (m + 1) % 3, m2 = (m + 2) % 3, i1 = (i + 1) % 3, i2 = (i + 2) % 3;
          C[m][i] = J[m1][i1] * J[m2][i2] - J[m1][i2] * J[m2][i1];
        }
      }
      det = (J[0][0] * C[0][0] + J[0][1] * C[0][1]) + J[0][2] * C[0][2];
      for (int m = 0; m < 3; ++m) {
        for (int i = 0; i < 3; ++i) map->K[m][i] = C[m][i] / det;
      }
    }
    map->jacdet = std::fabs(det);
    for (int i = 0; i < D; ++i) {
      for (int j = 0; j < D; ++j) {
        double v = 0.0;
        for (int m = 0; m < RDIM; ++m) v += map->K[m][i] * map->K[m][j];
        map->Ginv[i][j] = v;
      }
    }
    return;
  }
  // A curve or surface in a space of more coordinates: G = J'J, K = J G^-1.
  double G[2][2] = {{0.0, 0.0}, {0.0, 0.0}};
  for (int i = 0; i < D; ++i) {
    for (int j = 0; j < D; ++j) {
      double v = 0.0;
      for (int m = 0; m < RDIM; ++m) v += J[m][i] * J[m][j];
      G[i][j] = v;
    }
  }
  double detG;
  if (D == 1) {
    detG = G[0][0];
    map->Ginv[0][0] = 1.0 / detG;
  } else {
    detG = G[0][0] * G[1][1] - G[0][1] * G[1][0];
    map->Ginv[0][0] = G[1][1] / detG;
    map->Ginv[0][1] = -G[0][1] / detG;
    map->Ginv[1][0] = -G[1][0] / detG;
    map->Ginv[1][1] = G[0][0] / detG;
  }
  for (int m = 0; m < RDIM; ++m) {
    for (int i = 0; i < D; ++i) {
      double v = 0.0;
      for (int j = 0; j < D; ++j) v += J[m][j] * map->Ginv[j][i];
      map->K[m][i] = v;
    }
  }
  map->jacdet = std::sqrt(detG);
}

template <int D, int RDIM>
void Element(const Mesh& mesh, Scratch* s, std::size_t element, const Fields& out) {
  const int fixed = SideDirection(mesh);
  int e[kMaxDirections] = {0, 0, 0};
  ElementIndex(mesh, element, e);
  for (int d = 0; d < D; ++d) Fill(mesh, d, e[d], &s->table[d]);

  const int order = Order(mesh);
  const bool second = order == 2;
  const int nsh = Functions(mesh);
  const int ng = GeometryFunctions(mesh);
  const int nqn = Nodes(mesh);
  constexpr int kS2 = D * (D + 1) / 2;
  Site site{}, geometrySite{};
  for (int d = 0; d < D; ++d) {
    site.s[d] = mesh.span[d][e[d]];
    geometrySite.s[d] = mesh.geometrySpan[d][e[d]];
  }
  Indices<std::ptrdiff_t>(mesh.geometry, geometrySite, s->geometryIndex, 0);
  for (int a = 0; a < ng; ++a) {
    const double* c = mesh.coefs + 4 * s->geometryIndex[a];
    for (int m = 0; m < RDIM; ++m) s->geometryPoints[m + RDIM * a] = c[m] / c[3];
  }
  Indices<double>(mesh.space, site, s->connectivity, 1.0);
  if (out.connectivity) {
    for (int a = 0; a < nsh; ++a) out.connectivity[a] = s->connectivity[a];
  }

  const Table* t = s->table;
  const int n0 = t[0].n, n1 = D > 1 ? t[1].n : 1;
  const double sign = mesh.side % 2 == 1 ? -1.0 : 1.0;
  double measure = 0.0;
  // Groups of `width` consecutive nodes have their rows evaluated in vector lanes, the rest (and
  // a lane that holds a NaN) one node at a time.
  int width = mesh.lanes;
  NodeLanes spaceLanes{nullptr, nullptr}, geometryLanes{nullptr, nullptr};
  if (width > 1) {
    spaceLanes = NodeLanesFor(mesh.space, order, width);
    geometryLanes = mesh.isoparametric ? spaceLanes : NodeLanesFor(mesh.geometry, order, width);
    if (!spaceLanes.first || !geometryLanes.first) width = 1;
  }
  // The next node's index in each direction, first direction fastest.
  const auto Next = [&](int at[3]) {
    if (++at[0] < n0) return;
    at[0] = 0;
    if (++at[1] < n1) return;
    at[1] = 0;
    ++at[2];
  };
  int node[3] = {0, 0, 0};  // node q's
  for (int q = 0; q < nqn;) {
    const int group = width > 1 && nqn - q >= width ? width : 1;
    unsigned again = ~0u;
    if (group > 1) {
      constexpr int kLanes = evaluators::kMaxLanes;
      Site sites[kLanes], geometrySites[kLanes];
      const Basis* bases[kLanes * kMaxDirections] = {};
      const Basis* geometryBases[kLanes * kMaxDirections] = {};
      int at[3] = {node[0], node[1], node[2]};
      for (int l = 0; l < group; ++l, Next(at)) {
        sites[l] = site;
        geometrySites[l] = geometrySite;
        for (int d = 0; d < D; ++d) {
          sites[l].u[d] = geometrySites[l].u[d] = t[d].node[at[d]];
          bases[l * kMaxDirections + d] = &t[d].space[at[d]];
          geometryBases[l * kMaxDirections + d] = &t[d].geometry[at[d]];
        }
      }
      again = LaneNodeRows(mesh.space, spaceLanes, sites, bases, order, width, s->laneRows, nsh);
      if (!mesh.isoparametric) {
        again |= LaneNodeRows(mesh.geometry, geometryLanes, geometrySites, geometryBases, order,
                              width, s->laneGeometryRows, ng);
      }
    }
    for (int l = 0; l < group; ++l, ++q, Next(node)) {
      const int* at = node;
      const Basis* b[kMaxDirections] = {nullptr, nullptr, nullptr};
      const Basis* gb[kMaxDirections] = {nullptr, nullptr, nullptr};
      double weight = 1.0;
      for (int d = 0; d < D; ++d) {
        site.u[d] = geometrySite.u[d] = t[d].node[at[d]];
        b[d] = &t[d].space[at[d]];
        gb[d] = &t[d].geometry[at[d]];
        weight = d == 0 ? t[d].weight[at[d]] : weight * t[d].weight[at[d]];
      }
      // The space's rows R (entry a of row o at R[(o nsh + a) rs]) and the geometry's G.
      const double *R, *G;
      std::ptrdiff_t rs, gs;
      if (!(again >> l & 1u)) {
        R = s->laneRows + l;
        G = s->laneGeometryRows + l;
        rs = gs = width;
      } else {
        PointRows(mesh.space, site, b, order, s->rows, nsh);
        if (!mesh.isoparametric) {
          PointRows(mesh.geometry, geometrySite, gb, order, s->geometryRows, ng);
        }
        R = s->rows;
        G = s->geometryRows;
        rs = gs = 1;
      }
      Map map;
      Contract<D, RDIM>(G, gs, s->geometryPoints, ng, second, &map);
      Invert<D, RDIM>(&map);

      double jacdet = map.jacdet;
      if (fixed >= 0 || (D == 2 && RDIM == 3)) {
        double n[3];
        if (fixed >= 0) {
          // The outward normal along K e_i = grad xi_i (a curve's end: along its tangent);
          // the face measure from the face's own tangents, |det J| |K e_i| without its
          // product of a zero and an infinity where J is singular: 1 at a curve's end, the
          // length of the other tangent on a surface's edge, |J_a x J_b| on a volume's face.
          const auto& J = map.J;
          double length = 0.0;
          if (D == 1) {
            for (int m = 0; m < RDIM; ++m) length += J[m][0] * J[m][0];
            length = std::sqrt(length);
            for (int m = 0; m < RDIM; ++m) n[m] = sign * (J[m][0] / length);
            jacdet = 1.0;
          } else {
            for (int m = 0; m < RDIM; ++m) length += map.K[m][fixed] * map.K[m][fixed];
            length = std::sqrt(length);
            for (int m = 0; m < RDIM; ++m) n[m] = sign * (map.K[m][fixed] / length);
            double face = 0.0;
            if (D == 2) {
              const int other = 1 - fixed;
              for (int m = 0; m < RDIM; ++m) face += J[m][other] * J[m][other];
            } else {
              const int ta = (fixed + 1) % 3, tb = (fixed + 2) % 3;
              for (int m = 0; m < 3; ++m) {
                const int m1 = (m + 1) % 3, m2 = (m + 2) % 3;
                const double c = J[m1][ta] * J[m2][tb] - J[m2][ta] * J[m1][tb];
                face += c * c;
              }
            }
            jacdet = std::sqrt(face);
          }
        } else {
          const auto& J = map.J;
          const double c[3] = {J[1][0] * J[2][1] - J[2][0] * J[1][1],
                               J[2][0] * J[0][1] - J[0][0] * J[2][1],
                               J[0][0] * J[1][1] - J[1][0] * J[0][1]};
          const double length = std::sqrt((c[0] * c[0] + c[1] * c[1]) + c[2] * c[2]);
          for (int m = 0; m < 3; ++m) n[m] = c[m] / length;
        }
        if (out.normal) {
          for (int m = 0; m < RDIM; ++m) out.normal[m + RDIM * q] = n[m];
        }
      }
      measure += weight * jacdet;
      if (out.nodes) {
        for (int d = 0; d < D; ++d) out.nodes[d + D * q] = site.u[d];
      }
      if (out.weights) out.weights[q] = weight;
      if (out.x) {
        for (int m = 0; m < RDIM; ++m) out.x[m + RDIM * q] = map.x[m];
      }
      if (out.jacobian) {
        for (int i = 0; i < D; ++i) {
          for (int m = 0; m < RDIM; ++m) out.jacobian[m + RDIM * (i + D * q)] = map.J[m][i];
        }
      }
      if (out.jacdet) out.jacdet[q] = jacdet;

      if (out.R) {
        for (int a = 0; a < nsh; ++a) out.R[q + nqn * a] = R[a * rs];
      }
      const bool hessian = out.hessian != nullptr, laplacian = out.laplacian != nullptr;
      if (!out.gradient && !hessian && !laplacian) continue;
      for (int a = 0; a < nsh; ++a) {
        double g[RDIM];
        for (int m = 0; m < RDIM; ++m) {
          double v = map.K[m][0] * R[((1 + 0) * nsh + a) * rs];
          for (int i = 1; i < D; ++i) v += map.K[m][i] * R[((1 + i) * nsh + a) * rs];
          g[m] = v;
        }
        const std::size_t qa = static_cast<std::size_t>(q) + static_cast<std::size_t>(nqn) * a;
        if (out.gradient) {
          for (int m = 0; m < RDIM; ++m) out.gradient[m + RDIM * qa] = g[m];
        }
        if (!hessian && !laplacian) continue;
        // The bracket A = hess_xi R - sum_m g_m H^m, symmetric.
        double A[3][3];
        for (int k = 0; k < kS2; ++k) {
          double v = R[((1 + D + k) * nsh + a) * rs];
          for (int m = 0; m < RDIM; ++m) v -= g[m] * map.H[m][k];
          const int i = kPairs[D - 1][k][0], j = kPairs[D - 1][k][1];
          A[i][j] = A[j][i] = v;
        }
        if (hessian) {
          double T[3][3];  // T = K A
          for (int m = 0; m < RDIM; ++m) {
            for (int j = 0; j < D; ++j) {
              double v = map.K[m][0] * A[0][j];
              for (int i = 1; i < D; ++i) v += map.K[m][i] * A[i][j];
              T[m][j] = v;
            }
          }
          double* h = out.hessian + RDIM * RDIM * qa;
          for (int m1 = 0; m1 < RDIM; ++m1) {
            for (int m2 = m1; m2 < RDIM; ++m2) {
              double v = T[m1][0] * map.K[m2][0];
              for (int j = 1; j < D; ++j) v += T[m1][j] * map.K[m2][j];
              h[m1 + RDIM * m2] = h[m2 + RDIM * m1] = v;
            }
          }
        }
        if (laplacian) {
          double v = 0.0;
          for (int i = 0; i < D; ++i) {
            for (int j = 0; j < D; ++j) v += map.Ginv[i][j] * A[i][j];
          }
          out.laplacian[qa] = v;
        }
      }
    }
  }
  if (out.size) {
    const int k = fixed >= 0 ? D - 1 : D;
    *out.size = k == 0 ? 0.0 : k == 1 ? measure : k == 2 ? std::sqrt(measure) : CubeRoot(measure);
  }
}

}  // namespace

void EvaluateElement(const Mesh& mesh, Scratch* scratch, std::size_t element, const Fields& out) {
  switch (mesh.d * 4 + mesh.rdim) {
    case 1 * 4 + 1:
      return Element<1, 1>(mesh, scratch, element, out);
    case 1 * 4 + 2:
      return Element<1, 2>(mesh, scratch, element, out);
    case 1 * 4 + 3:
      return Element<1, 3>(mesh, scratch, element, out);
    case 2 * 4 + 2:
      return Element<2, 2>(mesh, scratch, element, out);
    case 2 * 4 + 3:
      return Element<2, 3>(mesh, scratch, element, out);
    default:
      return Element<3, 3>(mesh, scratch, element, out);
  }
}

Fields Column(const Mesh& mesh, const Fields& base, std::size_t k) {
  const std::size_t nqn = static_cast<std::size_t>(Nodes(mesh));
  const std::size_t nsh = static_cast<std::size_t>(Functions(mesh));
  const std::size_t d = static_cast<std::size_t>(mesh.d);
  const std::size_t r = static_cast<std::size_t>(mesh.rdim);
  const auto at = [k](double* p, std::size_t length) { return p ? p + k * length : nullptr; };
  Fields f;
  f.nodes = at(base.nodes, d * nqn);
  f.weights = at(base.weights, nqn);
  f.x = at(base.x, r * nqn);
  f.jacobian = at(base.jacobian, r * d * nqn);
  f.jacdet = at(base.jacdet, nqn);
  f.normal = at(base.normal, r * nqn);
  f.size = at(base.size, 1);
  f.connectivity = at(base.connectivity, nsh);
  f.R = at(base.R, nqn * nsh);
  f.gradient = at(base.gradient, r * nqn * nsh);
  f.hessian = at(base.hessian, r * r * nqn * nsh);
  f.laplacian = at(base.laplacian, nqn * nsh);
  return f;
}

void EvaluateElements(const Mesh& mesh, Scratch* scratch, const Fields& base, std::size_t begin,
                      std::size_t end) {
  for (std::size_t k = begin; k < end; ++k) {
    if (evaluators::Stopping()) return;
    EvaluateElement(mesh, scratch, ElementAt(mesh, k), Column(mesh, base, k));
  }
}

// The terms follow the work's shape; the scale is measured (one thread, warm outputs, this
// machine's cores): the annulus's cubic gradients, its Hessians and the ring's triquadratic
// gradients took 0.6 to 0.85 of the unscaled figure. The low end is taken: a mesh's outputs are
// mostly fresh pages, which two threads fault in no faster than one, and in Octave the annulus's
// 16 x 16 cubic mesh (0.46 ms of one thread's work) was slower threaded than serial.
//
// In vector lanes the rows and the direction tables cost some 0.3 of that; the push-forward is the
// same code. Measured after the lanes, the estimate is 0.67 to 1.18 of one thread's time for
// the annulus (gradients, Hessians) and the ring (N = 8 to 32).
double ElementCost(const Mesh& mesh) {
  constexpr double kScale = 0.6;
  const double lanes = mesh.lanes > 1 ? 0.3 : 1.0;
  const double d = mesh.d, r = mesh.rdim;
  const double nsh = Functions(mesh), ng = GeometryFunctions(mesh);
  double rows = 1.2 * nsh * (1 + d);
  if (!mesh.isoparametric) rows += 1.2 * ng * (1 + d);
  double point = 8.0 + lanes * rows + 0.5 * ng * r * (1 + d);
  if (mesh.wanted.gradient) point += 0.8 * nsh * r * d;
  if (mesh.wanted.hessian) point += 2.0 * nsh * r * r * d;
  if (mesh.wanted.laplacian) point += 1.0 * nsh * d * d;
  double tables = 0.0;
  for (int k = 0; k < mesh.d; ++k) {
    const double p1 = mesh.space.axis[k].p + 1;
    tables += mesh.rule[k].n * 4.0 * p1 * p1 * (mesh.isoparametric ? 1 : 2);
  }
  return kScale * (lanes * tables + point * Nodes(mesh));
}

int SideRange(const Mesh& mesh, int* first, int* last) {
  const int fixed = SideDirection(mesh);
  if (fixed < 0) return -1;
  // The fixed direction's functions that do not vanish at the face: those of its boundary span
  // with a value other than 0 there.
  const Axis& a = mesh.space.axis[fixed];
  const bool start = mesh.side % 2 == 1;
  int s = start ? a.p : a.n - 1;  // the first or last non-empty span
  while (!(a.U[s] < a.U[s + 1])) s += start ? 1 : -1;
  const double u = start ? a.U[a.p] : a.U[a.n];
  double N[kMaxDegree + 1];
  BasisFuns(s, u, a.p, a.U, N);
  int lo = -1, hi = -2;
  for (int k = 0; k <= a.p; ++k) {
    if (N[k] != 0.0) {
      if (lo < 0) lo = k;
      hi = k;
    }
  }
  *first = s - a.p + lo;
  *last = s - a.p + hi;
  return fixed;
}

std::size_t SideFunctions(const Mesh& mesh, double* dofs) {
  int first = 0, last = -1;
  const int fixed = SideRange(mesh, &first, &last);
  if (fixed < 0) return 0;
  int low[kMaxDirections] = {0, 0, 0}, high[kMaxDirections] = {0, 0, 0};
  for (int d = 0; d < mesh.d; ++d) high[d] = mesh.space.axis[d].n - 1;
  low[fixed] = first;
  high[fixed] = last;
  std::size_t count = 0;
  const std::ptrdiff_t* stride = mesh.space.stride;
  for (int i = low[2]; i <= high[2]; ++i) {
    for (int j = low[1]; j <= high[1]; ++j) {
      for (int k = low[0]; k <= high[0]; ++k) {
        if (dofs) dofs[count] = static_cast<double>(1 + k + j * stride[1] + i * stride[2]);
        ++count;
      }
    }
  }
  return count;
}

}  // namespace mesh
