// The platform's own threads, as a batch needs them: started with a stack of a chosen size, a
// failure to start reported by a return value (no exception crosses a host's frames), joined.
// POSIX threads, or Windows threads; no C++ runtime, no OpenMP.
#ifndef NURBS_EVALUATORS_THREADS_H_
#define NURBS_EVALUATORS_THREADS_H_

#include <atomic>
#include <cstddef>

namespace evaluators {

struct Thread {
  void (*run)(void*);
  void* arg;
  void* handle;  // the platform's
  bool started;
  std::atomic<bool> finished;  // set when run returns, for a join that polls while it waits
};

// Starts run(arg) on a new thread with at least stackBytes of stack; false if none could be had.
bool Start(Thread* thread, void (*run)(void*), void* arg, std::size_t stackBytes);
// Waits for the thread's end; where a call is interruptible, polls the host while it waits.
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

// A long call's interrupt. A host binding that can stop a call (Octave's own, whose user may
// press Ctrl-C) installs its poll for the length of the call, on the calling thread; nothing is
// installed through the MEX interface. Long loops ask Stopping() between units of work (an
// element, a block of points) on any thread: on the calling thread it asks the host too, and
// once the host says so it is true everywhere until the call ends. The calling thread also
// polls while it waits for the others (Join, Shares). A stopped call's outputs are incomplete:
// the caller frees what it holds, discards them and tells the host (Interrupted()).
//
// One call at a time per process can be interruptible: a host that calls from several threads
// at once installs no poll.
using Poll = bool (*)();
void BeginInterruptible(Poll poll);
void EndInterruptible();
bool Stopping();
bool Interrupted();  // whether the current call has been stopped

}  // namespace evaluators

#endif  // NURBS_EVALUATORS_THREADS_H_
