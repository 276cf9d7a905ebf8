#include "NURBS.h"

#include <cassert>
#include <cstdlib>

// Scratch lives on the stack, sized for kMaxDegree and at most kKernelStackBytes a function (the
// caller's stack may be small): one call of a plug-in must not touch the heap beyond its outputs.
// The arithmetic is the books' recurrences term for term; the order of every sum and the grouping
// of every product are part of the results and must not be "simplified".

namespace {
constexpr int kMaxHalvings = 64;
}  // namespace

int FindSpan(int n, int p, double u, const double* U) {
  if (u >= U[n + 1]) return n;
  if (u <= U[p]) return p;
  int low = p;
  int high = n + 1;
  int mid = low + (high - low) / 2;  // (low + high) / 2 without overflow
  // Ordered knots end the search within 32 halvings of an int range; only knots out of order
  // can stall it, and then it stops with a span whose interval does not hold u.
  for (int halvings = 0; (u < U[mid] || u >= U[mid + 1]) && halvings < kMaxHalvings; ++halvings) {
    if (u < U[mid]) {
      high = mid;
    } else {
      low = mid;
    }
    mid = low + (high - low) / 2;
  }
  return mid;
}

void BasisFuns(int i, double u, int p, const double* U, double* N) {
  assert(p >= 0 && p <= kMaxDegree);
  double left[kMaxDegree + 1];
  double right[kMaxDegree + 1];
  N[0] = 1.0;
  for (int j = 1; j <= p; ++j) {
    left[j] = u - U[i + 1 - j];
    right[j] = U[i + j] - u;
    double saved = 0.0;
    for (int r = 0; r < j; ++r) {
      const double temp = N[r] / (right[r + 1] + left[j - r]);
      N[r] = saved + right[r + 1] * temp;
      saved = left[j - r] * temp;
    }
    N[j] = saved;
  }
}

void dersBasisFuns(int i, double u, int p, int n, const double* U, double** ders) {
  assert(p >= 0 && p <= kMaxDegree && n >= 0);
  double left[kMaxDegree + 1];
  double right[kMaxDegree + 1];
  // ndu[r][j], r <= j: N_{i-j+r,j}(u); ndu[j][r], r < j: the knot difference dividing at degree j.
  double ndu[kMaxDegree + 1][kMaxDegree + 1];
  double a[2][kMaxDegree + 1];  // previous and current row of derivative coefficients

  ndu[0][0] = 1.0;
  for (int j = 1; j <= p; ++j) {
    left[j] = u - U[i + 1 - j];
    right[j] = U[i + j] - u;
    double saved = 0.0;
    for (int r = 0; r < j; ++r) {
      ndu[j][r] = right[r + 1] + left[j - r];
      const double temp = ndu[r][j - 1] / ndu[j][r];
      ndu[r][j] = saved + right[r + 1] * temp;
      saved = left[j - r] * temp;
    }
    ndu[j][j] = saved;
  }
  for (int r = 0; r <= p; ++r) ders[0][r] = ndu[r][p];

  // Orders above p have no terms at all, and their factorial factor is 0: they are 0.0.
  const int top = n < p ? n : p;
  for (int k = p + 1; k <= n; ++k) {
    for (int r = 0; r <= p; ++r) ders[k][r] = 0.0;
  }

  for (int r = 0; r <= p; ++r) {
    int s1 = 0;
    int s2 = 1;
    a[0][0] = 1.0;
    for (int k = 1; k <= top; ++k) {
      double d = 0.0;
      const int rk = r - k;
      const int pk = p - k;
      if (r >= k) {
        a[s2][0] = a[s1][0] / ndu[pk + 1][rk];
        d = a[s2][0] * ndu[rk][pk];
      }
      const int j1 = rk >= -1 ? 1 : -rk;
      const int j2 = r - 1 <= pk ? k - 1 : p - r;
      for (int j = j1; j <= j2; ++j) {
        a[s2][j] = (a[s1][j] - a[s1][j - 1]) / ndu[pk + 1][rk + j];
        d = d + a[s2][j] * ndu[rk + j][pk];
      }
      if (r <= pk) {
        a[s2][k] = -a[s1][k - 1] / ndu[pk + 1][r];
        d = d + a[s2][k] * ndu[r][pk];
      }
      ders[k][r] = d;
      const int swap = s1;
      s1 = s2;
      s2 = swap;
    }
  }

  // Row k times p!/(p-k)!. Held in a double: exact for every degree up to kMaxDegree, and free of
  // the overflow an int would meet from p = 13 on.
  double f = p;
  for (int k = 1; k <= top; ++k) {
    for (int r = 0; r <= p; ++r) ders[k][r] *= f;
    f *= p - k;
  }
}

double OneBasisFun(int p, int m, const double* U, int i, double u) {
  assert(p >= 0 && p <= kMaxDegree);
  if ((i == 0 && u == U[0]) || (i == m - p - 1 && u == U[m])) return 1.0;
  if (u < U[i] || u >= U[i + p + 1]) return 0.0;

  double N[kMaxDegree + 1];
  for (int j = 0; j <= p; ++j) N[j] = (u >= U[i + j] && u < U[i + j + 1]) ? 1.0 : 0.0;
  for (int k = 1; k <= p; ++k) {
    double saved = N[0] == 0.0 ? 0.0 : ((u - U[i]) * N[0]) / (U[i + k] - U[i]);
    for (int j = 0; j < p - k + 1; ++j) {
      const double Uleft = U[i + j + 1];
      const double Uright = U[i + j + k + 1];
      if (N[j + 1] == 0.0) {
        N[j] = saved;
        saved = 0.0;
      } else {
        const double temp = N[j + 1] / (Uright - Uleft);
        N[j] = saved + (Uright - u) * temp;
        saved = (u - Uleft) * temp;
      }
    }
  }
  return N[0];
}

// Nt is filled where j + k <= p, which is all that is read; GCC cannot see that.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
void dersOneBasisFuns(int p, int /*m*/, const double* U, int i, double u, int n, double* ders) {
  assert(p >= 0 && p <= kMaxDegree && n >= 0);
  if (u < U[i] || u >= U[i + p + 1]) {
    for (int k = 0; k <= n; ++k) ders[k] = 0.0;
    return;
  }

  double Nt[kMaxDegree + 1][kMaxDegree + 1];  // Nt[j][k] = N_{i+j,k}(u) for j + k <= p
  for (int j = 0; j <= p; ++j) Nt[j][0] = (u >= U[i + j] && u < U[i + j + 1]) ? 1.0 : 0.0;
  for (int k = 1; k <= p; ++k) {
    double saved = Nt[0][k - 1] == 0.0 ? 0.0 : (Nt[0][k - 1] * (u - U[i])) / (U[i + k] - U[i]);
    for (int j = 0; j < p - k + 1; ++j) {
      const double Uleft = U[i + j + 1];
      const double Uright = U[i + j + k + 1];
      if (Nt[j + 1][k - 1] == 0.0) {
        Nt[j][k] = saved;
        saved = 0.0;
      } else {
        const double temp = Nt[j + 1][k - 1] / (Uright - Uleft);
        Nt[j][k] = saved + (Uright - u) * temp;
        saved = (u - Uleft) * temp;
      }
    }
  }
  ders[0] = Nt[0][p];

  double step[kMaxDegree + 1];
  const int top = n < p ? n : p;
  for (int k = 1; k <= top; ++k) {
    for (int j = 0; j <= k; ++j) step[j] = Nt[j][p - k];
    for (int jj = 1; jj <= k; ++jj) {
      const int d = p - k + jj;  // degree reached in this pass
      double saved = step[0] == 0.0 ? 0.0 : step[0] / (U[i + d] - U[i]);
      for (int j = 0; j < k - jj + 1; ++j) {
        const double Uleft = U[i + j + 1];
        const double Uright = U[i + j + d + 1];
        if (step[j + 1] == 0.0) {
          step[j] = saved * d;
          saved = 0.0;
        } else {
          const double temp = step[j + 1] / (Uright - Uleft);
          step[j] = (saved - temp) * d;
          saved = temp;
        }
      }
    }
    ders[k] = step[0];
  }
  for (int k = top + 1; k <= n; ++k) ders[k] = 0.0;
}
#pragma GCC diagnostic pop

double** init2DArray(int rows, int cols) {
  // Row addresses first, then the rows: one block, so one free releases the table.
  const size_t head = static_cast<size_t>(rows) * sizeof(double*);
  const size_t body = static_cast<size_t>(rows) * static_cast<size_t>(cols) * sizeof(double);
  void* block = std::malloc(head + body);
  if (block == nullptr) return nullptr;
  double** table = static_cast<double**>(block);
  double* data = reinterpret_cast<double*>(static_cast<char*>(block) + head);
  for (int r = 0; r < rows; ++r) table[r] = data + static_cast<size_t>(r) * cols;
  return table;
}

void free2Darray(double** table, int /*rows*/) { std::free(table); }
