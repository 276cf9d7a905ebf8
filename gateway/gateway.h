// What every plug-in's mexFunction shares: its declared arguments, their checks, reading them,
// the end clamp, the span search, one direction's basis functions, and its outputs.
//
// A plug-in declares its arguments in a table; Read checks them all before anything is allocated
// and raises the host error "PluginName:mnemonic" on the first fault, so no input can make the
// kernel read outside an array or loop forever. What is odd but safe stays as it is: a point
// outside the knot range is extrapolated, a NaN point gives NaN, a zero weight sum gives
// infinities, a fractional degree or span is truncated toward zero, extra elements are ignored.
#ifndef NURBS_GATEWAY_GATEWAY_H_
#define NURBS_GATEWAY_GATEWAY_H_

#include <cstddef>

#include "NURBS.h"
#include "mex_api.h"

namespace gateway {

constexpr int kMaxDirections = 3;
constexpr int kMaxArgs = 9;

// A point strictly within this distance of the last knot is evaluated this far below it, inside
// the last non-empty span: 100 machine epsilons, exactly 25 * 2^-50.
constexpr double kEndTolerance = 2.220446049250313e-14;
static_assert(kEndTolerance == 25.0 * 0x1p-50, "end tolerance is 25 * 2^-50");

enum class Arg {
  Point,   // xi: element d is the coordinate of direction d; needs one per direction
  Degree,  // p, q, r (direction 0, 1, 2 in order): element 0 truncated toward zero, 0..kMaxDegree
  Knots,   // knot, knotU, knotV, knotW (in order): a row, non-decreasing, no NaN, long enough
  Values,  // weights, control values: one per control point, the product of n over directions
  Spans,   // element d is direction d's 0-based span, truncated; p <= s <= n - 1
  Index,   // 1-based basis-function index of the single direction, truncated; 1 <= i <= n
};

struct ArgRule {
  const char* name;
  Arg kind;
};

struct Signature {
  const char* name;      // plug-in name; prefix of every error identifier
  const char* callForm;  // "[R, dRdxi] = RatCurveShapeGrad(xi, p, knot, weights)"
  const ArgRule* args;   // the inputs in order: args[0..nargs-1], often a prefix of a shared table
  int nargs;
  int outputs;
  // Basis functions each direction needs at least, besides p + 1: 2 where first derivatives are
  // read, 3 where second derivatives are.
  int minFunctions;
  // Text raised on a wrong input count; nullptr makes it from the count and the call form.
  const char* usage = nullptr;
};

// Knot vectors of up to this many knots are checked whole on every call: a decrease or a NaN
// anywhere is reported. A longer one is checked where the call reads it (its span search and the
// 2p + 2 knots of its span: every knot the result depends on), so that the cost of a call does
// not grow with the knot count. The whole check costs about 0.1 ns a knot: some 30 ns for 256
// knots, a tenth of the cheapest call through the stand-in host and under 1% of a call from
// Octave.
constexpr int kWholeKnotCheck = 256;

// One parametric direction as read and checked.
struct Direction {
  const char* name;  // the knot input's name
  double u;          // the coordinate after the end clamp
  int p;             // degree
  const double* U;   // knots U[0..m-1]
  int m;             // number of knots
  int n;             // number of basis functions, m - p - 1
  int s;             // knot span, from FindSpan or from the caller
};

struct Inputs {
  int directions;
  Direction dir[kMaxDirections];
  const double* data[kMaxArgs];  // every input's values, by position
  int index;                     // Arg::Index made 0-based
};

// Checks the input count (usage message), the output count and every argument, raising the host
// error on the first fault; then clamps each coordinate and finds its span (unless the caller
// gave the spans). Allocates nothing.
Inputs Read(const Signature& sig, int nlhs, int nrhs, const mxArray* prhs[]);

// The p + 1 basis functions of one direction that do not vanish at its point, with their first
// and, for order 2, second derivatives. Row k of the kernel's table does not depend on the
// order asked for, so asking for no more than is read gives the same bits as asking for n - 1.
struct Basis {
  double N[kMaxDegree + 1];
  double d1[kMaxDegree + 1];
  double d2[kMaxDegree + 1];
};
void Evaluate(const Direction& d, int order, Basis* basis);
// Every direction of the inputs: basis[d] for direction d.
void Evaluate(const Inputs& in, int order, Basis* basis);

// Functions that do not vanish at the point: the product of p + 1 over the directions.
int LocalFunctions(const Inputs& in);

// The weight function of a curve and its derivatives at the point: W = sum of w[k] N[k], W' and
// (order 2) W'' likewise, each from 0.0 in increasing k. w points at the span's first weight.
struct WeightSums {
  double W, dW, d2W;
};
WeightSums Weigh(const double* w, const Basis& b, int p, int order);

// sum of P[k] v[k], k = 0..p, from 0.0 in increasing k: a scalar field from its control values.
double Contract(const double* P, const double* v, int p);

// What every curve plug-in starts from: its one direction read, evaluated to `order`
// derivatives, and weighed with its last input, the weights.
struct Curve {
  Inputs in;
  const Direction& d() const { return in.dir[0]; }
  Basis b;
  const double* w;  // the weights of the span's functions s - p .. s
  WeightSums sums;
};
void ReadCurve(const Signature& sig, int order, int nlhs, int nrhs, const mxArray* prhs[],
               Curve* curve);

// Output slots. The host gives max(nlhs, 1) of them (slot 0 takes `ans`), so only those are
// created and stored; an output nobody asked for is not created and its pointer is nullptr.
class Outputs {
 public:
  Outputs(int nlhs, mxArray** plhs) : slots_(nlhs > 1 ? nlhs : 1), plhs_(plhs) {}
  bool Wanted(int slot) const { return slot < slots_; }
  double* Row(int slot, int cols);
  // Rows for slots 0..count-1, created in slot order.
  void Rows(int cols, int count, double** rows);
  void Scalar(int slot, double value);

 private:
  int slots_;
  mxArray** plhs_;
};

}  // namespace gateway

#endif  // NURBS_GATEWAY_GATEWAY_H_
