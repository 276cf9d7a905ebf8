// The solvers' inner loops over rows of doubles, in vector lanes chosen at run time (AVX2, SSE2 or
// one value at a time): every output value is a fixed sequence of IEEE products and sums
// (no fused multiply-add), so that every width gives the same bits.
#ifndef NURBS_SOLVERS_KERNELS_H_
#define NURBS_SOLVERS_KERNELS_H_

#include <cstddef>

// Vector types pass by value within the solvers only, never across a library's interface.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace solvers {

// A vector of doubles (or one double) from and to memory anywhere: the kernels' lanes, and the
// solvers' other loops written for any width.
template <class V>
inline __attribute__((always_inline)) V LoadLanes(const double* p) {
  V v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

template <class V>
inline __attribute__((always_inline)) void StoreLanes(double* p, const V& v) {
  __builtin_memcpy(p, &v, sizeof v);
}

// Vector width of the kernels: 4 (AVX2), 2 (SSE2) or 1, as evaluators::LaneWidth reads the
// processor and NURBS_SIMD (0 there means 1 here). Read once per call, on the calling thread.
int KernelWidth();

// y[r] = (assign ? 0 : y[r]) + c[0] x[0][r] + c[1] x[1][r] + ... + c[count-1] x[count-1][r],
// summed left to right, for r in [0, n).
void Combine(int width, std::size_t n, int count, const double* c, const double* const* x,
             double* y, bool assign);

// C = A B, column-major: A is m x k (columns lda apart), B k x n (columns ldb apart), C m x n
// (columns ldc apart). Each C(i, j) is sum_l A(i, l) B(l, j), summed from 0.0 in order of l.
void Multiply(int width, std::size_t m, std::size_t n, std::size_t k, const double* A,
              std::size_t lda, const double* B, std::size_t ldb, double* C, std::size_t ldc);

}  // namespace solvers

#endif  // NURBS_SOLVERS_KERNELS_H_
