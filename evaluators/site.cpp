#include "basis.h"
#include "evaluators.h"

namespace evaluators {
namespace {

// FindSpan's span, found without a branch that depends on the point inside the domain: the last
// k in p..n with U[k] <= u, which is the span FindSpan's bisection reaches for ordered knots (the
// call's are). The ends and NaN (FindSpan's first midpoint) are settled first, as FindSpan does.
// A bisection whose direction the processor cannot guess costs it a mispredicted branch a step;
// here the step is a conditional move.
int Span(const Axis& a, double u) {
  const int n = a.n - 1, p = a.p;
  const double* U = a.U;
  if (u >= U[n + 1]) return n;
  if (u <= U[p]) return p;
  if (u != u) return p + (n + 1 - p) / 2;
  const double* base = U + p;  // U[p] < u
  for (int len = n + 1 - p; len > 1;) {
    const int half = len / 2;
    base = base[half] <= u ? base + half : base;
    len -= half;
  }
  return static_cast<int>(base - U);
}

}  // namespace

Site Locate(const Call& call, const double* x) {
  Site site;
  for (int d = 0; d < call.directions; ++d) {
    const Axis& a = call.axis[d];
    site.u[d] = Clamp(a, x[d]);
    site.s[d] = Span(a, site.u[d]);
  }
  return site;
}

Site LocateAt(const Call& call, const double* x, const double* spans) {
  Site site;
  for (int d = 0; d < call.directions; ++d) {
    site.u[d] = Clamp(call.axis[d], x[d]);
    site.s[d] = static_cast<int>(spans[d]);
  }
  return site;
}

int LocalFunctions(const Call& call) {
  int count = 1;
  for (int d = 0; d < call.directions; ++d) count *= call.axis[d].p + 1;
  return count;
}

void BasisIndices(const Call& call, const Site& site, double* at, std::ptrdiff_t stride) {
  const std::ptrdiff_t first = 1 + SpanOffset(call, site);
  int top[kMaxDirections] = {0, 0, 0};
  std::ptrdiff_t step[kMaxDirections] = {0, 0, 0};
  for (int d = 0; d < call.directions; ++d) {
    top[d] = call.axis[d].p;
    step[d] = call.stride[d];
  }
  std::ptrdiff_t e = 0;
  for (int i = 0; i <= top[2]; ++i) {
    for (int j = 0; j <= top[1]; ++j) {
      const std::ptrdiff_t row = first + j * step[1] + i * step[2];
      for (int k = 0; k <= top[0]; ++k, ++e) at[e * stride] = static_cast<double>(row + k);
    }
  }
}

}  // namespace evaluators
