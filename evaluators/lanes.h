// Several points of a batch at once, one point per vector lane: the evaluators whose arithmetic
// has a lane form, chosen per call by the processor's features. A lane runs the operations of the
// one-point evaluator in the same order, and an IEEE addition, multiplication or division in a
// lane is the operation of a scalar register, so a lane's results are the one-point bits, with one
// exception: where both operands of a commutative operation are NaN, the result is the first
// one's, and which one comes first is the register allocator's choice in either form. A group
// therefore reports the lanes that wrote a NaN, and the batch evaluates those points again one at
// a time. Results without a NaN owe nothing to operand order.
#ifndef NURBS_EVALUATORS_LANES_H_
#define NURBS_EVALUATORS_LANES_H_

#include <cstddef>

#include "basis.h"
#include "evaluators.h"

namespace evaluators {

// Most points a group holds (four doubles in 256 bits).
constexpr int kMaxLanes = 4;
static_assert(kMaxLanes <= kMaxLocated, "a group is located at once");

// The highest degree a direction may have for the lane forms: their scratch grows with the square
// of the degree and the width, and the degrees that dominate the use (up to quintic) gain most.
constexpr int kLaneMaxDegree = 7;

// Points sites[0..width-1], rows j..j+width-1 of P-row column-major outputs: entry e of evaluator
// output o at out[o][j + l + e P] for lane l, out[o] nullptr where nobody asked for it, and the
// weight indices likewise in idx (BasisIndices) unless it is nullptr. Returns the lanes (bit l:
// point j + l) whose evaluator outputs hold a NaN; their rows are to be written again by the
// one-point evaluator.
using LaneGroup = unsigned (*)(const Call& call, const Site* sites, double* const* out,
                               double* idx, std::size_t P, std::size_t j);

struct Lanes {
  int width;        // points a group; 0: this call runs one point at a time
  LaneGroup group;  // nullptr when width is 0
};

// Points a group holds on this processor as NURBS_SIMD allows: 4 (AVX2), 2 (SSE2), or 0 (one
// point at a time), as LanesFor below reads them. Reads the environment: call it once per call
// of a plug-in, on the calling thread.
int LaneWidth();

// The lane form of the evaluator for this call: the widest the processor has (four lanes with
// AVX2, else two with SSE2), unless NURBS_SIMD holds "sse2" (two lanes) or "scalar" (none); any
// other non-blank value means none, as one point at a time is never wrong. Width 0 where the
// evaluator has no lane form or a degree exceeds kLaneMaxDegree. Reads the environment: call it
// once per batch, on the calling thread.
Lanes LanesFor(const Call& call, const Evaluator& evaluator);

// The lane form of a rows function (basis.h), for points located by the caller whose directions'
// functions are at hand: direction d of lane l at bases[l kMaxDirections + d], to the order the
// function reads. Outputs as LaneGroup's, no weight indices, and the same return.
using LaneRowsGroup = unsigned (*)(const Call& call, const Site* sites, const Basis* const* bases,
                                   double* const* out, std::size_t P, std::size_t j);

// dersBasisFuns(span, u[k], axis.p, order, axis.U, {out[k].N, out[k].d1, out[k].d2}) for
// k < count, `width` (LaneWidth) points at a time in lanes (the kernel's bits): the mesh layer's
// tables of an element's nodes.
void LaneBasisFuns(const Axis& axis, int span, const double* u, int count, int order, int width,
                   Basis* out);

// That form at `width` (LaneWidth) lanes; the mesh layer's B-spline products have one too
// (the surface's also writes SurfaceBSplineSecondRows' outputs where they are given).
// nullptr where there is none or a degree exceeds kLaneMaxDegree.
LaneRowsGroup LaneRows(const Call& call, RowsFromBasis rows, int width);

}  // namespace evaluators

#endif  // NURBS_EVALUATORS_LANES_H_
