#include "lanes.h"

#include <cstdlib>
#include <cstring>

#include "basis.h"

// GCC's and Clang's vector types on x86-64, whose baseline has SSE2: two lanes there always, four
// where the processor has AVX2, in functions compiled for it and entered only after asking the
// processor. Elsewhere every call runs one point at a time.
#if defined(__GNUC__) && defined(__x86_64__)
#define NURBS_LANES 1
#else
#define NURBS_LANES 0
#endif

namespace evaluators {
namespace {

#if NURBS_LANES

// A 256-bit value passed between functions of the default target would change their ABI; every
// function taking one here is inlined into the group that the AVX2 target compiles.
#pragma GCC diagnostic ignored "-Wpsabi"

#define NURBS_LANE inline __attribute__((always_inline))

typedef double V2 __attribute__((vector_size(16)));
typedef double V4 __attribute__((vector_size(32)));

template <class V>
constexpr int kWidth = sizeof(V) / sizeof(double);

template <class V>
using Mask = decltype(V{} != V{});

template <class V>
NURBS_LANE V Splat(double x) {
  V v = {};
  for (int l = 0; l < kWidth<V>; ++l) v[l] = x;
  return v;
}

// Lane l: at[l][offset].
template <class V>
NURBS_LANE V Gather(const double* const* at, std::ptrdiff_t offset) {
  V v = {};
  for (int l = 0; l < kWidth<V>; ++l) v[l] = at[l][offset];
  return v;
}

// Stores v at row[0..width-1], on no alignment, and notes its NaN lanes.
template <class V>
NURBS_LANE void Put(double* row, V v, Mask<V>* nan) {
  std::memcpy(row, &v, sizeof v);
  *nan |= v != v;
}

template <class V>
NURBS_LANE unsigned NaNLanes(Mask<V> nan) {
  unsigned lanes = 0;
  for (int l = 0; l < kWidth<V>; ++l) lanes |= nan[l] ? 1u << l : 0u;
  return lanes;
}

// One direction's functions at each lane's site, as Basis holds them for one point.
template <class V>
struct LaneBasis {
  V N[kLaneMaxDegree + 1];
  V d1[kLaneMaxDegree + 1];
  V d2[kLaneMaxDegree + 1];
};

// dersBasisFuns of direction d to order n, each lane at its own site and span: the kernel's
// operations in its order, the knots of each lane's span gathered into the lanes. kDegree, where
// it is not -1, is the direction's degree, known to the compiler so that it can keep the tables in
// registers.
template <class V, int kDegree = -1>
NURBS_LANE void DersAt(const Call& call, const Site* sites, int d, int n, LaneBasis<V>* out) {
  constexpr int kL = kWidth<V>;
  constexpr int kD = kLaneMaxDegree + 1;
  const int p = kDegree >= 0 ? kDegree : call.axis[d].p;
  const double* U = call.axis[d].U;
  int s[kL];
  V u = {};
  for (int l = 0; l < kL; ++l) {
    s[l] = sites[l].s[d];
    u[l] = sites[l].u[d];
  }
  V* ders[3] = {out->N, out->d1, out->d2};
  V left[kD], right[kD], ndu[kD][kD], a[2][kD];

  ndu[0][0] = Splat<V>(1.0);
  for (int j = 1; j <= p; ++j) {
    V below = {}, above = {};
    for (int l = 0; l < kL; ++l) {
      below[l] = U[s[l] + 1 - j];
      above[l] = U[s[l] + j];
    }
    left[j] = u - below;
    right[j] = above - u;
    V saved = Splat<V>(0.0);
    for (int r = 0; r < j; ++r) {
      ndu[j][r] = right[r + 1] + left[j - r];
      const V temp = ndu[r][j - 1] / ndu[j][r];
      ndu[r][j] = saved + right[r + 1] * temp;
      saved = left[j - r] * temp;
    }
    ndu[j][j] = saved;
  }
  for (int r = 0; r <= p; ++r) ders[0][r] = ndu[r][p];

  const int top = n < p ? n : p;
  for (int k = p + 1; k <= n; ++k) {
    for (int r = 0; r <= p; ++r) ders[k][r] = Splat<V>(0.0);
  }
  for (int r = 0; r <= p; ++r) {
    int s1 = 0;
    int s2 = 1;
    a[0][0] = Splat<V>(1.0);
    for (int k = 1; k <= top; ++k) {
      V dk = Splat<V>(0.0);
      const int rk = r - k;
      const int pk = p - k;
      if (r >= k) {
        a[s2][0] = a[s1][0] / ndu[pk + 1][rk];
        dk = a[s2][0] * ndu[rk][pk];
      }
      const int j1 = rk >= -1 ? 1 : -rk;
      const int j2 = r - 1 <= pk ? k - 1 : p - r;
      for (int j = j1; j <= j2; ++j) {
        a[s2][j] = (a[s1][j] - a[s1][j - 1]) / ndu[pk + 1][rk + j];
        dk = dk + a[s2][j] * ndu[rk + j][pk];
      }
      if (r <= pk) {
        a[s2][k] = -a[s1][k - 1] / ndu[pk + 1][r];
        dk = dk + a[s2][k] * ndu[r][pk];
      }
      ders[k][r] = dk;
      const int swap = s1;
      s1 = s2;
      s2 = swap;
    }
  }
  double f = p;
  for (int k = 1; k <= top; ++k) {
    const V factor = Splat<V>(f);
    for (int r = 0; r <= p; ++r) ders[k][r] = ders[k][r] * factor;
    f *= p - k;
  }
}

// BasisIndices of every lane: the 1-based first index plus each entry's offset, whole numbers far
// below 2^53 and so exact in a double either way.
template <class V>
NURBS_LANE void Indices(const Call& call, const Site* sites, double* idx, std::size_t P,
                        std::size_t j0) {
  V first = {};
  for (int l = 0; l < kWidth<V>; ++l)
    first[l] = static_cast<double>(1 + SpanOffset(call, sites[l]));
  const int p = call.axis[0].p;
  const int q = call.directions > 1 ? call.axis[1].p : 0;
  const int r = call.directions > 2 ? call.axis[2].p : 0;
  const std::ptrdiff_t nu = call.directions > 1 ? call.stride[1] : 0;
  const std::ptrdiff_t nuv = call.directions > 2 ? call.stride[2] : 0;
  Mask<V> unused = {};
  std::size_t at = j0;
  for (int i = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k, at += P) {
        Put(idx + at, first + Splat<V>(static_cast<double>(k + j * nu + i * nuv)), &unused);
      }
    }
  }
}

// The degrees most calls have (quadratic and cubic) fixed in the code, any other as it comes.
template <class V>
NURBS_LANE void Ders(const Call& call, const Site* sites, int d, int n, LaneBasis<V>* out) {
  switch (call.axis[d].p) {
    case 2:
      DersAt<V, 2>(call, sites, d, n, out);
      break;
    case 3:
      DersAt<V, 3>(call, sites, d, n, out);
      break;
    default:
      DersAt<V>(call, sites, d, n, out);
  }
}

// Direction d's functions at each lane's point to order n: from the caller's tables where bases is
// not nullptr (direction d of lane l at bases[l kMaxDirections + d], the kernel's bits, which Ders
// repeats), else evaluated here.
template <class V>
NURBS_LANE void Load(const Call& call, const Site* sites, const Basis* const* bases, int d, int n,
                     LaneBasis<V>* out) {
  if (bases == nullptr) return Ders<V>(call, sites, d, n, out);
  for (int k = 0; k <= call.axis[d].p; ++k) {
    for (int l = 0; l < kWidth<V>; ++l) {
      const Basis* b = bases[l * kMaxDirections + d];
      out->N[k][l] = b->N[k];
      out->d1[k][l] = b->d1[k];
      if (n > 1) out->d2[k][l] = b->d2[k];
    }
  }
}

// Each lane's local (0, 0, 0) in the weights.
template <class V>
NURBS_LANE void FirstWeights(const Call& call, const Site* sites, const double** first) {
  for (int l = 0; l < kWidth<V>; ++l) first[l] = call.weights + SpanOffset(call, sites[l]);
}

// CurveGradientRows in lanes.
template <class V>
NURBS_LANE unsigned CurveGradientGroup(const Call& call, const Site* sites,
                                       const Basis* const* bases, double* const* out, double* idx,
                                       std::size_t P, std::size_t j) {
  if (idx) Indices<V>(call, sites, idx, P, j);
  LaneBasis<V> b;
  Load<V>(call, sites, bases, 0, 1, &b);
  const int p = call.axis[0].p;
  const double* w[kWidth<V>];
  FirstWeights<V>(call, sites, w);
  const V *N = b.N, *dN = b.d1;
  V W = Splat<V>(0.0), dW = Splat<V>(0.0);
  for (int k = 0; k <= p; ++k) {
    const V wk = Gather<V>(w, k);
    W = W + wk * N[k];
    dW = dW + wk * dN[k];
  }
  const V WW = W * W;
  Mask<V> nan = {};
  double *R = out[0], *dRdxi = out[1];
  for (int k = 0; k <= p; ++k) {
    const V lambda = Gather<V>(w, k) / WW;
    const std::size_t at = j + static_cast<std::size_t>(k) * P;
    if (R) Put(R + at, (lambda * N[k]) * W, &nan);
    if (dRdxi) Put(dRdxi + at, lambda * (W * dN[k] - dW * N[k]), &nan);
  }
  return NaNLanes<V>(nan);
}

// CurveHessianRows in lanes.
template <class V>
NURBS_LANE unsigned CurveHessianGroup(const Call& call, const Site* sites,
                                      const Basis* const* bases, double* const* out, double* idx,
                                      std::size_t P, std::size_t j) {
  if (idx) Indices<V>(call, sites, idx, P, j);
  LaneBasis<V> b;
  Load<V>(call, sites, bases, 0, 2, &b);
  const int p = call.axis[0].p;
  const double* w[kWidth<V>];
  FirstWeights<V>(call, sites, w);
  const V *N = b.N, *dN = b.d1, *d2N = b.d2;
  V W = Splat<V>(0.0), dW = Splat<V>(0.0), d2W = Splat<V>(0.0);
  for (int k = 0; k <= p; ++k) {
    const V wk = Gather<V>(w, k);
    W = W + wk * N[k];
    dW = dW + wk * dN[k];
    d2W = d2W + wk * d2N[k];
  }
  const V WW = W * W;
  const V two = Splat<V>(2.0);
  Mask<V> nan = {};
  double *R = out[0], *dRdxi = out[1], *dR2dxi = out[2];
  for (int k = 0; k <= p; ++k) {
    const V wk = Gather<V>(w, k);
    const std::size_t at = j + static_cast<std::size_t>(k) * P;
    if (R) Put(R + at, (wk * N[k]) / W, &nan);
    if (dRdxi) Put(dRdxi + at, (W * dN[k] - dW * N[k]) * (wk / WW), &nan);
    if (dR2dxi) {
      const V T1 = (d2N[k] / W - ((two * dN[k]) * dW) / W / W) - (N[k] * d2W) / W / W;
      const V T2 = (((two * N[k]) * dW) * dW) / W / W / W;
      Put(dR2dxi + at, wk * (T1 + T2), &nan);
    }
  }
  return NaNLanes<V>(nan);
}

// Weigh (curve.cpp) in lanes: W and W' of the span's weights, from 0.0 in increasing k.
template <class V>
struct CurveLaneSums {
  V W, dW;
};

template <class V>
NURBS_LANE CurveLaneSums<V> WeighLanes(const double* const* w, const LaneBasis<V>& b, int p) {
  V W = Splat<V>(0.0), dW = Splat<V>(0.0);
  for (int k = 0; k <= p; ++k) {
    const V wk = Gather<V>(w, k);
    W = W + wk * b.N[k];
    dW = dW + wk * b.d1[k];
  }
  return {W, dW};
}

// Contract (curve.cpp) in lanes: sum of P_k v_k from 0.0 in increasing k, each lane's control
// values from its own span.
template <class V>
NURBS_LANE V ContractLanes(const double* const* values, const V* v, int p) {
  V sum = Splat<V>(0.0);
  for (int k = 0; k <= p; ++k) sum = sum + Gather<V>(values, k) * v[k];
  return sum;
}

// Each lane's control values of its span's first function.
template <class V>
NURBS_LANE void FirstValues(const Call& call, const Site* sites, const double** first) {
  for (int l = 0; l < kWidth<V>; ++l) first[l] = call.values + SpanOffset(call, sites[l]);
}

// CurveField in lanes: one value a point, so the lanes' values are consecutive in each output.
template <class V>
NURBS_LANE unsigned CurveFieldGroup(const Call& call, const Site* sites, const Basis* const* bases,
                                    double* const* out, double*, std::size_t, std::size_t j) {
  LaneBasis<V> b;
  Load<V>(call, sites, bases, 0, 1, &b);
  const int p = call.axis[0].p;
  const double *w[kWidth<V>], *P[kWidth<V>];
  FirstWeights<V>(call, sites, w);
  FirstValues<V>(call, sites, P);
  const CurveLaneSums<V> s = WeighLanes<V>(w, b, p);
  const V W = s.W, dW = s.dW;
  const V *N = b.N, *dN = b.d1;
  V R[kLaneMaxDegree + 1], dR[kLaneMaxDegree + 1];
  for (int i = 0; i <= p; ++i) {
    const V wi = Gather<V>(w, i);
    R[i] = (N[i] * wi) / W;
    dR[i] = (wi * (W * dN[i] - N[i] * dW)) / (W * W);
  }
  Mask<V> nan = {};
  if (out[0]) Put(out[0] + j, ContractLanes<V>(P, R, p), &nan);
  if (out[1]) Put(out[1] + j, ContractLanes<V>(P, dR, p), &nan);
  return NaNLanes<V>(nan);
}

// CurveFieldD2 in lanes.
template <class V>
NURBS_LANE unsigned CurveFieldD2Group(const Call& call, const Site* sites,
                                      const Basis* const* bases, double* const* out, double*,
                                      std::size_t, std::size_t j) {
  LaneBasis<V> b;
  Load<V>(call, sites, bases, 0, 2, &b);
  const int p = call.axis[0].p;
  const double *w[kWidth<V>], *P[kWidth<V>];
  FirstWeights<V>(call, sites, w);
  FirstValues<V>(call, sites, P);
  const CurveLaneSums<V> s = WeighLanes<V>(w, b, p);
  const V W = s.W, dW = s.dW;
  const V *N = b.N, *dN = b.d1, *d2N = b.d2;
  V d2W = Splat<V>(0.0);
  for (int k = 0; k <= p; ++k) d2W = d2W + Gather<V>(w, k) * d2N[k];
  const V two = Splat<V>(2.0);
  V R[kLaneMaxDegree + 1], dR[kLaneMaxDegree + 1], d2R[kLaneMaxDegree + 1];
  for (int i = 0; i <= p; ++i) {
    const V wi = Gather<V>(w, i);
    R[i] = (N[i] * wi) / W;
    dR[i] = ((W * dN[i] - N[i] * dW) * wi) / (W * W);
    d2R[i] = ((wi * d2N[i] - dR[i] * (two * dW)) - d2W * R[i]) / W;
  }
  Mask<V> nan = {};
  if (out[0]) Put(out[0] + j, ContractLanes<V>(P, R, p), &nan);
  if (out[1]) Put(out[1] + j, ContractLanes<V>(P, dR, p), &nan);
  if (out[2]) Put(out[2] + j, ContractLanes<V>(P, d2R, p), &nan);
  return NaNLanes<V>(nan);
}

// SingleShape in lanes: W and W' of each lane's span in the lanes; the one function's value and
// derivative, whose support test branches on the coordinate, by the kernel lane by lane.
template <class V>
NURBS_LANE unsigned SingleShapeGroup(const Call& call, const Site* sites, const Basis* const* bases,
                                     double* const* out, double*, std::size_t, std::size_t j) {
  LaneBasis<V> b;
  Load<V>(call, sites, bases, 0, 1, &b);
  const Axis& a = call.axis[0];
  const double* w[kWidth<V>];
  FirstWeights<V>(call, sites, w);
  const CurveLaneSums<V> s = WeighLanes<V>(w, b, a.p);
  const int m = a.m - 1;
  const int i0 = call.index;
  V Nv = {}, dNv = {};
  for (int l = 0; l < kWidth<V>; ++l) {
    double d1[2];
    dersOneBasisFuns(a.p, m, a.U, i0, sites[l].u[0], 1, d1);
    dNv[l] = d1[1];
    Nv[l] = OneBasisFun(a.p, m, a.U, i0, sites[l].u[0]);
  }
  const V wi = Splat<V>(call.weights[i0]);
  const V W = s.W, dW = s.dW;
  Mask<V> nan = {};
  if (out[0]) Put(out[0] + j, (Nv * wi) / W, &nan);
  if (out[1]) Put(out[1] + j, (wi * (W * dNv - Nv * dW)) / (W * W), &nan);
  return NaNLanes<V>(nan);
}

template <class V>
struct SurfaceLaneSums {
  V W, Wxi, Weta;
};

// RationalSurface (surface.cpp) in lanes: R, dRdxi and dRdeta where asked; returns the sums.
template <class V>
NURBS_LANE SurfaceLaneSums<V> RationalSurfaceLanes(const Call& call, const LaneBasis<V>* b,
                                                   const double* const* w, double* const* out,
                                                   std::size_t P, std::size_t j0, Mask<V>* nan) {
  const int p = call.axis[0].p, q = call.axis[1].p;
  const std::ptrdiff_t nu = call.stride[1];
  const V *N = b[0].N, *dN = b[0].d1;
  const V *M = b[1].N, *dM = b[1].d1;
  V W = Splat<V>(0.0), Wxi = Splat<V>(0.0), Weta = Splat<V>(0.0);
  for (int j = 0; j <= q; ++j) {
    for (int k = 0; k <= p; ++k) {
      const V wkj = Gather<V>(w, k + j * nu);
      W = W + (N[k] * M[j]) * wkj;
      Wxi = Wxi + (M[j] * dN[k]) * wkj;
      Weta = Weta + (N[k] * dM[j]) * wkj;
    }
  }
  const V WW = W * W;
  double *R = out[0], *dRdxi = out[1], *dRdeta = out[2];
  for (int j = 0, e = 0; j <= q; ++j) {
    for (int k = 0; k <= p; ++k, ++e) {
      const V c = Gather<V>(w, k + j * nu) / WW;
      const std::size_t at = j0 + static_cast<std::size_t>(e) * P;
      if (R) Put(R + at, ((N[k] * M[j]) * c) * W, nan);
      if (dRdxi) Put(dRdxi + at, ((M[j] * dN[k]) * W - Wxi * (M[j] * N[k])) * c, nan);
      if (dRdeta) Put(dRdeta + at, ((N[k] * dM[j]) * W - Weta * (N[k] * M[j])) * c, nan);
    }
  }
  return {W, Wxi, Weta};
}

template <class V>
NURBS_LANE unsigned SurfaceGradientGroup(const Call& call, const Site* sites,
                                         const Basis* const* bases, double* const* out, double* idx,
                                         std::size_t P, std::size_t j0) {
  if (idx) Indices<V>(call, sites, idx, P, j0);
  LaneBasis<V> b[2];
  Load<V>(call, sites, bases, 0, 1, &b[0]);
  Load<V>(call, sites, bases, 1, 1, &b[1]);
  const double* w[kWidth<V>];
  FirstWeights<V>(call, sites, w);
  Mask<V> nan = {};
  RationalSurfaceLanes<V>(call, b, w, out, P, j0, &nan);
  return NaNLanes<V>(nan);
}

// SurfaceBSplineRows in lanes, and SurfaceBSplineSecondRows where its outputs (3..5) are given:
// the mesh layer's B-spline surface in one pass.
template <class V>
NURBS_LANE unsigned SurfaceBSplineGroup(const Call& call, const Site* sites,
                                        const Basis* const* bases, double* const* out, double* idx,
                                        std::size_t P, std::size_t j0) {
  if (idx) Indices<V>(call, sites, idx, P, j0);
  double *R = out[0], *dRdxi = out[1], *dRdeta = out[2];
  double *dR2dxi = out[3], *dR2deta = out[4], *dR2dxideta = out[5];
  const int order = dR2dxi || dR2deta || dR2dxideta ? 2 : 1;
  LaneBasis<V> b[2];
  Load<V>(call, sites, bases, 0, order, &b[0]);
  Load<V>(call, sites, bases, 1, order, &b[1]);
  const V *N = b[0].N, *dN = b[0].d1, *d2N = b[0].d2;
  const V *M = b[1].N, *dM = b[1].d1, *d2M = b[1].d2;
  Mask<V> nan = {};
  for (int j = 0, e = 0; j <= call.axis[1].p; ++j) {
    for (int k = 0; k <= call.axis[0].p; ++k, ++e) {
      const std::size_t at = j0 + static_cast<std::size_t>(e) * P;
      if (R) Put(R + at, N[k] * M[j], &nan);
      if (dRdxi) Put(dRdxi + at, dN[k] * M[j], &nan);
      if (dRdeta) Put(dRdeta + at, dM[j] * N[k], &nan);
      if (dR2dxi) Put(dR2dxi + at, d2N[k] * M[j], &nan);
      if (dR2deta) Put(dR2deta + at, d2M[j] * N[k], &nan);
      if (dR2dxideta) Put(dR2dxideta + at, dN[k] * dM[j], &nan);
    }
  }
  return NaNLanes<V>(nan);
}

// SurfaceHessianRows in lanes.
template <class V>
NURBS_LANE unsigned SurfaceHessianGroup(const Call& call, const Site* sites,
                                        const Basis* const* bases, double* const* out, double* idx,
                                        std::size_t P, std::size_t j0) {
  if (idx) Indices<V>(call, sites, idx, P, j0);
  LaneBasis<V> b[2];
  Load<V>(call, sites, bases, 0, 2, &b[0]);
  Load<V>(call, sites, bases, 1, 2, &b[1]);
  const double* w[kWidth<V>];
  FirstWeights<V>(call, sites, w);
  Mask<V> nan = {};
  const SurfaceLaneSums<V> s = RationalSurfaceLanes<V>(call, b, w, out, P, j0, &nan);
  double *dR2dxi = out[3], *dR2deta = out[4], *dR2dxideta = out[5];
  if (!dR2dxi) return NaNLanes<V>(nan);

  const int p = call.axis[0].p, q = call.axis[1].p;
  const std::ptrdiff_t nu = call.stride[1];
  const V *N = b[0].N, *dN = b[0].d1, *d2N = b[0].d2;
  const V *M = b[1].N, *dM = b[1].d1, *d2M = b[1].d2;
  V Wxixi = Splat<V>(0.0), Wetaeta = Splat<V>(0.0), Wxieta = Splat<V>(0.0);
  for (int j = 0; j <= q; ++j) {
    for (int k = 0; k <= p; ++k) {
      const V wkj = Gather<V>(w, k + j * nu);
      Wxixi = Wxixi + (M[j] * d2N[k]) * wkj;
      Wetaeta = Wetaeta + (N[k] * d2M[j]) * wkj;
      Wxieta = Wxieta + (dM[j] * dN[k]) * wkj;
    }
  }
  const V W = s.W, Wxi = s.Wxi, Weta = s.Weta;
  const V two = Splat<V>(2.0);
  for (int j = 0, e = 0; j <= q; ++j) {
    for (int k = 0; k <= p; ++k, ++e) {
      const V wkj = Gather<V>(w, k + j * nu);
      const std::size_t at = j0 + static_cast<std::size_t>(e) * P;
      const V A1 = (M[j] * d2N[k]) / W;
      const V A2 = (((two * dN[k]) * M[j]) * Wxi) / W / W;
      const V A3 = ((N[k] * M[j]) * Wxixi) / W / W;
      const V A4 = ((((two * N[k]) * M[j]) * Wxi) * Wxi) / W / W / W;
      Put(dR2dxi + at, (((A1 - A2) - A3) + A4) * wkj, &nan);
      if (dR2deta) {
        const V B1 = (N[k] * d2M[j]) / W;
        const V B2 = (((two * dM[j]) * N[k]) * Weta) / W / W;
        const V B3 = ((N[k] * M[j]) * Wetaeta) / W / W;
        const V B4 = ((((two * N[k]) * M[j]) * Weta) * Weta) / W / W / W;
        Put(dR2deta + at, (((B1 - B2) - B3) + B4) * wkj, &nan);
      }
      if (dR2dxideta) {
        const V C1 = (dM[j] * dN[k]) / W;
        const V C2 = ((M[j] * dN[k]) * Weta) / W / W;
        const V C3 = ((dM[j] * N[k]) * Wxi) / W / W;
        const V C4 = ((N[k] * M[j]) * Wxieta) / W / W;
        const V C5 = ((((two * N[k]) * M[j]) * Wxi) * Weta) / W / W / W;
        Put(dR2dxideta + at, ((((C1 - C2) - C3) - C4) + C5) * wkj, &nan);
      }
    }
  }
  return NaNLanes<V>(nan);
}

template <class V>
struct VolumeLaneSums {
  V W, Wxi, Weta, Wzeta;
};

// RationalVolume (volume.cpp) in lanes: R, dRdxi, dRdeta and dRdzeta where asked; returns the
// sums.
template <class V>
NURBS_LANE VolumeLaneSums<V> RationalVolumeLanes(const Call& call, const LaneBasis<V>* b,
                                                 const double* const* w, double* const* out,
                                                 std::size_t P, std::size_t j0, Mask<V>* nan) {
  const int p = call.axis[0].p, q = call.axis[1].p, r = call.axis[2].p;
  const std::ptrdiff_t nu = call.stride[1], nuv = call.stride[2];
  const V *N = b[0].N, *dN = b[0].d1;
  const V *M = b[1].N, *dM = b[1].d1;
  const V *L = b[2].N, *dL = b[2].d1;
  V W = Splat<V>(0.0), Wxi = Splat<V>(0.0), Weta = Splat<V>(0.0), Wzeta = Splat<V>(0.0);
  for (int i = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k) {
        const V wkji = Gather<V>(w, k + j * nu + i * nuv);
        W = W + ((N[k] * M[j]) * L[i]) * wkji;
        Wxi = Wxi + ((M[j] * dN[k]) * L[i]) * wkji;
        Weta = Weta + ((N[k] * dM[j]) * L[i]) * wkji;
        Wzeta = Wzeta + ((N[k] * dL[i]) * M[j]) * wkji;
      }
    }
  }
  const V WW = W * W;
  double *R = out[0], *dRdxi = out[1], *dRdeta = out[2], *dRdzeta = out[3];
  for (int i = 0, e = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k, ++e) {
        const V B = (N[k] * M[j]) * L[i];
        const V c = Gather<V>(w, k + j * nu + i * nuv) / WW;
        const std::size_t at = j0 + static_cast<std::size_t>(e) * P;
        if (R) Put(R + at, (B * c) * W, nan);
        if (dRdxi) Put(dRdxi + at, (((dN[k] * M[j]) * L[i]) * W - B * Wxi) * c, nan);
        if (dRdeta) Put(dRdeta + at, (((dM[j] * N[k]) * L[i]) * W - B * Weta) * c, nan);
        if (dRdzeta) Put(dRdzeta + at, (((dL[i] * N[k]) * M[j]) * W - B * Wzeta) * c, nan);
      }
    }
  }
  return {W, Wxi, Weta, Wzeta};
}

template <class V>
NURBS_LANE unsigned VolumeGradientGroup(const Call& call, const Site* sites,
                                        const Basis* const* bases, double* const* out, double* idx,
                                        std::size_t P, std::size_t j0) {
  if (idx) Indices<V>(call, sites, idx, P, j0);
  LaneBasis<V> b[3];
  for (int d = 0; d < 3; ++d) Load<V>(call, sites, bases, d, 1, &b[d]);
  const double* w[kWidth<V>];
  FirstWeights<V>(call, sites, w);
  Mask<V> nan = {};
  RationalVolumeLanes<V>(call, b, w, out, P, j0, &nan);
  return NaNLanes<V>(nan);
}

// VolumeHessianRows in lanes: its six second-derivative outputs in one pass over the entries
// instead of one pass each (each entry's value is its own).
template <class V>
NURBS_LANE unsigned VolumeHessianGroup(const Call& call, const Site* sites,
                                       const Basis* const* bases, double* const* out, double* idx,
                                       std::size_t P, std::size_t j0) {
  if (idx) Indices<V>(call, sites, idx, P, j0);
  LaneBasis<V> b[3];
  for (int d = 0; d < 3; ++d) Load<V>(call, sites, bases, d, 2, &b[d]);
  const double* w[kWidth<V>];
  FirstWeights<V>(call, sites, w);
  Mask<V> nan = {};
  const VolumeLaneSums<V> s = RationalVolumeLanes<V>(call, b, w, out, P, j0, &nan);
  double *dR2dxi = out[4], *dR2deta = out[5], *dR2dzeta = out[6];
  double *dR2dxideta = out[7], *dR2detazeta = out[8], *dR2dxizeta = out[9];
  if (!dR2dxi) return NaNLanes<V>(nan);

  const int p = call.axis[0].p, q = call.axis[1].p, r = call.axis[2].p;
  const std::ptrdiff_t nu = call.stride[1], nuv = call.stride[2];
  const V *N = b[0].N, *dN = b[0].d1, *d2N = b[0].d2;
  const V *M = b[1].N, *dM = b[1].d1, *d2M = b[1].d2;
  const V *L = b[2].N, *dL = b[2].d1, *d2L = b[2].d2;
  V Wxixi = Splat<V>(0.0), Wetaeta = Splat<V>(0.0), Wzetazeta = Splat<V>(0.0);
  V Wxieta = Splat<V>(0.0), Wetazeta = Splat<V>(0.0), Wxizeta = Splat<V>(0.0);
  for (int i = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k) {
        const V wkji = Gather<V>(w, k + j * nu + i * nuv);
        Wxixi = Wxixi + ((M[j] * d2N[k]) * L[i]) * wkji;
        Wetaeta = Wetaeta + ((N[k] * d2M[j]) * L[i]) * wkji;
        Wzetazeta = Wzetazeta + ((N[k] * M[j]) * d2L[i]) * wkji;
        Wxieta = Wxieta + ((dM[j] * dN[k]) * L[i]) * wkji;
        Wetazeta = Wetazeta + ((N[k] * dM[j]) * dL[i]) * wkji;
        Wxizeta = Wxizeta + ((M[j] * dN[k]) * dL[i]) * wkji;
      }
    }
  }
  const V W = s.W, Wxi = s.Wxi, Weta = s.Weta, Wzeta = s.Wzeta;
  const V two = Splat<V>(2.0);
  for (int i = 0, e = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k, ++e) {
        const V wkji = Gather<V>(w, k + j * nu + i * nuv);
        const std::size_t at = j0 + static_cast<std::size_t>(e) * P;
        const V B = (N[k] * M[j]) * L[i];
        const V twoB = ((two * N[k]) * M[j]) * L[i];
        {
          const V A1 = ((M[j] * d2N[k]) * L[i]) / W;
          const V A2 = ((((two * dN[k]) * M[j]) * L[i]) * Wxi) / W / W;
          const V A3 = (B * Wxixi) / W / W;
          const V A4 = ((twoB * Wxi) * Wxi) / W / W / W;
          Put(dR2dxi + at, (((A1 - A2) - A3) + A4) * wkji, &nan);
        }
        if (dR2deta) {
          const V B1 = ((N[k] * d2M[j]) * L[i]) / W;
          const V B2 = ((((two * dM[j]) * N[k]) * L[i]) * Weta) / W / W;
          const V B3 = (B * Wetaeta) / W / W;
          const V B4 = ((twoB * Weta) * Weta) / W / W / W;
          Put(dR2deta + at, (((B1 - B2) - B3) + B4) * wkji, &nan);
        }
        if (dR2dzeta) {
          const V D1 = ((N[k] * M[j]) * d2L[i]) / W;
          const V D2 = ((((two * dL[i]) * N[k]) * M[j]) * Wzeta) / W / W;
          const V D3 = (B * Wzetazeta) / W / W;
          const V D4 = ((twoB * Wzeta) * Wzeta) / W / W / W;
          Put(dR2dzeta + at, (((D1 - D2) - D3) + D4) * wkji, &nan);
        }
        if (dR2dxideta) {
          const V C1 = ((dM[j] * dN[k]) * L[i]) / W;
          const V C2 = (((M[j] * dN[k]) * L[i]) * Weta) / W / W;
          const V C3 = (((dM[j] * N[k]) * L[i]) * Wxi) / W / W;
          const V C4 = (B * Wxieta) / W / W;
          const V C5 = ((twoB * Wxi) * Weta) / W / W / W;
          Put(dR2dxideta + at, ((((C1 - C2) - C3) - C4) + C5) * wkji, &nan);
        }
        if (dR2detazeta) {
          const V E1 = ((N[k] * dM[j]) * dL[i]) / W;
          const V E2 = (((N[k] * dM[j]) * L[i]) * Wzeta) / W / W;
          const V E3 = (((N[k] * M[j]) * dL[i]) * Weta) / W / W;
          const V E4 = (B * Wetazeta) / W / W;
          const V E5 = ((twoB * Weta) * Wzeta) / W / W / W;
          Put(dR2detazeta + at, ((((E1 - E2) - E3) - E4) + E5) * wkji, &nan);
        }
        if (dR2dxizeta) {
          const V F1 = ((M[j] * dN[k]) * dL[i]) / W;
          const V F2 = (((M[j] * dN[k]) * L[i]) * Wzeta) / W / W;
          const V F3 = (((N[k] * M[j]) * dL[i]) * Wxi) / W / W;
          const V F4 = (B * Wxizeta) / W / W;
          const V F5 = ((twoB * Wxi) * Wzeta) / W / W / W;
          Put(dR2dxizeta + at, ((((F1 - F2) - F3) - F4) + F5) * wkji, &nan);
        }
      }
    }
  }
  return NaNLanes<V>(nan);
}

// CurveBSplineRows in lanes: the functions and their derivatives as they are.
template <class V>
NURBS_LANE unsigned CurveBSplineGroup(const Call& call, const Site* sites,
                                      const Basis* const* bases, double* const* out, double*,
                                      std::size_t P, std::size_t j0) {
  LaneBasis<V> b;
  Load<V>(call, sites, bases, 0, out[2] ? 2 : 1, &b);
  const V* from[3] = {b.N, b.d1, b.d2};
  Mask<V> nan = {};
  for (int o = 0; o < 3; ++o) {
    if (!out[o]) continue;
    for (int k = 0; k <= call.axis[0].p; ++k) {
      Put(out[o] + j0 + static_cast<std::size_t>(k) * P, from[o][k], &nan);
    }
  }
  return NaNLanes<V>(nan);
}

// VolumeBSplineRows in lanes.
template <class V>
NURBS_LANE unsigned VolumeBSplineGroup(const Call& call, const Site* sites,
                                       const Basis* const* bases, double* const* out, double*,
                                       std::size_t P, std::size_t j0) {
  bool second = false;
  for (int o = 4; o < 10; ++o) second = second || out[o] != nullptr;
  LaneBasis<V> b[3];
  for (int d = 0; d < 3; ++d) Load<V>(call, sites, bases, d, second ? 2 : 1, &b[d]);
  const int p = call.axis[0].p, q = call.axis[1].p, r = call.axis[2].p;
  const V *N = b[0].N, *dN = b[0].d1, *d2N = b[0].d2;
  const V *M = b[1].N, *dM = b[1].d1, *d2M = b[1].d2;
  const V *L = b[2].N, *dL = b[2].d1, *d2L = b[2].d2;
  Mask<V> nan = {};
  double *R = out[0], *dRdxi = out[1], *dRdeta = out[2], *dRdzeta = out[3];
  for (int i = 0, e = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k, ++e) {
        const std::size_t at = j0 + static_cast<std::size_t>(e) * P;
        if (R) Put(R + at, (N[k] * M[j]) * L[i], &nan);
        if (dRdxi) Put(dRdxi + at, (dN[k] * M[j]) * L[i], &nan);
        if (dRdeta) Put(dRdeta + at, (dM[j] * N[k]) * L[i], &nan);
        if (dRdzeta) Put(dRdzeta + at, (dL[i] * N[k]) * M[j], &nan);
      }
    }
  }
  if (!second) return NaNLanes<V>(nan);
  double *dR2dxi = out[4], *dR2deta = out[5], *dR2dzeta = out[6];
  double *dR2dxideta = out[7], *dR2detazeta = out[8], *dR2dxizeta = out[9];
  for (int i = 0, e = 0; i <= r; ++i) {
    for (int j = 0; j <= q; ++j) {
      for (int k = 0; k <= p; ++k, ++e) {
        const std::size_t at = j0 + static_cast<std::size_t>(e) * P;
        if (dR2dxi) Put(dR2dxi + at, (d2N[k] * M[j]) * L[i], &nan);
        if (dR2deta) Put(dR2deta + at, (d2M[j] * N[k]) * L[i], &nan);
        if (dR2dzeta) Put(dR2dzeta + at, (d2L[i] * N[k]) * M[j], &nan);
        if (dR2dxideta) Put(dR2dxideta + at, (dN[k] * dM[j]) * L[i], &nan);
        if (dR2detazeta) Put(dR2detazeta + at, (dM[j] * dL[i]) * N[k], &nan);
        if (dR2dxizeta) Put(dR2dxizeta + at, (dN[k] * dL[i]) * M[j], &nan);
      }
    }
  }
  return NaNLanes<V>(nan);
}

// Each group at two lanes (the default target, SSE2) and at four (AVX2): the twins' form, which
// evaluates the points' bases itself, and the mesh layer's (Rows), which takes them.
#define NURBS_LANE_GROUP(name)                                                              \
  unsigned name##Sse2(const Call& call, const Site* sites, double* const* out, double* idx, \
                      std::size_t P, std::size_t j) {                                       \
    return name##Group<V2>(call, sites, nullptr, out, idx, P, j);                           \
  }                                                                                         \
  __attribute__((target("avx2"))) unsigned name##Avx2(const Call& call, const Site* sites,  \
                                                      double* const* out, double* idx,      \
                                                      std::size_t P, std::size_t j) {       \
    return name##Group<V4>(call, sites, nullptr, out, idx, P, j);                           \
  }
#define NURBS_LANE_ROWS(name)                                                             \
  unsigned name##RowsSse2(const Call& call, const Site* sites, const Basis* const* bases, \
                          double* const* out, std::size_t P, std::size_t j) {             \
    return name##Group<V2>(call, sites, bases, out, nullptr, P, j);                       \
  }                                                                                       \
  __attribute__((target("avx2"))) unsigned name##RowsAvx2(                                \
      const Call& call, const Site* sites, const Basis* const* bases, double* const* out, \
      std::size_t P, std::size_t j) {                                                     \
    return name##Group<V4>(call, sites, bases, out, nullptr, P, j);                       \
  }
NURBS_LANE_GROUP(CurveGradient)
NURBS_LANE_GROUP(CurveHessian)
NURBS_LANE_GROUP(CurveField)
NURBS_LANE_GROUP(CurveFieldD2)
NURBS_LANE_GROUP(SingleShape)
NURBS_LANE_GROUP(SurfaceGradient)
NURBS_LANE_GROUP(SurfaceBSpline)
NURBS_LANE_GROUP(SurfaceHessian)
NURBS_LANE_GROUP(VolumeGradient)
NURBS_LANE_GROUP(VolumeHessian)
NURBS_LANE_ROWS(CurveGradient)
NURBS_LANE_ROWS(CurveHessian)
NURBS_LANE_ROWS(CurveBSpline)
NURBS_LANE_ROWS(SurfaceGradient)
NURBS_LANE_ROWS(SurfaceBSpline)
NURBS_LANE_ROWS(SurfaceHessian)
NURBS_LANE_ROWS(VolumeGradient)
NURBS_LANE_ROWS(VolumeHessian)
NURBS_LANE_ROWS(VolumeBSpline)
#undef NURBS_LANE_GROUP
#undef NURBS_LANE_ROWS

// dersBasisFuns of `count` (<= kWidth<V>) points on one span, in lanes; a point whose functions
// hold a NaN again by the kernel.
template <class V>
NURBS_LANE void BasisGroup(const Axis& axis, int span, const double* u, int count, int order,
                           Basis* out) {
  Call call{};
  call.directions = 1;
  call.axis[0] = axis;
  Site sites[kWidth<V>];
  for (int l = 0; l < kWidth<V>; ++l) {
    sites[l].s[0] = span;
    sites[l].u[0] = u[l < count ? l : 0];
  }
  LaneBasis<V> b;
  Ders<V>(call, sites, 0, order, &b);
  V* from[3] = {b.N, b.d1, b.d2};
  Mask<V> nan = {};
  for (int o = 0; o <= order && o < 3; ++o) {
    for (int k = 0; k <= axis.p; ++k) nan |= from[o][k] != from[o][k];
  }
  for (int l = 0; l < count; ++l) {
    Basis& to = out[l];
    double* rows[3] = {to.N, to.d1, to.d2};
    if (nan[l]) {
      dersBasisFuns(span, u[l], axis.p, order, axis.U, rows);
      continue;
    }
    for (int o = 0; o <= order && o < 3; ++o) {
      for (int k = 0; k <= axis.p; ++k) rows[o][k] = from[o][k][l];
    }
  }
}

void BasisGroupSse2(const Axis& axis, int span, const double* u, int count, int order, Basis* out) {
  BasisGroup<V2>(axis, span, u, count, order, out);
}
__attribute__((target("avx2"))) void BasisGroupAvx2(const Axis& axis, int span, const double* u,
                                                    int count, int order, Basis* out) {
  BasisGroup<V4>(axis, span, u, count, order, out);
}

// By the evaluator's per-point function: each file that includes evaluators.h has its own
// copies of the Evaluator constants, not so of the functions.
struct LaneForms {
  void (*run)(const Call&, const Site&, const Dest&);
  LaneGroup sse2, avx2;
};
constexpr LaneForms kForms[] = {
    {CurveGradient, CurveGradientSse2, CurveGradientAvx2},
    {CurveHessian, CurveHessianSse2, CurveHessianAvx2},
    {CurveField, CurveFieldSse2, CurveFieldAvx2},
    {CurveFieldD2, CurveFieldD2Sse2, CurveFieldD2Avx2},
    {SingleShape, SingleShapeSse2, SingleShapeAvx2},
    {SurfaceGradient, SurfaceGradientSse2, SurfaceGradientAvx2},
    {SurfaceBSpline, SurfaceBSplineSse2, SurfaceBSplineAvx2},
    {SurfaceHessian, SurfaceHessianSse2, SurfaceHessianAvx2},
    {VolumeGradient, VolumeGradientSse2, VolumeGradientAvx2},
    {VolumeHessian, VolumeHessianSse2, VolumeHessianAvx2},
};

// By the rows function (basis.h) for the mesh layer, whose points come located.
struct LaneRowsForms {
  RowsFromBasis rows;
  LaneRowsGroup sse2, avx2;
};
constexpr LaneRowsForms kRowsForms[] = {
    {CurveGradientRows, CurveGradientRowsSse2, CurveGradientRowsAvx2},
    {CurveHessianRows, CurveHessianRowsSse2, CurveHessianRowsAvx2},
    {CurveBSplineRows, CurveBSplineRowsSse2, CurveBSplineRowsAvx2},
    {SurfaceGradientRows, SurfaceGradientRowsSse2, SurfaceGradientRowsAvx2},
    {SurfaceBSplineRows, SurfaceBSplineRowsSse2, SurfaceBSplineRowsAvx2},
    {SurfaceHessianRows, SurfaceHessianRowsSse2, SurfaceHessianRowsAvx2},
    {VolumeGradientRows, VolumeGradientRowsSse2, VolumeGradientRowsAvx2},
    {VolumeHessianRows, VolumeHessianRowsSse2, VolumeHessianRowsAvx2},
    {VolumeBSplineRows, VolumeBSplineRowsSse2, VolumeBSplineRowsAvx2},
};

static_assert(3 * sizeof(LaneBasis<V4>) +
                      (4 * (kLaneMaxDegree + 1) + (kLaneMaxDegree + 1) * (kLaneMaxDegree + 1)) *
                          sizeof(V4) <=
                  kPointStackBytes / 2,
              "a group's scratch stays within a point's share of the caller's stack");

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Whether NURBS_SIMD, blanks around it ignored, is `want`; unset, it is "".
bool Simd(const char* want) {
  const char* c = std::getenv("NURBS_SIMD");
  if (c == nullptr) return *want == '\0';
  while (Blank(*c)) ++c;
  for (; *want != '\0'; ++want, ++c) {
    if (*c != *want) return false;
  }
  while (Blank(*c)) ++c;
  return *c == '\0';
}

#endif  // NURBS_LANES

}  // namespace

int LaneWidth() {
#if NURBS_LANES
  if (Simd("sse2")) return 2;
  if (!Simd("") && !Simd("avx2")) return 0;
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? 4 : 2;
#else
  return 0;
#endif
}

namespace {

bool LaneDegrees(const Call& call) {
  for (int d = 0; d < call.directions; ++d) {
    if (call.axis[d].p > kLaneMaxDegree) return false;
  }
  return true;
}

}  // namespace

Lanes LanesFor(const Call& call, const Evaluator& evaluator) {
#if NURBS_LANES
  if (LaneDegrees(call)) {
    for (const LaneForms& form : kForms) {
      if (form.run != evaluator.run) continue;
      const int width = LaneWidth();
      if (width == 0) break;
      return {width, width == 4 ? form.avx2 : form.sse2};
    }
  }
#else
  (void)call;
  (void)evaluator;
#endif
  return {0, nullptr};
}

void LaneBasisFuns(const Axis& axis, int span, const double* u, int count, int order, int width,
                   Basis* out) {
  int k = 0;
#if NURBS_LANES
  if (axis.p <= kLaneMaxDegree && (width == 2 || width == 4)) {
    for (; count - k >= 2; k += width) {
      const int group = count - k < width ? count - k : width;
      if (width == 4) {
        BasisGroupAvx2(axis, span, u + k, group, order, out + k);
      } else {
        BasisGroupSse2(axis, span, u + k, group, order, out + k);
      }
    }
  }
#else
  (void)width;
#endif
  for (; k < count; ++k) {
    double* rows[3] = {out[k].N, out[k].d1, out[k].d2};
    dersBasisFuns(span, u[k], axis.p, order, axis.U, rows);
  }
}

LaneRowsGroup LaneRows(const Call& call, RowsFromBasis rows, int width) {
#if NURBS_LANES
  if (LaneDegrees(call) && (width == 2 || width == 4)) {
    for (const LaneRowsForms& form : kRowsForms) {
      if (form.rows == rows) return width == 4 ? form.avx2 : form.sse2;
    }
  }
#else
  (void)call;
  (void)rows;
  (void)width;
#endif
  return nullptr;
}

}  // namespace evaluators
