#include "basis.h"
#include "evaluators.h"

namespace evaluators {
namespace {

// Spans hint..top (top = hint + kWindow - 1, or n if that is less) tried before the search: the
// next few spans of sorted points, such as a plot's or a mesh's. Only where the search takes more
// than five steps: below that, trying them costs sorted points as much as it saves (measured),
// and other points up to 5% for nothing.
constexpr int kWindow = 4;
constexpr int kHintedSpans = 32;
// Groups that search without trying the window after it missed: points in no order pay for a try
// once in that many groups.
constexpr int kSkipAfterMiss = 8;

// FindSpan's span, found without a branch that depends on the point: the last k in p..n with
// U[k] <= u, which is the span FindSpan's bisection reaches for ordered knots (the call's are),
// then FindSpan's answers for the ends and for NaN (its first midpoint), in its order. A bisection
// whose direction the processor cannot guess costs it a mispredicted branch a step; here a step is
// a conditional move, and kCount points' searches run side by side.
//
// With a hint (p <= span[d] <= n), many spans and no skip, each point first takes the last k in
// span[d]..top with U[k] <= u, which is that same k where U[span[d]] <= u and top is n or
// u < U[top + 1]; only when one of the points fails that does the group search. span[d] becomes
// the last point's span.
template <int kCount>
void Spans(const Call& call, const double* x, Site* sites, SpanHint* hint) {
  const int dirs = call.directions;
  for (int d = 0; d < dirs; ++d) {
    const Axis& a = call.axis[d];
    const int n = a.n - 1, p = a.p;
    const double* U = a.U;
    double u[kCount];
    int s[kCount];
    for (int l = 0; l < kCount; ++l) u[l] = Clamp(a, x[l * dirs + d]);
    int near = 0;
    const bool hinted = hint != nullptr && n + 1 - p > kHintedSpans;
    if (hinted && hint->skip[d] > 0) --hint->skip[d];
    if (hinted && hint->skip[d] == 0) {
      const int h = hint->span[d];
      const int top = h + kWindow - 1 < n ? h + kWindow - 1 : n;
      const double below = U[h], above = U[top + 1];
      const int last = top == n;
      near = 1;
      for (int l = 0; l < kCount; ++l) near &= (below <= u[l]) & ((u[l] < above) | last);
      if (!near) {
        hint->skip[d] = kSkipAfterMiss;
      } else {
        // The knots do not decrease, so the k after h with U[k] <= u come first: their count.
        for (int l = 0; l < kCount; ++l) {
          s[l] = h;
          for (int k = 1; k < kWindow; ++k) {
            const int at = h + k <= top ? h + k : top;
            s[l] += (h + k <= top) & (U[at] <= u[l]);
          }
        }
      }
    }
    if (!near) {
      for (int l = 0; l < kCount; ++l) s[l] = p;
      for (int len = n + 1 - p; len > 1;) {
        const int half = len / 2;
        for (int l = 0; l < kCount; ++l) s[l] = U[s[l] + half] <= u[l] ? s[l] + half : s[l];
        len -= half;
      }
    }
    for (int l = 0; l < kCount; ++l) {
      s[l] = u[l] != u[l] ? p + (n + 1 - p) / 2 : s[l];
      s[l] = u[l] <= U[p] ? p : s[l];
      s[l] = u[l] >= U[n + 1] ? n : s[l];
      sites[l].u[d] = u[l];
      sites[l].s[d] = s[l];
    }
    if (hint != nullptr) hint->span[d] = s[kCount - 1];
  }
}

}  // namespace

Site Locate(const Call& call, const double* x) {
  Site site;
  Spans<1>(call, x, &site, nullptr);
  return site;
}

void LocateMany(const Call& call, const double* x, int count, Site* sites, SpanHint* hint) {
  switch (count) {
    case 4:
      Spans<4>(call, x, sites, hint);
      break;
    case 2:
      Spans<2>(call, x, sites, hint);
      break;
    default:
      for (int l = 0; l < count; ++l) {
        Spans<1>(call, x + l * call.directions, sites + l, hint);
      }
  }
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
