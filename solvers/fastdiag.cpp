#include "fastdiag.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "kernels.h"
#include "threads.h"

namespace solvers {
namespace {

constexpr std::size_t kStack = 256 * 1024;

// One mode product of a piece's grid: Y = the grid X with direction t multiplied by A (U_t^T on
// the way in, U_t on the way out).
struct Mode {
  int d, t, width;
  std::size_t n[3];
  const double* A;  // n_t x n_t: the matrix applied to direction t's index, A(i, j) at i + n_t j
  double* X;
  double* Y;
};

// Direction 0: Y = A X with X n0 x (n1 n2), columns begin..end-1. Direction 1 of three: the
// slices i2 = begin..end-1, each Y_i2 = X_i2 A^T. The last direction: Y = X A^T with X
// (n0 n1) x nL, Y's columns begin..end-1. A^T is what the header calls A here: the caller passes
// the matrix it multiplies by on the right (B) or the left.
void ModeShare(void* context, int, std::size_t begin, std::size_t end) {
  const Mode& m = *static_cast<const Mode*>(context);
  const std::size_t n0 = m.n[0], n1 = m.n[1];
  if (evaluators::Stopping()) return;
  if (m.t == 0) {
    Multiply(m.width, n0, end - begin, n0, m.A, n0, m.X + begin * n0, n0, m.Y + begin * n0, n0);
  } else if (m.t == 1 && m.d == 3) {
    for (std::size_t i2 = begin; i2 < end; ++i2) {
      if (evaluators::Stopping()) return;
      const std::size_t at = i2 * n0 * n1;
      Multiply(m.width, n0, n1, n1, m.X + at, n0, m.A, n1, m.Y + at, n0);
    }
  } else {
    const std::size_t rows = m.t == 1 ? n0 : n0 * n1, nL = m.n[m.t];
    Multiply(m.width, rows, end - begin, nL, m.X, rows, m.A + begin * nL, nL, m.Y + begin * rows,
             rows);
  }
}

std::size_t Units(const Mode& m) {
  if (m.t == 0) return m.d == 3 ? m.n[1] * m.n[2] : m.n[1];
  if (m.t == 1 && m.d == 3) return m.n[2];
  return m.n[m.t];
}

std::size_t GridSize(const Diagonalised& p) {
  std::size_t N = 1;
  for (int t = 0; t < p.d; ++t) N *= p.n[t];
  return N;
}

void Transpose(std::size_t n, const double* A, double* T) {
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t i = 0; i < n; ++i) T[j + n * i] = A[i + n * j];
  }
}

}  // namespace

std::size_t DiagonalisedBytes(const Diagonalised* pieces, int count, int) {
  std::size_t most = 0, squares = 0;
  for (int k = 0; k < count; ++k) {
    most = std::max(most, GridSize(pieces[k]));
    std::size_t s = 0;
    for (int t = 0; t < pieces[k].d; ++t) s += pieces[k].n[t] * pieces[k].n[t];
    squares = std::max(squares, s);
  }
  return (2 * most + squares) * sizeof(double);
}

double DiagonalisedCost(const Diagonalised* pieces, int count) {
  double cost = 0.0;
  for (int k = 0; k < count; ++k) {
    double flops = 0.0;
    const double N = static_cast<double>(GridSize(pieces[k]));
    for (int t = 0; t < pieces[k].d; ++t) flops += 4.0 * N * static_cast<double>(pieces[k].n[t]);
    cost += 0.3 * flops + 4.0 * N;
  }
  return cost;
}

bool ApplyDiagonalised(const Diagonalised* pieces, int count, std::size_t n, const double* x,
                       std::size_t columns, double* y, int threads, int width) {
  std::size_t most = 0, squares = 0;
  for (int k = 0; k < count; ++k) {
    most = std::max(most, GridSize(pieces[k]));
    std::size_t s = 0;
    for (int t = 0; t < pieces[k].d; ++t) s += pieces[k].n[t] * pieces[k].n[t];
    squares = std::max(squares, s);
  }
  double* block = static_cast<double*>(std::malloc((2 * most + squares + 1) * sizeof(double)));
  if (block == nullptr) return false;
  double* X = block;
  double* Y = X + most;
  double* T = Y + most;
  for (std::size_t c = 0; c < columns; ++c) {
    const double* xc = x + c * n;
    double* yc = y + c * n;
    std::memset(yc, 0, n * sizeof(double));
    for (int k = 0; k < count; ++k) {
      const Diagonalised& p = pieces[k];
      const std::size_t N = GridSize(p);
      for (std::size_t i = 0; i < N; ++i) {
        double v;
        if (p.map == nullptr) {
          v = xc[i];
        } else {
          v = p.map[i] > 0 ? xc[static_cast<std::size_t>(p.map[i]) - 1] : 0.0;
        }
        X[i] = p.scale ? p.scale[i] * v : v;
      }
      const double* Ut[3];
      for (int t = 0, at = 0; t < p.d; at += static_cast<int>(p.n[t] * p.n[t]), ++t) {
        Transpose(p.n[t], p.U[t], T + at);
        Ut[t] = T + at;
      }
      // In: each direction by U_t^T (on the right of the later directions' index: U_t), the
      // denominators, then out by U_t.
      Mode m{p.d, 0, width, {p.n[0], p.n[1], p.d == 3 ? p.n[2] : 1}, nullptr, X, Y};
      for (int pass = 0; pass < 2; ++pass) {
        for (int t = 0; t < p.d; ++t) {
          m.t = t;
          const bool in = pass == 0;
          m.A = t == 0 ? (in ? Ut[0] : p.U[0]) : (in ? p.U[t] : Ut[t]);
          const std::size_t units = Units(m);
          evaluators::Shares(units, static_cast<int>(std::min<std::size_t>(threads, units)),
                             kStack, ModeShare, &m);
          std::swap(m.X, m.Y);
        }
        if (pass == 1) break;
        // m.X holds the transformed grid.
        double* G = m.X;
        const std::size_t n0 = p.n[0], n1 = p.n[1];
        for (std::size_t i = 0; i < N; ++i) {
          const std::size_t i0 = i % n0, i1 = (i / n0) % n1;
          double s = p.lambda[0][i0] + p.lambda[1][i1];
          if (p.d == 3) s += p.lambda[2][i / (n0 * n1)];
          const double den = p.a * s + p.beta;
          G[i] = den != 0.0 ? G[i] / den : 0.0;
        }
      }
      if (evaluators::Stopping()) {
        std::free(block);
        return true;
      }
      const double* R = m.X;
      for (std::size_t i = 0; i < N; ++i) {
        const double v = p.scale ? p.scale[i] * R[i] : R[i];
        if (p.map == nullptr) {
          yc[i] += v;
        } else if (p.map[i] > 0) {
          yc[static_cast<std::size_t>(p.map[i]) - 1] += v;
        }
      }
    }
  }
  std::free(block);
  return true;
}

}  // namespace solvers
