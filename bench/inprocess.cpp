// Time per call of every plug-in through the stand-in host, at degrees 1, 2, 3 and 5 and with 8,
// 64 and 1024 basis functions per direction (volumes up to 64: their weights grow with the cube),
// and the heap blocks the plug-in itself allocates per call (the host's, for the outputs, are
// not counted). Each call is what a host does: mexFunction, then the outputs released.
//   bench_inprocess [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "standin.h"
#include "standin_internal.h"

// Every malloc in the process passes here; those made by plug-in code (not inside a host
// operation) while a call runs are counted.
namespace {
std::atomic<long> pluginAllocations{0};
thread_local bool inCall = false;
}  // namespace

extern "C" void* __libc_malloc(size_t);
extern "C" void* malloc(size_t size) {
  if (inCall && !standin::InHost()) ++pluginAllocations;
  return __libc_malloc(size);
}

namespace {

using standin::Array;

struct Plugin {
  const char* name;
  int directions;
  bool field;  // takes control values before the weights
  bool spans;  // takes the spans after the weights
  bool weights;
  bool index;  // RatSingleShape
};

const Plugin kPlugins[] = {
    {"RatCurveShapeGrad", 1, false, false, true, false},
    {"RatCurveShapeHess", 1, false, false, true, false},
    {"RatCurveEval", 1, true, false, true, false},
    {"RatCurveEvalD2", 1, true, false, true, false},
    {"RatSingleShape", 1, false, false, true, true},
    {"RatSurfShapeGrad", 2, false, false, true, false},
    {"RatSurfGradOnly", 2, false, false, true, false},
    {"RatSurfShapeGradAtSpan", 2, false, true, true, false},
    {"PolySurfShapeGrad", 2, false, false, false, false},
    {"RatSurfShapeHess", 2, false, false, true, false},
    {"RatVolShapeGrad", 3, false, false, true, false},
    {"RatVolShapeGradAtSpan", 3, false, true, true, false},
};

using Entry = void (*)(int, mxArray**, int, const mxArray**);

Entry Load(const char* name) {
  const std::string path = std::string(NURBS_TOOLBOX_DIR) + "/" + name + standin::kMexSuffix;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) std::abort();
  return reinterpret_cast<Entry>(dlsym(handle, "mexFunction"));
}

// Uniform clamped knots for degree p and n functions, a point in the middle of the range.
void Run(benchmark::State& state, const Plugin& plugin) {
  const int p = static_cast<int>(state.range(0));
  const int n = static_cast<int>(state.range(1));
  const Entry entry = Load(plugin.name);
  std::vector<double> U(p, 0.0);
  for (int k = 0; k <= n - p; ++k) U.push_back(static_cast<double>(k) / (n - p));
  U.insert(U.end(), p, 1.0);
  size_t controls = 1;
  for (int d = 0; d < plugin.directions; ++d) controls *= n;
  const double x = 0.4321;
  const int span = p + static_cast<int>(x * (n - p));

  std::vector<Array> args;
  if (plugin.index) args.push_back(standin::Scalar(span - p + 1));
  if (plugin.index) {
    args.push_back(standin::Scalar(p));
    args.push_back(standin::Scalar(x));
  } else {
    args.push_back(standin::Row(std::vector<double>(plugin.directions, x)));
    for (int d = 0; d < plugin.directions; ++d) args.push_back(standin::Scalar(p));
  }
  for (int d = 0; d < plugin.directions; ++d) args.push_back(standin::Row(U));
  std::vector<double> w(controls);
  for (size_t k = 0; k < controls; ++k) w[k] = 1.0 + 0.5 * std::sin(static_cast<double>(k));
  if (plugin.field) args.push_back(standin::Row(w));
  if (plugin.weights) args.push_back(standin::Row(w));
  if (plugin.spans) args.push_back(standin::Row(std::vector<double>(plugin.directions, span)));
  std::vector<const mxArray*> prhs;
  for (const Array& a : args) prhs.push_back(a.get());

  mxArray* plhs[6] = {};
  char id[128], message[512];
  const int nlhs = 2;
  long calls = 0;
  pluginAllocations = 0;
  for (auto _ : state) {
    inCall = true;
    const int failed = standinRunMex(entry, nlhs, plhs, static_cast<int>(prhs.size()), prhs.data(),
                                     id, sizeof id, message, sizeof message);
    inCall = false;
    if (failed) {
      state.SkipWithError(message);
      break;
    }
    for (mxArray*& out : plhs) {
      mxDestroyArray(out);
      out = nullptr;
    }
    ++calls;
  }
  state.counters["allocs/call"] = calls ? static_cast<double>(pluginAllocations) / calls : 0;
  state.counters["functions"] = n;
}

int Register() {
  for (const Plugin& plugin : kPlugins) {
    auto* b = benchmark::RegisterBenchmark(plugin.name, Run, plugin);
    for (int p : {1, 2, 3, 5}) {
      for (int n : {8, 64, 1024}) {
        if (plugin.directions == 3 && n > 64) continue;
        b->Args({p, n});
      }
    }
    b->ArgNames({"p", "n"});
  }
  return 0;
}
const int registered = Register();

}  // namespace

BENCHMARK_MAIN();
