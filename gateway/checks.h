// What every gateway's checks share, whatever its table of faults: raising a fault in the host's
// convention, and finding the first fault in a knot vector's order.
#ifndef NURBS_GATEWAY_CHECKS_H_
#define NURBS_GATEWAY_CHECKS_H_

#include <cstdarg>
#include <cstddef>

namespace gateway {

// Raises the host error "<who><suffix>:<mnemonic>" with a one-sentence message. Only stack
// buffers are live here: the host may leave by a non-local jump.
[[noreturn]] void RaiseV(const char* who, const char* suffix, const char* mnemonic,
                         const char* format, va_list args);

// Raises "<who>:<mnemonic>": RaiseV without a suffix.
[[noreturn]] void Fail(const char* who, const char* mnemonic, const char* format, ...);

// Whether v is a whole number in [lo, hi].
bool Whole(double v, double lo, double hi);

// Whether U[first..last] is non-decreasing and free of NaN.
bool Ordered(const double* U, int first, int last);

// The first fault in the order of U[first..last]: the 0-based position k of the later knot of
// the first pair U[k-1] > U[k] or holding a NaN, and whether a NaN (then `nan` is its position);
// -1 where there is none.
struct OrderFault {
  int k;
  bool isNaN;
  int nan;
};
OrderFault FirstOrderFault(const double* U, int first, int last);

// The largest number of elements an output may hold in this host: MATLAB's interface we build
// against passes dimensions as int; Octave's are 64-bit.
std::size_t MaxOutputElements();

// Advises the 2 MB-aligned interior of a large output that nothing has touched yet onto
// transparent huge pages (Linux; nothing elsewhere, or where the kernel declines): the first
// touch then faults in 2 MB at a time instead of 4 KB.
void AdviseHugePages(void* data, std::size_t bytes);

// Whether the system gives a block of `bytes` now: mapped (committed, on Windows) and unmapped at
// once, nothing touched and no heap of the caller's; true where there is no such call to ask.
// Refused under a limit on the address space (ulimit -v) or beyond memory and swap.
bool SystemGives(std::size_t bytes);

}  // namespace gateway

#endif  // NURBS_GATEWAY_CHECKS_H_
