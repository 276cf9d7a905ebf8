// The plug-ins in a host that can start no thread for them, called on a small stack: every
// plug-in and twin at every degree up to 18 keeps within kCallerStackBytes of the calling thread's
// stack, its results unchanged; scratch beyond that comes from the heap, and a heap with none to
// give fails the call with its identifier, leaving nothing behind. Run with the faults library
// preloaded (support/plugin_faults.cpp), which refuses the plug-ins' threads and, on request,
// their allocations.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#else
#define VALGRIND_MAKE_MEM_DEFINED(address, size)
#endif

#include "arguments.h"
#include "evaluators.h"
#include "mesh_case.h"
#include "plugin_test.h"
#include "registry.h"

namespace {

using gateway::Arg;
using gateway::Form;
using gateway::Signature;
using standin::Array;

// The calling thread's stack: a quarter of the 1 MB a Windows thread has by default.
constexpr std::size_t kHostStack = 256 * 1024;
constexpr std::uint64_t kPaint = 0xa5a5a5a5a5a5a5a5ULL;

struct Job {
  const std::function<void()>* work;
  std::uintptr_t top;  // where the work's frames begin
};

void* RunJob(void* arg) {
  Job* job = static_cast<Job*>(arg);
  volatile char here = 0;
  job->top = reinterpret_cast<std::uintptr_t>(&here);
  (*job->work)();
  return nullptr;
}

// Runs work on a thread of kHostStack stack, painted first; the bytes of it the work reached.
std::size_t StackUsed(const std::function<void()>& work) {
  void* stack = std::aligned_alloc(4096, kHostStack);
  std::uint64_t* words = static_cast<std::uint64_t*>(stack);
  for (std::size_t k = 0; k < kHostStack / 8; ++k) words[k] = kPaint;
  Job job{&work, 0};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstack(&attr, stack, kHostStack);
  pthread_t id;
  const bool started = pthread_create(&id, &attr, RunJob, &job) == 0;
  pthread_attr_destroy(&attr);
  std::size_t used = kHostStack;
  if (started) {
    pthread_join(id, nullptr);
    VALGRIND_MAKE_MEM_DEFINED(stack, kHostStack);  // a finished thread's stack, read as data
    std::size_t k = 0;
    while (k < kHostStack / 8 && words[k] == kPaint) ++k;
    used = job.top - reinterpret_cast<std::uintptr_t>(words + k);
  }
  std::free(stack);
  EXPECT_TRUE(started);
  return used;
}

// The faults library's controls, where it was preloaded.
template <typename F>
F Control(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
}

// Degree p in every direction at P points, a few of them where the arithmetic is delicate.
Parts Case(const Signature& sig, int p, std::size_t P, std::mt19937& rng) {
  Parts parts;
  const int d = sig.evaluator->directions;
  int n[3] = {1, 1, 1};
  for (int k = 0; k < d; ++k) {
    parts.p[k] = p;
    n[k] = std::max(p + 1, sig.evaluator->minFunctions) + 1;
    parts.U[k] = RandomKnots(rng, p, n[k]);
  }
  parts.weights = RandomWeights(rng, n[0] * n[1] * n[2]);
  parts.values = RandomWeights(rng, n[0] * n[1] * n[2]);
  parts.index = n[0];
  parts.points = P;
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (std::size_t j = 0; j < P; ++j) {
    for (int k = 0; k < d; ++k) {
      parts.x.push_back(j == 1 ? 1.0 : j == 2 && k == 0 ? NAN : unit(rng));
      parts.spans.push_back(p + static_cast<double>(rng() % (n[k] - p)));
    }
  }
  return parts;
}

// Point j of the case alone, for the one-point plug-in.
Parts Point(const Signature& sig, const Parts& all, std::size_t j) {
  const std::size_t d = static_cast<std::size_t>(sig.evaluator->directions);
  Parts one = all;
  one.points = 1;
  one.x.assign(all.x.begin() + j * d, all.x.begin() + (j + 1) * d);
  one.spans.assign(all.spans.begin() + j * d, all.spans.begin() + (j + 1) * d);
  return one;
}

// Points enough that a twin at high degree asks for a second thread.
constexpr std::size_t kPoints = 48;

class CallerStack : public ::testing::TestWithParam<const Signature*> {
 protected:
  CallerStack()
      : sig_(*GetParam()),
        point_(PluginPath(sig_.name)),
        twin_(PluginPath(std::string(sig_.name) + "Batch")) {}

  void SetUp() override {
    ASSERT_NE(Control<long (*)()>("nurbs_refused_starts"), nullptr)
        << "run with LD_PRELOAD naming the plugin_faults library";
    live_ = standin::LiveArrays();
  }
  void TearDown() override { EXPECT_EQ(standin::LiveArrays(), live_) << "arrays left alive"; }

  // Calls on the small stack; checks the stack it took. A call that fails may leave the outputs
  // it made to the host, which frees them, as MATLAB and Octave do.
  standin::Result Call(const standin::Plugin& plugin, int nlhs, const std::vector<Array>& args,
                       const std::string& label) {
    std::vector<const mxArray*> in;
    for (const Array& a : args) in.push_back(a.get());
    standin::Result r;
    const std::size_t used = StackUsed([&] { r = plugin.Call(nlhs, in); });
    EXPECT_LE(used, evaluators::kCallerStackBytes) << label;
    EXPECT_FALSE(r.overrun || r.foreign) << label;
    if (!r.failed) EXPECT_EQ(r.dropped, 0) << label;
    return r;
  }

  const Signature& sig_;
  standin::Plugin point_;
  standin::Plugin twin_;
  long live_ = 0;
};

// Rows of the twin, at a point of each thread's share, against the one-point plug-in.
TEST_P(CallerStack, NoThreadsAndASmallStackChangeNoBit) {
  const auto refused = Control<long (*)()>("nurbs_refused_starts");
  const long before = refused();
  std::mt19937 rng(21);
  const int outputs = gateway::OutputCount(sig_, Form::Batch);
  for (int p = 0; p <= kMaxDegree; ++p) {
    const std::string label = std::string(sig_.name) + " at degree " + std::to_string(p);
    const Parts parts = Case(sig_, p, kPoints, rng);
    const standin::Result batch =
        Call(twin_, outputs, Arguments(sig_, Form::Batch, parts), label + ", twin");
    ASSERT_FALSE(batch.failed) << label << ": " << batch.message;
    for (std::size_t j : {std::size_t{0}, std::size_t{1}, std::size_t{2}, kPoints - 1}) {
      const standin::Result one =
          Call(point_, sig_.noutputs, Arguments(sig_, Form::Point, Point(sig_, parts, j)), label);
      ASSERT_FALSE(one.failed) << label << ": " << one.message;
      for (int o = 0; o < sig_.noutputs; ++o) {
        const std::vector<double> all = standin::Values(batch.outputs[o].get());
        const std::vector<double> expected = standin::Values(one.outputs[o].get());
        std::vector<double> row;
        for (std::size_t e = 0; e < expected.size(); ++e) row.push_back(all[j + e * kPoints]);
        EXPECT_EQ(Bits(row), Bits(expected)) << label << ", output " << o + 1 << ", row " << j;
      }
    }
  }
  // A high-degree volume has the work for a second thread wherever there are two processors.
  cpu_set_t set;
  if (sig_.evaluator->directions == 3 && sched_getaffinity(0, sizeof set, &set) == 0 &&
      CPU_COUNT(&set) > 1) {
    EXPECT_GT(refused(), before)
        << "no thread start was refused: the faults library is not at work";
  }
}

// With every allocation of the plug-ins refused, a call whose rows do not fit the caller's stack
// fails with outOfMemory and leaves nothing; every other call touches no heap and succeeds.
TEST_P(CallerStack, NoHeapIsOutOfMemoryOnlyWhereRowsExceedTheBound) {
  const auto refuse = Control<void (*)(bool)>("nurbs_refuse_allocations");
  const auto refusals = Control<long (*)()>("nurbs_refused_allocations");
  std::mt19937 rng(22);
  const int outputs = gateway::OutputCount(sig_, Form::Batch);
  int failures = 0;
  for (int p = 0; p <= kMaxDegree; ++p) {
    const std::string label = std::string(sig_.name) + " at degree " + std::to_string(p);
    const Parts parts = Case(sig_, p, kPoints, rng);
    const long before = refusals();
    refuse(true);
    const standin::Result batch =
        Call(twin_, outputs, Arguments(sig_, Form::Batch, parts), label + ", twin");
    const standin::Result one =
        Call(point_, sig_.noutputs, Arguments(sig_, Form::Point, Point(sig_, parts, 0)), label);
    refuse(false);
    EXPECT_FALSE(one.failed) << label << ": " << one.message;
    std::size_t entries = 1;
    for (int d = 0; d < sig_.evaluator->directions && sig_.evaluator->rows; ++d) entries *= p + 1;
    const std::size_t rowBytes = sig_.noutputs * entries * sizeof(double);
    if (rowBytes > evaluators::kCallerStackBytes - evaluators::kPointStackBytes) {
      ++failures;
      EXPECT_TRUE(batch.failed) << label;
      EXPECT_EQ(batch.id, std::string(sig_.name) + "Batch:outOfMemory") << batch.message;
      for (const Array& out : batch.outputs) EXPECT_EQ(out, nullptr);
    } else {
      EXPECT_FALSE(batch.failed) << label << ": " << batch.message;
      EXPECT_EQ(refusals(), before) << label << ": the plug-ins asked for heap";
    }
  }
  // Degree 18 in three directions: 6859 entries a row.
  EXPECT_EQ(failures > 0, sig_.evaluator->directions == 3) << sig_.name;
}

// NURBS_NUM_THREADS, read at every call, seen through the thread starts a call asks for: a
// positive whole number in decimal digits caps the count, unset or blank there is no cap, and
// anything else makes the call serial.
TEST(ThreadCap, OnlyAPositiveWholeNumberCapsAndAnythingElseIsSerial) {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0 || CPU_COUNT(&set) < 2) {
    GTEST_SKIP() << "one processor: no call asks for a second thread";
  }
  const auto refused = Control<long (*)()>("nurbs_refused_starts");
  ASSERT_NE(refused, nullptr) << "run with LD_PRELOAD naming the plugin_faults library";
  const standin::Plugin twin(PluginPath("RatVolShapeHessBatch"));
  std::mt19937 rng(23);
  // Degree 8 at 200 points: some 2 ms of work, enough for two threads or more, on the one-point
  // path (the lanes stop at degree 7), whose cost does not depend on the processor.
  const std::vector<Array> args = Arguments(registry::kRatVolShapeHess, Form::Batch,
                                            Case(registry::kRatVolShapeHess, 8, 200, rng));
  std::vector<const mxArray*> in;
  for (const Array& a : args) in.push_back(a.get());
  const long live = standin::LiveArrays();
  const auto asks = [&](const char* value) {
    if (value) {
      setenv("NURBS_NUM_THREADS", value, 1);
    } else {
      unsetenv("NURBS_NUM_THREADS");
    }
    const long before = refused();
    const standin::Result r = twin.Call(1, in);
    EXPECT_FALSE(r.failed) << r.message;
    return refused() > before;
  };
  for (const char* capped : {"2", " 2\t", "007", "64", "100000000000000000000000"}) {
    EXPECT_TRUE(asks(capped)) << "'" << capped << "'";
  }
  for (const char* none : {"", "  "}) EXPECT_TRUE(asks(none)) << "'" << none << "'";
  EXPECT_TRUE(asks(nullptr)) << "unset";
  for (const char* serial :
       {"1", " 1 ", "0", "00", "-1", "+2", "abc", "1e3", "3.5", "2x", "0x10", "2 2"}) {
    EXPECT_FALSE(asks(serial)) << "'" << serial << "'";
  }
  unsetenv("NURBS_NUM_THREADS");
  EXPECT_EQ(standin::LiveArrays(), live);
}

// The calls over a whole mesh in the same host: every core at degree 18 on a surface and degree
// 6 on a volume (Hessians and Laplacians, several elements, a side), with its threads refused,
// keeps within the bound and gives the bits it gives with threads; with every allocation of its
// own refused it fails with outOfMemory and leaves nothing alive.
TEST(CallerStackMesh, EveryCoreKeepsToTheBound) {
  const auto refuse = Control<void (*)(bool)>("nurbs_refuse_allocations");
  ASSERT_NE(refuse, nullptr) << "run with LD_PRELOAD naming the plugin_faults library";
  const long live = standin::LiveArrays();
  // Under valgrind (NURBS_VALGRIND set), which looks for invalid accesses and leaks rather than
  // the stack's depth, lower degrees take the same paths in a fraction of its time.
  const bool valgrind = std::getenv("NURBS_VALGRIND") != nullptr;
  for (const gateway::MeshCall* call : registry::kMeshCalls) {
    const standin::Plugin core(PluginPath(call->core));
    const int outputs = gateway::ListCount(call->outputs);
    for (int d : {2, 3}) {
      const std::string label = std::string(call->core) + " in " + std::to_string(d) + "-D";
      const int p = d == 2 ? (valgrind ? 8 : kMaxDegree) : (valgrind ? 3 : 6);
      MeshCase c = AnnulusCase(p, 2, d == 3);
      c.options[1] = c.options[2] = 1;
      const bool face = call->kind == gateway::MeshKind::Fields ||
                        call->kind == gateway::MeshKind::Nodes ||
                        call->kind == gateway::MeshKind::Mass ||
                        call->kind == gateway::MeshKind::Load;
      if (face) c.options[3] = 2;
      std::vector<Array> args = MeshInputs(c);
      for (int k = 0; k < gateway::ListCount(call->inputs); ++k) {
        const std::size_t rows = call->kind == gateway::MeshKind::Advection ? d : 1;
        args.push_back(standin::Matrix({rows, 1}, std::vector<double>(rows, 1.0)));
      }
      std::vector<const mxArray*> in;
      for (const Array& a : args) in.push_back(a.get());
      standin::Result r;
      const std::size_t used = StackUsed([&] { r = core.Call(outputs, in); });
      EXPECT_LE(used, evaluators::kCallerStackBytes) << label;
      ASSERT_FALSE(r.failed) << label << ": " << r.message;
      EXPECT_EQ(r.dropped, 0) << label;
      unsetenv("NURBS_NUM_THREADS");
      refuse(true);
      standin::Result none;
      StackUsed([&] { none = core.Call(outputs, in); });
      refuse(false);
      EXPECT_TRUE(none.failed) << label;
      EXPECT_EQ(none.id, std::string(call->name) + ":outOfMemory") << none.message;
      for (const Array& out : none.outputs) EXPECT_EQ(out, nullptr);
    }
  }
  EXPECT_EQ(standin::LiveArrays(), live);
}

// A domain's calls in the same host: MultipatchCore gluing two squares of degree 18 and the
// stiffness form over both as one domain keep within the bound with their threads refused; with
// every allocation of their own refused they fail with outOfMemory and leave nothing alive.
TEST(CallerStackMesh, DomainCallsKeepToTheBound) {
  const auto refuse = Control<void (*)(bool)>("nurbs_refuse_allocations");
  ASSERT_NE(refuse, nullptr) << "run with LD_PRELOAD naming the plugin_faults library";
  const long live = standin::LiveArrays();
  {
    const MeshCase left = SquareCase(0, 0, kMaxDegree, 2), right = SquareCase(1, 0, kMaxDegree, 2);
    const standin::Plugin glue(PluginPath("MultipatchCore"));
    const standin::Plugin stiffness(PluginPath("StiffnessMatrixCore"));
    std::vector<Array> args;
    args.push_back(standin::Scalar(1e-10));
    for (const MeshCase* c : {&left, &right}) {
      for (Array& a : MeshInputs(*c)) args.push_back(std::move(a));
    }
    const auto call = [&](const standin::Plugin& core, int nlhs, const std::vector<Array>& in,
                          bool refused) {
      std::vector<const mxArray*> handles;
      for (const Array& a : in) handles.push_back(a.get());
      standin::Result r;
      refuse(refused);
      const std::size_t used = StackUsed([&] { r = core.Call(nlhs, handles); });
      refuse(false);
      EXPECT_LE(used, evaluators::kCallerStackBytes);
      EXPECT_FALSE(r.overrun || r.foreign);
      return r;
    };
    const standin::Result glued = call(glue, 5, args, false);
    ASSERT_FALSE(glued.failed) << glued.message;
    EXPECT_EQ(glued.dropped, 0);
    const standin::Result none = call(glue, 5, args, true);
    EXPECT_EQ(none.id, "Multipatch:outOfMemory") << none.message;
    for (const Array& out : none.outputs) EXPECT_EQ(out, nullptr);

    const std::vector<double> gnum = standin::Values(glued.outputs[0].get());
    const std::size_t n = gnum.size() / 2;
    std::vector<DomainPiece> pieces = {
        {1, left, std::vector<double>(gnum.begin(), gnum.begin() + n)},
        {2, right, std::vector<double>(gnum.begin() + n, gnum.end())}};
    std::vector<Array> form = DomainInputs(standin::Values(glued.outputs[4].get())[0], pieces);
    form.push_back(standin::Scalar(1.0));
    const standin::Result K = call(stiffness, 1, form, false);
    ASSERT_FALSE(K.failed) << K.message;
    EXPECT_EQ(K.dropped, 0);
    const standin::Result noK = call(stiffness, 1, form, true);
    EXPECT_EQ(noK.id, "StiffnessMatrix:outOfMemory") << noK.message;
    for (const Array& out : noK.outputs) EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(standin::LiveArrays(), live);
}

// A hierarchical space's calls in the same host: HierarchicalSpaceCore's tables, refinement,
// field at points and the stiffness form over two squares of degree 18 glued, one cell of each
// refined along the interface, keep within the bound with their threads refused; with every
// allocation of their own refused they fail with outOfMemory and leave nothing alive.
TEST(CallerStackMesh, HierarchicalCallsKeepToTheBound) {
  const auto refuse = Control<void (*)(bool)>("nurbs_refuse_allocations");
  ASSERT_NE(refuse, nullptr) << "run with LD_PRELOAD naming the plugin_faults library";
  const long live = standin::LiveArrays();
  {
    const bool valgrind = std::getenv("NURBS_VALGRIND") != nullptr;
    const int p = valgrind ? 6 : kMaxDegree;
    MeshCase left = SquareCase(0, 0, p, 2), right = SquareCase(1, 0, p, 2);
    left.elements = right.elements = {0};
    const standin::Plugin space(PluginPath("HierarchicalSpaceCore"));
    const standin::Plugin stiffness(PluginPath("StiffnessMatrixCore"));
    const auto layout = [&](std::vector<double> header, std::vector<Array> extra) {
      std::vector<Array> args;
      args.push_back(standin::Row(header));
      for (const MeshCase* c : {&left, &right}) {
        for (Array& a : MeshInputs(*c)) args.push_back(std::move(a));
      }
      args.push_back(standin::Matrix({3, 2}, {1, 0, 2, 2, 0, 1}));
      args.push_back(standin::Matrix({7, 1}, {1, 2, 2, 1, 1, 0, 0}));
      for (Array& a : extra) args.push_back(std::move(a));
      return args;
    };
    const auto call = [&](const standin::Plugin& core, int nlhs, const std::vector<Array>& in,
                          bool refused) {
      std::vector<const mxArray*> handles;
      for (const Array& a : in) handles.push_back(a.get());
      standin::Result r;
      refuse(refused);
      const std::size_t used = StackUsed([&] { r = core.Call(nlhs, handles); });
      refuse(false);
      EXPECT_LE(used, evaluators::kCallerStackBytes);
      EXPECT_FALSE(r.overrun || r.foreign);
      return r;
    };
    const struct {
      std::vector<double> header;
      const char* who;
      int nlhs;
    } modes[] = {{{0, 2, 1, 2, 2, 0, 1, 0}, "HierarchicalSpace", 7},
                 {{0, 2, 1, 2, 2, 1, 1, 0}, "RefineElements", 7}};
    for (const auto& m : modes) {
      std::vector<Array> extra;
      extra.push_back(standin::Matrix({2, 1}, {1, 1}));
      extra.push_back(standin::Row({1, 2}));
      const std::vector<Array> args = layout(m.header, std::move(extra));
      const standin::Result ok = call(space, m.nlhs, args, false);
      ASSERT_FALSE(ok.failed) << m.who << ": " << ok.message;
      EXPECT_EQ(ok.dropped, 0);
      const standin::Result refused = call(space, m.nlhs, args, true);
      EXPECT_EQ(refused.id, std::string(m.who) + ":outOfMemory") << refused.message;
      for (const Array& out : refused.outputs) EXPECT_EQ(out, nullptr);
    }
    std::vector<Array> form;
    form.push_back(standin::Matrix({2, 0}));
    form.push_back(standin::Scalar(0));
    form.push_back(standin::Scalar(1.0));
    const std::vector<Array> args = layout({0, 2, 1, 2}, std::move(form));
    const standin::Result K = call(stiffness, 1, args, false);
    ASSERT_FALSE(K.failed) << K.message;
    EXPECT_EQ(K.dropped, 0);
    const standin::Result noK = call(stiffness, 1, args, true);
    EXPECT_EQ(noK.id, "StiffnessMatrix:outOfMemory") << noK.message;
    for (const Array& out : noK.outputs) EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(standin::LiveArrays(), live);
}

INSTANTIATE_TEST_SUITE_P(Registry, CallerStack, ::testing::ValuesIn(registry::kAll),
                         [](const ::testing::TestParamInfo<const Signature*>& info) {
                           return std::string(info.param->name);
                         });

}  // namespace
