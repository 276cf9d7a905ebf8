#include "kernels.h"

#include "lanes.h"

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace solvers {
namespace {

// One kernel body for every width: V is a vector of W doubles (W = 1: a plain double). Products
// and sums apart, in the order the header states, so that the lanes give the scalar bits.
// Always inlined, as every helper of a vector type: out of line a helper would be compiled for
// the default target and pass the AVX2 function's vectors in another ABI.
template <class V, int W>
struct Lanes {
  static inline __attribute__((always_inline)) V Load(const double* p) { return LoadLanes<V>(p); }
  static inline __attribute__((always_inline)) void Store(double* p, const V& v) {
    StoreLanes<V>(p, v);
  }
  static inline __attribute__((always_inline)) V Splat(double x) { return V{} + x; }
};

template <class V, int W>
inline __attribute__((always_inline)) void CombineBody(std::size_t n, int count, const double* c,
                                                       const double* const* x, double* y,
                                                       bool assign) {
  using L = Lanes<V, W>;
  std::size_t r = 0;
  for (; r + 4 * W <= n; r += 4 * W) {
    V a0 = assign ? V{} : L::Load(y + r), a1 = assign ? V{} : L::Load(y + r + W);
    V a2 = assign ? V{} : L::Load(y + r + 2 * W), a3 = assign ? V{} : L::Load(y + r + 3 * W);
    for (int q = 0; q < count; ++q) {
      const double* xq = x[q] + r;
      const V cq = L::Splat(c[q]);
      a0 += cq * L::Load(xq);
      a1 += cq * L::Load(xq + W);
      a2 += cq * L::Load(xq + 2 * W);
      a3 += cq * L::Load(xq + 3 * W);
    }
    L::Store(y + r, a0);
    L::Store(y + r + W, a1);
    L::Store(y + r + 2 * W, a2);
    L::Store(y + r + 3 * W, a3);
  }
  for (; r < n; ++r) {
    double a = assign ? 0.0 : y[r];
    for (int q = 0; q < count; ++q) a += c[q] * x[q][r];
    y[r] = a;
  }
}

// C's rows in blocks of 2W, columns in blocks of 4: eight accumulators, each entry's sum over l
// in order from 0.0; the rest one entry at a time in the same order.
template <class V, int W>
inline __attribute__((always_inline)) void MultiplyBody(std::size_t m, std::size_t n,
                                                        std::size_t k, const double* A,
                                                        std::size_t lda, const double* B,
                                                        std::size_t ldb, double* C,
                                                        std::size_t ldc) {
  using L = Lanes<V, W>;
  std::size_t j = 0;
  for (; j + 4 <= n; j += 4) {
    const double* b0 = B + j * ldb;
    const double* b1 = b0 + ldb;
    const double* b2 = b1 + ldb;
    const double* b3 = b2 + ldb;
    std::size_t i = 0;
    for (; i + 2 * W <= m; i += 2 * W) {
      V c00{}, c01{}, c02{}, c03{}, c10{}, c11{}, c12{}, c13{};
      for (std::size_t l = 0; l < k; ++l) {
        const double* a = A + l * lda + i;
        const V a0 = L::Load(a), a1 = L::Load(a + W);
        const V s0 = L::Splat(b0[l]), s1 = L::Splat(b1[l]), s2 = L::Splat(b2[l]),
                s3 = L::Splat(b3[l]);
        c00 += a0 * s0;
        c10 += a1 * s0;
        c01 += a0 * s1;
        c11 += a1 * s1;
        c02 += a0 * s2;
        c12 += a1 * s2;
        c03 += a0 * s3;
        c13 += a1 * s3;
      }
      double* c = C + j * ldc + i;
      L::Store(c, c00);
      L::Store(c + W, c10);
      L::Store(c + ldc, c01);
      L::Store(c + ldc + W, c11);
      L::Store(c + 2 * ldc, c02);
      L::Store(c + 2 * ldc + W, c12);
      L::Store(c + 3 * ldc, c03);
      L::Store(c + 3 * ldc + W, c13);
    }
    for (; i < m; ++i) {
      double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
      for (std::size_t l = 0; l < k; ++l) {
        const double a = A[l * lda + i];
        s0 += a * b0[l];
        s1 += a * b1[l];
        s2 += a * b2[l];
        s3 += a * b3[l];
      }
      C[j * ldc + i] = s0;
      C[(j + 1) * ldc + i] = s1;
      C[(j + 2) * ldc + i] = s2;
      C[(j + 3) * ldc + i] = s3;
    }
  }
  for (; j < n; ++j) {
    const double* b = B + j * ldb;
    for (std::size_t i = 0; i < m; ++i) {
      double s = 0.0;
      for (std::size_t l = 0; l < k; ++l) s += A[l * lda + i] * b[l];
      C[j * ldc + i] = s;
    }
  }
}

void CombineScalar(std::size_t n, int count, const double* c, const double* const* x, double* y,
                   bool assign) {
  CombineBody<double, 1>(n, count, c, x, y, assign);
}

void MultiplyScalar(std::size_t m, std::size_t n, std::size_t k, const double* A, std::size_t lda,
                    const double* B, std::size_t ldb, double* C, std::size_t ldc) {
  MultiplyBody<double, 1>(m, n, k, A, lda, B, ldb, C, ldc);
}

#if defined(__GNUC__) && defined(__x86_64__)
typedef double V2 __attribute__((vector_size(16)));
typedef double V4 __attribute__((vector_size(32)));

void CombineSse2(std::size_t n, int count, const double* c, const double* const* x, double* y,
                 bool assign) {
  CombineBody<V2, 2>(n, count, c, x, y, assign);
}

__attribute__((target("avx2"))) void CombineAvx2(std::size_t n, int count, const double* c,
                                                 const double* const* x, double* y, bool assign) {
  CombineBody<V4, 4>(n, count, c, x, y, assign);
}

void MultiplySse2(std::size_t m, std::size_t n, std::size_t k, const double* A, std::size_t lda,
                  const double* B, std::size_t ldb, double* C, std::size_t ldc) {
  MultiplyBody<V2, 2>(m, n, k, A, lda, B, ldb, C, ldc);
}

__attribute__((target("avx2"))) void MultiplyAvx2(std::size_t m, std::size_t n, std::size_t k,
                                                  const double* A, std::size_t lda,
                                                  const double* B, std::size_t ldb, double* C,
                                                  std::size_t ldc) {
  MultiplyBody<V4, 4>(m, n, k, A, lda, B, ldb, C, ldc);
}
#endif

}  // namespace

int KernelWidth() {
  const int w = evaluators::LaneWidth();
  return w == 4 || w == 2 ? w : 1;
}

void Combine(int width, std::size_t n, int count, const double* c, const double* const* x,
             double* y, bool assign) {
#if defined(__GNUC__) && defined(__x86_64__)
  if (width == 4) return CombineAvx2(n, count, c, x, y, assign);
  if (width == 2) return CombineSse2(n, count, c, x, y, assign);
#endif
  (void)width;
  CombineScalar(n, count, c, x, y, assign);
}

void Multiply(int width, std::size_t m, std::size_t n, std::size_t k, const double* A,
              std::size_t lda, const double* B, std::size_t ldb, double* C, std::size_t ldc) {
#if defined(__GNUC__) && defined(__x86_64__)
  if (width == 4) return MultiplyAvx2(m, n, k, A, lda, B, ldb, C, ldc);
  if (width == 2) return MultiplySse2(m, n, k, A, lda, B, ldb, C, ldc);
#endif
  (void)width;
  MultiplyScalar(m, n, k, A, lda, B, ldb, C, ldc);
}

}  // namespace solvers
