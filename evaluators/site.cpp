#include "basis.h"
#include "evaluators.h"

namespace evaluators {

Site Locate(const Call& call, const double* x) {
  Site site;
  for (int d = 0; d < call.directions; ++d) {
    const Axis& a = call.axis[d];
    site.u[d] = Clamp(a, x[d]);
    site.s[d] = FindSpan(a.n - 1, a.p, site.u[d], a.U);
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
