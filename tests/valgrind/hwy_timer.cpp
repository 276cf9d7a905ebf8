// Preloaded only when Octave runs under valgrind: libhwy (pulled in through Octave's image
// libraries) measures its timer at load with rdtscp, an instruction valgrind 3.19 cannot run, and
// the process dies of SIGILL before any test starts. This answers in its place.
#include <cstdint>

namespace hwy {
namespace platform {
uint64_t TimerResolution() { return 1; }
}  // namespace platform
}  // namespace hwy
