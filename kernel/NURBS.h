// NURBS: the B-spline primitives under every plug-in. Plain functions over arrays of doubles; no
// host calls, no state, no allocation except in init2DArray. Safe to call from any thread.
//
// Symbols used throughout (as in The NURBS Book, Piegl & Tiller):
//   U      knot vector U[0..m], non-decreasing, read only
//   p      polynomial degree, 0 <= p <= kMaxDegree
//   n      in FindSpan: index of the last basis function (n + 1 = m - p functions);
//          in the ders functions: the highest derivative order wanted
//   i      knot span with U[i] <= u < U[i+1] and p <= i <= n (FindSpan's result); the functions
//          that do not vanish on it are N[i-p..i], addressed by local index r = 0..p
//   u      parametric coordinate
//   N      basis vector, N[r] = N_{i-p+r,p}(u)
//   ders   derivative table: array of row addresses, ders[k][r] = d^k/du^k N_{i-p+r,p}(u)
#ifndef NURBS_KERNEL_NURBS_H_
#define NURBS_KERNEL_NURBS_H_

#include <cstddef>

// Largest degree the kernel accepts. Scratch is sized for it, and every falling factorial
// p!/(p-k)! that scales the derivatives is then below 2^53, so it is exact in a double and equal
// to the integer product.
constexpr int kMaxDegree = 18;

// The most stack scratch a function here declares, at kMaxDegree: dersBasisFuns' table of
// (p + 1)^2 doubles with its four rows of p + 1 (left, right, two of coefficients), 3.5 kB.
constexpr std::size_t kKernelStackBytes = (kMaxDegree + 1) * (kMaxDegree + 1 + 4) * sizeof(double);

// Span i with U[i] <= u < U[i+1] and p <= i <= n (Algorithm A2.1). A point at or beyond U[n+1]
// gets n, one at or below U[p] gets p, so the ends of the domain belong to the first and last
// non-empty spans. A point on an interior knot belongs to the span that starts there; on a
// repeated knot, to the span that starts at its last copy. A NaN point gets the first bisection
// midpoint (p + n + 1) / 2. Reads U[p..n+1] and always returns a span in p..n; knots out of
// order can make it stop at a span whose interval does not hold u, never make it loop forever.
int FindSpan(int n, int p, double u, const double* U);

// N[0..p] = N_{i-p..i,p}(u), by the triangular Cox-de Boor recurrence (Algorithm A2.2). Reads
// U[i-p+1..i+p]. Divisors are not tested: an empty span gives infinities or NaN.
void BasisFuns(int i, double u, int p, const double* U, double* N);

// ders[k][0..p] = k-th derivatives of N_{i-p..i,p} at u for k = 0..n (Algorithm A2.3); row 0
// equals BasisFuns' result. Any n >= 0 is allowed: rows above p are exactly 0.0, and row k does
// not depend on n. ders needs n + 1 rows of p + 1 doubles.
void dersBasisFuns(int i, double u, int p, int n, const double* U, double** ders);

// N_{i,p}(u) of one function by global index, 0 <= i <= m - p - 1, m the index of the last knot
// (Algorithm A2.4). 0.0 outside the support [U[i], U[i+p+1]), except that the first function is
// 1.0 at u = U[0] and the last one 1.0 at u = U[m]. Divides only by non-empty knot intervals.
double OneBasisFun(int p, int m, const double* U, int i, double u);

// ders[0..n] = derivatives of N_{i,p} at u, order 0..n (Algorithm A2.5). All zero when u is
// outside [U[i], U[i+p+1]), also at u = U[m]. Orders above p are 0.0. m is not read.
void dersOneBasisFuns(int p, int m, const double* U, int i, double u, int n, double* ders);

// A table of rows x cols doubles addressed as table[row][col], in one heap block; contents not
// initialised. nullptr if the allocation fails. Release with free2Darray.
double** init2DArray(int rows, int cols);
void free2Darray(double** table, int rows);

#endif  // NURBS_KERNEL_NURBS_H_
