#include "operator.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "threads.h"

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

// The point functions, one body for every vector width (the kernels' dispatch, kernels.h): each
// point's arithmetic is the same sequence of IEEE operations in every lane.

// Stiffness (and a mass term): t = C (g - v b), s = -b . t + m v.
template <int D, bool kRational, bool kValue>
inline __attribute__((always_inline)) void GradientBody(std::size_t n, const double* F,
                                                        std::size_t fs, const double* z,
                                                        double* s, std::size_t zs) {
  constexpr int kC = D * (D + 1) / 2;
  const double* __restrict b = F + kC * fs;
  const double* __restrict m = F + (kC + (kRational ? D : 0)) * fs;
  const double* __restrict C = F;
  const double* __restrict zv = z;
  double* __restrict sv = s;
  for (std::size_t i = 0; i < n; ++i) {
    const double v = zv[i];
    double h[D];
    for (int j = 0; j < D; ++j) {
      h[j] = zv[(1 + j) * zs + i];
      if (kRational) h[j] = h[j] - v * b[j * fs + i];
    }
    double t[D];
    if constexpr (D == 2) {
      const double c00 = C[i], c01 = C[fs + i], c11 = C[2 * fs + i];
      t[0] = c00 * h[0] + c01 * h[1];
      t[1] = c01 * h[0] + c11 * h[1];
    } else {
      const double c00 = C[i], c01 = C[fs + i], c02 = C[2 * fs + i];
      const double c11 = C[3 * fs + i], c12 = C[4 * fs + i], c22 = C[5 * fs + i];
      t[0] = (c00 * h[0] + c01 * h[1]) + c02 * h[2];
      t[1] = (c01 * h[0] + c11 * h[1]) + c12 * h[2];
      t[2] = (c02 * h[0] + c12 * h[1]) + c22 * h[2];
    }
    double s0 = 0.0;
    if (kRational) {
      double bt = b[i] * t[0];
      for (int j = 1; j < D; ++j) bt += b[j * fs + i] * t[j];
      s0 = -bt;
    }
    if (kValue) s0 += m[i] * v;
    sv[i] = s0;
    for (int j = 0; j < D; ++j) sv[(1 + j) * zs + i] = t[j];
  }
}

inline __attribute__((always_inline)) void MassBody(std::size_t n, const double* F,
                                                    const double* z, double* s) {
  const double* __restrict m = F;
  const double* __restrict zv = z;
  double* __restrict sv = s;
  for (std::size_t i = 0; i < n; ++i) sv[i] = m[i] * zv[i];
}

// Elasticity, the d components of one column: z + k zf is component k's fields.
template <int D, bool kRational>
inline __attribute__((always_inline)) void ElasticityBody(std::size_t n, const double* F,
                                                          std::size_t fs, const double* z,
                                                          double* s, std::size_t zs,
                                                          std::size_t zf) {
  const double* __restrict P = F;
  const double* __restrict lam = F + D * D * fs;
  const double* __restrict mu = F + (D * D + 1) * fs;
  const double* __restrict b = F + (D * D + 2) * fs;
  for (std::size_t i = 0; i < n; ++i) {
    double G[D][D];
    for (int k = 0; k < D; ++k) {
      const double* zk = z + k * zf;
      const double v = zk[i];
      double h[D];
      for (int j = 0; j < D; ++j) {
        h[j] = zk[(1 + j) * zs + i];
        if (kRational) h[j] = h[j] - v * b[j * fs + i];
      }
      for (int m = 0; m < D; ++m) {
        double g = h[0] * P[m * fs + i];
        for (int j = 1; j < D; ++j) g += h[j] * P[(j * D + m) * fs + i];
        G[k][m] = g;
      }
    }
    double tr = G[0][0];
    for (int k = 1; k < D; ++k) tr += G[k][k];
    const double l = lam[i] * tr, u = mu[i];
    for (int k = 0; k < D; ++k) {
      double sigma[D];
      for (int m = 0; m < D; ++m) sigma[m] = u * (G[k][m] + G[m][k]);
      sigma[k] += l;
      double* sk = s + k * zf;
      double bt = 0.0;
      for (int j = 0; j < D; ++j) {
        double t = sigma[0] * P[(j * D) * fs + i];
        for (int m = 1; m < D; ++m) t += sigma[m] * P[(j * D + m) * fs + i];
        sk[(1 + j) * zs + i] = t;
        if (kRational) bt += t * b[j * fs + i];
      }
      sk[i] = kRational ? -bt : 0.0;
    }
  }
}

// Every column's fields of a tile.
template <int D>
inline __attribute__((always_inline)) void TileBody(const Points& p, std::size_t n,
                                                    const double* F, const double* Z, double* S,
                                                    std::size_t stride) {
  const PatchOperator& op = *p.op;
  const std::size_t fs = p.Q0;
  const int pc = PointComponents(D, NeedsGradient(op.form));
  const std::size_t zf = static_cast<std::size_t>(pc) * stride;
  for (int g = 0; g < p.groups; ++g) {
    switch (op.form) {
      case Form::Mass:
        MassBody(n, F, Z + g * zf, S + g * zf);
        break;
      case Form::Stiffness:
        if (op.rational) {
          GradientBody<D, true, false>(n, F, fs, Z + g * zf, S + g * zf, stride);
        } else {
          GradientBody<D, false, false>(n, F, fs, Z + g * zf, S + g * zf, stride);
        }
        break;
      case Form::StiffnessMass:
        if (op.rational) {
          GradientBody<D, true, true>(n, F, fs, Z + g * zf, S + g * zf, stride);
        } else {
          GradientBody<D, false, true>(n, F, fs, Z + g * zf, S + g * zf, stride);
        }
        break;
      case Form::Elasticity: {
        const std::size_t at = static_cast<std::size_t>(g) * D * zf;
        if (op.rational) {
          ElasticityBody<D, true>(n, F, fs, Z + at, S + at, stride, zf);
        } else {
          ElasticityBody<D, false>(n, F, fs, Z + at, S + at, stride, zf);
        }
        break;
      }
    }
  }
}

void TileScalar(const Points& p, std::size_t n, const double* F, const double* Z, double* S,
                std::size_t stride) {
  if (p.op->d == 2) {
    TileBody<2>(p, n, F, Z, S, stride);
  } else {
    TileBody<3>(p, n, F, Z, S, stride);
  }
}

#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("avx2"))) void TileAvx2(const Points& p, std::size_t n, const double* F,
                                              const double* Z, double* S, std::size_t stride) {
  if (p.op->d == 2) {
    TileBody<2>(p, n, F, Z, S, stride);
  } else {
    TileBody<3>(p, n, F, Z, S, stride);
  }
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

}  // namespace

int FactorCount(int d, Form form, bool rational) {
  const int C = d * (d + 1) / 2, b = rational ? d : 0;
  switch (form) {
    case Form::Stiffness:
      return C + b;
    case Form::Mass:
      return 1;
    case Form::StiffnessMass:
      return C + b + 1;
    case Form::Elasticity:
      return d * d + 2 + b;
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
    const Sweep sw = PatchSweep(p, static_cast<int>(G * C), threads, 1, budget);
    sweep = std::max(sweep, SweepBytes(sw, true));
  }
  return (2 * op.ndof * C * G + 2 * most * C * G) * sizeof(double) + sweep +
         2 * G * C * sizeof(double*);
}

double ApplyCost(const Operator& op) {
  double cost = 0.0;
  for (int k = 0; k < op.patches; ++k) {
    const PatchOperator& p = op.patch[k];
    const Sweep sw = PatchSweep(p, op.components, 1, 1, 0);
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
  double* block = static_cast<double*>(
      std::malloc((2 * nC * G + 2 * most * fields) * sizeof(double) + 2 * fields * sizeof(double*)));
  if (block == nullptr) return false;
  double* full = block;
  double* result = full + nC * G;
  double* local = result + nC * G;
  double* back = local + most * fields;
  void* pointers = back + most * fields;
  const double** in = static_cast<const double**>(pointers);
  double** out = static_cast<double**>(static_cast<void*>(in + fields));
  const auto unknown = [&](std::size_t i) {
    return op.free ? static_cast<std::size_t>(op.free[i]) - 1 : i;
  };
  const std::size_t n = op.free ? op.nfree : nC;
  bool ok = true;
  for (std::size_t c0 = 0; c0 < columns && ok; c0 += G) {
    const std::size_t g = std::min(G, columns - c0);
    std::memset(full, 0, nC * g * sizeof(double));
    std::memset(result, 0, nC * g * sizeof(double));
    for (std::size_t j = 0; j < g; ++j) {
      const double* xj = x + (c0 + j) * n;
      for (std::size_t i = 0; i < n; ++i) full[j * nC + unknown(i)] = xj[i];
    }
    for (int k = 0; k < op.patches && ok; ++k) {
      const PatchOperator& p = op.patch[k];
      const std::size_t Np = PatchFunctions(p);
      const auto global = [&](std::size_t a) {
        return p.gnum ? static_cast<std::size_t>(p.gnum[a]) - 1 : a;
      };
      for (std::size_t j = 0; j < g; ++j) {
        for (std::size_t c = 0; c < C; ++c) {
          const std::size_t f = j * C + c;
          double* to = local + f * Np;
          const double* from = full + j * nC + c * op.ndof;
          for (std::size_t a = 0; a < Np; ++a) {
            const double v = from[global(a)];
            to[a] = p.weights ? p.weights[a] * v : v;
          }
          in[f] = to;
          out[f] = back + f * Np;
        }
      }
      Points points{&p, FactorCount(p.d, p.form, p.rational), p.dir[0].Q,
                    p.d == 3 ? p.dir[1].Q : 1, static_cast<int>(g), width};
      Sweep sw = PatchSweep(p, static_cast<int>(g * C), threads, width, budget);
      sw.in = in;
      sw.out = out;
      sw.points = OperatorPoints;
      sw.context = &points;
      ok = Run(sw);
      if (!ok || evaluators::Stopping()) break;
      for (std::size_t j = 0; j < g; ++j) {
        for (std::size_t c = 0; c < C; ++c) {
          const double* from = out[j * C + c];
          double* to = result + j * nC + c * op.ndof;
          for (std::size_t a = 0; a < Np; ++a) {
            to[global(a)] += p.weights ? p.weights[a] * from[a] : from[a];
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
