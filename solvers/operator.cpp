#include "operator.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "kernels.h"
#include "threads.h"

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace solvers {
namespace {

// What the point functions read of a patch's sweep.
struct Points {
  const PatchOperator* op;
  int nf;
  std::size_t Q0, R;
  int groups;  // columns in the sweep (each d fields for elasticity)
  int width;
};

// Whether the sweep carries the rational space's weight function as a field of its own after the
// columns' (the forms that read gradients: their factors leave W out).
bool WeightField(const PatchOperator& op) { return op.rational && NeedsGradient(op.form); }

// The point functions, one body for every vector width: V holds W points (W = 1: a double), the
// points of a tile taken W at a time and the rest one at a time, each point's arithmetic the
// same sequence of IEEE operations in every lane (no fused multiply-add), so that the width
// never changes a bit.
template <class V>
inline __attribute__((always_inline)) V Load(const double* p) {
  return LoadLanes<V>(p);
}

template <class V>
inline __attribute__((always_inline)) void Store(double* p, const V& v) {
  StoreLanes<V>(p, v);
}

// Stiffness (and a mass term): t = C (g - v b) / W^2, s = -b . t + m v / W^2 (W = 1, b = 0 for
// B-splines), points begin..end-1 (end - begin a multiple of W); the rational space's W and grad W
// at wz, laid out as z.
template <class V, int W, int D, bool kRational, bool kValue>
inline __attribute__((always_inline)) void GradientBody(std::size_t begin, std::size_t end,
                                                        const double* F, std::size_t fs,
                                                        const double* z, double* s,
                                                        std::size_t zs, const double* wz) {
  constexpr int kC = D * (D + 1) / 2;
  const double* m = F + kC * fs;
  for (std::size_t i = begin; i < end; i += W) {
    const V v = Load<V>(z + i);
    V h[D], b[D], iw2{};
    for (int j = 0; j < D; ++j) h[j] = Load<V>(z + (1 + j) * zs + i);
    if (kRational) {
      const V iw = V{} + 1.0 / Load<V>(wz + i);
      iw2 = iw * iw;
      for (int j = 0; j < D; ++j) {
        b[j] = Load<V>(wz + (1 + j) * zs + i) * iw;
        h[j] = h[j] - v * b[j];
      }
    }
    V t[D];
    if constexpr (D == 2) {
      const V c00 = Load<V>(F + i), c01 = Load<V>(F + fs + i), c11 = Load<V>(F + 2 * fs + i);
      t[0] = c00 * h[0] + c01 * h[1];
      t[1] = c01 * h[0] + c11 * h[1];
    } else {
      const V c00 = Load<V>(F + i), c01 = Load<V>(F + fs + i), c02 = Load<V>(F + 2 * fs + i);
      const V c11 = Load<V>(F + 3 * fs + i), c12 = Load<V>(F + 4 * fs + i);
      const V c22 = Load<V>(F + 5 * fs + i);
      t[0] = (c00 * h[0] + c01 * h[1]) + c02 * h[2];
      t[1] = (c01 * h[0] + c11 * h[1]) + c12 * h[2];
      t[2] = (c02 * h[0] + c12 * h[1]) + c22 * h[2];
    }
    V s0{};
    if (kRational) {
      for (int j = 0; j < D; ++j) t[j] = t[j] * iw2;
      V bt = b[0] * t[0];
      for (int j = 1; j < D; ++j) bt += b[j] * t[j];
      s0 = -bt;
    }
    if (kValue) {
      V mv = Load<V>(m + i) * v;
      if (kRational) mv = mv * iw2;
      s0 += mv;
    }
    Store(s + i, s0);
    for (int j = 0; j < D; ++j) Store(s + (1 + j) * zs + i, t[j]);
  }
}

template <class V, int W>
inline __attribute__((always_inline)) void MassBody(std::size_t begin, std::size_t end,
                                                    const double* F, const double* z, double* s) {
  for (std::size_t i = begin; i < end; i += W) Store(s + i, Load<V>(F + i) * Load<V>(z + i));
}

// Elasticity, the d components of one column: z + k zf is component k's fields. With
// Jinv = J^-1 (P), G[k][m] = sum_j (g_k - v_k b)_j Jinv[j][m] / W is the physical gradient of
// component k, sigma = lambda dx tr G I + mu dx (G + G^T), t_k = sigma_k Jinv^T / W, s_k = -t_k . b.
template <class V, int W, int D, bool kRational>
inline __attribute__((always_inline)) void ElasticityBody(std::size_t begin, std::size_t end,
                                                          const double* F, std::size_t fs,
                                                          const double* z, double* s,
                                                          std::size_t zs, std::size_t zf,
                                                          const double* wz) {
  const double* P = F;
  const double* lam = F + D * D * fs;
  const double* mu = F + (D * D + 1) * fs;
  for (std::size_t i = begin; i < end; i += W) {
    V p[D][D];
    for (int j = 0; j < D; ++j) {
      for (int m = 0; m < D; ++m) p[j][m] = Load<V>(P + (j * D + m) * fs + i);
    }
    V bb[D], iw{};
    if (kRational) {
      iw = V{} + 1.0 / Load<V>(wz + i);
      for (int j = 0; j < D; ++j) bb[j] = Load<V>(wz + (1 + j) * zs + i) * iw;
    }
    V G[D][D];
    for (int k = 0; k < D; ++k) {
      const double* zk = z + k * zf;
      const V v = Load<V>(zk + i);
      V h[D];
      for (int j = 0; j < D; ++j) {
        h[j] = Load<V>(zk + (1 + j) * zs + i);
        if (kRational) h[j] = h[j] - v * bb[j];
      }
      for (int m = 0; m < D; ++m) {
        V g = h[0] * p[0][m];
        for (int j = 1; j < D; ++j) g += h[j] * p[j][m];
        G[k][m] = kRational ? g * iw : g;
      }
    }
    V tr = G[0][0];
    for (int k = 1; k < D; ++k) tr += G[k][k];
    const V l = Load<V>(lam + i) * tr, u = Load<V>(mu + i);
    for (int k = 0; k < D; ++k) {
      V sigma[D];
      for (int m = 0; m < D; ++m) sigma[m] = u * (G[k][m] + G[m][k]);
      sigma[k] += l;
      double* sk = s + k * zf;
      V bt{};
      for (int j = 0; j < D; ++j) {
        V t = sigma[0] * p[j][0];
        for (int m = 1; m < D; ++m) t += sigma[m] * p[j][m];
        if (kRational) {
          t = t * iw;
          bt += t * bb[j];
        }
        Store(sk + (1 + j) * zs + i, t);
      }
      Store(sk + i, kRational ? -bt : V{});
    }
  }
}

// Every column's fields of a tile, its points begin..end-1.
template <class V, int W, int D>
inline __attribute__((always_inline)) void TileBody(const Points& p, std::size_t begin,
                                                    std::size_t end, const double* F,
                                                    const double* Z, double* S,
                                                    std::size_t stride) {
  const PatchOperator& op = *p.op;
  const std::size_t fs = p.Q0;
  const int pc = PointComponents(D, NeedsGradient(op.form));
  const std::size_t zf = static_cast<std::size_t>(pc) * stride;
  // The rational space's weight function, the field after the columns'.
  const int C = FormComponents(D, op.form);
  const double* wz = WeightField(op) ? Z + static_cast<std::size_t>(p.groups * C) * zf : nullptr;
  for (int g = 0; g < p.groups; ++g) {
    const double* z = Z + g * zf;
    double* s = S + g * zf;
    switch (op.form) {
      case Form::Mass:
        MassBody<V, W>(begin, end, F, z, s);
        break;
      case Form::Stiffness:
        if (op.rational) {
          GradientBody<V, W, D, true, false>(begin, end, F, fs, z, s, stride, wz);
        } else {
          GradientBody<V, W, D, false, false>(begin, end, F, fs, z, s, stride, wz);
        }
        break;
      case Form::StiffnessMass:
        if (op.rational) {
          GradientBody<V, W, D, true, true>(begin, end, F, fs, z, s, stride, wz);
        } else {
          GradientBody<V, W, D, false, true>(begin, end, F, fs, z, s, stride, wz);
        }
        break;
      case Form::Elasticity: {
        const std::size_t at = static_cast<std::size_t>(g) * D * zf;
        if (op.rational) {
          ElasticityBody<V, W, D, true>(begin, end, F, fs, Z + at, S + at, stride, zf, wz);
        } else {
          ElasticityBody<V, W, D, false>(begin, end, F, fs, Z + at, S + at, stride, zf, wz);
        }
        break;
      }
    }
  }
}

// The tile's points W at a time, the rest one at a time.
template <class V, int W>
inline __attribute__((always_inline)) void TileLanes(const Points& p, std::size_t n,
                                                     const double* F, const double* Z, double* S,
                                                     std::size_t stride) {
  const std::size_t bulk = n / W * W;
  if (p.op->d == 2) {
    TileBody<V, W, 2>(p, 0, bulk, F, Z, S, stride);
    TileBody<double, 1, 2>(p, bulk, n, F, Z, S, stride);
  } else {
    TileBody<V, W, 3>(p, 0, bulk, F, Z, S, stride);
    TileBody<double, 1, 3>(p, bulk, n, F, Z, S, stride);
  }
}

void TileScalar(const Points& p, std::size_t n, const double* F, const double* Z, double* S,
                std::size_t stride) {
  TileLanes<double, 1>(p, n, F, Z, S, stride);
}

#if defined(__GNUC__) && defined(__x86_64__)
typedef double V2 __attribute__((vector_size(16)));
typedef double V4 __attribute__((vector_size(32)));

void TileSse2(const Points& p, std::size_t n, const double* F, const double* Z, double* S,
              std::size_t stride) {
  TileLanes<V2, 2>(p, n, F, Z, S, stride);
}

__attribute__((target("avx2"))) void TileAvx2(const Points& p, std::size_t n, const double* F,
                                              const double* Z, double* S, std::size_t stride) {
  TileLanes<V4, 4>(p, n, F, Z, S, stride);
}
#endif

void OperatorPoints(void* context, int, const Tile& tile, const double* Z, double* S,
                    std::size_t stride) {
  const Points& p = *static_cast<const Points*>(context);
  const std::size_t n = tile.end - tile.begin;
  const double* F = p.op->factors +
                    ((tile.gL * p.R + tile.row) * static_cast<std::size_t>(p.nf)) * p.Q0 +
                    tile.begin;
#if defined(__GNUC__) && defined(__x86_64__)
  if (p.width == 4) return TileAvx2(p, n, F, Z, S, stride);
  if (p.width == 2) return TileSse2(p, n, F, Z, S, stride);
#endif
  TileScalar(p, n, F, Z, S, stride);
}

std::size_t PatchFunctions(const PatchOperator& p) {
  std::size_t n = 1;
  for (int t = 0; t < p.d; ++t) n *= static_cast<std::size_t>(p.dir[t].N);
  return n;
}

std::size_t PatchPoints(const PatchOperator& p) {
  std::size_t n = 1;
  for (int t = 0; t < p.d; ++t) n *= p.dir[t].Q;
  return n;
}

Sweep PatchSweep(const PatchOperator& p, int fields, int threads, int width,
                 std::size_t budget) {
  Sweep sw{};
  sw.d = p.d;
  for (int t = 0; t < p.d; ++t) sw.dir[t] = p.dir[t];
  sw.gradient = NeedsGradient(p.form);
  sw.fields = fields;
  sw.inStride = 1;
  sw.threads = threads;
  sw.width = width;
  sw.budget = budget;
  return sw;
}

// One patch numbered as its own: its local vectors are the whole operator's.
bool Direct(const Operator& op) { return op.patches == 1 && op.patch[0].gnum == nullptr; }

}  // namespace

int FactorCount(int d, Form form, bool) {
  const int C = d * (d + 1) / 2;
  switch (form) {
    case Form::Stiffness:
      return C;
    case Form::Mass:
      return 1;
    case Form::StiffnessMass:
      return C + 1;
    case Form::Elasticity:
      return d * d + 2;
  }
  return 0;
}

bool NeedsGradient(Form form) { return form != Form::Mass; }

int FormComponents(int d, Form form) { return form == Form::Elasticity ? d : 1; }

std::size_t ApplyBytes(const Operator& op, std::size_t columns, int threads, std::size_t budget) {
  const std::size_t G = std::min(std::max<std::size_t>(columns, 1), kGroup);
  const std::size_t C = static_cast<std::size_t>(op.components);
  std::size_t most = 0, sweep = 0;
  for (int k = 0; k < op.patches; ++k) {
    const PatchOperator& p = op.patch[k];
    most = std::max(most, PatchFunctions(p));
    const Sweep sw = PatchSweep(p, static_cast<int>(G * C) + (WeightField(p) ? 1 : 0), threads, 1,
                                budget);
    sweep = std::max(sweep, SweepBytes(sw, true));
  }
  const std::size_t global = Direct(op) ? 0 : 2 * op.ndof * C * G;
  return (global + 2 * most * C * G) * sizeof(double) + sweep + 2 * (G * C + 1) * sizeof(double*);
}

double ApplyCost(const Operator& op) {
  double cost = 0.0;
  for (int k = 0; k < op.patches; ++k) {
    const PatchOperator& p = op.patch[k];
    Sweep sw = PatchSweep(p, op.components + (WeightField(p) ? 1 : 0), 1, 1, 0);
    sw.back = op.components;
    cost += PointCost(sw, true) * static_cast<double>(PatchPoints(p)) +
            2.0 * static_cast<double>(PatchFunctions(p));
  }
  return cost;
}

bool Apply(const Operator& op, const double* x, std::size_t columns, double* y, int threads,
           int width, std::size_t budget) {
  const std::size_t C = static_cast<std::size_t>(op.components);
  const std::size_t nC = op.ndof * C;
  const std::size_t G = std::min(std::max<std::size_t>(columns, 1), kGroup);
  std::size_t most = 0;
  for (int k = 0; k < op.patches; ++k) most = std::max(most, PatchFunctions(op.patch[k]));
  const std::size_t fields = G * C;
  const bool direct = Direct(op);
  const std::size_t global = direct ? 0 : nC * G;
  double* block = static_cast<double*>(std::malloc((2 * global + 2 * most * fields) * sizeof(double) +
                                                   2 * (fields + 1) * sizeof(double*)));
  if (block == nullptr) return false;
  double* local = block;
  double* back = local + most * fields;
  double* full = direct ? local : back + most * fields;
  double* result = direct ? back : full + global;
  void* pointers = direct ? back + most * fields : result + global;
  const double** in = static_cast<const double**>(pointers);
  double** out = static_cast<double**>(static_cast<void*>(in + fields + 1));
  const auto unknown = [&](std::size_t i) {
    return op.free ? static_cast<std::size_t>(op.free[i]) - 1 : i;
  };
  const std::size_t n = op.free ? op.nfree : nC;
  bool ok = true;
  for (std::size_t c0 = 0; c0 < columns && ok; c0 += G) {
    const std::size_t g = std::min(G, columns - c0);
    std::memset(full, 0, nC * g * sizeof(double));
    for (std::size_t j = 0; j < g; ++j) {
      const double* xj = x + (c0 + j) * n;
      for (std::size_t i = 0; i < n; ++i) full[j * nC + unknown(i)] = xj[i];
    }
    if (!direct) std::memset(result, 0, nC * g * sizeof(double));
    for (int k = 0; k < op.patches && ok; ++k) {
      const PatchOperator& p = op.patch[k];
      const std::size_t Np = PatchFunctions(p);
      const auto index = [&](std::size_t a) {
        return p.gnum ? static_cast<std::size_t>(p.gnum[a]) - 1 : a;
      };
      for (std::size_t j = 0; j < g; ++j) {
        for (std::size_t c = 0; c < C; ++c) {
          const std::size_t f = j * C + c;
          double* to = local + f * Np;
          in[f] = to;
          out[f] = back + f * Np;
          if (direct) {
            if (p.weights) {
              for (std::size_t a = 0; a < Np; ++a) to[a] *= p.weights[a];
            }
            continue;
          }
          const double* from = full + j * nC + c * op.ndof;
          for (std::size_t a = 0; a < Np; ++a) {
            const double v = from[index(a)];
            to[a] = p.weights ? p.weights[a] * v : v;
          }
        }
      }
      Points points{&p, FactorCount(p.d, p.form, p.rational), p.dir[0].Q,
                    p.d == 3 ? p.dir[1].Q : 1, static_cast<int>(g), width};
      const int weight = WeightField(p) ? 1 : 0;
      Sweep sw = PatchSweep(p, static_cast<int>(g * C) + weight, threads, width, budget);
      if (weight) in[g * C] = p.weights;
      sw.in = in;
      sw.out = out;
      sw.back = static_cast<int>(g * C);
      sw.points = OperatorPoints;
      sw.context = &points;
      ok = Run(sw);
      if (!ok || evaluators::Stopping()) break;
      for (std::size_t j = 0; j < g; ++j) {
        for (std::size_t c = 0; c < C; ++c) {
          double* from = out[j * C + c];
          if (direct) {
            if (p.weights) {
              for (std::size_t a = 0; a < Np; ++a) from[a] *= p.weights[a];
            }
            continue;
          }
          double* to = result + j * nC + c * op.ndof;
          for (std::size_t a = 0; a < Np; ++a) {
            to[index(a)] += p.weights ? p.weights[a] * from[a] : from[a];
          }
        }
      }
    }
    if (!ok || evaluators::Stopping()) break;
    for (std::size_t j = 0; j < g; ++j) {
      double* yj = y + (c0 + j) * n;
      for (std::size_t i = 0; i < n; ++i) yj[i] = result[j * nC + unknown(i)];
    }
  }
  std::free(block);
  return ok;
}

}  // namespace solvers
