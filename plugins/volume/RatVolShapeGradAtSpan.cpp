// [R, dRdxi, dRdeta, dRdzeta] = RatVolShapeGradAtSpan(xi, p, q, r, knotU, knotV, knotW, weights, spans)
// RatVolShapeGrad at knot spans the caller already holds: spans(1..3) along xi, eta and zeta,
// 0-based as the span search gives them. A point outside its span is evaluated with that span's
// polynomial pieces.
#include <iterator>

#include "tensor.h"

namespace {

constexpr gateway::ArgRule kArgs[] = {
    {"xi", gateway::Arg::Point},     {"p", gateway::Arg::Degree},      {"q", gateway::Arg::Degree},
    {"r", gateway::Arg::Degree},     {"knotU", gateway::Arg::Knots},   {"knotV", gateway::Arg::Knots},
    {"knotW", gateway::Arg::Knots},  {"weights", gateway::Arg::Values}, {"spans", gateway::Arg::Spans},
};
constexpr gateway::Signature kSignature = {
    "RatVolShapeGradAtSpan",
    "[R, dRdxi, dRdeta, dRdzeta] = "
    "RatVolShapeGradAtSpan(xi, p, q, r, knotU, knotV, knotW, weights, spans)",
    kArgs, std::size(kArgs), /*outputs=*/4, /*minFunctions=*/2};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const gateway::Inputs in = gateway::Read(kSignature, nlhs, nrhs, prhs);
  gateway::Basis b[3];
  gateway::Evaluate(in, 1, b);

  gateway::Outputs out(nlhs, plhs);
  const int nen = gateway::LocalFunctions(in);
  double* R = out.Row(0, nen);
  double* dRdxi = out.Row(1, nen);
  double* dRdeta = out.Row(2, nen);
  double* dRdzeta = out.Row(3, nen);
  gateway::RationalVolume(in, b, gateway::Weights(in, 7), R, dRdxi, dRdeta, dRdzeta);
}
