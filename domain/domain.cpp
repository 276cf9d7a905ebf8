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
//   - Sides, for faces that coincide: at the faces' centres, the directions into each patch
//     across the face (the next layer of control points under the face's functions, less the
//     face's point), less their parts along the face. Where they point the same way the patches
//     overlap there.
//   - Partial contact, for faces that do not coincide: a corner of one face farther than the
//     tolerance from every corner of the other, inside its bounding box, and within the tolerance
//     of the point of the other's geometry that Gauss-Newton reaches from a grid of 3 starts a
//     direction. Faces of volumes may overlap in part with no corner of either on the other (a
//     square on a square turned 45 degrees, two strips crossed): then an edge of each crosses an
//     edge of the other where the faces are tangent, found as the closest points of every pair
//     of edges by Gauss-Newton from a grid of 3 starts a parameter. What is reported is always
//     true; a corner near a face curved so much that no start leads to its nearest point, or
//     edges that no start leads to their crossing, can go unreported.
//   - Magnitudes: every distance is taken as the largest difference times the norm of the
//     differences over it, and Gauss-Newton's residuals and derivatives are scaled by a power of
//     2 near the face's size, so that no square overflows or underflows for coordinates of any
//     finite magnitude.
namespace domain {
namespace {

using evaluators::Axis;

// Candidates are swept along this direction, no two of whose components are alike, so that the
// faces of a grid of patches aligned with the axes do not share one key. Its length is 1.0005:
// points within tol of each other have keys within 2 tol. Keys are taken of the coordinates
// quartered (exactly), so that no key overflows; they are compared with half the tolerance.
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

// The length of a 3-vector, times factor, without overflow or underflow of its squares: the
// largest component times the norm of the vector over it (factor first, so that a tolerance
// times a diameter beyond the largest double is still a number).
double Norm(const double v[3], double factor = 1.0) {
  const double m = std::max(std::fabs(v[0]), std::max(std::fabs(v[1]), std::fabs(v[2])));
  if (!(m > 0.0) || std::isinf(m)) return m;
  double s = 0.0;
  for (int k = 0; k < 3; ++k) {
    const double r = v[k] / m;
    s += r * r;
  }
  return factor * m * std::sqrt(s);
}

// |x - y| (times factor): differences of coordinates beyond half the largest double are taken
// halved, then doubled.
double Distance(const double* x, const double* y, double factor = 1.0) {
  double v[3];
  bool finite = true;
  for (int k = 0; k < 3; ++k) {
    v[k] = x[k] - y[k];
    finite = finite && std::isfinite(v[k]);
  }
  if (finite) return Norm(v, factor);
  for (int k = 0; k < 3; ++k) v[k] = 0.5 * x[k] - 0.5 * y[k];
  return 2.0 * Norm(v, factor);
}

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void Cross(const double a[3], const double b[3], double c[3]) {
  c[0] = a[1] * b[2] - a[2] * b[1];
  c[1] = a[2] * b[0] - a[0] * b[2];
  c[2] = a[0] * b[1] - a[1] * b[0];
}

// The sine of the angle between a and b (0 where either is 0), from vectors scaled to unit
// largest component first.
double Sine(const double a[3], const double b[3]) {
  double u[3], v[3], c[3];
  const double ma = std::max(std::fabs(a[0]), std::max(std::fabs(a[1]), std::fabs(a[2])));
  const double mb = std::max(std::fabs(b[0]), std::max(std::fabs(b[1]), std::fabs(b[2])));
  if (!(ma > 0.0) || !(mb > 0.0) || std::isinf(ma) || std::isinf(mb)) return 0.0;
  for (int k = 0; k < 3; ++k) {
    u[k] = a[k] / ma;
    v[k] = b[k] / mb;
  }
  Cross(u, v, c);
  return Norm(c) / (Norm(u) * Norm(v));
}

// A power of 2 near the size of a face's box, by which Gauss-Newton scales its residuals and
// derivatives (exactly, but for subnormal numbers); 1 for a box of no size.
double ScaleOf(const double lo[3], const double hi[3]) {
  double m = 0.0;
  for (int c = 0; c < 3; ++c) m = std::max(m, 0.5 * hi[c] - 0.5 * lo[c]);
  if (!(m > 0.0) || !std::isfinite(m)) return 1.0;
  return std::ldexp(1.0, std::ilogb(m));
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
        key += kSweep[c] * (0.25 * x[c]);
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

// Whether both geometries agree within tol at the samples; with worst, every sample is compared
// and the largest distance written there.
bool GeometryMatches(const mesh::Mesh& A, const Face& fa, const mesh::Mesh& B, const Face& fb,
                     const Orientation& o, int pmax, double tol, double ptol, Samples sm[2],
                     double* worst = nullptr) {
  for (int m = 0; m < fa.fd; ++m) Sample(A, fa, B, fb, o, m, pmax, ptol, &sm[m]);
  const int n0 = fa.fd > 0 ? sm[0].count : 1, n1 = fa.fd > 1 ? sm[1].count : 1;
  bool match = true;
  if (worst) *worst = 0.0;
  for (int j = 0; j < n1; ++j) {
    for (int i = 0; i < n0; ++i) {
      const int at[2] = {i, j};
      double x[3], y[3];
      SamplePoint(A, fa, o, sm, 0, pmax, at, x);
      SamplePoint(B, fb, o, sm, 1, pmax, at, y);
      const double e = Distance(x, y);
      if (!(e <= tol)) {
        if (!worst) return false;
        match = false;
      }
      if (worst && !(e <= *worst)) *worst = e;
    }
  }
  return match;
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

// A face's geometry and its derivatives along the face's directions at s on [0, 1]^fd. layer > 0:
// the same of the layer of control points that many inward of the face's (the patch's
// derivative across an open end points from the face's point to that of the next layer).
void FacePoint(const mesh::Mesh& P, const Face& f, const double s[2], double x[3],
               double dx[2][3], int layer = 0) {
  std::ptrdiff_t stride[3];
  Strides(P.geometry, P.d, stride);
  const std::ptrdiff_t base =
      (f.end ? P.geometry.axis[f.fixed].n - 1 - layer : layer) * stride[f.fixed];
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
  const double scale = ScaleOf(f.lo, f.hi);
  constexpr double kStarts[3] = {0.2, 0.5, 0.8};
  const int n0 = f.fd > 0 ? 3 : 1, n1 = f.fd > 1 ? 3 : 1;
  for (int j = 0; j < n1; ++j) {
    for (int i = 0; i < n0; ++i) {
      double s[2] = {kStarts[i], kStarts[j]};
      double x[3], dx[2][3];
      for (int it = 0; it < 40; ++it) {
        FacePoint(P, f, s, x, dx);
        double r[3];
        for (int k = 0; k < 3; ++k) {
          r[k] = x[k] / scale - q[k] / scale;
          for (int m = 0; m < 2; ++m) dx[m][k] /= scale;
        }
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

// The direction into patch P across face f at the face's centre, less its part along the face
// (tangents: the face's derivatives there), of length at most 1: zero where the patch has one
// layer across.
void Inward(const mesh::Mesh& P, const Face& f, double v[3]) {
  v[0] = v[1] = v[2] = 0.0;
  if (P.geometry.axis[f.fixed].n < 2) return;
  const double s[2] = {0.5, 0.5};
  double x[3], next[3], dx[2][3], dn[2][3];
  FacePoint(P, f, s, x, dx);
  FacePoint(P, f, s, next, dn, 1);
  for (int k = 0; k < 3; ++k) v[k] = next[k] - x[k];
  // Gram-Schmidt on the tangents scaled to unit largest component: no square overflows.
  double t[2][3];
  int nt = 0;
  for (int m = 0; m < f.fd; ++m) {
    const double n = Norm(dx[m]);
    if (!(n > 0.0) || !std::isfinite(n)) continue;
    for (int k = 0; k < 3; ++k) t[nt][k] = dx[m][k] / n;
    for (int q = 0; q < nt; ++q) {
      const double c = Dot(t[nt], t[q]);
      for (int k = 0; k < 3; ++k) t[nt][k] -= c * t[q][k];
    }
    const double r = Norm(t[nt]);
    if (!(r > 1e-12)) continue;
    for (int k = 0; k < 3; ++k) t[nt][k] /= r;
    ++nt;
  }
  const double m = Norm(v);
  if (!(m > 0.0) || !std::isfinite(m)) return;
  for (int k = 0; k < 3; ++k) v[k] /= m;
  for (int q = 0; q < nt; ++q) {
    const double c = Dot(v, t[q]);
    for (int k = 0; k < 3; ++k) v[k] -= c * t[q][k];
  }
}

// Whether two coinciding faces have their patches on the same side: the directions into them
// across the faces, less their parts along the faces, within about 0.06 degrees of one another
// (opposite for patches that meet; a surface in space may fold at any angle but none).
bool SameSide(const mesh::Mesh& A, const Face& fa, const mesh::Mesh& B, const Face& fb) {
  double a[3], b[3];
  Inward(A, fa, a);
  Inward(B, fb, b);
  const double na = Norm(a), nb = Norm(b);
  if (!(na > 1e-8) || !(nb > 1e-8)) return false;  // undecided: a patch flat across the face
  return Dot(a, b) > (1.0 - 1e-6) * na * nb;
}

// A point of edge e of a face of a volume (fd = 2): face direction e / 2 held at its start (e
// even) or end, the other at t; the edge's tangent and the face's normal there.
void EdgePoint(const mesh::Mesh& P, const Face& f, int e, double t, double x[3],
               double tangent[3], double normal[3]) {
  const int m = e >> 1;
  double s[2];
  s[m] = (e & 1) ? 1.0 : 0.0;
  s[1 - m] = t;
  double dx[2][3];
  FacePoint(P, f, s, x, dx);
  for (int k = 0; k < 3; ++k) tangent[k] = dx[1 - m][k];
  Cross(dx[0], dx[1], normal);
}

// The bounding box of the control points of edge e (as EdgePoint's) of a face of a volume.
void EdgeBox(const mesh::Mesh& P, const Face& f, int e, double lo[3], double hi[3]) {
  const int m = e >> 1;
  int idx[2];
  idx[m] = (e & 1) ? LayerCount(f, P.geometry, m) - 1 : 0;
  for (int c = 0; c < 3; ++c) {
    lo[c] = HUGE_VAL;
    hi[c] = -HUGE_VAL;
  }
  for (int i = 0; i < LayerCount(f, P.geometry, 1 - m); ++i) {
    idx[1 - m] = i;
    double x[3];
    Cartesian(P.coefs, LayerIndex(f, P.geometry, idx), x);
    for (int c = 0; c < 3; ++c) {
      lo[c] = std::min(lo[c], x[c]);
      hi[c] = std::max(hi[c], x[c]);
    }
  }
}

bool NearCorner(const Face& f, const double x[3], double tol) {
  for (int c = 0; c < (1 << f.fd); ++c) {
    if (Distance(x, f.corner[c]) <= tol) return true;
  }
  return false;
}

// Whether an edge of face a crosses an edge of face b (both of volumes) away from their corners,
// where the faces are tangent: then each face covers a part of the other next to the crossing.
// The closest points of each pair of edges by Gauss-Newton from 3 x 3 starts; edges that run
// along one another (neighbouring faces' shared edges) do not cross.
bool EdgesCross(const mesh::Mesh& A, const Face& fa, const mesh::Mesh& B, const Face& fb,
                double tol) {
  if (fa.fd != 2 || fb.fd != 2) return false;
  // A region of both faces of positive area lies in both boxes, whose common part then spans
  // more than tol along two axes at least: faces that share an edge or a corner of a grid of
  // boxes do not get this far.
  double lo[3], hi[3];
  int wide = 0;
  for (int c = 0; c < 3; ++c) {
    wide += std::min(fa.hi[c], fb.hi[c]) - std::max(fa.lo[c], fb.lo[c]) > tol;
    lo[c] = std::min(fa.lo[c], fb.lo[c]);
    hi[c] = std::max(fa.hi[c], fb.hi[c]);
  }
  if (wide < 2) return false;
  const double scale = ScaleOf(lo, hi);
  constexpr double kStarts[3] = {0.2, 0.5, 0.8};
  constexpr double kAngle = 1e-6;  // sines below this: parallel
  double box[2][4][2][3];
  for (int e = 0; e < 4; ++e) {
    EdgeBox(A, fa, e, box[0][e][0], box[0][e][1]);
    EdgeBox(B, fb, e, box[1][e][0], box[1][e][1]);
  }
  for (int ea = 0; ea < 4; ++ea) {
    for (int eb = 0; eb < 4; ++eb) {
      bool meet = true;
      for (int c = 0; c < 3; ++c) {
        meet = meet && box[0][ea][0][c] <= box[1][eb][1][c] + tol &&
               box[1][eb][0][c] <= box[0][ea][1][c] + tol;
      }
      if (!meet) continue;
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
          double t = kStarts[i], r = kStarts[j];
          double x[3], y[3], tx[3], ty[3], nx[3], ny[3];
          for (int it = 0; it < 40; ++it) {
            EdgePoint(A, fa, ea, t, x, tx, nx);
            EdgePoint(B, fb, eb, r, y, ty, ny);
            double d[3], u[3], v[3];
            for (int k = 0; k < 3; ++k) {
              d[k] = x[k] / scale - y[k] / scale;
              u[k] = tx[k] / scale;
              v[k] = ty[k] / scale;
            }
            // Minimise |x(t) - y(r)|^2: the normal equations of [u, -v] [dt; dr] = -d.
            const double uu = Dot(u, u), uv = Dot(u, v), vv = Dot(v, v);
            const double gu = Dot(u, d), gv = Dot(v, d);
            const double det = uu * vv - uv * uv;
            if (!(det > 1e-24 * uu * vv)) break;  // parallel: no crossing to find
            const double dt = -(vv * gu - uv * gv) / det;
            const double dr = -(uv * gu - uu * gv) / det;
            const double t1 = std::min(1.0, std::max(0.0, t + dt));
            const double r1 = std::min(1.0, std::max(0.0, r + dr));
            const double moved = std::max(std::fabs(t1 - t), std::fabs(r1 - r));
            t = t1;
            r = r1;
            if (moved < 1e-14) break;
          }
          EdgePoint(A, fa, ea, t, x, tx, nx);
          EdgePoint(B, fb, eb, r, y, ty, ny);
          if (Distance(x, y) <= tol && !NearCorner(fa, x, tol) && !NearCorner(fb, x, tol) &&
              Sine(tx, ty) > kAngle && Sine(nx, ny) <= kAngle) {
            return true;
          }
        }
      }
    }
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
  return Finding{fault, a.patch, a.side, b ? b->patch : -1, b ? b->side : -1, 0.0, 0.0, false};
}

// The largest distance between two faces' geometries at the samples, in the orientation whose
// corners coincide that gives the least.
double Deviation(const mesh::Mesh& A, const Face& fa, const mesh::Mesh& B, const Face& fb,
                 int pmax, double tol, double ptol, Samples sm[2]) {
  double least = HUGE_VAL;
  for (int code = 0; code < Orientations(fa.fd); ++code) {
    const Orientation o = MakeOrientation(fa.fd, code);
    if (!CornersMatch(fa, fb, o, tol)) continue;
    double worst = 0.0;
    GeometryMatches(A, fa, B, fb, o, pmax, tol, ptol, sm, &worst);
    least = std::min(least, worst);
  }
  return least;
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
  const Finding none{Fault::None, -1, -1, -1, -1, 0.0, 0.0, false};
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
            return Finding{Fault::NotOpen, k, 2 * j + 1 + e, -1, -1, 0.0, 0.0, false};
          }
        }
      }
    }
  }

  // The diameter: the diagonal of the bounding box of every control point; the magnitude: their
  // largest coordinate.
  double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  double magnitude = 0.0;
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
        magnitude = std::max(magnitude, std::fabs(x[c]));
      }
    }
  }
  const double tol = std::max(Distance(lo, hi, tolerance), 0x1p-44 * magnitude);
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
  // (plus 2 tol, in keys of quartered coordinates half of it), and then only if their bounding
  // boxes overlap. Coinciding faces, and faces one of
  // whose corners lies on the other, always pass both tests.
  std::sort(w.order, w.order + F, [&](int a, int b) {
    return w.face[a].keyLo < w.face[b].keyLo || (w.face[a].keyLo == w.face[b].keyLo && a < b);
  });
  for (int x = 0; x < F; ++x) {
    const Face& first = w.face[w.order[x]];
    if (first.degenerate) continue;
    for (int y = x + 1; y < F && w.face[w.order[y]].keyLo <= first.keyHi + 0.5 * tol; ++y) {
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
        if (SameSide(A, fa, B, fb)) return Found(Fault::Overlap, fa, &fb);
        if (w.partner[ia] >= 0) return Found(Fault::MatchedTwice, fa, &fb);
        if (w.partner[ib] >= 0) return Found(Fault::MatchedTwice, fb, &fa);
        w.partner[ia] = ib;
        w.partner[ib] = ia;
        w.orientation[ia] = matched;
      } else if (geometry || (corners && CentreOnFace(A, fa, B, fb, tol))) {
        Finding f = Found(Fault::NonConforming, fa, &fb);
        f.distance = Deviation(A, fa, B, fb, sizes.pmax, tol, ptol, w.samples);
        f.tolerance = tol;
        f.spaces = geometry;
        return f;
      } else if (CornerInside(B, fa, fb, tol) || CornerInside(A, fb, fa, tol) ||
                 EdgesCross(A, fa, B, fb, tol)) {
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
