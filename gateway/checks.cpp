#include "checks.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "mex_api.h"

#if defined(_WIN32)
#include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace gateway {

void RaiseV(const char* who, const char* suffix, const char* mnemonic, const char* format,
            va_list args) {
  char id[96];
  std::snprintf(id, sizeof id, "%s%s:%s", who, suffix, mnemonic);
  char message[512];
  std::vsnprintf(message, sizeof message, format, args);
  mexErrMsgIdAndTxt(id, "%s", message);
  std::abort();  // a host's error call never returns
}

void Fail(const char* who, const char* mnemonic, const char* format, ...) {
  va_list args;
  va_start(args, format);
  RaiseV(who, "", mnemonic, format, args);
}

bool Whole(double v, double lo, double hi) { return v >= lo && v <= hi && v == std::trunc(v); }

// The common case answered without a branch per knot, two pairs at a time where SSE2 is there
// (every x86-64).
bool Ordered(const double* U, int first, int last) {
  int k = first + 1;
  int unordered = 0;
#if defined(__SSE2__)
  __m128d any = _mm_setzero_pd();
  for (; k + 1 <= last; k += 2) {
    any = _mm_or_pd(any, _mm_cmpnle_pd(_mm_loadu_pd(U + k - 1), _mm_loadu_pd(U + k)));
  }
  unordered = _mm_movemask_pd(any);
#endif
  for (; k <= last; ++k) unordered |= !(U[k - 1] <= U[k]);
  return unordered == 0;
}

OrderFault FirstOrderFault(const double* U, int first, int last) {
  for (int k = first + 1; k <= last; ++k) {
    if (!(U[k - 1] <= U[k])) {
      const bool isNaN = std::isnan(U[k - 1]) || std::isnan(U[k]);
      return {k, isNaN, std::isnan(U[k - 1]) ? k - 1 : k};
    }
  }
  return {-1, false, -1};
}

std::size_t MaxOutputElements() {
#if defined(NURBS_HOST_OCTAVE) || defined(NURBS_HOST_OCT)
  return PTRDIFF_MAX / sizeof(double);
#else
  return INT_MAX;
#endif
}

void AdviseHugePages(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  if (data == nullptr || bytes < 2 * kHuge) return;
  const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

bool SystemGives(std::size_t bytes) {
#if defined(_WIN32)
  void* block = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (block == nullptr) return false;
  VirtualFree(block, 0, MEM_RELEASE);
  return true;
#elif defined(__unix__) || defined(__APPLE__)
  void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return false;
  munmap(block, bytes);
  return true;
#else
  (void)bytes;
  return true;
#endif
}

}  // namespace gateway
