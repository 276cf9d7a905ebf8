// libmex: the error calls. As in MATLAB they never return to the plug-in: they jump back to the
// frame that started the call, so nothing the plug-in allocated may still be live when it raises.
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "standin_internal.h"

namespace {

struct Pending {
  std::jmp_buf env;
  char* id;
  size_t idSize;
  char* message;
  size_t messageSize;
};

thread_local Pending* pending = nullptr;

[[noreturn]] void Raise(const char* id, const char* message) {
  if (pending == nullptr) {
    std::fprintf(stderr, "stand-in host: error raised outside a call: %s\n", message);
    std::abort();
  }
  std::snprintf(pending->id, pending->idSize, "%s", id);
  std::snprintf(pending->message, pending->messageSize, "%s", message);
  std::longjmp(pending->env, 1);
}

}  // namespace

extern "C" {

void mexErrMsgTxt(const char* message) { Raise("", message); }

void mexErrMsgIdAndTxt(const char* id, const char* format, ...) {
  char message[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  Raise(id, message);
}

int standinRunMex(void (*entry)(int, mxArray**, int, const mxArray**), int nlhs, mxArray** plhs,
                  int nrhs, const mxArray** prhs, char* id, size_t idSize, char* message,
                  size_t messageSize) {
  Pending here;
  here.id = id;
  here.idSize = idSize;
  here.message = message;
  here.messageSize = messageSize;
  Pending* volatile outer = pending;
  pending = &here;
  if (setjmp(here.env) != 0) {
    pending = outer;
    return 1;
  }
  entry(nlhs, plhs, nrhs, prhs);
  pending = outer;
  return 0;
}

}  // extern "C"
