#include "sweep.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kernels.h"
#include "threads.h"

namespace solvers {
namespace {

constexpr std::size_t kStack = 256 * 1024;
constexpr int kMaxTerms = 32;  // p + 1 of a direction at most (the kernel's degrees: 18)

// The layers and buffers of a sweep. A layer of one field holds, for one function of the last
// direction, R rows of c components of Q0 values: 3-D, rows g1 and components (N1 N0, N1 N0',
// N1' N0) summed against the grid; 2-D, one row of (N0, N0').
struct Shape {
  int d, L;
  int c;   // components of a layer's row
  int c0;  // 3-D: components of the first stage (N0, N0')
  int pc;  // point components
  std::size_t Q0, R, LF;
  std::size_t S;      // layers of a ring
  std::size_t tile;   // points of a tile
  std::size_t tiles;  // tiles of one point of the last direction
  std::size_t perThread;
  std::size_t ring;   // doubles of a ring
};

std::size_t Round(std::size_t doubles) { return (doubles + 7) / 8 * 8; }

Shape MakeShape(const Sweep& sw) {
  Shape s{};
  s.d = sw.d;
  s.L = sw.d - 1;
  s.c = sw.gradient ? sw.d : 1;
  s.c0 = sw.gradient ? 2 : 1;
  s.pc = PointComponents(sw.d, sw.gradient);
  s.Q0 = sw.dir[0].Q;
  s.R = sw.d == 3 ? sw.dir[1].Q : 1;
  s.LF = s.R * static_cast<std::size_t>(s.c) * s.Q0;
  const Direction& last = sw.dir[s.L];
  const std::size_t layer = std::max<std::size_t>(1, static_cast<std::size_t>(sw.fields) * s.LF);
  const std::size_t fit = sw.budget / sizeof(double) / layer;
  s.S = std::min<std::size_t>(std::max<std::size_t>(fit, static_cast<std::size_t>(last.p) + 1),
                              static_cast<std::size_t>(std::max(last.N, last.p + 1)));
  s.tile = TileWidth(sw.d, s.Q0);
  s.tiles = sw.d == 3 ? s.R : (s.Q0 + s.tile - 1) / s.tile;
  const std::size_t local =
      sw.d == 3 ? static_cast<std::size_t>(sw.dir[1].N) * static_cast<std::size_t>(s.c0) * s.Q0
                : 0;
  const std::size_t points = static_cast<std::size_t>(sw.fields) * s.pc * s.tile;
  s.perThread = Round(std::max(local, 2 * points));
  s.ring = Round(s.S * layer);
  return s;
}

// What every share of a slab's passes reads.
struct Pass {
  const Sweep* sw;
  Shape sh;
  double *ringY, *ringW;  // ringW nullptr: forward
  double* work;
  unsigned char* entered;
  std::size_t ga, gb;    // the slab's points of the last direction
  int enterLo;           // first function entering the ring
  int flushLo;           // first function flushed
};

double* Layer(const Pass& ps, double* ring, int a, int f) {
  const std::size_t slot = static_cast<std::size_t>(a) % ps.sh.S;
  return ring + (slot * static_cast<std::size_t>(ps.sw->fields) + f) * ps.sh.LF;
}

// Doubles of one function's plane of a field: the other directions' functions.
std::size_t Plane(const Sweep& sw) {
  std::size_t n = 1;
  for (int t = 0; t < sw.d - 1; ++t) n *= static_cast<std::size_t>(sw.dir[t].N);
  return n;
}

// Direction 0 from a row of the grid (x[a0 stride]) to its points: out[g] the values, out[Q0 + g]
// the derivatives with gradient.
void FirstStage(const Direction& d0, const double* x, std::size_t stride, bool gradient,
                double* out) {
  const std::size_t Q0 = d0.Q;
  const int n = d0.p + 1;
  for (std::size_t g = 0; g < Q0; ++g) {
    const double* xr = x + static_cast<std::size_t>(First(d0, g)) * stride;
    const double* B = Values(d0, g);
    double s = 0.0;
    for (int l = 0; l < n; ++l) s += B[l] * xr[l * stride];
    out[g] = s;
    if (gradient) {
      const double* D = Derivatives(d0, g);
      double t = 0.0;
      for (int l = 0; l < n; ++l) t += D[l] * xr[l * stride];
      out[Q0 + g] = t;
    }
  }
}

// The transpose: o[a0] for every function of direction 0 from the points' values w[g] (and
// derivative parts w[Q0 + g] with gradient), each o summed over the points in order.
void LastStage(const Direction& d0, const double* w, bool gradient, double* o) {
  const std::size_t Q0 = d0.Q;
  const int n = d0.p + 1;
  std::memset(o, 0, static_cast<std::size_t>(d0.N) * sizeof(double));
  for (std::size_t g = 0; g < Q0; ++g) {
    double* orow = o + First(d0, g);
    const double* B = Values(d0, g);
    const double v = w[g];
    if (gradient) {
      const double* D = Derivatives(d0, g);
      const double u = w[Q0 + g];
      for (int l = 0; l < n; ++l) orow[l] += B[l] * v + D[l] * u;
    } else {
      for (int l = 0; l < n; ++l) orow[l] += B[l] * v;
    }
  }
}

// Functions enterLo + begin .. enterLo + end - 1 of the last direction into the ring, every field.
void EnterShare(void* context, int t, std::size_t begin, std::size_t end) {
  const Pass& ps = *static_cast<const Pass*>(context);
  const Sweep& sw = *ps.sw;
  const Shape& sh = ps.sh;
  const std::size_t Q0 = sh.Q0, plane = Plane(sw);
  double* Y0 = ps.work + static_cast<std::size_t>(t) * sh.perThread;
  for (std::size_t k = begin; k < end; ++k) {
    if (evaluators::Stopping()) return;
    const int a = ps.enterLo + static_cast<int>(k);
    for (int f = 0; f < sw.fields; ++f) {
      double* layer = Layer(ps, ps.ringY, a, f);
      if (ps.ringW && f < sw.back) std::memset(Layer(ps, ps.ringW, a, f), 0, sh.LF * sizeof(double));
      const double* X = sw.in[f] + static_cast<std::size_t>(a) * plane * sw.inStride;
      if (sh.d == 2) {
        FirstStage(sw.dir[0], X, sw.inStride, sw.gradient, layer);
        continue;
      }
      const Direction& d1 = sw.dir[1];
      const std::size_t N0 = static_cast<std::size_t>(sw.dir[0].N);
      for (int a1 = 0; a1 < d1.N; ++a1) {
        FirstStage(sw.dir[0], X + a1 * N0 * sw.inStride, sw.inStride, sw.gradient,
                   Y0 + static_cast<std::size_t>(a1) * sh.c0 * Q0);
      }
      const int n = d1.p + 1;
      const double* x0[kMaxTerms];
      const double* x1[kMaxTerms];
      for (std::size_t g1 = 0; g1 < d1.Q; ++g1) {
        const int f1 = First(d1, g1);
        for (int l = 0; l < n; ++l) {
          x0[l] = Y0 + static_cast<std::size_t>(f1 + l) * sh.c0 * Q0;
          x1[l] = x0[l] + Q0;
        }
        double* row = layer + g1 * sh.c * Q0;
        Combine(sw.width, Q0, n, Values(d1, g1), x0, row, true);
        if (sw.gradient) {
          Combine(sw.width, Q0, n, Values(d1, g1), x1, row + Q0, true);
          Combine(sw.width, Q0, n, Derivatives(d1, g1), x0, row + 2 * Q0, true);
        }
      }
    }
  }
}

// Tiles begin..end-1 of the slab: the last direction's sums to the points, the caller's function,
// and back into the ring.
void PointShare(void* context, int t, std::size_t begin, std::size_t end) {
  const Pass& ps = *static_cast<const Pass*>(context);
  const Sweep& sw = *ps.sw;
  const Shape& sh = ps.sh;
  const Direction& dL = sw.dir[sh.L];
  const int n = dL.p + 1;
  const std::size_t Q0 = sh.Q0, stride = sh.tile;
  double* Z = ps.work + static_cast<std::size_t>(t) * sh.perThread;
  double* S = Z + static_cast<std::size_t>(sw.fields) * sh.pc * stride;
  const double* x[kMaxTerms];
  for (std::size_t k = begin; k < end; ++k) {
    if (evaluators::Stopping()) return;
    Tile tile{0, 0, 0, Q0};
    if (sh.d == 2) {
      tile.begin = k * sh.tile;
      tile.end = std::min(Q0, tile.begin + sh.tile);
    } else {
      tile.row = k;
    }
    const std::size_t len = tile.end - tile.begin;
    const std::size_t offset = tile.row * sh.c * Q0 + tile.begin;
    for (std::size_t g = ps.ga; g < ps.gb; ++g) {
      tile.gL = g;
      const int fL = First(dL, g);
      const double* B = Values(dL, g);
      const double* D = Derivatives(dL, g);
      for (int f = 0; f < sw.fields; ++f) {
        double* z = Z + static_cast<std::size_t>(f) * sh.pc * stride;
        for (int m = 0; m < sh.c; ++m) {
          for (int l = 0; l < n; ++l) x[l] = Layer(ps, ps.ringY, fL + l, f) + offset + m * Q0;
          Combine(sw.width, len, n, B, x, z + m * stride, true);
        }
        if (sw.gradient) {
          for (int l = 0; l < n; ++l) x[l] = Layer(ps, ps.ringY, fL + l, f) + offset;
          Combine(sw.width, len, n, D, x, z + sh.c * stride, true);
        }
      }
      sw.points(sw.context, t, tile, Z, ps.ringW ? S : nullptr, stride);
      if (!ps.ringW) continue;
      for (int f = 0; f < sw.back; ++f) {
        const double* s = S + static_cast<std::size_t>(f) * sh.pc * stride;
        for (int l = 0; l < n; ++l) {
          double* w = Layer(ps, ps.ringW, fL + l, f) + offset;
          if (sw.gradient) {
            const double c[2] = {B[l], D[l]};
            const double* from[2] = {s, s + sh.c * stride};
            Combine(sw.width, len, 2, c, from, w, false);
          } else {
            Combine(sw.width, len, 1, B + l, &s, w, false);
          }
          for (int m = 1; m < sh.c; ++m) {
            const double* from = s + m * stride;
            Combine(sw.width, len, 1, B + l, &from, w + m * Q0, false);
          }
        }
      }
    }
  }
}

// Functions flushLo + begin .. flushLo + end - 1 of the last direction out of the ring into the
// results, every field: the first directions' transposed sums.
void FlushShare(void* context, int t, std::size_t begin, std::size_t end) {
  const Pass& ps = *static_cast<const Pass*>(context);
  const Sweep& sw = *ps.sw;
  const Shape& sh = ps.sh;
  const std::size_t Q0 = sh.Q0, plane = Plane(sw);
  const std::size_t N0 = static_cast<std::size_t>(sw.dir[0].N);
  double* W0 = ps.work + static_cast<std::size_t>(t) * sh.perThread;
  for (std::size_t k = begin; k < end; ++k) {
    if (evaluators::Stopping()) return;
    const int a = ps.flushLo + static_cast<int>(k);
    for (int f = 0; f < sw.back; ++f) {
      double* O = sw.out[f] + static_cast<std::size_t>(a) * plane;
      if (!ps.entered[a]) {
        std::memset(O, 0, plane * sizeof(double));
        continue;
      }
      const double* layer = Layer(ps, ps.ringW, a, f);
      if (sh.d == 2) {
        LastStage(sw.dir[0], layer, sw.gradient, O);
        continue;
      }
      const Direction& d1 = sw.dir[1];
      const int n = d1.p + 1;
      std::memset(W0, 0, static_cast<std::size_t>(d1.N) * sh.c0 * Q0 * sizeof(double));
      for (std::size_t g1 = 0; g1 < d1.Q; ++g1) {
        const int f1 = First(d1, g1);
        const double* B = Values(d1, g1);
        const double* D = Derivatives(d1, g1);
        const double* row = layer + g1 * sh.c * Q0;
        for (int l = 0; l < n; ++l) {
          double* w = W0 + static_cast<std::size_t>(f1 + l) * sh.c0 * Q0;
          if (sw.gradient) {
            const double c[2] = {B[l], D[l]};
            const double* from[2] = {row, row + 2 * Q0};
            Combine(sw.width, Q0, 2, c, from, w, false);
            const double* second = row + Q0;
            Combine(sw.width, Q0, 1, B + l, &second, w + Q0, false);
          } else {
            Combine(sw.width, Q0, 1, B + l, &row, w, false);
          }
        }
      }
      for (int a1 = 0; a1 < d1.N; ++a1) {
        LastStage(sw.dir[0], W0 + static_cast<std::size_t>(a1) * sh.c0 * Q0, sw.gradient,
                  O + static_cast<std::size_t>(a1) * N0);
      }
    }
  }
}

void RunShares(const Pass& ps, std::size_t count, evaluators::ShareFunction f) {
  if (count == 0) return;
  const int threads =
      static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(ps.sw->threads), count));
  evaluators::Shares(count, threads, kStack, f, const_cast<Pass*>(&ps));
}

}  // namespace

std::size_t TileWidth(int d, std::size_t Q0) {
  return d == 3 ? Q0 : std::min(Q0, kTileWidth);
}

std::size_t SweepBytes(const Sweep& sw, bool back) {
  const Shape sh = MakeShape(sw);
  const std::size_t threads = static_cast<std::size_t>(std::max(1, sw.threads));
  const std::size_t NL = static_cast<std::size_t>(sw.dir[sw.d - 1].N);
  return (sh.ring * (back ? 2 : 1) + sh.perThread * threads) * sizeof(double) + NL + 64;
}

double PointCost(const Sweep& sw, bool back) {
  const double n = sw.dir[sw.d - 1].p + 1;
  const double pc = PointComponents(sw.d, sw.gradient);
  return (sw.fields * pc * n + (back ? sw.back * pc * n : 0) + 8.0 * sw.fields) * 0.5;
}

bool Run(const Sweep& sw) {
  Pass ps{};
  ps.sw = &sw;
  ps.sh = MakeShape(sw);
  const Shape& sh = ps.sh;
  const int L = sh.L;
  const Direction& dL = sw.dir[L];
  const std::size_t NL = static_cast<std::size_t>(dL.N);
  const std::size_t threads = static_cast<std::size_t>(std::max(1, sw.threads));
  const std::size_t doubles = sh.ring * (sw.out ? 2 : 1) + sh.perThread * threads;
  void* block = std::malloc(doubles * sizeof(double) + NL + 64);
  if (block == nullptr) return false;
  double* at = static_cast<double*>(block);
  ps.ringY = at;
  at += sh.ring;
  if (sw.out) {
    ps.ringW = at;
    at += sh.ring;
  }
  ps.work = at;
  at += sh.perThread * threads;
  ps.entered = reinterpret_cast<unsigned char*>(at);
  std::memset(ps.entered, 0, NL);

  int hi = -1;       // the last function entered
  int flushed = 0;   // functions flushed so far
  const int pL = dL.p;
  for (std::size_t ga = 0; ga < dL.Q && !evaluators::Stopping();) {
    const int fa = First(dL, ga);
    std::size_t gb = ga + 1;
    while (gb < dL.Q &&
           static_cast<std::size_t>(First(dL, gb) + pL - fa + 1) <= sh.S) {
      ++gb;
    }
    const int newhi = First(dL, gb - 1) + pL;
    const int lo = std::max(hi + 1, fa);
    ps.ga = ga;
    ps.gb = gb;
    if (lo <= newhi) {
      ps.enterLo = lo;
      for (int a = lo; a <= newhi; ++a) ps.entered[a] = 1;
      RunShares(ps, static_cast<std::size_t>(newhi - lo + 1), EnterShare);
      hi = newhi;
    }
    RunShares(ps, sh.tiles, PointShare);
    if (sw.out) {
      const int to = gb < dL.Q ? std::min(First(dL, gb), dL.N) : dL.N;
      if (to > flushed) {
        ps.flushLo = flushed;
        RunShares(ps, static_cast<std::size_t>(to - flushed), FlushShare);
        flushed = to;
      }
    }
    ga = gb;
  }
  if (sw.out && flushed < dL.N && !evaluators::Stopping()) {
    ps.flushLo = flushed;
    RunShares(ps, static_cast<std::size_t>(dL.N - flushed), FlushShare);
  }
  std::free(block);
  return true;
}

}  // namespace solvers
