// Environment variables the plug-ins read, set by tests for the calls that follow.
#ifndef NURBS_TESTS_SUPPORT_ENVIRONMENT_H_
#define NURBS_TESTS_SUPPORT_ENVIRONMENT_H_

#include <cstdlib>

// name=value for the calls that follow; a nullptr value unsets it.
inline void SetEnvironment(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value ? value : "");
#else
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

// NURBS_NUM_THREADS: the threads a call may start; nullptr leaves the hardware's.
inline void SetThreads(const char* count) { SetEnvironment("NURBS_NUM_THREADS", count); }

// NURBS_SIMD: the lanes a batch runs in ("sse2", "scalar"); nullptr leaves the processor's
// widest.
inline void SetSimd(const char* simd) { SetEnvironment("NURBS_SIMD", simd); }

#endif  // NURBS_TESTS_SUPPORT_ENVIRONMENT_H_
