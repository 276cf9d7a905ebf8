#include "threads.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>
#endif

// glibc 2.34 moved the thread functions from libpthread into libc under new versions. Bound to
// their first versions, which every glibc has (in libpthread before 2.34, which multithreaded
// hosts such as MATLAB and Octave have loaded), the plug-ins load on the older Linux systems a
// host still runs on. Sanitizers interpose the current versions, so their builds keep those.
#if defined(__linux__) && defined(__x86_64__) && defined(__GLIBC__) && !defined(NURBS_SANITIZED)
__asm__(".symver pthread_create,pthread_create@GLIBC_2.2.5");
__asm__(".symver pthread_join,pthread_join@GLIBC_2.2.5");
__asm__(".symver pthread_attr_getstacksize,pthread_attr_getstacksize@GLIBC_2.2.5");
__asm__(".symver pthread_attr_setstacksize,pthread_attr_setstacksize@GLIBC_2.2.5");
#endif

namespace evaluators {

namespace {

// The interruptible call: the host's poll, the thread that installed it, and whether it stopped.
Poll g_poll = nullptr;
std::atomic<bool> g_stopped{false};

#if defined(_WIN32)
DWORD g_caller = 0;
bool OnCaller() { return GetCurrentThreadId() == g_caller; }
void Nap() { Sleep(1); }
#else
pthread_t g_caller;
bool OnCaller() { return pthread_equal(pthread_self(), g_caller) != 0; }
void Nap() {
  const timespec ms{0, 1000 * 1000};
  nanosleep(&ms, nullptr);
}
#endif

void Finish(Thread* t) {
  t->run(t->arg);
  t->finished.store(true, std::memory_order_release);
}

}  // namespace

void BeginInterruptible(Poll poll) {
#if defined(_WIN32)
  g_caller = GetCurrentThreadId();
#else
  g_caller = pthread_self();
#endif
  g_stopped.store(false, std::memory_order_relaxed);
  g_poll = poll;
}

void EndInterruptible() {
  g_poll = nullptr;
  g_stopped.store(false, std::memory_order_relaxed);
}

bool Stopping() {
  if (g_stopped.load(std::memory_order_relaxed)) return true;
  if (g_poll == nullptr || !OnCaller() || !g_poll()) return false;
  g_stopped.store(true, std::memory_order_relaxed);
  return true;
}

bool Interrupted() { return g_stopped.load(std::memory_order_relaxed); }

#if defined(_WIN32)

namespace {
DWORD WINAPI Trampoline(LPVOID p) {
  Finish(static_cast<Thread*>(p));
  return 0;
}
}  // namespace

bool Start(Thread* t, void (*run)(void*), void* arg, std::size_t stackBytes) {
  t->run = run;
  t->arg = arg;
  t->finished.store(false, std::memory_order_relaxed);
  t->handle =
      CreateThread(nullptr, stackBytes, Trampoline, t, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  t->started = t->handle != nullptr;
  return t->started;
}

void Join(Thread* t) {
  if (!t->started) return;
  if (g_poll != nullptr && OnCaller()) {
    while (!t->finished.load(std::memory_order_acquire)) {
      Stopping();
      Nap();
    }
  }
  WaitForSingleObject(static_cast<HANDLE>(t->handle), INFINITE);
  CloseHandle(static_cast<HANDLE>(t->handle));
  t->started = false;
}

int HardwareThreads() {
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
    int count = 0;
    for (; process != 0; process &= process - 1) ++count;
    return count;
  }
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return static_cast<int>(info.dwNumberOfProcessors);
}

#else

namespace {
void* Trampoline(void* p) {
  Finish(static_cast<Thread*>(p));
  return nullptr;
}
}  // namespace

bool Start(Thread* t, void (*run)(void*), void* arg, std::size_t stackBytes) {
  t->run = run;
  t->arg = arg;
  t->started = false;
  t->finished.store(false, std::memory_order_relaxed);
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  std::size_t size = 0;
  if (pthread_attr_getstacksize(&attr, &size) == 0 && size < stackBytes) {
    const std::size_t page = 1 << 16;
    pthread_attr_setstacksize(&attr, (stackBytes + page - 1) / page * page);
  }
  pthread_t id;
  t->started = pthread_create(&id, &attr, Trampoline, t) == 0;
  pthread_attr_destroy(&attr);
  if (t->started) t->handle = reinterpret_cast<void*>(id);
  return t->started;
}

void Join(Thread* t) {
  if (!t->started) return;
  if (g_poll != nullptr && OnCaller()) {
    while (!t->finished.load(std::memory_order_acquire)) {
      Stopping();
      Nap();
    }
  }
  pthread_join(reinterpret_cast<pthread_t>(t->handle), nullptr);
  t->started = false;
}

int HardwareThreads() {
#if defined(__linux__)
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set);
#endif
  const long count = sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<int>(count) : 1;
}

#endif

namespace {

constexpr int kMaxShares = 64;

struct ShareTask {
  ShareFunction share;
  void* context;
  int t;
  std::size_t begin, end;
};

void RunShare(void* task) {
  const ShareTask* s = static_cast<const ShareTask*>(task);
  s->share(s->context, s->t, s->begin, s->end);
}

}  // namespace

void Shares(std::size_t count, int threads, std::size_t stackBytes, ShareFunction share,
            void* context) {
  if (threads > kMaxShares) threads = kMaxShares;
  if (threads < 1) threads = 1;
  const std::size_t T = static_cast<std::size_t>(threads);
  const auto First = [count, T](std::size_t t) {
    return (count / T) * t + (t < count % T ? t : count % T);
  };
  ShareTask tasks[kMaxShares];
  Thread workers[kMaxShares] = {};
  for (std::size_t t = 0; t < T; ++t) {
    tasks[t] = {share, context, static_cast<int>(t), First(t), First(t + 1)};
    if (t > 0 && !Start(&workers[t], RunShare, &tasks[t], stackBytes)) RunShare(&tasks[t]);
  }
  RunShare(&tasks[0]);
  for (std::size_t t = 1; t < T; ++t) Join(&workers[t]);
}

}  // namespace evaluators
