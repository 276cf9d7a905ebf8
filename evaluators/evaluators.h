// The arithmetic of every plug-in, one evaluator per arithmetic, free of the host. A call is read
// once (Call: degrees, knots, weights, control values, the index); each of its points is located
// (Site: end clamp and knot spans) and handed to the evaluator, which writes that point's results
// as rows (Dest). A one-point plug-in is its evaluator at one point, writing into its outputs;
// its batch twin is the same evaluator in a loop over the points, each point's rows then copied
// to row j of P-row outputs (batch.h). Every formula exists once.
//
// The formulas keep the grouping and order written beside them: the plug-ins' outputs are fixed
// bit for bit. Sums start from 0.0 and run over increasing local indices, zeta outermost and xi
// innermost; local k runs along xi, j along eta, i along zeta, and row entry
// e = k + j (p + 1) + i (p + 1)(q + 1), xi fastest, the order of the weights.
#ifndef NURBS_EVALUATORS_EVALUATORS_H_
#define NURBS_EVALUATORS_EVALUATORS_H_

#include <cmath>
#include <cstddef>

#include "NURBS.h"

namespace evaluators {

constexpr int kMaxDirections = 3;
constexpr int kMaxOutputs = 10;

// The most scratch a plug-in puts on the stack of the thread that calls it, whatever the call. A
// host may run a plug-in on a thread of 1 MB of stack (Windows' default for a thread) or less,
// much of it under the host's own frames: a point's fixed scratch (kPointStackBytes) and a
// batch's row buffer share this, and a row buffer that does not fit goes to the heap or to a
// thread of the batch's own, whose stack is sized for it.
constexpr std::size_t kCallerStackBytes = 64 * 1024;

// A bound on the stack one point takes besides a batch's row buffer, at kMaxDegree: the bases of
// three directions (1.4 kB), the kernel's tables (kKernelStackBytes, 3.5 kB), and the frames of
// the calls between them and the host (the gateway's message buffers, the batch's thread table).
constexpr std::size_t kPointStackBytes = 16 * 1024;

// A coordinate strictly within this distance of the last knot is evaluated this far below it,
// inside the last non-empty span: 100 machine epsilons, exactly 25 * 2^-50.
constexpr double kEndTolerance = 2.220446049250313e-14;
static_assert(kEndTolerance == 25.0 * 0x1p-50, "end tolerance is 25 * 2^-50");

// One parametric direction as a call reads it, the same for all of the call's points.
struct Axis {
  int p;            // degree, 0..kMaxDegree
  const double* U;  // knots U[0..m-1], non-decreasing
  int m;            // number of knots
  int n;            // number of basis functions, m - p - 1 >= p + 1
};

// What a call reads once. Every index the evaluators form from it and a Site stays inside these
// arrays: the gateway has checked their sizes.
struct Call {
  int directions;
  Axis axis[kMaxDirections];
  const double* weights;  // one per control point, xi index fastest; nullptr for B-splines
  const double* values;   // a scalar field's control values, indexed like the weights
  int index;              // the single function's 0-based global index
  // Offset in the weights of one step along each direction: 1, nu, nu nv.
  std::ptrdiff_t stride[kMaxDirections];
};

// One point, located: coordinate d after the end clamp and its knot span, p <= s[d] <= n - 1.
struct Site {
  double u[kMaxDirections];
  int s[kMaxDirections];
};

// The end clamp of coordinate x against its direction's last knot.
inline double Clamp(const Axis& a, double x) {
  const double last = a.U[a.m - 1];
  return std::fabs(x - last) < kEndTolerance ? last - kEndTolerance : x;
}

// Point x[0..directions-1], clamped, with the spans FindSpan gives, or with the caller's spans
// (already checked to lie in p..n-1; truncated toward zero).
Site Locate(const Call& call, const double* x);

// Most points LocateMany takes at once.
constexpr int kMaxLocated = 4;

// Where the last group of a batch's points was: each direction's last span, tried with the few
// after it before a search, and how many groups go on to search before that is tried again after
// a miss. Start: the degrees' spans, no skip.
struct SpanHint {
  int span[kMaxDirections];
  int skip[kMaxDirections];
};

// Locate of points x[l d .. l d + d - 1], l < count <= kMaxLocated, into sites[l]. hint, where
// it is not nullptr, is the batch's SpanHint, which points in increasing order keep holding, so
// that they are located without a search; the spans do not depend on it.
void LocateMany(const Call& call, const double* x, int count, Site* sites, SpanHint* hint);
Site LocateAt(const Call& call, const double* x, const double* spans);

// Where one point's results go: entry e of evaluator output o at at[o][e], a scalar output at
// at[o][0]; nullptr: nobody asked for that output, and it is not computed. Rows are contiguous
// in both forms: the compiler vectorises the entry loops for contiguous rows only, and a NaN
// result may take its sign from either operand of a vectorised and a scalar operation alike,
// so a batch that wrote its rows strided would run other code and give other NaN bits.
struct Dest {
  double* at[kMaxOutputs];
};

// An evaluator: its per-point function and what a plug-in built on it must provide.
struct Evaluator {
  void (*run)(const Call&, const Site&, const Dest&);
  int directions;
  bool weights;  // reads Call::weights
  bool values;   // reads Call::values
  bool index;    // reads Call::index
  bool rows;  // its outputs are rows of one entry per function that does not vanish, else scalars
  // Basis functions each direction needs at least, besides p + 1: 2 where first derivatives are
  // read, 3 where second derivatives are, 1 for the single function, whose degree 0 has none.
  int minFunctions;
  const char* const* outputs;  // the outputs' names, in the order of Dest::at
  int noutputs;
};

// Curves. w_k = weights[s - p + k], W = sum of w_k N_k, W' and W'' likewise.
//   CurveGradient  R_k = (l_k N_k) W, dR_k = l_k (W N'_k - W' N_k), l_k = w_k / (W W)
//   CurveHessian   R_k = (w_k N_k) / W, dR_k = (W N'_k - W' N_k) (w_k / (W W)),
//                  d2R_k = w_k (T1 + T2), T1 = (N''_k / W - ((2 N'_k) W') / W / W)
//                  - (N_k W'') / W / W, T2 = (((2 N_k) W') W') / W / W / W
//   CurveField     f = sum P_k R_k, f' = sum P_k R'_k with R_k = (N_k w_k) / W and
//                  R'_k = (w_k (W N'_k - N_k W')) / (W W)
//   CurveFieldD2   as CurveField with R'_k = ((W N'_k - N_k W') w_k) / (W W), and f'' from
//                  R''_k = ((w_k N''_k - R'_k (2 W')) - W'' R_k) / W
//   SingleShape    R_i = (N_i w_i) / W, R'_i = (w_i (W N'_i - N_i W')) / (W W), N_i and N'_i of
//                  the one function (0 outside its support), W and W' from the point's span
// A run of "/ W / W" is a chain of divisions, not one division by a power of W.
void CurveGradient(const Call& call, const Site& site, const Dest& out);
void CurveHessian(const Call& call, const Site& site, const Dest& out);
void CurveField(const Call& call, const Site& site, const Dest& out);
void CurveFieldD2(const Call& call, const Site& site, const Dest& out);
void SingleShape(const Call& call, const Site& site, const Dest& out);

// Surfaces, with w = the weight of (k, j) and c = w / (W W):
//   SurfaceGradient  W += (N M) w, Wxi += (M N') w, Weta += (N M') w in one pass, then
//                    R = ((N M) c) W, dRdxi = ((M N') W - Wxi (M N)) c,
//                    dRdeta = ((N M') W - Weta (N M)) c
//   SurfaceBSpline   R = N M, dRdxi = N' M, dRdeta = M' N
//   SurfaceHessian   SurfaceGradient's three, then Wxixi += (M N'') w, Wetaeta += (N M'') w,
//                    Wxieta += (M' N') w and, each divided in a chain,
//                    d2R/dxi2 = (((A1 - A2) - A3) + A4) w with A1 = (M N'') / W,
//                      A2 = (((2 N') M) Wxi) / W / W, A3 = ((N M) Wxixi) / W / W,
//                      A4 = ((((2 N) M) Wxi) Wxi) / W / W / W;
//                    d2R/deta2 likewise with B1 = (N M'') / W, B2 = (((2 M') N) Weta) / W / W,
//                      B3 = ((N M) Wetaeta) / W / W, B4 = ((((2 N) M) Weta) Weta) / W / W / W;
//                    d2R/dxideta = ((((C1 - C2) - C3) - C4) + C5) w with C1 = (M' N') / W,
//                      C2 = ((M N') Weta) / W / W, C3 = ((M' N) Wxi) / W / W,
//                      C4 = ((N M) Wxieta) / W / W, C5 = ((((2 N) M) Wxi) Weta) / W / W / W
void SurfaceGradient(const Call& call, const Site& site, const Dest& out);
void SurfaceBSpline(const Call& call, const Site& site, const Dest& out);
void SurfaceHessian(const Call& call, const Site& site, const Dest& out);

// Volumes, with B = (N M) L and c = w / (W W):
//   VolumeGradient  W += ((N M) L) w, Wxi += ((M N') L) w, Weta += ((N M') L) w,
//                   Wzeta += ((N L') M) w in one pass, then R = (B c) W,
//                   dRdxi = (((N' M) L) W - B Wxi) c, dRdeta = (((M' N) L) W - B Weta) c,
//                   dRdzeta = (((L' N) M) W - B Wzeta) c
//   VolumeHessian   VolumeGradient's four, then, in one pass,
//                   Wxixi += ((M N'') L) w, Wetaeta += ((N M'') L) w, Wzetazeta += ((N M) L'') w,
//                   Wxieta += ((M' N') L) w, Wetazeta += ((N M') L') w, Wxizeta += ((M N') L') w,
//                   and, each divided in a chain, RatSurfShapeHess's terms with L joined last
//                   to every product of N and M:
//                   d2R/dxi2 = (((A1 - A2) - A3) + A4) w with A1 = ((M N'') L) / W,
//                     A2 = ((((2 N') M) L) Wxi) / W / W, A3 = (B Wxixi) / W / W,
//                     A4 = (((((2 N) M) L) Wxi) Wxi) / W / W / W;
//                   d2R/deta2 likewise with B1 = ((N M'') L) / W,
//                     B2 = ((((2 M') N) L) Weta) / W / W, B3 = (B Wetaeta) / W / W,
//                     B4 = (((((2 N) M) L) Weta) Weta) / W / W / W;
//                   d2R/dzeta2 likewise with D1 = ((N M) L'') / W,
//                     D2 = ((((2 L') N) M) Wzeta) / W / W, D3 = (B Wzetazeta) / W / W,
//                     D4 = (((((2 N) M) L) Wzeta) Wzeta) / W / W / W;
//                   d2R/dxideta = ((((C1 - C2) - C3) - C4) + C5) w with C1 = ((M' N') L) / W,
//                     C2 = (((M N') L) Weta) / W / W, C3 = (((M' N) L) Wxi) / W / W,
//                     C4 = (B Wxieta) / W / W, C5 = (((((2 N) M) L) Wxi) Weta) / W / W / W;
//                   d2R/detazeta likewise with E1 = ((N M') L') / W,
//                     E2 = (((N M') L) Wzeta) / W / W, E3 = (((N M) L') Weta) / W / W,
//                     E4 = (B Wetazeta) / W / W, E5 = (((((2 N) M) L) Weta) Wzeta) / W / W / W;
//                   d2R/dxidzeta likewise with F1 = ((M N') L') / W,
//                     F2 = (((M N') L) Wzeta) / W / W, F3 = (((N M) L') Wxi) / W / W,
//                     F4 = (B Wxizeta) / W / W, F5 = (((((2 N) M) L) Wxi) Wzeta) / W / W / W
void VolumeGradient(const Call& call, const Site& site, const Dest& out);
void VolumeHessian(const Call& call, const Site& site, const Dest& out);

namespace names {
constexpr const char* kCurveBasis[] = {"R", "dRdxi", "dR2dxi"};
constexpr const char* kCurveField[] = {"interp", "interp_deriv", "interp_deriv2"};
constexpr const char* kSingle[] = {"Nip", "dNipdxi"};
constexpr const char* kSurface[] = {"R", "dRdxi", "dRdeta", "dR2dxi", "dR2deta", "dR2dxideta"};
constexpr const char* kVolume[] = {"R",           "dRdxi",     "dRdeta",   "dRdzeta",
                                   "dR2dxi",      "dR2deta",   "dR2dzeta", "dR2dxideta",
                                   "dR2detazeta", "dR2dxizeta"};
}  // namespace names

// clang-format off
//                                     run              dirs weights values index  rows   min
constexpr Evaluator kCurveGradient   = {CurveGradient,   1,  true,   false, false, true,  2,
                                        names::kCurveBasis, 2};
constexpr Evaluator kCurveHessian    = {CurveHessian,    1,  true,   false, false, true,  3,
                                        names::kCurveBasis, 3};
constexpr Evaluator kCurveField      = {CurveField,      1,  true,   true,  false, false, 2,
                                        names::kCurveField, 2};
constexpr Evaluator kCurveFieldD2    = {CurveFieldD2,    1,  true,   true,  false, false, 3,
                                        names::kCurveField, 3};
constexpr Evaluator kSingleShape     = {SingleShape,     1,  true,   false, true,  false, 1,
                                        names::kSingle, 2};
constexpr Evaluator kSurfaceGradient = {SurfaceGradient, 2,  true,   false, false, true,  2,
                                        names::kSurface, 3};
constexpr Evaluator kSurfaceBSpline  = {SurfaceBSpline,  2,  false,  false, false, true,  2,
                                        names::kSurface, 3};
constexpr Evaluator kSurfaceHessian  = {SurfaceHessian,  2,  true,   false, false, true,  3,
                                        names::kSurface, 6};
constexpr Evaluator kVolumeGradient  = {VolumeGradient,  3,  true,   false, false, true,  2,
                                        names::kVolume, 4};
constexpr Evaluator kVolumeHessian   = {VolumeHessian,   3,  true,   false, false, true,  3,
                                        names::kVolume, 10};
// clang-format on

// Functions that do not vanish at a point: the product of p + 1 over the directions.
int LocalFunctions(const Call& call);

// The 1-based positions in the weight array of the functions that do not vanish at the site, in
// row order: at[e * stride] = 1 + (su - p + k) + (sv - q + j) nu + (sw - r + i) nu nv, entry
// e = k + j (p + 1) + i (p + 1)(q + 1).
void BasisIndices(const Call& call, const Site& site, double* at, std::ptrdiff_t stride);

}  // namespace evaluators

#endif  // NURBS_EVALUATORS_EVALUATORS_H_
