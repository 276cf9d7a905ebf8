#include "gateway.h"

#include "checks.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>


namespace gateway {
namespace {

using evaluators::Axis;
using evaluators::Site;

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
  PointsShape,
  SpansShape,
  TooManyPoints,
  OutOfMemory,
};

constexpr const char* kMnemonic[] = {
    "tooManyOutputs",  "notDouble",      "complex",         "sparse",         "tooFewValues",
    "degreeNotFinite", "degreeNegative", "degreeTooLarge",  "knotsNotRow",    "knotsTooLong",
    "knotsTooShort",   "knotsNaN",       "knotsDecreasing", "spanOutOfRange", "indexOutOfRange",
    "pointsShape",     "spansShape",     "tooManyPoints",   "outOfMemory",
};
static_assert(sizeof kMnemonic / sizeof kMnemonic[0] == static_cast<size_t>(Fault::OutOfMemory) + 1,
              "one mnemonic per fault");

// The plug-in being called, in its form: whose name every message carries.
struct Plugin {
  const Signature& sig;
  Form form;
  const char* suffix() const { return form == Form::Batch ? "Batch" : ""; }
};

// "[R, dRdxi] = RatCurveShapeGrad(xi, p, knot, weights)", the twin's with its `idx`.
void CallForm(const Plugin& who, char* text, size_t size) {
  const Signature& sig = who.sig;
  size_t at = 0;
  const auto put = [&](const char* s) {
    const int wrote = std::snprintf(text + at, size - at, "%s", s);
    at = std::min(size - 1, at + static_cast<size_t>(wrote > 0 ? wrote : 0));
  };
  put("[");
  for (int o = 0; o < OutputCount(sig, who.form); ++o) {
    if (o > 0) put(", ");
    put(o < sig.noutputs ? sig.outputs[o] : "idx");
  }
  put("] = ");
  put(sig.name);
  put(who.suffix());
  put("(");
  for (int k = 0; k < sig.nargs; ++k) {
    if (k > 0) put(", ");
    put(sig.args[k].name);
  }
  put(")");
}

// Raises "Name:mnemonic" with a one-sentence message. Only stack buffers are live here: the host
// may leave by a non-local jump.
[[noreturn]] void Fail(const Plugin& who, Fault fault, const char* format, ...) {
  va_list args;
  va_start(args, format);
  RaiseV(who.sig.name, who.suffix(), kMnemonic[static_cast<int>(fault)], format, args);
}

[[noreturn]] void Usage(const Plugin& who) {
  if (who.form == Form::Point && who.sig.usage != nullptr) mexErrMsgTxt(who.sig.usage);
  char form[256];
  CallForm(who, form, sizeof form);
  char message[512];
  std::snprintf(message, sizeof message, "%d inputs expected, as in %s", who.sig.nargs, form);
  mexErrMsgTxt(message);
  std::abort();
}

// The values a direction needs: p + 1 functions for its span, and minFunctions to read the
// derivative rows. Spans p..n-1 then hold every knot and weight index the kernel touches.
int KnotsNeeded(const Signature& sig, int p) {
  const int least = sig.evaluator->minFunctions;
  const int functions = p + 1 > least ? p + 1 : least;
  return p + 1 + functions;
}

int ReadDegree(const Plugin& who, const char* name, const double* values, size_t count) {
  if (count < 1) Fail(who, Fault::TooFewValues, "%s must hold the degree; it is empty.", name);
  const double v = values[0];
  if (!std::isfinite(v))
    Fail(who, Fault::DegreeNotFinite, "%s must be a finite degree, found %g.", name, v);
  const double t = std::trunc(v);
  if (t < 0) Fail(who, Fault::DegreeNegative, "%s must be a degree >= 0, found %g.", name, v);
  if (t > kMaxDegree) {
    Fail(who, Fault::DegreeTooLarge, "%s must be a degree of at most %d, found %g.", name,
         kMaxDegree, v);
  }
  return static_cast<int>(t);
}

// Knots U[first..last] in order: one comparison per neighbour pair catches both a NaN and a
// decrease. Positions are reported counting from 1, as the caller counts.
void CheckOrder(const Plugin& who, const char* name, const double* U, int first, int last) {
  if (Ordered(U, first, last)) return;
  const OrderFault f = FirstOrderFault(U, first, last);
  if (f.isNaN) {
    Fail(who, Fault::KnotsNaN, "%s must not hold NaN, found %s(%d) = NaN.", name, name, f.nan + 1);
  }
  Fail(who, Fault::KnotsDecreasing, "%s must be non-decreasing, found %s(%d) < %s(%d).", name, name,
       f.k + 1, name, f.k);
}

// Knots U[0..m-1]: a row, at least KnotsNeeded long, and in order. A one-point call checks the
// order of up to kWholeKnotCheck knots here, whole, and of a longer vector where it reads it,
// once its span is known (CheckSpanKnots); a batch call checks every knot here.
void ReadKnots(const Plugin& who, const char* name, const mxArray* a, const double* U, Axis* axis) {
  const size_t rows = mxGetM(a);
  const size_t cols = mxGetN(a);
  if (rows != 1) {
    Fail(who, Fault::KnotsNotRow, "%s must be a row vector of knots, found a %zux%zu array.", name,
         rows, cols);
  }
  if (cols > static_cast<size_t>(INT_MAX)) {
    Fail(who, Fault::KnotsTooLong, "%s must hold at most %d knots, found %zu.", name, INT_MAX,
         cols);
  }
  const int m = static_cast<int>(cols);
  const int needed = KnotsNeeded(who.sig, axis->p);
  if (m < needed) {
    Fail(who, Fault::KnotsTooShort, "%s needs at least %d knots for degree %d, found %d.", name,
         needed, axis->p, m);
  }
  if (m <= kWholeKnotCheck || who.form == Form::Batch) CheckOrder(who, name, U, 0, m - 1);
  axis->U = U;
  axis->m = m;
  axis->n = m - axis->p - 1;
}

// A long knot vector, where a one-point call reads it: the search must have found a span that
// holds the point (knots out of order along the search can stop it elsewhere), and the 2p + 2
// knots of the span, U[s-p..s+p+1], from which every basis function of the call is made, must be
// in order.
void CheckSpanKnots(const Plugin& who, const char* name, const Axis& a, double u, int s,
                    bool searched) {
  if (a.m <= kWholeKnotCheck) return;
  const double* U = a.U;
  CheckOrder(who, name, U, s - a.p, std::min(a.m - 1, s + a.p + 1));
  const bool held = std::isnan(u) || u >= U[a.n] || u <= U[a.p] || (U[s] <= u && u < U[s + 1]);
  if (searched && !held) {
    Fail(who, Fault::KnotsDecreasing,
         "%s must be non-decreasing and free of NaN: the span search found no interval holding %g.",
         name, u);
  }
}

// A span or index given as a double, range-checked before it becomes an int.
bool InRange(double v, int low, int high) {
  return std::isfinite(v) && std::trunc(v) >= low && std::trunc(v) <= high;
}

// The batch form's points: a vector of coordinates for a curve, a d x P matrix otherwise.
size_t ReadPoints(const Plugin& who, const char* name, const mxArray* a, size_t count, int d) {
  const size_t rows = mxGetM(a);
  const size_t cols = mxGetN(a);
  if (d == 1) {
    if (rows != 1 && cols != 1 && count != 0) {
      Fail(who, Fault::PointsShape,
           "%s must be a vector of points, a row or a column, found a %zux%zu array.", name, rows,
           cols);
    }
    return count;
  }
  if (rows != static_cast<size_t>(d)) {
    Fail(who, Fault::PointsShape,
         "%s must be a %d x P matrix of points, one point per column, found a %zux%zu array.", name,
         d, rows, cols);
  }
  return cols;
}

// The batch form's spans: a d x P matrix matching the points, every entry in its range.
void ReadBatchSpans(const Plugin& who, const char* name, const mxArray* a, const Request& rq) {
  const int d = rq.call.directions;
  const size_t rows = mxGetM(a);
  const size_t cols = mxGetN(a);
  if (rows != static_cast<size_t>(d) || cols != rq.points) {
    Fail(who, Fault::SpansShape,
         "%s must be a %d x %zu matrix, one column of spans per point, found a %zux%zu array.",
         name, d, rq.points, rows, cols);
  }
  const double* v = rq.spans;
  for (size_t j = 0; j < rq.points; ++j) {
    for (int k = 0; k < d; ++k) {
      const Axis& axis = rq.call.axis[k];
      if (!InRange(v[j * d + k], axis.p, axis.n - 1)) {
        Fail(who, Fault::SpanOutOfRange, "%s(%d,%zu) must be a span from %d to %d, found %g.", name,
             k + 1, j + 1, axis.p, axis.n - 1, v[j * d + k]);
      }
    }
  }
}

}  // namespace

double* Outputs::Matrix(int slot, size_t rows, size_t cols, Fill fill) {
  if (!Wanted(slot)) return nullptr;
#if defined(NURBS_HOST_OCTAVE) || defined(NURBS_HOST_OCT)
  // Octave zeroes a new matrix, one pass over fresh pages on the calling thread, before the
  // batch's threads write it again.
  const mwSize m = static_cast<mwSize>(rows), n = static_cast<mwSize>(cols);
  plhs_[slot] = fill == Fill::Caller ? mxCreateUninitNumericMatrix(m, n, mxDOUBLE_CLASS, mxREAL)
                                     : mxCreateDoubleMatrix(m, n, mxREAL);
#else
  (void)fill;
  plhs_[slot] = mxCreateDoubleMatrix(static_cast<int>(rows), static_cast<int>(cols), mxREAL);
#endif
  double* data = mxGetPr(plhs_[slot]);
#if !defined(NURBS_HOST_OCT)  // Octave's own binding advises as it makes them
  AdviseHugePages(data, rows * cols * sizeof(double));
#endif
  return data;
}

Request Read(const Signature& sig, Form form, int nlhs, int nrhs, const mxArray* prhs[]) {
  const Plugin who{sig, form};
  if (nrhs != sig.nargs) Usage(who);
  const int outputs = OutputCount(sig, form);
  if (nlhs > outputs) {
    char call[256];
    CallForm(who, call, sizeof call);
    Fail(who, Fault::TooManyOutputs, "%d outputs were requested; there are at most %d, as in %s.",
         nlhs, outputs, call);
  }

  Request rq{};
  const double* data[kMaxArgs];
  size_t count[kMaxArgs];  // elements of every input
  for (int k = 0; k < sig.nargs; ++k) {
    const mxArray* a = prhs[k];
    const char* name = sig.args[k].name;
    if (!mxIsDouble(a)) {
      Fail(who, Fault::NotDouble, "%s must be a real double array, found %s.", name,
           mxGetClassName(a));
    }
    if (mxIsComplex(a)) Fail(who, Fault::Complex, "%s must be real, found a complex array.", name);
    if (mxIsSparse(a))
      Fail(who, Fault::Sparse, "%s must be a full array, found a sparse one.", name);
    data[k] = mxGetPr(a);
    count[k] = mxGetNumberOfElements(a);
  }

  // Degrees, then knots (their length depends on the degree), then what depends on both.
  evaluators::Call& call = rq.call;
  int directions = 0;
  for (int k = 0; k < sig.nargs; ++k) {
    if (sig.args[k].kind == Arg::Degree) {
      call.axis[directions++].p = ReadDegree(who, sig.args[k].name, data[k], count[k]);
    }
  }
  call.directions = directions;
  for (int k = 0, d = 0; k < sig.nargs; ++k) {
    if (sig.args[k].kind == Arg::Knots) {
      rq.knots[d] = sig.args[k].name;
      ReadKnots(who, sig.args[k].name, prhs[k], data[k], &call.axis[d++]);
    }
  }
  // Offsets of one step along each direction: 1, nu, nu nv. The product of all the counts is
  // never formed: it is bounded only once the weights are checked to hold that many.
  call.stride[0] = 1;
  for (int d = 1; d < directions; ++d) call.stride[d] = call.stride[d - 1] * call.axis[d - 1].n;

  int spansArg = -1;
  for (int k = 0; k < sig.nargs; ++k) {
    const char* name = sig.args[k].name;
    const size_t have = count[k];
    const double* v = data[k];
    switch (sig.args[k].kind) {
      case Arg::Point:
        if (form == Form::Batch) {
          rq.points = ReadPoints(who, name, prhs[k], have, directions);
        } else {
          if (have < static_cast<size_t>(directions)) {
            Fail(who, Fault::TooFewValues, "%s must hold %d coordinate(s), found %zu.", name,
                 directions, have);
          }
          rq.points = 1;
        }
        rq.xi = v;
        break;
      case Arg::Weights:
      case Arg::ControlValues: {
        // have >= n0 * n1 * n2, tested factor by factor so the product cannot overflow.
        size_t need = 1;
        bool enough = true;
        for (int d = 0; d < directions && enough; ++d) {
          const size_t n = static_cast<size_t>(call.axis[d].n);
          enough = n <= have / need;
          need *= n;
        }
        if (!enough) {
          Fail(who, Fault::TooFewValues,
               "%s must hold one value per control point, found %zu for %d x %d x %d.", name, have,
               call.axis[0].n, directions > 1 ? call.axis[1].n : 1,
               directions > 2 ? call.axis[2].n : 1);
        }
        (sig.args[k].kind == Arg::Weights ? call.weights : call.values) = v;
        break;
      }
      case Arg::Spans:
        if (form == Form::Point) {
          if (have < static_cast<size_t>(directions)) {
            Fail(who, Fault::TooFewValues, "%s must hold %d span(s), found %zu.", name, directions,
                 have);
          }
          for (int d = 0; d < directions; ++d) {
            const Axis& axis = call.axis[d];
            if (!InRange(v[d], axis.p, axis.n - 1)) {
              Fail(who, Fault::SpanOutOfRange, "%s(%d) must be a span from %d to %d, found %g.",
                   name, d + 1, axis.p, axis.n - 1, v[d]);
            }
          }
        }
        rq.spans = v;
        spansArg = k;
        break;
      case Arg::Index:
        if (have < 1) Fail(who, Fault::TooFewValues, "%s must hold an index; it is empty.", name);
        if (!InRange(v[0], 1, call.axis[0].n)) {
          Fail(who, Fault::IndexOutOfRange,
               "%s must be a basis function index from 1 to %d, found %g.", name, call.axis[0].n,
               v[0]);
        }
        call.index = static_cast<int>(v[0]) - 1;
        break;
      case Arg::Degree:
      case Arg::Knots:
        break;
    }
  }

  if (form == Form::Batch) {
    const size_t cols = sig.sizes == Sizes::Rows ? evaluators::LocalFunctions(call) : 1;
    if (rq.points > MaxOutputElements() / cols) {
      Fail(who, Fault::TooManyPoints,
           "xi holds %zu points: outputs of %zu x %zu would exceed the %zu elements an array "
           "may hold in this host.",
           rq.points, rq.points, cols, MaxOutputElements());
    }
    if (spansArg >= 0) ReadBatchSpans(who, sig.args[spansArg].name, prhs[spansArg], rq);
  }
  return rq;
}

void OutOfMemory(const Signature& sig, Form form, size_t bytes) {
  Fail(Plugin{sig, form}, Fault::OutOfMemory,
       "The call needs %zu bytes of scratch memory, which the system could not give.", bytes);
}

bool ResultsFit(size_t bytes) {
  constexpr size_t kAsked = size_t{1} << 20;
  if (bytes < kAsked) return true;
  if (bytes > SIZE_MAX / kResultCopies) return false;
  return SystemGives(bytes * kResultCopies);
}

void ResultsOutOfMemory(const Signature& sig, Form form, size_t bytes) {
  Fail(Plugin{sig, form}, Fault::OutOfMemory,
       "The outputs need %zu bytes, more memory than the system could give (out of memory): "
       "evaluate fewer points a call.",
       bytes);
}

#if !defined(NURBS_HOST_OCT)
// Nothing installs a poll through the MEX interface, so no call is ever stopped.
void Interrupt() {
  mexErrMsgTxt("The call was interrupted.");
  std::abort();
}
#endif

void RunPoint(const Signature& sig, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const Plugin who{sig, Form::Point};
  const Request rq = Read(sig, Form::Point, nlhs, nrhs, prhs);
  const evaluators::Call& call = rq.call;
  const Site site =
      rq.spans ? evaluators::LocateAt(call, rq.xi, rq.spans) : evaluators::Locate(call, rq.xi);
  for (int d = 0; d < call.directions; ++d) {
    CheckSpanKnots(who, rq.knots[d], call.axis[d], site.u[d], site.s[d], rq.spans == nullptr);
  }
  // The single function's own support, U[i..i+p+1], which it is evaluated from.
  const Axis& first = call.axis[0];
  if (sig.evaluator->index && first.m > kWholeKnotCheck) {
    CheckOrder(who, rq.knots[0], first.U, call.index, call.index + first.p + 1);
  }

  const evaluators::Evaluator& ev = *sig.evaluator;
  Outputs out(nlhs, plhs);
  evaluators::Dest dest{};
  double scalars[evaluators::kMaxOutputs];
  const size_t nen = static_cast<size_t>(evaluators::LocalFunctions(call));
  for (int o = 0; o < sig.noutputs && out.Wanted(o); ++o) {
    dest.at[sig.slot[o]] = ev.rows ? out.Matrix(o, 1, nen) : &scalars[o];
  }
  ev.run(call, site, dest);
  if (!ev.rows) {
    for (int o = 0; o < sig.noutputs && out.Wanted(o); ++o) out.Scalar(o, scalars[o]);
  }
}

}  // namespace gateway
