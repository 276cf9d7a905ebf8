#include "batch.h"

#include <cstdlib>

#include "lanes.h"
#include "threads.h"

namespace evaluators {
namespace {

// Work a thread must have before one is started for it. Starting and joining a thread costs 45
// us here, 55 to 67 us inside Octave, and a second thread that has just been woken computes
// slowly for a while: in Octave two threads first beat one at 350 to 450 us of estimated work
// (bench/octave_threads.m), so a second thread is started from 600 us, where it wins by 8 to 15%.
constexpr double kMinShareNs = 300e3;

// One point's rows, before they are copied to row j: on the stack where they fit, sized to the
// call. A function holding such a buffer is never inlined (GCC and MSVC do not inline a function
// that calls alloca), so the buffer is released when that function returns.
#if defined(_MSC_VER)
#define NURBS_STACK_ALLOC _alloca
#else
#define NURBS_STACK_ALLOC __builtin_alloca
#endif

// Entries of one output's row.
std::size_t RowEntries(const Batch& b) {
  return b.evaluator->rows ? static_cast<std::size_t>(LocalFunctions(*b.call)) : 1;
}

// The row buffer the calling thread may put on its stack: what kCallerStackBytes leaves besides a
// point's own scratch. And the stack a thread of ours has besides its row buffer: far more than
// the evaluator and the kernel use.
constexpr std::size_t kCallerRowBytes = kCallerStackBytes - kPointStackBytes;
constexpr std::size_t kStackMargin = 256 * 1024;

// Point j, located at `site`, evaluated into `rows` (RowBytes) and copied to its row of the
// outputs.
void Point(const Batch& b, const Dest& dest, const double* rows, std::size_t cols, std::size_t j,
           const Site& site) {
  const std::size_t P = b.points;
  b.evaluator->run(*b.call, site, dest);
  for (int o = 0; o < b.outputs; ++o) {
    double* out = b.out[o];
    if (out == nullptr) continue;
    const double* row = rows + o * cols;
    for (std::size_t e = 0; e < cols; ++e) out[j + e * P] = row[e];
  }
}

// Points [begin, end): groups of lanes.width points in the lanes, straight into the outputs, each
// lane that wrote a NaN again alone (lanes.h); the points after the last whole group alone.
void Share(const Batch& b, const Lanes& lanes, double* rows, std::size_t begin, std::size_t end) {
  const Call& call = *b.call;
  const std::size_t d = static_cast<std::size_t>(call.directions);
  const std::size_t P = b.points;
  const std::size_t cols = RowEntries(b);
  Dest dest{};
  for (int o = 0; o < b.outputs; ++o) dest.at[b.slot[o]] = rows + o * cols;
  const auto locate = [&](std::size_t j) {
    const double* x = b.xi + j * d;
    return b.spans ? LocateAt(call, x, b.spans + j * d) : Locate(call, x);
  };
  std::size_t j = begin;
  if (lanes.width > 1) {
    double* out[kMaxOutputs] = {};
    for (int o = 0; o < b.outputs; ++o) out[b.slot[o]] = b.out[o];
    const std::size_t width = static_cast<std::size_t>(lanes.width);
    Site sites[kMaxLanes];
    SpanHint hint{};
    for (int k = 0; k < call.directions; ++k) hint.span[k] = call.axis[k].p;
    for (; end - j >= width; j += width) {
      if (((j - begin) & 4095) == 0 && Stopping()) return;
      if (b.spans) {
        for (std::size_t l = 0; l < width; ++l) sites[l] = locate(j + l);
      } else {
        LocateMany(call, b.xi + j * d, lanes.width, sites, &hint);
      }
      const unsigned again = lanes.group(call, sites, out, b.idx, P, j);
      for (std::size_t l = 0; l < width; ++l) {
        if (again >> l & 1u) Point(b, dest, rows, cols, j + l, sites[l]);
      }
    }
  }
  for (; j < end; ++j) {
    if (((j - begin) & 4095) == 0 && Stopping()) return;
    const Site site = locate(j);
    Point(b, dest, rows, cols, j, site);
    if (b.idx) BasisIndices(call, site, b.idx + j, static_cast<std::ptrdiff_t>(P));
  }
}

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// NURBS_NUM_THREADS as a cap: unset, empty or blank, none (0); a positive whole number in decimal
// digits, blanks around it allowed, that number (at most kMaxThreads); anything else (0, a sign,
// a fraction, an exponent, other text) 1. Whoever sets the variable wants fewer threads, and
// serial is never wrong (the bits do not depend on the count), so a value not understood is no
// licence to take every processor.
int ThreadCap() {
  const char* c = std::getenv("NURBS_NUM_THREADS");
  if (c == nullptr) return 0;
  while (Blank(*c)) ++c;
  if (*c == '\0') return 0;
  int cap = 0;
  const char* digits = c;
  for (; *c >= '0' && *c <= '9'; ++c) {
    if (cap <= kMaxThreads) cap = 10 * cap + (*c - '0');  // saturates above kMaxThreads
  }
  const bool number = c > digits;
  while (Blank(*c)) ++c;
  if (!number || *c != '\0' || cap == 0) return 1;
  return cap < kMaxThreads ? cap : kMaxThreads;
}

}  // namespace

std::size_t RowBytes(const Batch& b) {
  return static_cast<std::size_t>(b.outputs) * RowEntries(b) * sizeof(double);
}

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
  const double point = 6.0 + 4.3 * basis + 1.45 * entries * (b.outputs + (b.idx ? 1 : 0));
  // In lanes, measured against the figures above: 0.17 to 0.27 of them with four lanes, 0.24 to
  // 0.45 with two (the volume's two lanes up to 0.75).
  const int width = LanesFor(call, *b.evaluator).width;
  return point * (width >= 4 ? 0.2 : width == 2 ? 0.35 : 1.0);
}

int Threads(const Batch& b) {
  // In lanes a batch is bound by its stores as much as by its arithmetic, and two threads share
  // the memory's bandwidth: in Octave a second thread paid only from about twice the estimated
  // work it pays from one point at a time (bench/octave_threads.m: the surface at 20000 to 30000
  // points, the volume at 10000 to 15000, the curve at 50000 to 100000).
  const double share = LanesFor(*b.call, *b.evaluator).width > 1 ? 0.5 : 1.0;
  return ThreadsFor(share * PointCost(b) * static_cast<double>(b.points));
}

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
  const Lanes* lanes;
  std::size_t begin, end;
};

// A thread of the batch's own: its row buffer on its stack, which Start sized for it.
void RunTask(void* task) {
  const Task* t = static_cast<const Task*>(task);
  double* rows = static_cast<double*>(NURBS_STACK_ALLOC(RowBytes(*t->batch)));
  Share(*t->batch, *t->lanes, rows, t->begin, t->end);
}

}  // namespace

bool Run(const Batch& b, int threads) {
  const std::size_t P = b.points;
  if (P == 0) return true;
  if (threads > kMaxThreads) threads = kMaxThreads;
  if (static_cast<std::size_t>(threads) > P) threads = static_cast<int>(P);
  if (threads < 1) threads = 1;
  // The calling thread's row buffer, which it keeps for its own share and for those of threads
  // that cannot be started: on its stack where it fits the bound, else on the heap, taken before
  // any thread starts so that a refusal leaves nothing to undo.
  const std::size_t bytes = RowBytes(b);
  void* heap = nullptr;
  double* rows;
  if (bytes <= kCallerRowBytes) {
    rows = static_cast<double*>(NURBS_STACK_ALLOC(bytes));
  } else {
    heap = std::malloc(bytes);
    if (heap == nullptr) return false;
    rows = static_cast<double*>(heap);
  }
  const Lanes lanes = LanesFor(*b.call, *b.evaluator);
  if (threads == 1) {
    Share(b, lanes, rows, 0, P);
    std::free(heap);
    return true;
  }
  const std::size_t T = static_cast<std::size_t>(threads);
  // Share t is [First(t), First(t + 1)): the first P % T shares take one point more.
  const auto First = [P, T](std::size_t t) { return (P / T) * t + (t < P % T ? t : P % T); };
  Task tasks[kMaxThreads];
  Thread workers[kMaxThreads] = {};
  for (std::size_t t = 1; t < T; ++t) {
    tasks[t] = {&b, &lanes, First(t), First(t + 1)};
    if (!Start(&workers[t], RunTask, &tasks[t], bytes + kStackMargin)) {
      Share(b, lanes, rows, tasks[t].begin, tasks[t].end);  // no thread to be had: this one does it
    }
  }
  Share(b, lanes, rows, 0, First(1));
  for (std::size_t t = 1; t < T; ++t) Join(&workers[t]);
  std::free(heap);
  return true;
}

}  // namespace evaluators
