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

}  // namespace evaluators

#endif  // NURBS_EVALUATORS_THREADS_H_
