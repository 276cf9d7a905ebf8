// In process, three families of figures:
//   Call/<Name>     time per call of every one-point plug-in of the registry through the
//                   stand-in host, at degrees 1, 2, 3 and 5 with 8, 64 and 1024 basis functions
//                   per direction (volumes up to 64: their weights grow with the cube), and the
//                   heap blocks the plug-in itself allocates per call (the host's, for the
//                   outputs, are not counted). Each call is what a host does: mexFunction, then
//                   the outputs released. With NURBS_BASELINE=DIR every case is also timed on the
//                   plug-in of that toolbox, right after ours, so that both come from one run.
//   Twin/<Name>     the batch twins through the stand-in host at P points a call.
//   Floor/...       the stores of Evaluator/... alone: the same bytes in the same order.
//   Evaluator/...   the evaluator alone (no host: outputs made once, outside the timing) for a
//                   cubic curve, a bicubic surface and a triquadratic volume (gradients and
//                   Hessians, and the B-spline surface's gradient), 64 functions per
//                   direction, at P = 10 .. 10^6 points and 1 or 2 threads: the compute floor.
//   bench_inprocess [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "batch.h"
#include "cases.h"
#include "forms.h"
#include "mesh_case.h"
#include "mesh_gateway.h"
#include "registry.h"
#include "threads.h"
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

using gateway::Arg;
using gateway::Form;
using gateway::Signature;
using standin::Array;

using Entry = void (*)(int, mxArray**, int, const mxArray**);

Entry Load(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<Entry>(dlsym(handle, "mexFunction"));
}

// mexFunction over and over, the outputs released after each call, as a host does.
void Calls(benchmark::State& state, Entry entry, const std::vector<Array>& args, int nlhs,
           size_t points) {
  if (entry == nullptr) {
    state.SkipWithError("plug-in not found");
    return;
  }
  std::vector<const mxArray*> prhs;
  for (const Array& a : args) prhs.push_back(a.get());
  mxArray* plhs[8] = {};
  char id[128], message[512];
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
  state.SetItemsProcessed(static_cast<int64_t>(calls * points));
}

std::string Path(const std::string& dir, const Signature& sig, Form form) {
  return dir + "/" + sig.name + (form == Form::Batch ? "Batch" : "") + standin::kMexSuffix;
}

// The evaluator alone over P points, outputs made once: what the arithmetic costs. n functions
// per direction; the points in random order, or sorted (sorted = 1) as a mesh's or a plot's are.
void Evaluator(benchmark::State& state, const Signature* sig) {
  const int p = static_cast<int>(state.range(0));
  const size_t P = static_cast<size_t>(state.range(1));
  const int threads = static_cast<int>(state.range(2));
  const bool fresh = state.range(3) != 0;  // new outputs every call, as a host makes them
  const int n = static_cast<int>(state.range(4));
  const bool sorted = state.range(5) != 0;
  const int dirs = sig->evaluator->directions;
  const std::vector<Array> args = cases::Inputs(*sig, Form::Batch, p, n, P);
  evaluators::Call call{};
  call.directions = dirs;
  std::vector<double> xi;
  for (int a = 0, d = 0; a < sig->nargs; ++a) {
    const mxArray* arg = args[a].get();
    switch (sig->args[a].kind) {
      case Arg::Point:
        xi = standin::Values(arg);
        break;
      case Arg::Knots:
        call.axis[d] = {p, mxGetPr(arg), static_cast<int>(mxGetNumberOfElements(arg)), n};
        call.stride[d] = d == 0 ? 1 : call.stride[d - 1] * n;
        ++d;
        break;
      case Arg::Weights:
        call.weights = mxGetPr(arg);
        break;
      case Arg::ControlValues:
        call.values = mxGetPr(arg);
        break;
      case Arg::Index:
        call.index = static_cast<int>(*mxGetPr(arg)) - 1;
        break;
      default:
        break;
    }
  }
  if (sorted) {  // by the first coordinate, each point's coordinates kept together
    std::vector<std::vector<double>> points(P);
    for (size_t j = 0; j < P; ++j) points[j].assign(&xi[j * dirs], &xi[j * dirs] + dirs);
    std::sort(points.begin(), points.end());
    for (size_t j = 0; j < P; ++j) std::copy(points[j].begin(), points[j].end(), &xi[j * dirs]);
  }
  const size_t nen =
      sig->evaluator->rows ? static_cast<size_t>(evaluators::LocalFunctions(call)) : 1;
  std::vector<std::vector<double>> out(sig->noutputs + 1, std::vector<double>(P * nen));
  evaluators::Batch batch{};
  batch.call = &call;
  batch.evaluator = sig->evaluator;
  batch.xi = xi.data();
  batch.points = P;
  batch.outputs = sig->noutputs;
  for (int o = 0; o < sig->noutputs; ++o) {
    batch.slot[o] = sig->slot[o];
    batch.out[o] = out[o].data();
  }
  const bool idx = sig->evaluator->rows;
  batch.idx = idx ? out[sig->noutputs].data() : nullptr;
  for (auto _ : state) {
    std::vector<double*> made;
    if (fresh) {
      for (int o = 0; o < sig->noutputs + (idx ? 1 : 0); ++o) {
        made.push_back(static_cast<double*>(std::calloc(P * nen, sizeof(double))));
        if (o < sig->noutputs) batch.out[o] = made.back();
      }
      if (idx) batch.idx = made.back();
    }
    if (!evaluators::Run(batch, threads)) state.SkipWithError("no memory for the row buffer");
    benchmark::ClobberMemory();
    for (double* m : made) std::free(m);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * P));
  state.counters["threads"] = threads;
  state.counters["auto"] = evaluators::Threads(batch);
}

// The store floor of the evaluator's batch: the same bytes in the same order (four consecutive rows
// of every output, entry by entry, idx included where the outputs are rows), no arithmetic.
void StoreFloor(benchmark::State& state, const Signature* sig) {
  const int p = static_cast<int>(state.range(0));
  const size_t P = static_cast<size_t>(state.range(1));
  const bool rows = sig->evaluator->rows;
  size_t nen = 1;
  for (int d = 0; rows && d < sig->evaluator->directions; ++d) nen *= static_cast<size_t>(p + 1);
  std::vector<std::vector<double>> out(sig->noutputs + (rows ? 1 : 0),
                                       std::vector<double>(P * nen));
  const double four[4] = {0.25, 0.5, 0.75, 1.0};
  for (auto _ : state) {
    for (size_t j = 0; j + 4 <= P; j += 4) {
      for (auto& o : out) {
        for (size_t e = 0; e < nen; ++e) std::memcpy(o.data() + j + e * P, four, sizeof four);
      }
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * P));
}

// A mesh call's native work alone: reading its inputs, its scratch and every element into outputs
// made once (no host), on `threads` threads: the compute floor of MeshEval.
void MeshCompute(benchmark::State& state, bool volume) {
  const int p = static_cast<int>(state.range(0));
  const int N = static_cast<int>(state.range(1));
  const int threads = static_cast<int>(state.range(2));
  MeshCase c = AnnulusCase(p, N, volume);
  c.options[1] = static_cast<double>(state.range(3));  // Hessians
  const std::vector<Array> in = MeshInputs(c);
  std::vector<const mxArray*> handles;
  for (const Array& a : in) handles.push_back(a.get());
  gateway::MeshRequest rq = gateway::ReadMesh("MeshEval", handles.data());
  const mesh::Mesh& m = rq.mesh;
  const size_t nqn = mesh::Nodes(m), nsh = mesh::Functions(m), nel = m.count;
  const size_t d = m.d, r = m.rdim;
  std::vector<double> nodes(d * nqn * nel), weights(nqn * nel), x(r * nqn * nel),
      jac(r * d * nqn * nel), jacdet(nqn * nel), size(nel), conn(nsh * nel), R(nqn * nsh * nel),
      grad(r * nqn * nsh * nel), hess(m.wanted.hessian ? r * r * nqn * nsh * nel : 0);
  struct Share {
    const mesh::Mesh* mesh;
    const gateway::MeshMemory* memory;
    mesh::Fields base;
  } share{&m, nullptr, {nodes.data(), weights.data(), x.data(), jac.data(), jacdet.data(), nullptr,
                        size.data(), conn.data(), R.data(), grad.data(),
                        hess.empty() ? nullptr : hess.data(), nullptr}};
  gateway::MeshMemory memory(&rq, threads);
  share.memory = &memory;
  for (auto _ : state) {
    evaluators::Shares(
        nel, memory.threads(), 256 * 1024,
        [](void* context, int t, size_t begin, size_t end) {
          const Share* s = static_cast<const Share*>(context);
          mesh::EvaluateElements(*s->mesh, s->memory->scratch(t), s->base, begin, end);
        },
        &share);
    benchmark::ClobberMemory();
  }
  memory.Release();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * nel * nqn));
  state.counters["ns_per_point"] = benchmark::Counter(
      static_cast<double>(state.iterations() * nel * nqn),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  // The thread rule's estimate of one thread's time (mesh::ElementCost), per point.
  state.counters["estimate"] = mesh::ElementCost(m) / static_cast<double>(nqn);
}

// A form's native work alone: reading the mesh, the pattern, every element's matrix summed into
// it, the zeros dropped, into arrays made once (no host), on `threads` threads.
// The method: 0 element by element, 1 sum factorisation, 2 the output's floor (the pattern made
// and filled, the zeros dropped; no sums), 3 the forms' own choice.
void FormRun(benchmark::State& state, bool volume, forms::Kind kind, int p, int N, int threads,
             long method) {
  MeshCase c = AnnulusCase(p, N, volume);
  const std::vector<Array> in = MeshInputs(c);
  std::vector<const mxArray*> handles;
  for (const Array& a : in) handles.push_back(a.get());
  gateway::MeshRequest rq = gateway::ReadMesh("Form", handles.data());
  mesh::Mesh& m = rq.mesh;
  forms::Form form{};
  form.kind = kind;
  m.wanted = forms::Needs(kind);
  const double one = 1.0;
  form.c[0] = form.c[1] = {&one, 1, true};
  form.coefficients = kind == forms::Kind::Elasticity ? 2 : 1;
  form.method = method == 0 ? forms::Method::Elements
                : method == 1 ? forms::Method::SumFactorised
                              : forms::Method::Auto;
  const size_t n = forms::Unknowns(form, m);
  const size_t bound = forms::PatternBound(form, m);
  std::vector<size_t> jc(n + 1), ir(bound);
  std::vector<double> pr(bound);
  gateway::MeshMemory memory(&rq, threads, forms::ElementBytes(form, m),
                             forms::PatternBytes(m));
  std::vector<mesh::Scratch*> scratch;
  std::vector<void*> extra;
  for (int t = 0; t < memory.threads(); ++t) {
    scratch.push_back(memory.scratch(t));
    extra.push_back(memory.extra(t));
  }
  for (auto _ : state) {
    const size_t nnz = forms::Pattern(form, m, memory.callExtra(), jc.data(), ir.data());
    std::fill(pr.begin(), pr.begin() + static_cast<std::ptrdiff_t>(nnz), method == 2 ? 1.0 : 0.0);
    if (method != 2) {
      forms::Assemble(form, m, scratch.data(), extra.data(), memory.threads(), jc.data(),
                      ir.data(), pr.data());
    }
    forms::DropZeros(n, jc.data(), ir.data(), pr.data());
    benchmark::ClobberMemory();
  }
  memory.Release();
  const size_t points = m.count * static_cast<size_t>(mesh::Nodes(m));
  state.counters["ns_per_point"] = benchmark::Counter(
      static_cast<double>(state.iterations() * points),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["entries"] = static_cast<double>(jc[n]);
  // The thread rule's estimates of one thread's time (forms::ElementCost), per point: sum
  // factorisation's and the element path's; the forms take the lower.
  form.method = forms::Method::SumFactorised;
  const double elements = static_cast<double>(m.count);
  state.counters["sumfact_estimate"] =
      forms::ElementCost(form, m) * elements / static_cast<double>(points);
  form.method = forms::Method::Elements;
  state.counters["elements_estimate"] =
      forms::ElementCost(form, m) * elements / static_cast<double>(points);
}

void FormCompute(benchmark::State& state, bool volume, forms::Kind kind) {
  FormRun(state, volume, kind, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
          static_cast<int>(state.range(2)), 3);
}

void FormDegree(benchmark::State& state, bool volume, forms::Kind kind) {
  FormRun(state, volume, kind, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
          static_cast<int>(state.range(2)), state.range(3));
}

int Register() {
  const char* baseline = std::getenv("NURBS_BASELINE");
  for (const Signature* sig : registry::kAll) {
    const int dirs = sig->evaluator->directions;
    for (int p : {1, 2, 3, 5}) {
      for (int n : {8, 64, 1024}) {
        if (dirs == 3 && n > 64) continue;
        const std::string label = "/p:" + std::to_string(p) + "/n:" + std::to_string(n);
        const auto add = [=](const std::string& name, const std::string& dir) {
          benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
            const std::vector<Array> args = cases::Inputs(*sig, Form::Point, p, n, 1);
            Calls(state, Load(Path(dir, *sig, Form::Point)), args, 2, 1);
          });
        };
        add(std::string("Call/") + sig->name + label, NURBS_TOOLBOX_DIR);
        if (baseline) add(std::string("Baseline/") + sig->name + label, baseline);
      }
    }
  }
  for (const Signature* sig : registry::kAll) {
    for (size_t P : {1, 100, 10000}) {
      const std::string name =
          std::string("Twin/") + sig->name + "Batch/p:3/n:64/P:" + std::to_string(P);
      benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
        const int p = sig->evaluator->directions == 3 ? 2 : 3;
        const std::vector<Array> args = cases::Inputs(*sig, Form::Batch, p, 64, P);
        Calls(state, Load(Path(NURBS_TOOLBOX_DIR, *sig, Form::Batch)), args,
              gateway::OutputCount(*sig, Form::Batch), P);
      });
    }
  }
  const std::pair<const Signature*, int> kinds[] = {
      {&registry::kRatCurveShapeGrad, 3}, {&registry::kRatSurfShapeGrad, 3},
      {&registry::kRatVolShapeGrad, 2},   {&registry::kRatCurveShapeHess, 3},
      {&registry::kRatSurfShapeHess, 3},  {&registry::kPolySurfShapeGrad, 3},
      {&registry::kRatVolShapeHess, 2},   {&registry::kRatCurveEval, 3},
      {&registry::kRatCurveEvalD2, 3},    {&registry::kRatSingleShape, 3}};
  for (const auto& [sig, p] : kinds) {
    auto* b = benchmark::RegisterBenchmark((std::string("Evaluator/") + sig->name).c_str(),
                                           Evaluator, sig);
    for (int fresh : {0, 1}) {
      for (int threads : {1, 2}) {
        for (long P = 10; P <= 1000000; P *= 10) b->Args({p, P, threads, fresh, 64, 0});
      }
    }
    // The span search against the knot count, and the hint of sorted points.
    if (sig->evaluator->directions < 3) {
      for (int sorted : {0, 1}) {
        for (long n : {16, 1024}) b->Args({p, 10000, 1, 0, n, sorted});
      }
    }
    b->ArgNames({"p", "P", "threads", "fresh", "n", "sorted"})->UseRealTime();
    auto* floor = benchmark::RegisterBenchmark((std::string("Floor/") + sig->name).c_str(),
                                               StoreFloor, sig);
    for (long P = 10; P <= 1000000; P *= 10) floor->Args({p, P});
    floor->ArgNames({"p", "P"})->UseRealTime();
  }
  for (bool volume : {false, true}) {
    auto* b = benchmark::RegisterBenchmark(volume ? "Mesh/ring" : "Mesh/annulus", MeshCompute,
                                           volume);
    for (int N : volume ? std::vector<int>{8, 16, 32} : std::vector<int>{16, 64, 256}) {
      for (int hessian : {0, 1}) {
        for (int threads : {1, 2}) b->Args({volume ? 2 : 3, N, threads, hessian});
      }
    }
    b->ArgNames({"p", "N", "threads", "hessian"})->UseRealTime()->Unit(benchmark::kMillisecond);
  }
  const std::pair<const char*, forms::Kind> kForms[] = {{"stiffness", forms::Kind::Stiffness},
                                                        {"mass", forms::Kind::Mass},
                                                        {"elasticity", forms::Kind::Elasticity}};
  for (bool volume : {false, true}) {
    for (const auto& [name, kind] : kForms) {
      auto* b = benchmark::RegisterBenchmark(
          (std::string("Form/") + name + (volume ? "/ring" : "/annulus")).c_str(), FormCompute,
          volume, kind);
      for (int N : volume ? std::vector<int>{8, 16, 32} : std::vector<int>{16, 64, 256}) {
        for (int threads : {1, 2}) b->Args({volume ? 2 : 3, N, threads});
      }
      b->ArgNames({"p", "N", "threads"})->UseRealTime()->Unit(benchmark::kMillisecond);
    }
  }
  // The thick ring and the annulus by degree, C^(p-1), p + 1 Gauss nodes a direction: element
  // by element (on fewer elements at high degree: the figure is a point's), by sum
  // factorisation, and the output's floor; one thread and two.
  for (bool volume : {true, false}) {
    for (const auto& [name, kind] : kForms) {
      auto* b = benchmark::RegisterBenchmark(
          (std::string("Degree/") + name + (volume ? "/ring" : "/annulus")).c_str(), FormDegree,
          volume, kind);
      for (int p = 1; p <= 8; ++p) {
        const int N = volume ? 8 : 64;
        const int fewer = volume ? (p <= 5 ? 8 : p == 6 ? 4 : 2) : (p <= 5 ? 64 : 32);
        for (int threads : {1, 2}) {
          b->Args({p, fewer, threads, 0});
          for (long method : {1, 2}) b->Args({p, N, threads, method});
        }
      }
      b->ArgNames({"p", "N", "threads", "method"})->UseRealTime()->Unit(benchmark::kMillisecond);
    }
  }
  return 0;
}
const int registered = Register();

}  // namespace

BENCHMARK_MAIN();
