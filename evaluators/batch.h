// Many points of one call: the evaluator in a loop, its points split over threads where the
// work pays for them. Each point's results depend on that point alone, so they are the same bits
// whatever the thread count, and the same as the one-point plug-in's.
#ifndef NURBS_EVALUATORS_BATCH_H_
#define NURBS_EVALUATORS_BATCH_H_

#include <cstddef>

#include "evaluators.h"

namespace evaluators {

// Point j's coordinates are xi[j d .. j d + d - 1] and, when given, its spans
// spans[j d .. j d + d - 1] (checked), d = call->directions. Its results are row j of P-row
// column-major matrices: entry e of output o at out[o][j + e P], its weight indices likewise in
// idx. Every output of the plug-in is computed at every point, asked for or not, so that a row's
// bits never depend on which outputs were asked for; they are those of the one-point plug-in
// asked for all of its outputs.
struct Batch {
  const Call* call;
  const Evaluator* evaluator;
  const double* xi;
  const double* spans;       // nullptr: searched
  std::size_t points;        // P
  int outputs;               // the plug-in's outputs
  int slot[kMaxOutputs];     // the evaluator's output behind output o
  double* out[kMaxOutputs];  // nullptr: not asked for
  double* idx;               // nullptr: not asked for
};

// Most threads a batch starts, the calling one included.
constexpr int kMaxThreads = 64;

// Threads worth starting for this batch: none below kMinShareNs of estimated work a thread, at
// most the hardware's threads, at most NURBS_NUM_THREADS where that holds a positive whole number
// in decimal digits (blanks around it allowed); one where it holds anything else but blanks.
int Threads(const Batch& batch);

// The same rule for any work of `work` nanoseconds that splits into independent shares.
int ThreadsFor(double work);

// Every point of the batch, on `threads` threads (the calling one takes the first share). A
// thread that cannot be started leaves its share to the calling thread. Puts at most
// kCallerStackBytes of scratch on the calling thread's stack: a larger row buffer is taken from
// the heap, and freed before it returns. False, having written nothing and holding nothing, if
// the heap has none to give. Calls no host.
bool Run(const Batch& batch, int threads);

// The row buffer of one point: every output's row, up to 6859 entries each at degree 18 in three
// directions (549 kB for ten outputs).
std::size_t RowBytes(const Batch& batch);

// Estimated time of one point, in nanoseconds on the machine the threshold was measured on.
double PointCost(const Batch& batch);

}  // namespace evaluators

#endif  // NURBS_EVALUATORS_BATCH_H_
