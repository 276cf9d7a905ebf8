// Loads a plug-in by file name and calls it the way MATLAB does: max(nlhs, 1) output slots,
// errors caught at the call's frame, arrays created but not stored freed by the host.
#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "standin.h"
#include "standin_internal.h"

namespace standin {
namespace {

// Marks the slots past the ones a plug-in is given; it must never touch them.
mxArray* const kGuard = reinterpret_cast<mxArray*>(static_cast<uintptr_t>(0xdeadbeefUL));
constexpr int kGuardSlots = 8;

}  // namespace

#if defined(_WIN32)
Plugin::Plugin(const std::string& path) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    throw std::runtime_error("cannot load " + path + ": error " + std::to_string(GetLastError()));
  }
  handle_ = module;
  entry_ = reinterpret_cast<void (*)(int, mxArray**, int, const mxArray**)>(
      reinterpret_cast<void*>(GetProcAddress(module, "mexFunction")));
  if (entry_ == nullptr) {
    FreeLibrary(module);
    throw std::runtime_error(path + " has no mexFunction");
  }
}

Plugin::~Plugin() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}
#else
Plugin::Plugin(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) throw std::runtime_error("cannot load " + path + ": " + dlerror());
  entry_ = reinterpret_cast<void (*)(int, mxArray**, int, const mxArray**)>(
      dlsym(handle_, "mexFunction"));
  if (entry_ == nullptr) {
    dlclose(handle_);
    throw std::runtime_error(path + " has no mexFunction");
  }
}

Plugin::~Plugin() {
  if (handle_ != nullptr) dlclose(handle_);
}
#endif

Result Plugin::Call(int nlhs, const std::vector<const mxArray*>& inputs) const {
  const int slots = std::max(nlhs, 1);
  std::vector<mxArray*> plhs(slots + kGuardSlots, kGuard);
  std::fill_n(plhs.begin(), slots, nullptr);
  std::vector<const mxArray*> prhs(inputs);  // the plug-in gets its own array of handles

  std::vector<mxArray*> created;
  char id[256] = "";
  char message[2048] = "";
  TrackCreated(&created);
  const int failed = standinRunMex(entry_, nlhs, plhs.data(), static_cast<int>(prhs.size()),
                                   prhs.data(), id, sizeof id, message, sizeof message);
  TrackCreated(nullptr);

  Result result;
  result.failed = failed != 0;
  result.id = id;
  result.message = message;
  result.overrun =
      std::any_of(plhs.begin() + slots, plhs.end(), [](mxArray* a) { return a != kGuard; });
  if (result.failed) std::fill_n(plhs.begin(), slots, nullptr);  // a failed call returns nothing
  for (mxArray* a : created) {
    if (std::find(plhs.begin(), plhs.begin() + slots, a) == plhs.begin() + slots) {
      ++result.dropped;
      mxDestroyArray(a);
    }
  }
  for (int k = 0; k < slots; ++k) {
    const bool own = std::find(created.begin(), created.end(), plhs[k]) != created.end();
    if (plhs[k] != nullptr && !own) result.foreign = true;
    result.outputs.emplace_back(own ? plhs[k] : nullptr);
  }
  return result;
}

}  // namespace standin
