// [R, dRdxi, dRdeta] = RatSurfShapeGradAtSpan(xi, p, q, knotU, knotV, weights, spans)
// RatSurfShapeGrad at knot spans the caller already holds: spans(1) along xi and spans(2) along
// eta, 0-based as the span search gives them (p <= spans(1) <= nu - 1). A point outside its span
// is evaluated with that span's polynomial pieces.
#include <iterator>

#include "tensor.h"

namespace {

constexpr gateway::ArgRule kArgs[] = {
    {"xi", gateway::Arg::Point},       {"p", gateway::Arg::Degree},
    {"q", gateway::Arg::Degree},       {"knotU", gateway::Arg::Knots},
    {"knotV", gateway::Arg::Knots},    {"weights", gateway::Arg::Values},
    {"spans", gateway::Arg::Spans},
};
constexpr gateway::Signature kSignature = {
    "RatSurfShapeGradAtSpan",
    "[R, dRdxi, dRdeta] = RatSurfShapeGradAtSpan(xi, p, q, knotU, knotV, weights, spans)",
    kArgs, std::size(kArgs), /*outputs=*/3, /*minFunctions=*/2};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const gateway::Inputs in = gateway::Read(kSignature, nlhs, nrhs, prhs);
  gateway::Basis b[2];
  gateway::Evaluate(in, 1, b);

  gateway::Outputs out(nlhs, plhs);
  const int nen = gateway::LocalFunctions(in);
  double* R = out.Row(0, nen);
  double* dRdxi = out.Row(1, nen);
  double* dRdeta = out.Row(2, nen);
  gateway::RationalSurface(in, b, gateway::Weights(in, 5), R, dRdxi, dRdeta);
}
