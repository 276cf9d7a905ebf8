// The batch form apart from the one-point form, so that a one-point plug-in holds no thread code.
#include <cstdint>

#include "batch.h"
#include "gateway.h"
#include "threads.h"

namespace gateway {

// Every element of every output is written: each point's rows are copied whole, whatever the
// point, and a share whose thread cannot be started is done by the calling thread. A row buffer
// too large for the caller's stack that the heap cannot give fails the call, the outputs made so
// far left to the host, which frees them.
void RunBatch(const Signature& sig, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const Request rq = Read(sig, Form::Batch, nlhs, nrhs, prhs);
  const evaluators::Evaluator& ev = *sig.evaluator;
  evaluators::Batch batch{};
  batch.call = &rq.call;
  batch.evaluator = &ev;
  batch.xi = rq.xi;
  batch.spans = rq.spans;
  batch.points = rq.points;
  const size_t nen = static_cast<size_t>(evaluators::LocalFunctions(rq.call));
  batch.outputs = sig.noutputs;
  Outputs out(nlhs, plhs);
  // The outputs asked for, before any is made: the host's own failure to make one is worded and
  // identified differently by each host.
  size_t bytes = 0;
  const size_t each = rq.points * (ev.rows ? nen : 1) * sizeof(double);  // Read bounds it
  for (int o = 0; o <= sig.noutputs; ++o) {
    if (out.Wanted(o) && (o < sig.noutputs || ev.rows)) {
      bytes = bytes > SIZE_MAX - each ? SIZE_MAX : bytes + each;
    }
  }
  if (!ResultsFit(bytes)) ResultsOutOfMemory(sig, Form::Batch, bytes);
  for (int o = 0; o < sig.noutputs; ++o) {
    batch.slot[o] = sig.slot[o];
    batch.out[o] = out.Matrix(o, rq.points, ev.rows ? nen : 1, Outputs::Fill::Caller);
  }
  if (ev.rows) batch.idx = out.Matrix(sig.noutputs, rq.points, nen, Outputs::Fill::Caller);
  if (!evaluators::Run(batch, evaluators::Threads(batch))) {
    OutOfMemory(sig, Form::Batch, evaluators::RowBytes(batch));
  }
  if (evaluators::Interrupted()) Interrupt();
}

}  // namespace gateway
