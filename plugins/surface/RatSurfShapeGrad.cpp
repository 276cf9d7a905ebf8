// [R, dRdxi, dRdeta] = RatSurfShapeGrad(xi, p, q, knotU, knotV, weights)
// The (p + 1)(q + 1) rational basis functions of a NURBS surface that do not vanish at
// (xi(1), xi(2)), and their derivatives along xi and eta; xi fastest.
#include <iterator>

#include "tensor.h"

namespace {

constexpr gateway::ArgRule kArgs[] = {
    {"xi", gateway::Arg::Point},     {"p", gateway::Arg::Degree},     {"q", gateway::Arg::Degree},
    {"knotU", gateway::Arg::Knots},  {"knotV", gateway::Arg::Knots},  {"weights", gateway::Arg::Values},
};
constexpr gateway::Signature kSignature = {
    "RatSurfShapeGrad", "[R, dRdxi, dRdeta] = RatSurfShapeGrad(xi, p, q, knotU, knotV, weights)",
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
