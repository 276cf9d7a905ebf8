// Preloaded (LD_PRELOAD) into a host to make it one a plug-in meets in a locked-down process: every
// thread a plug-in starts is refused, as when a process limit is reached, and, while a test asks
// for it, every allocation a plug-in makes itself fails. A call is the plug-in's when the code
// that made it lies in a file named *.mex or *.mexa64; the host's own threads and allocations go
// through untouched. Linux with glibc only.
#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>

extern "C" void* __libc_malloc(std::size_t size);  // glibc's allocator under its own name

namespace {

std::atomic<long> refusedStarts{0};
std::atomic<long> refusedAllocations{0};
std::atomic<bool> refuseAllocations{false};

bool FromPlugin(const void* code) {
  Dl_info info;
  if (dladdr(code, &info) == 0 || info.dli_fname == nullptr) return false;
  const char* dot = std::strrchr(info.dli_fname, '.');
  return dot != nullptr && (std::strcmp(dot, ".mex") == 0 || std::strcmp(dot, ".mexa64") == 0);
}

using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

}  // namespace

extern "C" {

// Unversioned, so that it also answers the plug-ins' calls bound to pthread_create's first version.
__attribute__((visibility("default"))) int pthread_create(pthread_t* thread,
                                                          const pthread_attr_t* attr,
                                                          void* (*run)(void*), void* arg) {
  if (FromPlugin(__builtin_return_address(0))) {
    ++refusedStarts;
    return EAGAIN;
  }
  static const Create next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  return next(thread, attr, run, arg);
}

__attribute__((visibility("default"))) void* malloc(std::size_t size) {
  if (refuseAllocations.load(std::memory_order_relaxed) &&
      FromPlugin(__builtin_return_address(0))) {
    ++refusedAllocations;
    return nullptr;
  }
  return __libc_malloc(size);
}

// What a test reads and sets, through dlsym.
__attribute__((visibility("default"))) long nurbs_refused_starts() { return refusedStarts; }
__attribute__((visibility("default"))) long nurbs_refused_allocations() {
  return refusedAllocations;
}
__attribute__((visibility("default"))) void nurbs_refuse_allocations(bool refuse) {
  refuseAllocations = refuse;
}

}  // extern "C"
