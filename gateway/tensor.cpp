#include "tensor.h"

namespace gateway {

SpanWeights Weights(const Inputs& in, int arg) {
  std::ptrdiff_t offset = 0;
  std::ptrdiff_t stride = 1;
  std::ptrdiff_t strides[kMaxDirections] = {1, 0, 0};
  for (int d = 0; d < in.directions; ++d) {
    strides[d] = stride;
    offset += (in.dir[d].s - in.dir[d].p) * stride;
    stride *= in.dir[d].n;
  }
  return {in.data[arg] + offset, strides[1], strides[2]};
}

SurfaceSums RationalSurface(const Inputs& in, const Basis* b, const SpanWeights& w, double* R,
                            double* dRdxi, double* dRdeta) {
  const int p = in.dir[0].p, q = in.dir[1].p;
  const double *N = b[0].N, *dN = b[0].d1;
  const double *M = b[1].N, *dM = b[1].d1;
  SurfaceSums s = {0.0, 0.0, 0.0};
  for (int j = 0; j <= q; ++j) {
    for (int k = 0; k <= p; ++k) {
      const double wkj = w.at(k, j);
      s.W += (N[k] * M[j]) * wkj;
      s.Wxi += (M[j] * dN[k]) * wkj;
      s.Weta += (N[k] * dM[j]) * wkj;
    }
  }
  for (int j = 0, e = 0; j <= q; ++j) {
    for (int k = 0; k <= p; ++k, ++e) {
      const double c = w.at(k, j) / (s.W * s.W);
      if (R) R[e] = ((N[k] * M[j]) * c) * s.W;
      if (dRdxi) dRdxi[e] = ((M[j] * dN[k]) * s.W - s.Wxi * (M[j] * N[k])) * c;
      if (dRdeta) dRdeta[e] = ((N[k] * dM[j]) * s.W - s.Weta * (N[k] * M[j])) * c;
    }
  }
  return s;
}

void RationalVolume(const Inputs& in, const Basis* b, const SpanWeights& w, double* R,
                    double* dRdxi, double* dRdeta, double* dRdzeta) {
  const int p = in.dir[0].p, q = in.dir[1].p, r = in.dir[2].p;
  const double *N = b[0].N, *dN = b[0].d1;
  const double *M = b[1].N, *dM = b[1].d1;
  const double *L = b[2].N, *dL = b[2].d1;
  double W = 0.0, Wxi = 0.0, Weta = 0.0, Wzeta = 0.0;
  for (int i = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k) {
        const double wkji = w.at(k, j, i);
        W += ((N[k] * M[j]) * L[i]) * wkji;
        Wxi += ((M[j] * dN[k]) * L[i]) * wkji;
        Weta += ((N[k] * dM[j]) * L[i]) * wkji;
        Wzeta += ((N[k] * dL[i]) * M[j]) * wkji;
      }
    }
  }
  for (int i = 0, e = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k, ++e) {
        const double B = (N[k] * M[j]) * L[i];
        const double c = w.at(k, j, i) / (W * W);
        if (R) R[e] = (B * c) * W;
        if (dRdxi) dRdxi[e] = (((dN[k] * M[j]) * L[i]) * W - B * Wxi) * c;
        if (dRdeta) dRdeta[e] = (((dM[j] * N[k]) * L[i]) * W - B * Weta) * c;
        if (dRdzeta) dRdzeta[e] = (((dL[i] * N[k]) * M[j]) * W - B * Wzeta) * c;
      }
    }
  }
}

void SurfaceGradient(const Signature& sig, bool values, int nlhs, mxArray* plhs[], int nrhs,
                     const mxArray* prhs[]) {
  const Inputs in = Read(sig, nlhs, nrhs, prhs);
  Basis b[2];
  Evaluate(in, 1, b);
  Outputs out(nlhs, plhs);
  double* rows[3] = {nullptr, nullptr, nullptr};
  out.Rows(LocalFunctions(in), values ? 3 : 2, values ? rows : rows + 1);
  RationalSurface(in, b, Weights(in, 5), rows[0], rows[1], rows[2]);
}

void VolumeGradient(const Signature& sig, int nlhs, mxArray* plhs[], int nrhs,
                    const mxArray* prhs[]) {
  const Inputs in = Read(sig, nlhs, nrhs, prhs);
  Basis b[3];
  Evaluate(in, 1, b);
  Outputs out(nlhs, plhs);
  double* rows[4];
  out.Rows(LocalFunctions(in), 4, rows);
  RationalVolume(in, b, Weights(in, 7), rows[0], rows[1], rows[2], rows[3]);
}

}  // namespace gateway
