#include "batch.h"

#include <cerrno>
#include <cstdlib>

#include "threads.h"

namespace evaluators {
namespace {

// Work a thread must have before one is started for it. Starting and joining a thread costs 45
// us here, 55 to 67 us inside Octave, and a second thread that has just been woken computes
// slowly for a while: in Octave two threads first beat one at 350 to 450 us of estimated work
// (bench/octave_threads.m), so a second thread is started from 600 us, where it wins by 8 to 15%.
constexpr double kMinShareNs = 300e3;

// One point's rows, before they are copied to row j: on the stack, sized to the call (up to
// 6859 functions a row for degree 18 in three directions).
#if defined(_MSC_VER)
#define NURBS_STACK_ALLOC _alloca
#else
#define NURBS_STACK_ALLOC __builtin_alloca
#endif

// Entries of one output's row, and the row buffer of one point: every output's row.
std::size_t RowEntries(const Batch& b) {
  return b.evaluator->rows ? static_cast<std::size_t>(LocalFunctions(*b.call)) : 1;
}

std::size_t RowBytes(const Batch& b) {
  return static_cast<std::size_t>(b.outputs) * RowEntries(b) * sizeof(double);
}

// The row buffer the calling thread may put on its stack, and the stack a thread of ours has
// besides its row buffer: far more than the evaluator and the kernel use.
constexpr std::size_t kCallerRowBytes = 128 * 1024;
constexpr std::size_t kStackMargin = 256 * 1024;

void Share(const Batch* b, std::size_t begin, std::size_t end) {
  const Call& call = *b->call;
  const std::size_t d = static_cast<std::size_t>(call.directions);
  const std::size_t P = b->points;
  const std::size_t cols = RowEntries(*b);
  double* rows = static_cast<double*>(NURBS_STACK_ALLOC(RowBytes(*b)));
  Dest dest{};
  for (int o = 0; o < b->outputs; ++o) dest.at[b->slot[o]] = rows + o * cols;
  for (std::size_t j = begin; j < end; ++j) {
    const double* x = b->xi + j * d;
    const Site site = b->spans ? LocateAt(call, x, b->spans + j * d) : Locate(call, x);
    b->evaluator->run(call, site, dest);
    for (int o = 0; o < b->outputs; ++o) {
      double* out = b->out[o];
      if (out == nullptr) continue;
      const double* row = rows + o * cols;
      for (std::size_t e = 0; e < cols; ++e) out[j + e * P] = row[e];
    }
    if (b->idx) BasisIndices(call, site, b->idx + j, static_cast<std::ptrdiff_t>(P));
  }
}

// NURBS_NUM_THREADS as a positive count, or 0 where it is unset or holds anything else.
int ThreadCap() {
  const char* text = std::getenv("NURBS_NUM_THREADS");
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  errno = 0;
  const long cap = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || cap < 1) return 0;
  return cap < kMaxThreads ? static_cast<int>(cap) : kMaxThreads;
}

}  // namespace

double PointCost(const Batch& b) {
  // Evaluating a direction's basis grows with the square of its degree, the rows with the
  // entries written. Fitted to the evaluators alone, one thread, outputs in cache
  // (bench_inprocess): 92 ns a point for a cubic curve, 236 for a bicubic surface, 317 for a
  // triquadratic volume.
  const Call& call = *b.call;
  double basis = 0.0;
  for (int d = 0; d < call.directions; ++d) {
    const double p1 = call.axis[d].p + 1;
    basis += p1 * p1;
  }
  const double entries = b.evaluator->rows ? LocalFunctions(call) : 1;
  return 6.0 + 4.3 * basis + 1.45 * entries * (b.outputs + (b.idx ? 1 : 0));
}

int Threads(const Batch& b) { return ThreadsFor(PointCost(b) * static_cast<double>(b.points)); }

int ThreadsFor(double work) {
  if (!(work >= 2 * kMinShareNs)) return 1;
  int threads = HardwareThreads();
  const int cap = ThreadCap();
  if (cap > 0 && cap < threads) threads = cap;
  const double affordable = work / kMinShareNs;
  if (affordable < threads) threads = static_cast<int>(affordable);
  if (threads > kMaxThreads) threads = kMaxThreads;
  return threads > 1 ? threads : 1;
}

namespace {

// One thread's share of the points.
struct Task {
  const Batch* batch;
  std::size_t begin, end;
};

void RunTask(void* task) {
  const Task* t = static_cast<const Task*>(task);
  Share(t->batch, t->begin, t->end);
}

}  // namespace

void Run(const Batch& b, int threads) {
  const std::size_t P = b.points;
  if (P == 0) return;
  if (threads > kMaxThreads) threads = kMaxThreads;
  if (threads < 1) threads = 1;
  // A large row buffer (degree 14 and more in three directions) is not put on the host's stack,
  // whose size is the host's: every share then runs on a thread of ours, with the stack it needs.
  const bool callerShares = RowBytes(b) <= kCallerRowBytes;
  if (callerShares && (threads == 1 || P < 2)) {
    Share(&b, 0, P);
    return;
  }
  const std::size_t T = static_cast<std::size_t>(threads);
  // Share t is [First(t), First(t + 1)): the first P % T shares take one point more.
  const auto First = [P, T](std::size_t t) { return (P / T) * t + (t < P % T ? t : P % T); };
  Task tasks[kMaxThreads];
  Thread workers[kMaxThreads] = {};
  for (std::size_t t = 0; t < T; ++t) {
    tasks[t] = {&b, First(t), First(t + 1)};
    if (t == 0 && callerShares) continue;
    if (!Start(&workers[t], RunTask, &tasks[t], RowBytes(b) + kStackMargin)) {
      RunTask(&tasks[t]);  // no thread to be had: this one does the share
    }
  }
  if (callerShares) RunTask(&tasks[0]);
  for (std::size_t t = 0; t < T; ++t) Join(&workers[t]);
}

}  // namespace evaluators
