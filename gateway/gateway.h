// What every plug-in's mexFunction shares: reading and checking its inputs by the roles its
// signature declares, creating its outputs, and handing its points to its evaluator.
//
// Read checks every input before anything is allocated and raises the host error
// "PluginName:mnemonic" on the first fault, so no input can make an evaluator read outside an
// array or loop forever. What is odd but safe stays as it is: a point outside the knot range is
// extrapolated, a NaN point gives NaN, a zero weight sum gives infinities, a fractional degree or
// span is truncated toward zero, extra elements are ignored.
#ifndef NURBS_GATEWAY_GATEWAY_H_
#define NURBS_GATEWAY_GATEWAY_H_

#include <cstddef>

#include "evaluators.h"
#include "mex_api.h"
#include "signature.h"

namespace gateway {

// Knot vectors of up to this many knots are checked whole on every one-point call: a decrease or
// a NaN anywhere is reported. A longer one is checked where the call reads it (its span search and
// the 2p + 2 knots of its span: every knot the result depends on), so that the cost of a call
// does not grow with the knot count. The whole check costs about 0.1 ns a knot: some 30 ns for
// 256 knots, a tenth of the cheapest call through the stand-in host and under 1% of a call from
// Octave. A batch call checks its knots whole, once for all its points.
constexpr int kWholeKnotCheck = 256;

// A call as read and checked.
struct Request {
  evaluators::Call call;
  const char* knots[evaluators::kMaxDirections];  // the knot inputs' names
  const double* xi;                               // point j's coordinates at xi + j * directions
  std::size_t points;                             // P; 1 in the one-point form
  const double* spans;  // given spans, point j's at spans + j * directions; nullptr: searched
};

// Checks the input count (usage message), the output count and every input as the signature
// declares it, raising the host error on the first fault. In the batch form also the shape of
// the points, every given span and the size of the outputs. Allocates nothing.
Request Read(const Signature& sig, Form form, int nlhs, int nrhs, const mxArray* prhs[]);

// Output slots. The host gives max(nlhs, 1) of them (slot 0 takes `ans`), so only those are
// created and stored; an output nobody asked for is not created and its pointer is nullptr.
class Outputs {
 public:
  Outputs(int nlhs, mxArray** plhs) : slots_(nlhs > 1 ? nlhs : 1), plhs_(plhs) {}
  bool Wanted(int slot) const { return slot < slots_; }
  // A rows x cols matrix in the slot, its data; nullptr if nobody asked for it. The size must
  // fit the host's dimensions (Read checks a batch's). Filled, the caller writes every element:
  // where the host can, it then leaves the new memory as it comes instead of zeroing it first.
  enum class Fill { Zeros, Caller };
  double* Matrix(int slot, std::size_t rows, std::size_t cols, Fill fill = Fill::Zeros);
  void Scalar(int slot, double value) {
    if (Wanted(slot)) plhs_[slot] = mxCreateDoubleScalar(value);
  }

 private:
  int slots_;
  mxArray** plhs_;
};

// A plug-in's whole call, one point or many: every check, then the outputs asked for (only
// max(nlhs, 1) slots exist: slot 0 takes `ans`), then the evaluator. The batch form writes row j
// of every output for point j, on the threads the work pays for; the host is called from the
// calling thread only.
void RunPoint(const Signature& sig, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
void RunBatch(const Signature& sig, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// Raises "Name:outOfMemory" for scratch of this size that could not be had. Only once nothing of
// the plug-in's own is held: the host leaves by a non-local jump and frees only its arrays.
[[noreturn]] void OutOfMemory(const Signature& sig, Form form, std::size_t bytes);

// Whether results of `bytes` in all are likely to be had: the system is asked for that much
// (times the copies the host makes on return, kResultCopies) and given it back at once, nothing
// touched and no heap taken (SystemGives). Where it refuses (a limit on the address space, a size beyond memory and swap) a
// call can fail as Name:outOfMemory before it makes anything, alike in every host, whose own
// failures differ (Octave's binding: Octave:bad-alloc; its MEX interface: no identifier).
// Results under 1 MB are not asked about.
bool ResultsFit(std::size_t bytes);

// Raises "Name:outOfMemory" for results of this size that ResultsFit refused.
[[noreturn]] void ResultsOutOfMemory(const Signature& sig, Form form, std::size_t bytes);

// Ends a call that the host's interrupt stopped (evaluators::Interrupted()), once nothing of the
// plug-in's own is held: the host discards its outputs and goes back to its prompt. Only a host
// binding that installs a poll (Octave's own) can get here.
[[noreturn]] void Interrupt();

}  // namespace gateway

#endif  // NURBS_GATEWAY_GATEWAY_H_
