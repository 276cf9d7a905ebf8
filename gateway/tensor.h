// Tensor-product bases of surfaces and volumes, shared by the plug-ins whose arithmetic is the
// same: local k runs along xi, j along eta, i along zeta, and output entry e = k + j (p + 1) +
// i (p + 1)(q + 1), xi fastest, the order of the weights. Every product and quotient keeps the
// grouping written beside it; sums start from 0.0 and run i outermost, k innermost.
#ifndef NURBS_GATEWAY_TENSOR_H_
#define NURBS_GATEWAY_TENSOR_H_

#include <cstddef>

#include "gateway.h"

namespace gateway {

// The weights of the control points whose functions do not vanish at the point, in a weight
// array with the xi index fastest, then eta, then zeta: local (k, j, i) is at(k, j, i).
struct SpanWeights {
  const double* first;  // local (0, 0, 0), global (su - p, sv - q, sw - r)
  std::ptrdiff_t dj;    // nu
  std::ptrdiff_t di;    // nu nv
  double at(int k, int j, int i = 0) const { return first[k + j * dj + i * di]; }
};
SpanWeights Weights(const Inputs& in, int arg);

// The first-derivative sums of a rational surface: W = sum (N M) w, Wxi = sum (M N') w,
// Weta = sum (N M') w.
struct SurfaceSums {
  double W, Wxi, Weta;
};

// R, dRdxi and dRdeta of a rational surface (any of them may be nullptr: not computed):
//   R = ((N M) c) W,  dRdxi = ((M N') W - Wxi (M N)) c,  dRdeta = ((N M') W - Weta (N M)) c,
// with c = w / (W W). Returns the sums.
SurfaceSums RationalSurface(const Inputs& in, const Basis* b, const SpanWeights& w, double* R,
                            double* dRdxi, double* dRdeta);

// R, dRdxi, dRdeta, dRdzeta of a rational volume (any of them may be nullptr), with
// B = (N M) L and c = w / (W W):
//   W += ((N M) L) w,  Wxi += ((M N') L) w,  Weta += ((N M') L) w,  Wzeta += ((N L') M) w,
//   R = (B c) W,  dRdxi = (((N' M) L) W - B Wxi) c,  dRdeta = (((M' N) L) W - B Weta) c,
//   dRdzeta = (((L' N) M) W - B Wzeta) c.
void RationalVolume(const Inputs& in, const Basis* b, const SpanWeights& w, double* R,
                    double* dRdxi, double* dRdeta, double* dRdzeta);

// The whole call of the plug-ins whose arithmetic is RationalSurface's (RatSurfShapeGrad,
// RatSurfShapeGradAtSpan, and without the values RatSurfGradOnly), and RationalVolume's
// (RatVolShapeGrad, RatVolShapeGradAtSpan). The weights are input 6, or 8 for volumes.
void SurfaceGradient(const Signature& sig, bool values, int nlhs, mxArray* plhs[], int nrhs,
                     const mxArray* prhs[]);
void VolumeGradient(const Signature& sig, int nlhs, mxArray* plhs[], int nrhs,
                    const mxArray* prhs[]);

}  // namespace gateway

#endif  // NURBS_GATEWAY_TENSOR_H_
