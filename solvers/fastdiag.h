// The fast-diagonalisation preconditioner's application, free of the host: the exact inverse of
// a sum of Kronecker products
//   P = a sum_k (x_{t != k} M_t) x K_k + beta (x_t M_t)
// on a tensor grid of n0 x n1 (x n2) unknowns, from each direction's generalised eigenvectors,
// K_t U_t = M_t U_t diag(lambda_t), U_t^T M_t U_t = I:
//   P^-1 = (x_t U_t) diag(1 / (a sum_t lambda_t + beta)) (x_t U_t)^T,
// applied one direction at a time (mode products, kernels.h's Multiply); a zero denominator (a
// singular P, e.g. a Neumann problem's constants) gives 0 there: the pseudo-inverse.
//
// Over a vector of n unknowns several such pieces act additively, each on the unknowns its map
// picks, scaled on both sides: y = sum_pieces R^T S P^-1 S R x, R the map (piece unknown i at
// vector position map[i], 1-based; 0: not in the vector, read as 0 and dropped), S = diag(scale).
// One piece a patch (and a component) is an additive Schwarz method over a domain's patches.
#ifndef NURBS_SOLVERS_FASTDIAG_H_
#define NURBS_SOLVERS_FASTDIAG_H_

#include <cstddef>

namespace solvers {

struct Diagonalised {
  int d;               // 2 or 3
  std::size_t n[3];    // unknowns a direction
  const double* U[3];  // n_t x n_t, column-major: column j the j-th eigenvector
  const double* lambda[3];
  double a, beta;
  const double* scale;  // n0 n1 n2, or nullptr: 1
  const double* map;    // n0 n1 n2, or nullptr: position i + 1
};

// y = P^-1 x over `columns` columns of n values (column-major) on up to `threads` threads. False
// where memory could not be had (y incomplete); a stopped call returns early.
bool ApplyDiagonalised(const Diagonalised* pieces, int count, std::size_t n, const double* x,
                       std::size_t columns, double* y, int threads, int width);

// Bytes it allocates, and the estimated nanoseconds of one column.
std::size_t DiagonalisedBytes(const Diagonalised* pieces, int count, int threads);
double DiagonalisedCost(const Diagonalised* pieces, int count);

}  // namespace solvers

#endif  // NURBS_SOLVERS_FASTDIAG_H_
