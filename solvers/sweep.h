// A pass over a patch's quadrature points by sum factorisation, the solvers' own: coefficient
// arrays on a tensor grid of functions are taken to their values (and derivatives) at every
// point one direction at a time, handed to the caller tile by tile, and, where the caller writes
// results back, taken back to the grid by the transposed sums. An operator's application is such
// a pass; so are its setup's evaluations of the geometry.
//
// A direction's table holds, at each of its Q points g, the first f(g) of the p + 1 functions
// that do not vanish there, their values and their derivatives: column g of a (2p + 3) x Q array,
// [f, N_f .. N_{f+p}, N'_f .. N'_{f+p}], f non-decreasing in g, 0 <= f <= N - p - 1. A point of
// the patch is (g0, g1[, g2]); its fields are the value and, with gradient, the derivative along
// each direction.
//
// The points are taken in slabs along the last direction (L = d - 1): its functions' partial
// sums are kept in a ring of layers, each function's entered once and, on the way back, summed
// over the points in order and flushed once no later point needs it, so that a pass holds some
// p + 1 to a few dozen layers of the patch (a layer: a function of the last direction at every
// point of the others) rather than the patch's points. Within a slab the points are cut into
// tiles: in 3-D a tile is a row of points along direction 0 (fixed g1, g2), in 2-D a run of up
// to kTileWidth points along direction 0 (fixed g1). Every value is summed by one thread in a
// fixed order whatever the thread count: the same bits on any number of threads.
#ifndef NURBS_SOLVERS_SWEEP_H_
#define NURBS_SOLVERS_SWEEP_H_

#include <cstddef>

namespace solvers {

struct Direction {
  int p;           // degree
  int N;           // functions
  std::size_t Q;   // points
  const double* table;  // (2p + 3) x Q
};

inline int First(const Direction& d, std::size_t g) {
  return static_cast<int>(d.table[g * static_cast<std::size_t>(2 * d.p + 3)]);
}
inline const double* Values(const Direction& d, std::size_t g) {
  return d.table + g * static_cast<std::size_t>(2 * d.p + 3) + 1;
}
inline const double* Derivatives(const Direction& d, std::size_t g) {
  return d.table + g * static_cast<std::size_t>(2 * d.p + 3) + 2 + d.p;
}

// Points of a 2-D tile at most.
constexpr std::size_t kTileWidth = 256;

// Fields of one point per field: the value, and with gradient the derivative along each of the d
// directions in order.
inline int PointComponents(int d, bool gradient) { return gradient ? d + 1 : 1; }

// The tile's points: gL along the last direction, row (3-D: g1; 2-D: 0), and along direction 0
// the points begin..end-1.
struct Tile {
  std::size_t gL, row, begin, end;
};

// Tile points a sweep hands its caller at once, at most: Q0 in 3-D, kTileWidth in 2-D.
std::size_t TileWidth(int d, std::size_t Q0);

// What the caller does at a tile: Z[(f PointComponents + c) stride + i] is field f's component
// c at tile point i (i < end - begin). A sweep that goes back writes the caller's results S in
// the same layout, all of it, for the transposed sums; a forward sweep passes S = nullptr.
using PointFunction = void (*)(void* context, int thread, const Tile& tile, const double* Z,
                               double* S, std::size_t stride);

struct Sweep {
  int d;                    // 2 or 3
  Direction dir[3];
  bool gradient;
  int fields;
  const double* const* in;  // field f's coefficient a (a0 fastest) at in[f][a inStride]
  std::size_t inStride;
  double* const* out;       // field f's result at out[f][a], every one written; nullptr: forward
  int back;                 // fields taken back (the first `back`; the others the caller's data,
                            // such as a rational space's weights): out has that many
  PointFunction points;
  void* context;
  int threads;              // at most; fewer where a pass has fewer units
  int width;                // KernelWidth
  std::size_t budget;       // bytes of a ring at most (it holds p + 1 layers in any case)
};

// Bytes a sweep allocates (rings, each thread's buffers, the last direction's flags), one that
// goes back (out given) or not.
std::size_t SweepBytes(const Sweep& sweep, bool back);

// Runs it; false where its memory could not be had (nothing computed). Returns early, the
// results incomplete, where evaluators::Stopping().
bool Run(const Sweep& sweep);

// Estimated nanoseconds of one point of a sweep, for the thread rule.
double PointCost(const Sweep& sweep, bool back);

}  // namespace solvers

#endif  // NURBS_SOLVERS_SWEEP_H_
