#include "gateway.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace gateway {
namespace {

// Every fault a plug-in reports, with its identifier's mnemonic. Identifiers are API: callers
// catch them, so a mnemonic never changes once shipped.
enum class Fault {
  TooManyOutputs,
  NotDouble,
  Complex,
  Sparse,
  TooFewValues,
  DegreeNotFinite,
  DegreeNegative,
  DegreeTooLarge,
  KnotsNotRow,
  KnotsTooLong,
  KnotsTooShort,
  KnotsNaN,
  KnotsDecreasing,
  SpanOutOfRange,
  IndexOutOfRange,
};

constexpr const char* kMnemonic[] = {
    "tooManyOutputs",  "notDouble",      "complex",         "sparse",         "tooFewValues",
    "degreeNotFinite", "degreeNegative", "degreeTooLarge",  "knotsNotRow",    "knotsTooLong",
    "knotsTooShort",   "knotsNaN",       "knotsDecreasing", "spanOutOfRange", "indexOutOfRange",
};
static_assert(sizeof kMnemonic / sizeof kMnemonic[0] ==
                  static_cast<size_t>(Fault::IndexOutOfRange) + 1,
              "one mnemonic per fault");

// Raises "Name:mnemonic" with a one-sentence message. Only stack buffers are live here: the host
// may leave by a non-local jump.
[[noreturn]] void Fail(const Signature& sig, Fault fault, const char* format, ...) {
  char id[96];
  std::snprintf(id, sizeof id, "%s:%s", sig.name, kMnemonic[static_cast<int>(fault)]);
  char message[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  mexErrMsgIdAndTxt(id, "%s", message);
  std::abort();  // a host's error call never returns
}

[[noreturn]] void Usage(const Signature& sig) {
  if (sig.usage != nullptr) mexErrMsgTxt(sig.usage);
  char message[512];
  std::snprintf(message, sizeof message, "%d inputs expected, as in %s", sig.nargs, sig.callForm);
  mexErrMsgTxt(message);
  std::abort();
}

// The values a direction needs: p + 1 functions for its span, and minFunctions to read the
// derivative rows. Spans p..n-1 then hold every knot and weight index the kernel touches.
int KnotsNeeded(const Signature& sig, int p) {
  const int functions = p + 1 > sig.minFunctions ? p + 1 : sig.minFunctions;
  return p + 1 + functions;
}

int ReadDegree(const Signature& sig, const char* name, const double* values, size_t count) {
  if (count < 1) Fail(sig, Fault::TooFewValues, "%s must hold the degree; it is empty.", name);
  const double v = values[0];
  if (!std::isfinite(v))
    Fail(sig, Fault::DegreeNotFinite, "%s must be a finite degree, found %g.", name, v);
  const double t = std::trunc(v);
  if (t < 0) Fail(sig, Fault::DegreeNegative, "%s must be a degree >= 0, found %g.", name, v);
  if (t > kMaxDegree) {
    Fail(sig, Fault::DegreeTooLarge, "%s must be a degree of at most %d, found %g.", name,
         kMaxDegree, v);
  }
  return static_cast<int>(t);
}

// Whether U[first..last] is non-decreasing without NaN: the common case, answered without a
// branch per knot, two pairs at a time where SSE2 is there (every x86-64).
bool Ordered(const double* U, int first, int last) {
  int k = first + 1;
  int unordered = 0;
#if defined(__SSE2__)
  __m128d any = _mm_setzero_pd();
  for (; k + 1 <= last; k += 2) {
    any = _mm_or_pd(any, _mm_cmpnle_pd(_mm_loadu_pd(U + k - 1), _mm_loadu_pd(U + k)));
  }
  unordered = _mm_movemask_pd(any);
#endif
  for (; k <= last; ++k) unordered |= !(U[k - 1] <= U[k]);
  return unordered == 0;
}

// Knots U[first..last] in order: one comparison per neighbour pair catches both a NaN and a
// decrease. Positions are reported counting from 1, as the caller counts.
void CheckOrder(const Signature& sig, const char* name, const double* U, int first, int last) {
  if (Ordered(U, first, last)) return;
  for (int k = first + 1; k <= last; ++k) {
    if (!(U[k - 1] <= U[k])) {
      if (std::isnan(U[k - 1]) || std::isnan(U[k])) {
        const int at = std::isnan(U[k - 1]) ? k : k + 1;
        Fail(sig, Fault::KnotsNaN, "%s must not hold NaN, found %s(%d) = NaN.", name, name, at);
      }
      Fail(sig, Fault::KnotsDecreasing, "%s must be non-decreasing, found %s(%d) < %s(%d).", name,
           name, k + 1, name, k);
    }
  }
}

// Knots U[0..m-1]: a row, at least KnotsNeeded long, and in order. Up to kWholeKnotCheck knots
// the order is checked here, whole; a longer vector is checked where the call reads it, once its
// span is known (CheckSpanKnots).
void ReadKnots(const Signature& sig, const char* name, const mxArray* a, const double* U,
               Direction* d) {
  const size_t rows = mxGetM(a);
  const size_t cols = mxGetN(a);
  if (rows != 1) {
    Fail(sig, Fault::KnotsNotRow, "%s must be a row vector of knots, found a %zux%zu array.", name,
         rows, cols);
  }
  if (cols > static_cast<size_t>(INT_MAX)) {
    Fail(sig, Fault::KnotsTooLong, "%s must hold at most %d knots, found %zu.", name, INT_MAX,
         cols);
  }
  const int m = static_cast<int>(cols);
  const int needed = KnotsNeeded(sig, d->p);
  if (m < needed) {
    Fail(sig, Fault::KnotsTooShort, "%s needs at least %d knots for degree %d, found %d.", name,
         needed, d->p, m);
  }
  if (m <= kWholeKnotCheck) CheckOrder(sig, name, U, 0, m - 1);
  d->name = name;
  d->U = U;
  d->m = m;
  d->n = m - d->p - 1;
}

// A long knot vector, where the call reads it: the search must have found a span that holds the
// point (knots out of order along the search can stop it elsewhere), and the 2p + 2 knots of the
// span, U[s-p..s+p+1], from which every basis function of the call is made, must be in order.
void CheckSpanKnots(const Signature& sig, const Direction& d, bool searched) {
  if (d.m <= kWholeKnotCheck) return;
  const double* U = d.U;
  CheckOrder(sig, d.name, U, d.s - d.p, std::min(d.m - 1, d.s + d.p + 1));
  const bool held =
      std::isnan(d.u) || d.u >= U[d.n] || d.u <= U[d.p] || (U[d.s] <= d.u && d.u < U[d.s + 1]);
  if (searched && !held) {
    Fail(sig, Fault::KnotsDecreasing,
         "%s must be non-decreasing and free of NaN: the span search found no interval holding %g.",
         d.name, d.u);
  }
}

// A span or index given as a double, range-checked before it becomes an int.
bool InRange(double v, int low, int high) {
  return std::isfinite(v) && std::trunc(v) >= low && std::trunc(v) <= high;
}

}  // namespace

Inputs Read(const Signature& sig, int nlhs, int nrhs, const mxArray* prhs[]) {
  if (nrhs != sig.nargs) Usage(sig);
  if (nlhs > sig.outputs) {
    Fail(sig, Fault::TooManyOutputs, "%d outputs were requested; there are at most %d, as in %s.",
         nlhs, sig.outputs, sig.callForm);
  }

  Inputs in{};
  size_t count[kMaxArgs];  // elements of every input
  for (int k = 0; k < sig.nargs; ++k) {
    const mxArray* a = prhs[k];
    const char* name = sig.args[k].name;
    if (!mxIsDouble(a)) {
      Fail(sig, Fault::NotDouble, "%s must be a real double array, found %s.", name,
           mxGetClassName(a));
    }
    if (mxIsComplex(a)) Fail(sig, Fault::Complex, "%s must be real, found a complex array.", name);
    if (mxIsSparse(a))
      Fail(sig, Fault::Sparse, "%s must be a full array, found a sparse one.", name);
    in.data[k] = mxGetPr(a);
    count[k] = mxGetNumberOfElements(a);
  }

  // Degrees, then knots (their length depends on the degree), then what depends on both.
  int directions = 0;
  for (int k = 0; k < sig.nargs; ++k) {
    if (sig.args[k].kind == Arg::Degree) {
      in.dir[directions++].p = ReadDegree(sig, sig.args[k].name, in.data[k], count[k]);
    }
  }
  in.directions = directions;
  for (int k = 0, d = 0; k < sig.nargs; ++k) {
    if (sig.args[k].kind == Arg::Knots) {
      ReadKnots(sig, sig.args[k].name, prhs[k], in.data[k], &in.dir[d++]);
    }
  }

  int pointArg = -1;
  int spansArg = -1;
  bool indexed = false;
  for (int k = 0; k < sig.nargs; ++k) {
    const char* name = sig.args[k].name;
    const size_t have = count[k];
    const double* v = in.data[k];
    switch (sig.args[k].kind) {
      case Arg::Point:
        if (have < static_cast<size_t>(directions)) {
          Fail(sig, Fault::TooFewValues, "%s must hold %d coordinate(s), found %zu.", name,
               directions, have);
        }
        pointArg = k;
        break;
      case Arg::Values: {
        // have >= n0 * n1 * n2, tested factor by factor so the product cannot overflow.
        size_t need = 1;
        bool enough = true;
        for (int d = 0; d < directions && enough; ++d) {
          const size_t n = static_cast<size_t>(in.dir[d].n);
          enough = n <= have / need;
          need *= n;
        }
        if (!enough) {
          Fail(sig, Fault::TooFewValues,
               "%s must hold one value per control point, found %zu for %d x %d x %d.", name, have,
               in.dir[0].n, directions > 1 ? in.dir[1].n : 1, directions > 2 ? in.dir[2].n : 1);
        }
        break;
      }
      case Arg::Spans:
        if (have < static_cast<size_t>(directions)) {
          Fail(sig, Fault::TooFewValues, "%s must hold %d span(s), found %zu.", name, directions,
               have);
        }
        for (int d = 0; d < directions; ++d) {
          const Direction& dir = in.dir[d];
          if (!InRange(v[d], dir.p, dir.n - 1)) {
            Fail(sig, Fault::SpanOutOfRange, "%s(%d) must be a span from %d to %d, found %g.", name,
                 d + 1, dir.p, dir.n - 1, v[d]);
          }
        }
        spansArg = k;
        break;
      case Arg::Index:
        if (have < 1) Fail(sig, Fault::TooFewValues, "%s must hold an index; it is empty.", name);
        if (!InRange(v[0], 1, in.dir[0].n)) {
          Fail(sig, Fault::IndexOutOfRange,
               "%s must be a basis function index from 1 to %d, found %g.", name, in.dir[0].n,
               v[0]);
        }
        in.index = static_cast<int>(v[0]) - 1;
        indexed = true;
        break;
      case Arg::Degree:
      case Arg::Knots:
        break;
    }
  }

  const double* point = in.data[pointArg];
  for (int d = 0; d < directions; ++d) {
    Direction& dir = in.dir[d];
    const double last = dir.U[dir.m - 1];
    dir.u = std::fabs(point[d] - last) < kEndTolerance ? last - kEndTolerance : point[d];
    dir.s = spansArg >= 0 ? static_cast<int>(in.data[spansArg][d])
                          : FindSpan(dir.n - 1, dir.p, dir.u, dir.U);
    CheckSpanKnots(sig, dir, spansArg < 0);
  }
  // The single function's own support, U[i..i+p+1], which it is evaluated from.
  const Direction& first = in.dir[0];
  if (indexed && first.m > kWholeKnotCheck) {
    CheckOrder(sig, first.name, first.U, in.index, in.index + first.p + 1);
  }
  return in;
}

void Evaluate(const Direction& d, int order, Basis* basis) {
  // Row 0 of the derivative table is BasisFuns' result bit for bit (the same recurrence in the
  // same order), so the values come from the one call.
  double* rows[3] = {basis->N, basis->d1, basis->d2};
  dersBasisFuns(d.s, d.u, d.p, order, d.U, rows);
}

void Evaluate(const Inputs& in, int order, Basis* basis) {
  for (int d = 0; d < in.directions; ++d) Evaluate(in.dir[d], order, &basis[d]);
}

int LocalFunctions(const Inputs& in) {
  int count = 1;
  for (int d = 0; d < in.directions; ++d) count *= in.dir[d].p + 1;
  return count;
}

WeightSums Weigh(const double* w, const Basis& b, int p, int order) {
  WeightSums sums = {0.0, 0.0, 0.0};
  for (int k = 0; k <= p; ++k) {
    sums.W += w[k] * b.N[k];
    sums.dW += w[k] * b.d1[k];
    if (order > 1) sums.d2W += w[k] * b.d2[k];
  }
  return sums;
}

double Contract(const double* P, const double* v, int p) {
  double sum = 0.0;
  for (int k = 0; k <= p; ++k) sum += P[k] * v[k];
  return sum;
}

void ReadCurve(const Signature& sig, int order, int nlhs, int nrhs, const mxArray* prhs[],
               Curve* curve) {
  curve->in = Read(sig, nlhs, nrhs, prhs);
  const Direction& d = curve->in.dir[0];
  Evaluate(d, order, &curve->b);
  curve->w = curve->in.data[sig.nargs - 1] + (d.s - d.p);
  curve->sums = Weigh(curve->w, curve->b, d.p, order);
}

void Outputs::Rows(int cols, int count, double** rows) {
  for (int slot = 0; slot < count; ++slot) rows[slot] = Row(slot, cols);
}

double* Outputs::Row(int slot, int cols) {
  if (!Wanted(slot)) return nullptr;
  plhs_[slot] = mxCreateDoubleMatrix(1, cols, mxREAL);
  return mxGetPr(plhs_[slot]);
}

void Outputs::Scalar(int slot, double value) {
  if (Wanted(slot)) plhs_[slot] = mxCreateDoubleScalar(value);
}

}  // namespace gateway
