#include "domain.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "NURBS.h"

// How faces are paired:
//   - Search: every face's control points projected on one direction (kSweep) give an interval;
//     faces sorted by its low end are swept, each compared with those whose intervals reach its
//     own, and only where their bounding boxes overlap within the tolerance. A face lies in the
//     convex hull of its control points (weights are positive), so two faces that share a point
//     always pass: a grid of patches costs a few neighbours a face, not all faces.
//   - Coincidence: the centroids of the corners first, then for each orientation the corners,
//     then both geometries at a tensor grid of samples inside every span of the union of their
//     breakpoints, 2p + 2 a span and direction (p the higher degree), positions against the
//     tolerance times the diameter; then the spaces.
//   - Partial contact, for faces that do not coincide: a corner of one face farther than the
//     tolerance from every corner of the other, inside its bounding box, and within the tolerance
//     of the point of the other's geometry that Gauss-Newton reaches from a grid of 3 starts a
//     direction. What is reported is always true; a corner near a face curved so much that no
//     start leads to its nearest point can go unreported.
namespace domain {
namespace {

using evaluators::Axis;

// Candidates are swept along this direction, no two of whose components are alike, so that the
// faces of a grid of patches aligned with the axes do not share one key. Its length is 1.0005:
// points within tol of each other have keys within 2 tol.
constexpr double kSweep[3] = {0.62, 0.57, 0.54};

// A face of a patch: where it sits in the patch, and what the search for partners needs of its
// control points (Cartesian).
struct Face {
  int patch, side;
  int fixed;    // the patch's direction that is constant on the face
  bool end;     // at the end of that direction, else at its start
  int fd;       // directions of the face, d - 1
  int dirs[2];  // the patch's directions that are the face's first and second
  bool degenerate;
  double corner[4][3];  // corner c: bit m set where it is at the end of face direction m
  double centroid[3];
  double lo[3], hi[3];  // bounding box of the face's control points
  double keyLo, keyHi;  // the same projected on kSweep
};

// An orientation of a face against another: face direction m of the first runs along face
// direction perm[m] of the second, reversed where rev[m]. Code: bit 0 rev[0], bit 1 rev[1], bit 2
// the directions swapped.
struct Orientation {
  int perm[2];
  bool rev[2];
};

int Orientations(int fd) { return fd == 2 ? 8 : fd == 1 ? 2 : 1; }

Orientation MakeOrientation(int fd, int code) {
  Orientation o{{0, 1}, {false, false}};
  if (fd == 2 && (code & 4)) {
    o.perm[0] = 1;
    o.perm[1] = 0;
  }
  o.rev[0] = fd >= 1 && (code & 1);
  o.rev[1] = fd == 2 && (code & 2);
  return o;
}

// Offsets of one step along each direction of an axis set: 1, n0, n0 n1.
void Strides(const evaluators::Call& call, int d, std::ptrdiff_t stride[3]) {
  stride[0] = 1;
  for (int k = 1; k < 3; ++k) stride[k] = k < d ? stride[k - 1] * call.axis[k - 1].n : 0;
}

double Length(const Axis& a) { return a.U[a.m - 1] - a.U[0]; }

// Knot i of an axis on [0, 1].
double Normal(const Axis& a, int i) { return (a.U[i] - a.U[0]) / Length(a); }

bool Open(const Axis& a, bool atEnd, double tolerance) {
  const double tol = tolerance * Length(a);
  for (int k = 1; k <= a.p; ++k) {
    const double gap = atEnd ? a.U[a.m - 1] - a.U[a.m - 1 - k] : a.U[k] - a.U[0];
    if (!(std::fabs(gap) <= tol)) return false;
  }
  return true;
}

void Cartesian(const double* coefs, std::ptrdiff_t a, double x[3]) {
  const double* c = coefs + 4 * a;
  for (int k = 0; k < 3; ++k) x[k] = c[k] / c[3];
}

double Distance(const double* x, const double* y) {
  const double a = x[0] - y[0], b = x[1] - y[1], c = x[2] - y[2];
  return std::sqrt(a * a + b * b + c * c);
}

// The control point (geometry) or function (space) of a face's layer at face indices idx.
std::ptrdiff_t LayerIndex(const Face& f, const evaluators::Call& call, const int idx[2]) {
  std::ptrdiff_t stride[3];
  Strides(call, f.fd + 1, stride);
  std::ptrdiff_t a = f.end ? (call.axis[f.fixed].n - 1) * stride[f.fixed] : 0;
  for (int m = 0; m < f.fd; ++m) a += idx[m] * stride[f.dirs[m]];
  return a;
}

int LayerCount(const Face& f, const evaluators::Call& call, int m) {
  return m < f.fd ? call.axis[f.dirs[m]].n : 1;
}

Face MakeFace(const mesh::Mesh& patch, int k, int side, double tol) {
  Face f{};
  f.patch = k;
  f.side = side;
  f.fixed = (side - 1) / 2;
  f.end = side % 2 == 0;
  f.fd = patch.d - 1;
  for (int j = 0, m = 0; j < patch.d; ++j) {
    if (j != f.fixed) f.dirs[m++] = j;
  }
  const evaluators::Call& g = patch.geometry;
  const int n0 = LayerCount(f, g, 0), n1 = LayerCount(f, g, 1);
  for (int c = 0; c < 3; ++c) {
    f.lo[c] = HUGE_VAL;
    f.hi[c] = -HUGE_VAL;
  }
  f.keyLo = HUGE_VAL;
  f.keyHi = -HUGE_VAL;
  for (int j = 0; j < n1; ++j) {
    for (int i = 0; i < n0; ++i) {
      const int idx[2] = {i, j};
      double x[3];
      Cartesian(patch.coefs, LayerIndex(f, g, idx), x);
      double key = 0.0;
      for (int c = 0; c < 3; ++c) {
        f.lo[c] = std::min(f.lo[c], x[c]);
        f.hi[c] = std::max(f.hi[c], x[c]);
        key += kSweep[c] * x[c];
      }
      f.keyLo = std::min(f.keyLo, key);
      f.keyHi = std::max(f.keyHi, key);
    }
  }
  const int corners = 1 << f.fd;
  for (int c = 0; c < 3; ++c) f.centroid[c] = 0.0;
  for (int q = 0; q < corners; ++q) {
    const int idx[2] = {q & 1 ? n0 - 1 : 0, q & 2 ? n1 - 1 : 0};
    Cartesian(patch.coefs, LayerIndex(f, g, idx), f.corner[q]);
    for (int c = 0; c < 3; ++c) f.centroid[c] += f.corner[q][c] / corners;
  }
  // Collapsed along face direction m: every row of control points along m is one point.
  for (int m = 0; m < f.fd && !f.degenerate; ++m) {
    const int along = LayerCount(f, g, m), across = LayerCount(f, g, 1 - m);
    bool collapsed = true;
    for (int r = 0; r < across && collapsed; ++r) {
      int idx[2];
      idx[m] = 0;
      idx[1 - m] = r;
      double first[3];
      Cartesian(patch.coefs, LayerIndex(f, g, idx), first);
      for (int i = 1; i < along && collapsed; ++i) {
        idx[m] = i;
        double x[3];
        Cartesian(patch.coefs, LayerIndex(f, g, idx), x);
        collapsed = Distance(x, first) <= tol;
      }
    }
    f.degenerate = collapsed;
  }
  return f;
}

// The scratch, carved in one order by both GlueBytes and Glue.
struct Sizes {
  int d, faces;
  std::size_t functions;
  int pmax;     // highest geometry degree
  int samples;  // most sample points of one face direction
};

Sizes SizesOf(const mesh::Mesh* const patches[], int npatch) {
  Sizes s{};
  s.d = npatch > 0 ? patches[0]->d : 1;
  s.faces = npatch * 2 * s.d;
  int knots = 2;
  for (int k = 0; k < npatch; ++k) {
    s.functions += PatchFunctions(*patches[k]);
    for (int j = 0; j < patches[k]->d; ++j) {
      s.pmax = std::max(s.pmax, patches[k]->geometry.axis[j].p);
      knots = std::max(knots, patches[k]->geometry.axis[j].m);
    }
  }
  // The union of two faces' breakpoints has fewer than 2 knots spans, each 2p + 2 samples.
  s.samples = 2 * knots * (2 * s.pmax + 2);
  return s;
}

std::size_t Round(std::size_t bytes) { return (bytes + 7) / 8 * 8; }

// One face direction's samples, and both faces' functions at them.
struct Samples {
  double* breaks;
  int count;
  int* span[2];  // per face
  double* N[2];  // per face, pmax + 1 per sample
};

struct Work {
  Face* face;
  int* order;
  int* partner;
  int* orientation;
  std::size_t* offset;
  std::size_t* parent;
  std::size_t* index;
  Samples samples[2];
};

template <typename T>
T* Carve(char** at, std::size_t count, std::size_t* total) {
  const std::size_t bytes = Round(count * sizeof(T));
  *total += bytes;
  if (!*at) return nullptr;
  T* p = reinterpret_cast<T*>(*at);
  *at += bytes;
  return p;
}

std::size_t Layout(const Sizes& s, int npatch, void* block, Work* w) {
  char* at = static_cast<char*>(block);
  char** cursor = &at;
  std::size_t total = 0;
  Work work{};
  work.face = Carve<Face>(cursor, s.faces, &total);
  work.order = Carve<int>(cursor, s.faces, &total);
  work.partner = Carve<int>(cursor, s.faces, &total);
  work.orientation = Carve<int>(cursor, s.faces, &total);
  work.offset = Carve<std::size_t>(cursor, npatch + 1, &total);
  work.parent = Carve<std::size_t>(cursor, s.functions, &total);
  work.index = Carve<std::size_t>(cursor, s.functions, &total);
  for (Samples& sm : work.samples) {
    sm.breaks = Carve<double>(cursor, s.samples, &total);
    for (int f = 0; f < 2; ++f) {
      sm.span[f] = Carve<int>(cursor, s.samples, &total);
      sm.N[f] = Carve<double>(cursor, static_cast<std::size_t>(s.samples) * (s.pmax + 1), &total);
    }
  }
  if (w) *w = work;
  return total;
}

// Parameter of an axis at s on [0, 1] (reversed: at 1 - s), its span and functions.
void Basis(const Axis& a, double s, bool reversed, int* span, double* N) {
  const double t = reversed ? 1.0 - s : s;
  const double u = a.U[0] + t * Length(a);
  *span = FindSpan(a.n - 1, a.p, u, a.U);
  BasisFuns(*span, u, a.p, a.U, N);
}

// The union of both faces' breakpoints along face direction m of the first, and 2p + 2 samples
// inside each span of it: equality there decides equality of the two rational pieces, whose
// difference has a numerator of degree 2p.
void Sample(const mesh::Mesh& A, const Face& fa, const mesh::Mesh& B, const Face& fb,
            const Orientation& o, int m, int pmax, double ptol, Samples* sm) {
  const Axis& a = A.geometry.axis[fa.dirs[m]];
  const Axis& b = B.geometry.axis[fb.dirs[o.perm[m]]];
  int i = 0, j = 0, nb = 0;
  // Both knot lists on [0, 1], merged in increasing order; b's from its far end if reversed.
  while (i < a.m || j < b.m) {
    double t;
    if (j >= b.m ||
        (i < a.m && Normal(a, i) <= (o.rev[m] ? 1.0 - Normal(b, b.m - 1 - j) : Normal(b, j)))) {
      t = Normal(a, i++);
    } else {
      t = o.rev[m] ? 1.0 - Normal(b, b.m - 1 - j) : Normal(b, j);
      ++j;
    }
    if (nb == 0 || t - sm->breaks[nb - 1] > ptol) sm->breaks[nb++] = t;
  }
  const int p = std::max(a.p, b.p), per = 2 * p + 2;
  sm->count = 0;
  for (int k = 0; k + 1 < nb; ++k) {
    for (int q = 0; q < per; ++q) {
      const double s = sm->breaks[k] + (q + 0.5) / per * (sm->breaks[k + 1] - sm->breaks[k]);
      const int c = sm->count++;
      Basis(a, s, false, &sm->span[0][c], sm->N[0] + c * (pmax + 1));
      Basis(b, s, o.rev[m], &sm->span[1][c], sm->N[1] + c * (pmax + 1));
    }
  }
}

// A face's geometry at sample (i0, i1) of the tables: which = 0 the first face, 1 the second,
// whose face direction perm[m] reads the tables of m.
void SamplePoint(const mesh::Mesh& P, const Face& f, const Orientation& o, const Samples sm[2],
                 int which, int pmax, const int at[2], double x[3]) {
  std::ptrdiff_t stride[3];
  Strides(P.geometry, P.d, stride);
  const std::ptrdiff_t base = f.end ? (P.geometry.axis[f.fixed].n - 1) * stride[f.fixed] : 0;
  // Table t feeds the face direction dir[t].
  int dir[2] = {0, 1};
  if (which == 1) {
    dir[0] = o.perm[0];
    dir[1] = o.perm[1];
  }
  const double* N[2] = {nullptr, nullptr};
  int first[2] = {0, 0}, count[2] = {1, 1};
  std::ptrdiff_t st[2] = {0, 0};
  static const double kOne = 1.0;
  for (int t = 0; t < 2; ++t) {
    if (t >= f.fd) {
      N[t] = &kOne;
      continue;
    }
    const Axis& a = P.geometry.axis[f.dirs[dir[t]]];
    N[t] = sm[t].N[which] + at[t] * (pmax + 1);
    first[t] = sm[t].span[which][at[t]] - a.p;
    count[t] = a.p + 1;
    st[t] = stride[f.dirs[dir[t]]];
  }
  double h[4] = {0.0, 0.0, 0.0, 0.0};
  for (int j = 0; j < count[1]; ++j) {
    for (int i = 0; i < count[0]; ++i) {
      const double r = N[0][i] * N[1][j];
      const double* c = P.coefs + 4 * (base + (first[0] + i) * st[0] + (first[1] + j) * st[1]);
      for (int k = 0; k < 4; ++k) h[k] += r * c[k];
    }
  }
  for (int k = 0; k < 3; ++k) x[k] = h[k] / h[3];
}

bool CornersMatch(const Face& a, const Face& b, const Orientation& o, double tol) {
  for (int c = 0; c < (1 << a.fd); ++c) {
    int cb = 0;
    for (int m = 0; m < a.fd; ++m) {
      if (((c >> m) & 1) != static_cast<int>(o.rev[m])) cb |= 1 << o.perm[m];
    }
    if (Distance(a.corner[c], b.corner[cb]) > tol) return false;
  }
  return true;
}

bool GeometryMatches(const mesh::Mesh& A, const Face& fa, const mesh::Mesh& B, const Face& fb,
                     const Orientation& o, int pmax, double tol, double ptol, Samples sm[2]) {
  for (int m = 0; m < fa.fd; ++m) Sample(A, fa, B, fb, o, m, pmax, ptol, &sm[m]);
  const int n0 = fa.fd > 0 ? sm[0].count : 1, n1 = fa.fd > 1 ? sm[1].count : 1;
  for (int j = 0; j < n1; ++j) {
    for (int i = 0; i < n0; ++i) {
      const int at[2] = {i, j};
      double x[3], y[3];
      SamplePoint(A, fa, o, sm, 0, pmax, at, x);
      SamplePoint(B, fb, o, sm, 1, pmax, at, y);
      if (!(Distance(x, y) <= tol)) return false;
    }
  }
  return true;
}

double SpaceWeight(const mesh::Mesh& P, std::ptrdiff_t a) {
  if (P.isoparametric) return P.coefs[4 * a + 3];
  return P.space.weights ? P.space.weights[a] : 1.0;
}

// Face indices on the second face, in the axes cb, of the function or control point at idx on
// the first.
void Across(const evaluators::Call& cb, const Face& fb, const Orientation& o, const Face& fa,
            const int idx[2], int out[2]) {
  out[0] = out[1] = 0;
  for (int m = 0; m < fa.fd; ++m) {
    const int n = cb.axis[fb.dirs[o.perm[m]]].n;
    out[o.perm[m]] = o.rev[m] ? n - 1 - idx[m] : idx[m];
  }
}

// The same degrees, counts and knots (on [0, 1]) along matched face directions.
bool SameAxes(const evaluators::Call& ca, const Face& fa, const evaluators::Call& cb,
              const Face& fb, const Orientation& o, double ptol) {
  for (int m = 0; m < fa.fd; ++m) {
    const Axis& a = ca.axis[fa.dirs[m]];
    const Axis& b = cb.axis[fb.dirs[o.perm[m]]];
    if (a.p != b.p || a.m != b.m || a.n != b.n) return false;
    for (int i = 0; i < a.m; ++i) {
      const double ub = o.rev[m] ? 1.0 - Normal(b, b.m - 1 - i) : Normal(b, i);
      if (!(std::fabs(Normal(a, i) - ub) <= ptol)) return false;
    }
  }
  return true;
}

// Weights wb = c wa for one c, relative to wb.
bool Proportional(double wa, double wb, double* ratio, bool first, double ptol) {
  if (first) *ratio = wb / wa;
  return std::fabs(wb - *ratio * wa) <= ptol * std::fabs(wb);
}

// The faces' geometries have one control net: the same axes, control points within tol and
// weights proportional. Then their maps differ by at most about tol everywhere, the rational
// functions being the same and a partition of unity: the common case, decided without samples.
bool SameNet(const mesh::Mesh& A, const Face& fa, const mesh::Mesh& B, const Face& fb,
             const Orientation& o, double tol, double ptol) {
  if (!SameAxes(A.geometry, fa, B.geometry, fb, o, ptol)) return false;
  const int n0 = LayerCount(fa, A.geometry, 0), n1 = LayerCount(fa, A.geometry, 1);
  double ratio = 0.0;
  for (int j = 0; j < n1; ++j) {
    for (int i = 0; i < n0; ++i) {
      const int idx[2] = {i, j};
      int across[2];
      Across(B.geometry, fb, o, fa, idx, across);
      const std::ptrdiff_t a = LayerIndex(fa, A.geometry, idx);
      const std::ptrdiff_t b = LayerIndex(fb, B.geometry, across);
      double x[3], y[3];
      Cartesian(A.coefs, a, x);
      Cartesian(B.coefs, b, y);
      if (!(Distance(x, y) <= tol) ||
          !Proportional(A.coefs[4 * a + 3], B.coefs[4 * b + 3], &ratio, i == 0 && j == 0, ptol)) {
        return false;
      }
    }
  }
  return true;
}

bool SpaceMatches(const mesh::Mesh& A, const Face& fa, const mesh::Mesh& B, const Face& fb,
                  const Orientation& o, double ptol) {
  if (!SameAxes(A.space, fa, B.space, fb, o, ptol)) return false;
  const int n0 = LayerCount(fa, A.space, 0), n1 = LayerCount(fa, A.space, 1);
  double ratio = 0.0;
  for (int j = 0; j < n1; ++j) {
    for (int i = 0; i < n0; ++i) {
      const int idx[2] = {i, j};
      int across[2];
      Across(B.space, fb, o, fa, idx, across);
      const double wa = SpaceWeight(A, LayerIndex(fa, A.space, idx));
      const double wb = SpaceWeight(B, LayerIndex(fb, B.space, across));
      if (!Proportional(wa, wb, &ratio, i == 0 && j == 0, ptol)) return false;
    }
  }
  return true;
}

// A face's geometry and its derivatives along the face's directions at s on [0, 1]^fd.
void FacePoint(const mesh::Mesh& P, const Face& f, const double s[2], double x[3],
               double dx[2][3]) {
  std::ptrdiff_t stride[3];
  Strides(P.geometry, P.d, stride);
  const std::ptrdiff_t base = f.end ? (P.geometry.axis[f.fixed].n - 1) * stride[f.fixed] : 0;
  double table[2][2][kMaxDegree + 1];
  int first[2] = {0, 0}, count[2] = {1, 1};
  std::ptrdiff_t st[2] = {0, 0};
  double scale[2] = {0.0, 0.0};
  for (int m = 0; m < 2; ++m) {
    if (m >= f.fd) {
      table[m][0][0] = 1.0;
      table[m][1][0] = 0.0;
      continue;
    }
    const Axis& a = P.geometry.axis[f.dirs[m]];
    const double u = a.U[0] + s[m] * Length(a);
    const int span = FindSpan(a.n - 1, a.p, u, a.U);
    double* rows[2] = {table[m][0], table[m][1]};
    dersBasisFuns(span, u, a.p, 1, a.U, rows);
    first[m] = span - a.p;
    count[m] = a.p + 1;
    st[m] = stride[f.dirs[m]];
    scale[m] = Length(a);
  }
  double h[3][4] = {};
  for (int j = 0; j < count[1]; ++j) {
    for (int i = 0; i < count[0]; ++i) {
      const double* c = P.coefs + 4 * (base + (first[0] + i) * st[0] + (first[1] + j) * st[1]);
      const double r[3] = {table[0][0][i] * table[1][0][j], table[0][1][i] * table[1][0][j],
                           table[0][0][i] * table[1][1][j]};
      for (int q = 0; q < 3; ++q) {
        for (int k = 0; k < 4; ++k) h[q][k] += r[q] * c[k];
      }
    }
  }
  for (int k = 0; k < 3; ++k) x[k] = h[0][k] / h[0][3];
  for (int m = 0; m < 2; ++m) {
    for (int k = 0; k < 3; ++k) {
      dx[m][k] = (h[1 + m][k] - x[k] * h[1 + m][3]) / h[0][3] * scale[m];
    }
  }
}

// Whether point q lies on face f within tol: Gauss-Newton for the nearest point of the face's
// geometry from a grid of starts, clamped to the face's domain.
bool OnFace(const mesh::Mesh& P, const Face& f, const double q[3], double tol) {
  for (int c = 0; c < 3; ++c) {
    if (q[c] < f.lo[c] - tol || q[c] > f.hi[c] + tol) return false;
  }
  constexpr double kStarts[3] = {0.2, 0.5, 0.8};
  const int n0 = f.fd > 0 ? 3 : 1, n1 = f.fd > 1 ? 3 : 1;
  for (int j = 0; j < n1; ++j) {
    for (int i = 0; i < n0; ++i) {
      double s[2] = {kStarts[i], kStarts[j]};
      double x[3], dx[2][3];
      for (int it = 0; it < 40; ++it) {
        FacePoint(P, f, s, x, dx);
        double r[3];
        for (int k = 0; k < 3; ++k) r[k] = x[k] - q[k];
        double g[2] = {0.0, 0.0}, a[2][2] = {{0.0, 0.0}, {0.0, 0.0}};
        for (int m = 0; m < f.fd; ++m) {
          for (int k = 0; k < 3; ++k) g[m] += dx[m][k] * r[k];
          for (int l = 0; l < f.fd; ++l) {
            for (int k = 0; k < 3; ++k) a[m][l] += dx[m][k] * dx[l][k];
          }
        }
        double step[2] = {0.0, 0.0};
        if (f.fd == 1) {
          if (!(a[0][0] > 0.0)) break;
          step[0] = -g[0] / a[0][0];
        } else {
          const double det = a[0][0] * a[1][1] - a[0][1] * a[1][0];
          if (!(std::fabs(det) > 0.0)) break;
          step[0] = -(a[1][1] * g[0] - a[0][1] * g[1]) / det;
          step[1] = -(a[0][0] * g[1] - a[1][0] * g[0]) / det;
        }
        double moved = 0.0;
        for (int m = 0; m < f.fd; ++m) {
          const double t = std::min(1.0, std::max(0.0, s[m] + step[m]));
          moved = std::max(moved, std::fabs(t - s[m]));
          s[m] = t;
        }
        if (moved < 1e-14) break;
      }
      FacePoint(P, f, s, x, dx);
      if (Distance(x, q) <= tol) return true;
    }
  }
  return false;
}

// Whether the centre of face a (its parameters' midpoint) lies on face b: faces with the same
// corners lie on one another, rather than bounding a region between them (the two halves of a
// circle), exactly when it does.
bool CentreOnFace(const mesh::Mesh& A, const Face& a, const mesh::Mesh& B, const Face& b,
                  double tol) {
  const double s[2] = {0.5, 0.5};
  double x[3], dx[2][3];
  FacePoint(A, a, s, x, dx);
  return OnFace(B, b, x, tol);
}

// Whether a corner of face a lies on face b away from b's corners.
bool CornerInside(const mesh::Mesh& B, const Face& a, const Face& b, double tol) {
  for (int c = 0; c < (1 << a.fd); ++c) {
    bool atCorner = false;
    for (int cb = 0; cb < (1 << b.fd) && !atCorner; ++cb) {
      atCorner = Distance(a.corner[c], b.corner[cb]) <= tol;
    }
    if (!atCorner && OnFace(B, b, a.corner[c], tol)) return true;
  }
  return false;
}

std::size_t Find(std::size_t* parent, std::size_t a) {
  while (parent[a] != a) {
    parent[a] = parent[parent[a]];
    a = parent[a];
  }
  return a;
}

void Unite(std::size_t* parent, std::size_t a, std::size_t b) {
  a = Find(parent, a);
  b = Find(parent, b);
  if (a < b) {
    parent[b] = a;
  } else if (b < a) {
    parent[a] = b;
  }
}

Finding Found(Fault fault, const Face& a, const Face* b) {
  return Finding{fault, a.patch, a.side, b ? b->patch : -1, b ? b->side : -1};
}

}  // namespace

std::size_t PatchFunctions(const mesh::Mesh& patch) {
  std::size_t n = 1;
  for (int k = 0; k < patch.d; ++k) n *= static_cast<std::size_t>(patch.space.axis[k].n);
  return n;
}

std::size_t GlueBytes(const mesh::Mesh* const patches[], int npatch) {
  return Layout(SizesOf(patches, npatch), npatch, nullptr, nullptr);
}

std::size_t FaceFunctions(const mesh::Mesh& patch, int side, std::size_t* dofs) {
  const int fixed = (side - 1) / 2;
  std::size_t n = 1;
  int count[3] = {1, 1, 1};
  for (int k = 0; k < patch.d; ++k) {
    count[k] = k == fixed ? 1 : patch.space.axis[k].n;
    n *= static_cast<std::size_t>(count[k]);
  }
  if (!dofs) return n;
  std::ptrdiff_t stride[3];
  Strides(patch.space, patch.d, stride);
  const std::ptrdiff_t base = side % 2 == 0 ? (patch.space.axis[fixed].n - 1) * stride[fixed] : 0;
  std::size_t at = 0;
  for (int k = 0; k < count[2]; ++k) {
    for (int j = 0; j < count[1]; ++j) {
      for (int i = 0; i < count[0]; ++i) {
        dofs[at++] = static_cast<std::size_t>(base + i * stride[0] + j * stride[1] + k * stride[2]);
      }
    }
  }
  return n;
}

Finding Glue(const mesh::Mesh* const patches[], int npatch, double tolerance, void* scratch,
             Interface* interface, int* interfaces, double* gnum, std::size_t* ndof) {
  const Finding none{Fault::None, -1, -1, -1, -1};
  *interfaces = 0;
  *ndof = 0;
  if (npatch <= 0) return none;
  const Sizes sizes = SizesOf(patches, npatch);
  Work w;
  Layout(sizes, npatch, scratch, &w);
  const int d = sizes.d;

  // Open knots, geometry then space, each direction's start then end.
  for (int k = 0; k < npatch; ++k) {
    const mesh::Mesh& P = *patches[k];
    for (const evaluators::Call* call : {&P.geometry, &P.space}) {
      for (int j = 0; j < d; ++j) {
        for (int e = 0; e < 2; ++e) {
          if (!Open(call->axis[j], e == 1, tolerance)) {
            return Finding{Fault::NotOpen, k, 2 * j + 1 + e, -1, -1};
          }
        }
      }
    }
  }

  // The diameter: the diagonal of the bounding box of every control point.
  double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (int k = 0; k < npatch; ++k) {
    const mesh::Mesh& P = *patches[k];
    std::ptrdiff_t ng = 1;
    for (int j = 0; j < d; ++j) ng *= P.geometry.axis[j].n;
    for (std::ptrdiff_t a = 0; a < ng; ++a) {
      double x[3];
      Cartesian(P.coefs, a, x);
      for (int c = 0; c < 3; ++c) {
        lo[c] = std::min(lo[c], x[c]);
        hi[c] = std::max(hi[c], x[c]);
      }
    }
  }
  const double tol = tolerance * Distance(lo, hi);
  const double ptol = tolerance;

  const int F = sizes.faces;
  for (int f = 0; f < F; ++f) {
    const int k = f / (2 * d);
    w.face[f] = MakeFace(*patches[k], k, f % (2 * d) + 1, tol);
    w.order[f] = f;
    w.partner[f] = -1;
    w.orientation[f] = 0;
  }

  // Sort and sweep: faces in order of the low end of their control points' projection on
  // kSweep; a face is compared with those after it whose projections start before its own ends
  // (plus 2 tol), and then only if their bounding boxes overlap. Coinciding faces, and faces one of
  // whose corners lies on the other, always pass both tests.
  std::sort(w.order, w.order + F, [&](int a, int b) {
    return w.face[a].keyLo < w.face[b].keyLo || (w.face[a].keyLo == w.face[b].keyLo && a < b);
  });
  for (int x = 0; x < F; ++x) {
    const Face& first = w.face[w.order[x]];
    if (first.degenerate) continue;
    for (int y = x + 1; y < F && w.face[w.order[y]].keyLo <= first.keyHi + 2.0 * tol; ++y) {
      const Face& second = w.face[w.order[y]];
      if (second.degenerate) continue;
      bool overlap = true;
      for (int c = 0; c < 3; ++c) {
        overlap = overlap && second.lo[c] <= first.hi[c] + tol && first.lo[c] <= second.hi[c] + tol;
      }
      if (!overlap) continue;
      // The face with the lower index (patch, then side) is the first of the pair.
      const int ia = std::min(w.order[x], w.order[y]), ib = std::max(w.order[x], w.order[y]);
      const Face& fa = w.face[ia];
      const Face& fb = w.face[ib];
      const mesh::Mesh& A = *patches[fa.patch];
      const mesh::Mesh& B = *patches[fb.patch];
      bool corners = false, geometry = false;
      int matched = -1;
      if (Distance(fa.centroid, fb.centroid) <= tol) {
        for (int code = 0; code < Orientations(fa.fd) && matched < 0; ++code) {
          const Orientation o = MakeOrientation(fa.fd, code);
          if (!CornersMatch(fa, fb, o, tol)) continue;
          corners = true;
          if (!SameNet(A, fa, B, fb, o, tol, ptol) &&
              !GeometryMatches(A, fa, B, fb, o, sizes.pmax, tol, ptol, w.samples)) {
            continue;
          }
          geometry = true;
          if (SpaceMatches(A, fa, B, fb, o, ptol)) matched = code;
        }
      }
      if (matched >= 0) {
        if (w.partner[ia] >= 0) return Found(Fault::MatchedTwice, fa, &fb);
        if (w.partner[ib] >= 0) return Found(Fault::MatchedTwice, fb, &fa);
        w.partner[ia] = ib;
        w.partner[ib] = ia;
        w.orientation[ia] = matched;
      } else if (geometry || (corners && CentreOnFace(A, fa, B, fb, tol))) {
        return Found(Fault::NonConforming, fa, &fb);
      } else if (CornerInside(B, fa, fb, tol) || CornerInside(A, fb, fa, tol)) {
        return Found(Fault::Partial, fa, &fb);
      }
    }
  }

  // Interfaces, and the classes of functions they link.
  w.offset[0] = 0;
  for (int k = 0; k < npatch; ++k) w.offset[k + 1] = w.offset[k] + PatchFunctions(*patches[k]);
  for (std::size_t g = 0; g < sizes.functions; ++g) {
    w.parent[g] = g;
    w.index[g] = 0;
  }
  for (int f = 0; f < F; ++f) {
    const int g = w.partner[f];
    if (g <= f) continue;
    const Face& fa = w.face[f];
    const Face& fb = w.face[g];
    const mesh::Mesh& A = *patches[fa.patch];
    const mesh::Mesh& B = *patches[fb.patch];
    const Orientation o = MakeOrientation(fa.fd, w.orientation[f]);
    Interface& out = interface[(*interfaces)++];
    out = Interface{fa.patch, fa.side, fb.patch, fb.side, 1, 0, 0};
    if (d == 2) out.flag = o.rev[0] ? -1 : 1;
    if (d == 3) {
      out.flag = o.perm[0] == 1 ? -1 : 1;
      out.ornt1 = o.rev[0] ? -1 : 1;
      out.ornt2 = o.rev[1] ? -1 : 1;
    }
    const int n0 = LayerCount(fa, A.space, 0), n1 = LayerCount(fa, A.space, 1);
    for (int j = 0; j < n1; ++j) {
      for (int i = 0; i < n0; ++i) {
        const int idx[2] = {i, j};
        int across[2];
        Across(B.space, fb, o, fa, idx, across);
        Unite(w.parent, w.offset[fa.patch] + LayerIndex(fa, A.space, idx),
              w.offset[fb.patch] + LayerIndex(fb, B.space, across));
      }
    }
  }
  std::size_t next = 0;
  for (std::size_t g = 0; g < sizes.functions; ++g) {
    const std::size_t r = Find(w.parent, g);
    if (w.index[r] == 0) w.index[r] = ++next;
    gnum[g] = static_cast<double>(w.index[r]);
  }
  *ndof = next;
  return none;
}

}  // namespace domain
