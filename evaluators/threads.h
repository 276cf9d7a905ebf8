// The platform's own threads, as a batch needs them: started with a stack of a chosen size, a
// failure to start reported by a return value (no exception crosses a host's frames), joined.
// POSIX threads, or Windows threads; no C++ runtime, no OpenMP.
#ifndef NURBS_EVALUATORS_THREADS_H_
#define NURBS_EVALUATORS_THREADS_H_

#include <cstddef>

namespace evaluators {

struct Thread {
  void (*run)(void*);
  void* arg;
  void* handle;  // the platform's
  bool started;
};

// Starts run(arg) on a new thread with at least stackBytes of stack; false if none could be had.
bool Start(Thread* thread, void (*run)(void*), void* arg, std::size_t stackBytes);
void Join(Thread* thread);

// Hardware threads this process may run on (its CPU affinity where the platform tells it).
int HardwareThreads();

// share(context, t, begin, end) for t = 0..threads-1, [0, count) cut into `threads` contiguous
// shares in order, the first count % threads of them one longer. Share 0 runs on the calling
// thread, the others on threads of their own with stackBytes of stack, or on the calling thread
// where none can be started. Returns when every share is done.
using ShareFunction = void (*)(void* context, int t, std::size_t begin, std::size_t end);
void Shares(std::size_t count, int threads, std::size_t stackBytes, ShareFunction share,
            void* context);

}  // namespace evaluators

#endif  // NURBS_EVALUATORS_THREADS_H_
