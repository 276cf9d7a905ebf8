// The solvers' native cores through the stand-in host, as MATLAB loads them: the matrix-free
// operator against the assembled form (the forms' cores) for every form on patches of 2 and 3
// directions, B-spline and NURBS spaces, any subset of free unknowns and several columns; its
// bits on any number of threads and any vector width; the fast diagonalisation's 1-D matrices
// against the assembled form on a box (where the Kronecker sum is exact) and its application
// against the Kronecker product written out; and every fault the applications' checks report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "environment.h"
#include "mesh_case.h"
#include "plugin_test.h"

namespace {

using standin::Array;
using standin::Matrix;
using standin::Row;
using standin::Scalar;

enum Kind { kStiffness = 1, kMass = 2, kBoth = 3, kElasticity = 4 };

std::vector<Array> Call(const char* name, int nlhs, const std::vector<const Array*>& in) {
  const standin::Plugin plugin(PluginPath(name));
  standin::Result r = CheckedCall(plugin, nlhs, in);
  EXPECT_FALSE(r.failed) << name << ": " << r.message;
  return std::move(r.outputs);
}

std::vector<double> Coefficients(Kind kind) {
  switch (kind) {
    case kStiffness:
      return {1.5};
    case kMass:
      return {0.75};
    default:
      return {1.25, 0.5};
  }
}

// The setup's six outputs.
std::vector<Array> PatchSetup(const MeshCase& c, Kind kind, double a = 1, double b = 1) {
  std::vector<Array> in = MeshInputs(c);
  in.push_back(Row({static_cast<double>(kind), a, b}));
  for (double v : Coefficients(kind)) in.push_back(Scalar(v));
  return Call("MatrixFreeSetupCore", 6, Borrow(in));
}

// y = A x over `free` (1-based) for ndof functions of `components` unknowns.
std::vector<double> Apply(const std::vector<Array>& setup, double ndof, double components,
                          const std::vector<double>& free, const std::vector<double>& x,
                          size_t columns) {
  std::vector<Array> extra;
  extra.push_back(Row({ndof, components}));
  extra.push_back(Matrix({0, 0}));  // gnum: the patch's own
  extra.push_back(Matrix({free.size(), 1}, free));
  extra.push_back(Matrix({free.size(), columns}, x));
  std::vector<const Array*> in = {&extra[0]};
  for (const Array& a : setup) in.push_back(&a);
  in.insert(in.end(), {&extra[1], &extra[2], &extra[3]});
  const std::vector<Array> out = Call("MatrixFreeApplyCore", 1, in);
  return out.empty() || !out[0] ? std::vector<double>() : standin::Values(out[0].get());
}

// The assembled form's matrix, dense, as its core makes it.
std::vector<double> Assembled(const MeshCase& c, Kind kind, size_t n, double a = 1, double b = 1) {
  const auto sparse = [&](const char* core, const std::vector<double>& coefficients) {
    std::vector<Array> in = MeshInputs(c);
    for (double v : coefficients) in.push_back(Scalar(v));
    const std::vector<Array> out = Call(core, 1, Borrow(in));
    std::vector<double> K(n * n, 0.0);
    if (out.empty() || !out[0]) return K;
    const standin::Sparse s = standin::SparseOf(out[0].get());
    for (size_t j = 0; j < s.cols; ++j) {
      for (size_t k = s.jc[j]; k < s.jc[j + 1]; ++k) K[s.ir[k] + n * j] = s.pr[k];
    }
    return K;
  };
  const std::vector<double> c0 = Coefficients(kind);
  switch (kind) {
    case kStiffness:
      return sparse("StiffnessMatrixCore", c0);
    case kMass:
      return sparse("MassMatrixCore", c0);
    case kElasticity:
      return sparse("ElasticityMatrixCore", c0);
    case kBoth: {
      std::vector<double> K = sparse("StiffnessMatrixCore", {c0[0]});
      const std::vector<double> M = sparse("MassMatrixCore", {c0[1]});
      for (size_t k = 0; k < K.size(); ++k) K[k] = a * K[k] + b * M[k];
      return K;
    }
  }
  return {};
}

size_t Functions(const MeshCase& c) {
  size_t n = 1;
  for (int k = 0; k < c.d; ++k) {
    n *= c.spaceOrder.empty() ? static_cast<size_t>(c.Functions(k))
                              : c.spaceKnots[k].size() - static_cast<size_t>(c.spaceOrder[k]);
  }
  return n;
}

struct Case {
  const char* name;
  MeshCase mesh;
};

std::vector<Case> Cases() {
  std::mt19937 rng(7);
  std::vector<Case> cases;
  cases.push_back({"annulus, cubic B-splines", AnnulusCase(3, 3)});
  cases.push_back({"ring, quadratic B-splines", AnnulusCase(2, 2, true)});
  MeshCase rational = AnnulusCase(2, 3);
  std::uniform_real_distribution<double> weight(0.5, 1.5);
  for (size_t a = 0; a < Functions(rational); ++a) rational.spaceWeights.push_back(weight(rng));
  cases.push_back({"annulus, a NURBS space of its own weights", rational});
  cases.push_back({"random NURBS surface", RandomPatch(rng, 2, 4, 2, true)});
  cases.push_back({"random NURBS volume", RandomPatch(rng, 3, 3, 3, true)});
  cases.push_back({"random B-spline volume", RandomPatch(rng, 3, 2, 3, false)});
  return cases;
}

double RelativeError(const std::vector<double>& y, const std::vector<double>& r) {
  double e = 0.0, s = 0.0;
  for (size_t k = 0; k < r.size(); ++k) {
    e = std::max(e, std::fabs(y[k] - r[k]));
    s = std::max(s, std::fabs(r[k]));
  }
  return e / s;
}

class MatrixFree : public ::testing::TestWithParam<int> {};

// A(x) = K(free, free) x for every form, a random subset of unknowns and three columns.
TEST_P(MatrixFree, EqualsTheAssembledForm) {
  const Case c = Cases()[static_cast<size_t>(GetParam())];
  SCOPED_TRACE(c.name);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (Kind kind : {kStiffness, kMass, kBoth, kElasticity}) {
    SCOPED_TRACE(kind);
    const size_t ndof = Functions(c.mesh);
    const size_t C = kind == kElasticity ? static_cast<size_t>(c.mesh.d) : 1;
    const size_t n = ndof * C;
    const double a = kind == kBoth ? 0.5 : 1.0, b = kind == kBoth ? 3.0 : 1.0;
    const std::vector<double> K = Assembled(c.mesh, kind, n, a, b);
    const std::vector<Array> setup = PatchSetup(c.mesh, kind, a, b);
    ASSERT_EQ(setup.size(), 6u);
    std::vector<double> free;
    for (size_t i = 0; i < n; ++i) {
      if (rng() % 4 != 0) free.push_back(static_cast<double>(i + 1));
    }
    const size_t m = free.size(), columns = 3;
    std::vector<double> x(m * columns);
    for (double& v : x) v = unit(rng);
    const std::vector<double> y = Apply(setup, static_cast<double>(ndof), static_cast<double>(C),
                                        free, x, columns);
    ASSERT_EQ(y.size(), m * columns);
    std::vector<double> r(m * columns, 0.0);
    for (size_t j = 0; j < columns; ++j) {
      for (size_t i = 0; i < m; ++i) {
        const size_t row = static_cast<size_t>(free[i]) - 1;
        double s = 0.0;
        for (size_t k = 0; k < m; ++k) {
          s += K[row + n * (static_cast<size_t>(free[k]) - 1)] * x[k + m * j];
        }
        r[i + m * j] = s;
      }
    }
    EXPECT_LT(RelativeError(y, r), 1e-12);
  }
}

INSTANTIATE_TEST_SUITE_P(Patches, MatrixFree, ::testing::Range(0, static_cast<int>(Cases().size())));

// The same bits whatever the threads and the vector width: every value is summed by one thread in
// one order, with products and sums apart.
TEST(MatrixFreeBits, AnyThreadsAndWidth) {
  const MeshCase c = AnnulusCase(3, 8, true);
  const size_t ndof = Functions(c);
  std::vector<double> free(ndof), x(ndof * 2);
  for (size_t i = 0; i < ndof; ++i) free[i] = static_cast<double>(i + 1);
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (double& v : x) v = unit(rng);
  SetThreads(nullptr);
  SetSimd(nullptr);
  const std::vector<Array> setup = PatchSetup(c, kStiffness);
  ASSERT_EQ(setup.size(), 6u);
  const std::vector<double> factors = standin::Values(setup[4].get());
  const std::vector<double> y = Apply(setup, static_cast<double>(ndof), 1, free, x, 2);
  for (const char* threads : {"1", "2", "3"}) {
    for (const char* simd : {"scalar", "sse2", static_cast<const char*>(nullptr)}) {
      SetThreads(threads);
      SetSimd(simd);
      const std::vector<Array> again = PatchSetup(c, kStiffness);
      ASSERT_EQ(again.size(), 6u);
      EXPECT_EQ(Bits(standin::Values(again[4].get())), Bits(factors));
      EXPECT_EQ(Bits(Apply(again, static_cast<double>(ndof), 1, free, x, 2)), Bits(y))
          << threads << " threads, " << (simd ? simd : "widest");
    }
  }
  SetThreads(nullptr);
  SetSimd(nullptr);
}

// The 1-D matrices of a box: the Kronecker sum they make is the assembled stiffness (and mass),
// to rounding; the application of known eigenpairs is the Kronecker product's.
TEST(FastDiagonalisation, ExactOnABox) {
  MeshCase c = SquareCase(0, 0, 2, 3);
  // Stretched along x: an affine map, constant coefficients.
  for (size_t a = 0; a < c.coefs.size(); a += 4) c.coefs[a] *= 2.5;
  std::vector<Array> in = MeshInputs(c);
  in.push_back(Row({kBoth, 1.0, 0.5}));
  for (double v : Coefficients(kBoth)) in.push_back(Scalar(v));
  const std::vector<Array> out = Call("FastDiagonalisationSetupCore", 8, Borrow(in));
  ASSERT_EQ(out.size(), 8u);
  const std::vector<double> K1 = standin::Values(out[0].get()), M1 = standin::Values(out[1].get());
  const std::vector<double> K2 = standin::Values(out[2].get()), M2 = standin::Values(out[3].get());
  const std::vector<double> C = standin::Values(out[6].get());
  const size_t n1 = static_cast<size_t>(std::sqrt(static_cast<double>(K1.size())));
  const size_t n2 = static_cast<size_t>(std::sqrt(static_cast<double>(K2.size())));
  const size_t n = n1 * n2;
  // P = a (M2 x K1 + K2 x M1) + beta M2 x M1, unknown i1 + n1 i2.
  std::vector<double> P(n * n);
  for (size_t j = 0; j < n; ++j) {
    for (size_t i = 0; i < n; ++i) {
      const size_t i1 = i % n1, i2 = i / n1, j1 = j % n1, j2 = j / n1;
      P[i + n * j] = C[0] * (M2[i2 + n2 * j2] * K1[i1 + n1 * j1] + K2[i2 + n2 * j2] * M1[i1 + n1 * j1]) +
                     C[1] * M2[i2 + n2 * j2] * M1[i1 + n1 * j1];
    }
  }
  EXPECT_LT(RelativeError(P, Assembled(c, kBoth, n, 1.0, 0.5)), 1e-12);
}

// The application against (U2 x U1) diag(1 / (a (l1 + l2) + beta)) (U2 x U1)^T written out, over
// two pieces that overlap through their maps and scales.
TEST(FastDiagonalisation, ModeProductsAreTheKroneckerProduct) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const size_t n1 = 5, n2 = 3, N = n1 * n2, n = 20;
  std::vector<double> U1(n1 * n1), U2(n2 * n2), l1(n1), l2(n2), scale(N), map(N);
  for (double& v : U1) v = unit(rng);
  for (double& v : U2) v = unit(rng);
  for (double& v : l1) v = 1.0 + unit(rng);
  for (double& v : l2) v = 1.0 + unit(rng);
  for (double& v : scale) v = 1.0 + 0.5 * unit(rng);
  for (size_t i = 0; i < N; ++i) map[i] = static_cast<double>((5 * i + 3) % (n + 1));  // 0: none
  const double a = 1.5, beta = 0.25;
  std::vector<double> x(n * 2);
  for (double& v : x) v = unit(rng);
  std::vector<Array> arrays;
  arrays.push_back(Scalar(static_cast<double>(n)));
  arrays.push_back(Row({2, static_cast<double>(n1), static_cast<double>(n2), 0, a, beta}));
  arrays.push_back(Matrix({n1, n1}, U1));
  arrays.push_back(Row(l1));
  arrays.push_back(Matrix({n2, n2}, U2));
  arrays.push_back(Row(l2));
  arrays.push_back(Matrix({0, 0}));
  arrays.push_back(Matrix({0, 0}));
  arrays.push_back(Row(scale));
  arrays.push_back(Row(map));
  arrays.push_back(Matrix({n, 2}, x));
  // The same piece twice: the sum of two.
  std::vector<const Array*> in = {&arrays[0]};
  for (int twice = 0; twice < 2; ++twice) {
    for (size_t k = 1; k <= 9; ++k) in.push_back(&arrays[k]);
  }
  in.push_back(&arrays[10]);
  const std::vector<Array> out = Call("FastDiagonalisationApplyCore", 1, in);
  ASSERT_EQ(out.size(), 1u);
  const std::vector<double> y = standin::Values(out[0].get());
  std::vector<double> r(n * 2, 0.0);
  for (size_t c = 0; c < 2; ++c) {
    std::vector<double> g(N), h(N, 0.0);
    for (size_t i = 0; i < N; ++i) g[i] = map[i] > 0 ? scale[i] * x[c * n + static_cast<size_t>(map[i]) - 1] : 0.0;
    for (size_t j = 0; j < N; ++j) {  // h = (U2 x U1)^T g
      for (size_t i = 0; i < N; ++i) h[j] += U1[i % n1 + n1 * (j % n1)] * U2[i / n1 + n2 * (j / n1)] * g[i];
    }
    for (size_t j = 0; j < N; ++j) h[j] /= a * (l1[j % n1] + l2[j / n1]) + beta;
    for (size_t i = 0; i < N; ++i) {  // (U2 x U1) h, twice over, scaled and scattered
      double s = 0.0;
      for (size_t j = 0; j < N; ++j) s += U1[i % n1 + n1 * (j % n1)] * U2[i / n1 + n2 * (j / n1)] * h[j];
      if (map[i] > 0) r[c * n + static_cast<size_t>(map[i]) - 1] += 2.0 * scale[i] * s;
    }
  }
  EXPECT_LT(RelativeError(y, r), 1e-13);
}

// Every fault of the applications' checks, on a valid call with one input spoiled.
class ApplyFaults : public PluginTest {
 protected:
  ApplyFaults() : PluginTest("MatrixFreeApplyCore", "MatrixFreeOperator") {}
};

TEST_F(ApplyFaults, EveryCheck) {
  const MeshCase c = AnnulusCase(2, 2);
  const std::vector<Array> setup = PatchSetup(c, kStiffness);
  const size_t ndof = Functions(c);
  std::vector<double> free;
  for (size_t i = 0; i < ndof; ++i) free.push_back(static_cast<double>(i + 1));
  std::vector<Array> extra;
  extra.push_back(Row({static_cast<double>(ndof), 1}));
  extra.push_back(Matrix({0, 0}));
  extra.push_back(Matrix({ndof, 1}, free));
  extra.push_back(Matrix({ndof, 1}, free));
  std::vector<const Array*> good = {&extra[0]};
  for (const Array& a : setup) good.push_back(&a);
  good.insert(good.end(), {&extra[1], &extra[2], &extra[3]});
  ASSERT_FALSE(Call(1, good).failed);
  ExpectClassFaults(good);
  std::vector<double> sizes = standin::Values(setup[0].get());
  const auto with = [&](size_t at, double v) {
    std::vector<double> s = sizes;
    s[at] = v;
    return Row(s);
  };
  ExpectFault("optionValue", good, 0, Row({static_cast<double>(ndof), 4}));
  ExpectFault("optionValue", good, 0, Row({0.5, 1}));
  ExpectFault("sizes", good, 1, Row({2, 1}));
  ExpectFault("sizes", good, 1, with(0, 4));
  ExpectFault("sizes", good, 1, with(12, 7));      // factors a point
  ExpectFault("sizes", good, 1, with(1, 4));       // elasticity's components, the header's 1
  ExpectFault("sizes", good, 1, with(3, 2));       // fewer functions than p + 1
  std::vector<double> t1 = standin::Values(setup[1].get());
  const size_t rows = static_cast<size_t>(2 * sizes[6] + 3);
  ExpectFault("tableSize", good, 2, Matrix({rows - 1, t1.size() / rows}, t1));
  ExpectFault("tableSize", good, 4, Row({1}));     // direction 3 of a surface
  std::vector<double> bad = t1;
  bad[rows] = bad[0] + sizes[3];                     // a first function out of range
  ExpectFault("tableValue", good, 2, Matrix({rows, t1.size() / rows}, bad));
  bad = t1;
  bad[t1.size() - rows] = -1;                       // below the one before
  ExpectFault("tableValue", good, 2, Matrix({rows, t1.size() / rows}, bad));
  ExpectFault("factorsSize", good, 5, Row({1, 2, 3}));
  ExpectFault("weightsSize", good, 6, Row({1, 2, 3}));
  std::vector<double> gnum(ndof, 1.0);
  gnum[1] = static_cast<double>(ndof + 1);
  ExpectFault("numbering", good, 7, Row(gnum));
  ExpectFault("numbering", good, 7, Row({1, 2}));
  std::vector<double> f = free;
  std::swap(f[0], f[1]);
  ExpectFault("freeList", good, 8, Row(f));
  f = free;
  f.back() = static_cast<double>(ndof + 1);
  ExpectFault("freeList", good, 8, Row(f));
  ExpectFault("xSize", good, 9, Matrix({ndof - 1, 1}));
  EXPECT_FALSE(Call(0, good).failed);
  ExpectError("tooManyOutputs", 2, good);
  const standin::Result usage = Call(1, std::vector<const Array*>(good.begin(), good.end() - 1));
  EXPECT_TRUE(usage.failed && usage.id.empty());
}

class SetupFaults : public PluginTest {
 protected:
  SetupFaults() : PluginTest("MatrixFreeSetupCore", "MatrixFreeOperator") {}
};

// What the setup adds to the mesh's checks (those are MeshEvalCore's, tested there).
TEST_F(SetupFaults, TheFormAndThePatch) {
  MeshCase c = AnnulusCase(2, 2);
  std::vector<Array> in = MeshInputs(c);
  in.push_back(Row({kStiffness, 1, 1}));
  in.push_back(Scalar(1));
  std::vector<const Array*> good = Borrow(in);
  ASSERT_FALSE(Call(6, good).failed);
  ExpectFault("optionValue", good, 15, Row({5, 1, 1}));
  ExpectFault("optionValue", good, 15, Row({kStiffness, NAN, 1}));
  ExpectFault("coefficientSize", good, 16, Row({1, 2, 3}));
  ExpectFault("sideOutOfRange", good, 14, Row({1, 0, 0, 2, 0}));
  ExpectFault("optionValue", good, 13, Row({1, 2}));
  ExpectFault("dimensions", good, 14, Row({1, 0, 0, 0, 3}));  // a surface in 3-D
  ExpectError("tooManyOutputs", 7, good);
  // The coordinates: one output, no coefficient.
  const Array points = Row({0, 0, 0});
  std::vector<const Array*> coordinates(good.begin(), good.begin() + 15);
  coordinates.push_back(&points);
  const standin::Result x = Call(1, coordinates);
  ASSERT_FALSE(x.failed) << x.message;
  EXPECT_EQ(standin::Dims(x.outputs[0].get()), (std::vector<size_t>{2, 36}));  // 6 x 6 points
  ExpectError("tooManyOutputs", 2, coordinates);
  const standin::Result usage = Call(1, std::vector<const Array*>(good.begin(), good.end() - 1));
  EXPECT_TRUE(usage.failed && usage.id.empty());
}

class DiagonalisedFaults : public PluginTest {
 protected:
  DiagonalisedFaults() : PluginTest("FastDiagonalisationApplyCore", "FastDiagonalisation") {}
};

TEST_F(DiagonalisedFaults, EveryCheck) {
  std::vector<Array> a;
  a.push_back(Scalar(6));
  a.push_back(Row({2, 3, 2, 0, 1, 0}));
  a.push_back(Matrix({3, 3}, {1, 0, 0, 0, 1, 0, 0, 0, 1}));
  a.push_back(Row({1, 2, 3}));
  a.push_back(Matrix({2, 2}, {1, 0, 0, 1}));
  a.push_back(Row({1, 2}));
  a.push_back(Matrix({0, 0}));
  a.push_back(Matrix({0, 0}));
  a.push_back(Matrix({0, 0}));
  a.push_back(Matrix({0, 0}));
  a.push_back(Matrix({6, 1}, {1, 2, 3, 4, 5, 6}));
  std::vector<const Array*> good;
  for (const Array& x : a) good.push_back(&x);
  const standin::Result r = Call(1, good);
  ASSERT_FALSE(r.failed) << r.message;
  // The identity's eigenvectors: y = x / (l1 + l2).
  const std::vector<double> y = Out(r, 0);
  EXPECT_DOUBLE_EQ(y[4], 5.0 / (2 + 2));
  ExpectClassFaults(good);
  ExpectFault("optionValue", good, 0, Scalar(-1));
  ExpectFault("sizes", good, 1, Row({4, 3, 2, 0, 1, 0}));
  ExpectFault("sizes", good, 1, Row({2, 3, 2, 1, 1, 0}));
  ExpectFault("sizes", good, 1, Row({2, 3, 2, 0, NAN, 0}));
  ExpectFault("eigenSize", good, 2, Matrix({2, 2}));
  ExpectFault("eigenSize", good, 5, Row({1}));
  ExpectFault("eigenSize", good, 6, Row({1}));
  ExpectFault("scaleSize", good, 8, Row({1, 2}));
  ExpectFault("mapValue", good, 9, Row({1, 2}));
  ExpectFault("mapValue", good, 9, Row({1, 2, 3, 4, 5, 7}));
  ExpectFault("xSize", good, 10, Matrix({5, 1}));
  ExpectError("tooManyOutputs", 2, good);
}

}  // namespace
