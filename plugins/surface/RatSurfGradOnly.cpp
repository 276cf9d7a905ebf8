// [dRdxi, dRdeta] = RatSurfGradOnly(xi, p, q, knotU, knotV, weights)
// The derivatives along xi and eta of the rational surface basis at (xi(1), xi(2)), without the
// values: bit for bit the second and third outputs of RatSurfShapeGrad.
#include <iterator>

#include "tensor.h"

namespace {

constexpr gateway::ArgRule kArgs[] = {
    {"xi", gateway::Arg::Point},     {"p", gateway::Arg::Degree},     {"q", gateway::Arg::Degree},
    {"knotU", gateway::Arg::Knots},  {"knotV", gateway::Arg::Knots},  {"weights", gateway::Arg::Values},
};
constexpr gateway::Signature kSignature = {
    "RatSurfGradOnly", "[dRdxi, dRdeta] = RatSurfGradOnly(xi, p, q, knotU, knotV, weights)",
    kArgs, std::size(kArgs), /*outputs=*/2, /*minFunctions=*/2};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const gateway::Inputs in = gateway::Read(kSignature, nlhs, nrhs, prhs);
  gateway::Basis b[2];
  gateway::Evaluate(in, 1, b);

  gateway::Outputs out(nlhs, plhs);
  const int nen = gateway::LocalFunctions(in);
  double* dRdxi = out.Row(0, nen);
  double* dRdeta = out.Row(1, nen);
  gateway::RationalSurface(in, b, gateway::Weights(in, 5), nullptr, dRdxi, dRdeta);
}
