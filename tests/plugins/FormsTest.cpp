// Every form's native core of the registry through the stand-in host, as MATLAB loads it: its
// matrix against the same integral summed here from MeshEvalCore's fields, a well-formed sparse
// result (rows ascending, no stored zeros), exact symmetry, the same bits on any number of
// threads, chosen elements summing to the whole, and the faults a form adds to the mesh's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "mesh_case.h"
#include "plugin_test.h"
#include "registry.h"

namespace {

using gateway::MeshCall;
using gateway::MeshKind;
using standin::Array;

const MeshCall& Find(const char* name) {
  for (const MeshCall* call : registry::kMeshCalls) {
    if (std::string(call->name) == name) return *call;
  }
  std::abort();
}

std::vector<const char*> FormNames() {
  std::vector<const char*> names;
  for (const MeshCall* call : registry::kMeshCalls) {
    if (call->kind != MeshKind::Fields && call->kind != MeshKind::Nodes) {
      names.push_back(call->name);
    }
  }
  return names;
}

// MeshEvalCore's fields of a case, with gradients and Laplacians.
struct Fields {
  size_t nqn, nsh, nel, r, ndof;
  std::vector<double> weights, jacdet, x, conn, R, grad, lap;
};

Fields Evaluate(MeshCase c) {
  static const standin::Plugin core(PluginPath("MeshEvalCore"));
  c.options[0] = c.options[2] = 1;
  c.options[1] = 0;
  const std::vector<Array> in = MeshInputs(c);
  const standin::Result r = CheckedCall(core, 15, Borrow(in));
  EXPECT_FALSE(r.failed) << r.message;
  Fields f{};
  if (r.failed) return f;
  const auto out = [&](int o) { return standin::Values(r.outputs[o].get()); };
  const std::vector<double> counts = out(14);
  f.r = static_cast<size_t>(counts[1]);
  f.nqn = static_cast<size_t>(counts[2]);
  f.nsh = static_cast<size_t>(counts[3]);
  f.ndof = static_cast<size_t>(counts[4]);
  f.weights = out(1);
  f.nel = f.weights.size() / f.nqn;
  f.x = out(2);
  f.jacdet = out(4);
  f.conn = out(7);
  f.R = out(8);
  f.grad = out(9);
  f.lap = out(11);
  return f;
}

// The form's dense matrix (a vector: one column) summed from the fields, with coefficient values
// c0 (and c1) at every node, components a node as the form reads them.
std::vector<double> Reference(MeshKind kind, const Fields& f, const std::vector<double>& c0,
                              const std::vector<double>& c1, size_t components) {
  const size_t C = kind == MeshKind::Elasticity ? f.r : kind == MeshKind::Load ? components : 1;
  const size_t n = C * f.ndof, cols = kind == MeshKind::Load ? 1 : n;
  std::vector<double> A(n * cols, 0.0);
  for (size_t e = 0; e < f.nel; ++e) {
    for (size_t q = 0; q < f.nqn; ++q) {
      const size_t node = q + f.nqn * e;
      const double dx = f.weights[node] * f.jacdet[node];
      if (dx == 0.0) continue;  // a singular node contributes nothing
      for (size_t a = 0; a < f.nsh; ++a) {
        const size_t I = static_cast<size_t>(f.conn[a + f.nsh * e]) - 1;
        const double Ra = f.R[q + f.nqn * (a + f.nsh * e)];
        const double* Ga = &f.grad[f.r * (q + f.nqn * (a + f.nsh * e))];
        if (kind == MeshKind::Load) {
          for (size_t k = 0; k < C; ++k) A[k * f.ndof + I] += c0[k + C * node] * dx * Ra;
          continue;
        }
        for (size_t b = 0; b < f.nsh; ++b) {
          const size_t J = static_cast<size_t>(f.conn[b + f.nsh * e]) - 1;
          const double Rb = f.R[q + f.nqn * (b + f.nsh * e)];
          const double* Gb = &f.grad[f.r * (q + f.nqn * (b + f.nsh * e))];
          double dot = 0.0;
          for (size_t m = 0; m < f.r; ++m) dot += Ga[m] * Gb[m];
          switch (kind) {
            case MeshKind::Stiffness:
              A[I + n * J] += c0[node] * dx * dot;
              break;
            case MeshKind::Mass:
              A[I + n * J] += c0[node] * dx * Ra * Rb;
              break;
            case MeshKind::Bilaplacian:
              A[I + n * J] += c0[node] * dx * f.lap[q + f.nqn * (a + f.nsh * e)] *
                              f.lap[q + f.nqn * (b + f.nsh * e)];
              break;
            case MeshKind::Advection: {
              double bg = 0.0;
              for (size_t m = 0; m < f.r; ++m) bg += c0[m + f.r * node] * Gb[m];
              A[I + n * J] += dx * bg * Ra;
              break;
            }
            case MeshKind::Elasticity:
              for (size_t k = 0; k < f.r; ++k) {
                for (size_t l = 0; l < f.r; ++l) {
                  double v = c0[node] * Ga[k] * Gb[l] + c1[node] * Ga[l] * Gb[k];
                  if (k == l) v += c1[node] * dot;
                  A[(k * f.ndof + I) + n * (l * f.ndof + J)] += dx * v;
                }
              }
              break;
            default:
              break;
          }
        }
      }
    }
  }
  return A;
}

class Forms : public ::testing::TestWithParam<const char*> {
 protected:
  Forms() : call_(Find(GetParam())), core_(PluginPath(call_.core)) {}
  void SetUp() override { live_ = standin::LiveArrays(); }
  void TearDown() override {
    SetThreads(nullptr);
    EXPECT_EQ(standin::LiveArrays(), live_) << "arrays left alive";
  }

  MeshKind kind() const { return call_.kind; }
  int coefficients() const { return gateway::ListCount(call_.inputs); }

  // The form's coefficients for a case: at every node (random), or constants.
  std::vector<Array> Coefficients(const Fields& f, bool field, std::mt19937& rng,
                                  std::vector<double>* c0, std::vector<double>* c1,
                                  size_t* components) {
    std::uniform_real_distribution<double> unit(0.5, 1.5);
    const size_t nodes = f.nqn * f.nel;
    *components = kind() == MeshKind::Advection || kind() == MeshKind::Load ? f.r : 1;
    std::vector<Array> in;
    for (int k = 0; k < coefficients(); ++k) {
      std::vector<double>& c = k == 0 ? *c0 : *c1;
      const size_t comps = k == 0 ? *components : 1;
      std::vector<double> given(field ? comps * nodes : comps);
      for (double& v : given) v = unit(rng);
      c.resize(comps * nodes);
      for (size_t i = 0; i < c.size(); ++i) c[i] = field ? given[i] : given[i % comps];
      in.push_back(standin::Matrix({comps, given.size() / comps}, given));
    }
    return in;
  }

  standin::Result Run(const MeshCase& c, const std::vector<Array>& extra) {
    const std::vector<Array> in = MeshInputs(c);
    std::vector<const Array*> args = Borrow(in);
    for (const Array& a : extra) args.push_back(&a);
    return CheckedCall(core_, 1, args);
  }

  // The result as a dense matrix, checking that a sparse one is well formed.
  static std::vector<double> Dense(const standin::Result& r) {
    const mxArray* a = r.outputs.at(0).get();
    const standin::Sparse s = standin::SparseOf(a);
    if (s.jc.empty()) return standin::Values(a);
    std::vector<double> A(s.rows * s.cols, 0.0);
    for (size_t j = 0; j < s.cols; ++j) {
      for (size_t k = s.jc[j]; k < s.jc[j + 1]; ++k) {
        EXPECT_NE(s.pr[k], 0.0) << "a stored zero";
        if (k > s.jc[j]) EXPECT_LT(s.ir[k - 1], s.ir[k]) << "rows out of order";
        A[s.ir[k] + s.rows * j] = s.pr[k];
      }
    }
    return A;
  }

  const MeshCall& call_;
  standin::Plugin core_;
  long live_ = 0;
};

double RelativeDifference(const std::vector<double>& a, const std::vector<double>& b) {
  double d = 0.0, n = 0.0;
  for (size_t i = 0; i < a.size(); ++i) {
    d += (a[i] - b[i]) * (a[i] - b[i]);
    n += b[i] * b[i];
  }
  return std::sqrt(d / n);
}

// Random curved patches of 2 and 3 directions, a refined space, constant coefficients and
// coefficients at every node: the matrix is the integral summed from MeshEval's fields.
TEST_P(Forms, MatchesTheIntegralOfMeshEvalsFields) {
  std::mt19937 rng(21);
  for (int d = 2; d <= 3; ++d) {
    for (bool field : {false, true}) {
      SCOPED_TRACE("d = " + std::to_string(d) + (field ? ", at every node" : ", constant"));
      MeshCase c = RandomPatch(rng, d, 2, d, true);
      for (int k = 0; k < d; ++k) {
        // A NURBS space: the geometry's knots with one more inside and a degree more.
        std::vector<double> U = c.knots[k];
        U.insert(U.begin(), 0.0);
        U.push_back(1.0);
        U.push_back(0.3125);
        std::sort(U.begin(), U.end());
        c.spaceKnots[k] = U;
        c.spaceOrder.push_back(c.order[k] + 1);
        c.rule[k] = {c.order[k] + 1};
      }
      size_t ns = 1;
      for (int k = 0; k < d; ++k) ns *= c.spaceKnots[k].size() - c.order[k] - 1;
      c.spaceWeights = RandomWeights(rng, static_cast<int>(ns));
      const Fields f = Evaluate(c);
      std::vector<double> c0, c1;
      size_t components = 1;
      const std::vector<Array> coefficients = Coefficients(f, field, rng, &c0, &c1, &components);
      const standin::Result r = Run(c, coefficients);
      ASSERT_FALSE(r.failed) << r.id << ": " << r.message;
      const std::vector<double> got = Dense(r);
      const std::vector<double> expected = Reference(kind(), f, c0, c1, components);
      ASSERT_EQ(got.size(), expected.size());
      EXPECT_LT(RelativeDifference(got, expected), 1e-13);
      if (kind() != MeshKind::Advection && kind() != MeshKind::Load) {
        const size_t n = static_cast<size_t>(std::sqrt(static_cast<double>(got.size())));
        for (size_t i = 0; i < n; ++i) {
          for (size_t j = 0; j < i; ++j) {
            ASSERT_EQ(got[i + n * j], got[j + n * i]) << "not symmetric at " << i << ", " << j;
          }
        }
      }
    }
  }
}

// Enough elements for threads: the same bits serial and threaded; chosen elements in two parts
// sum to the whole.
TEST_P(Forms, ThreadsAndChosenElements) {
  MeshCase c = AnnulusCase(3, 24);
  std::mt19937 rng(22);
  const Fields f = Evaluate(c);
  std::vector<double> c0, c1;
  size_t components = 1;
  const std::vector<Array> coefficients = Coefficients(f, true, rng, &c0, &c1, &components);
  SetThreads("1");
  const standin::Result serial = Run(c, coefficients);
  SetThreads(nullptr);
  const standin::Result threaded = Run(c, coefficients);
  ASSERT_FALSE(serial.failed || threaded.failed) << serial.message << threaded.message;
  const std::vector<double> whole = Dense(serial);
  EXPECT_EQ(Bits(whole), Bits(Dense(threaded)));

  // Elements 1..k and k+1..nel, with their coefficients' columns.
  const size_t split = f.nel / 3;
  std::vector<double> sum(whole.size(), 0.0);
  for (int part = 0; part < 2; ++part) {
    MeshCase some = c;
    some.elements.clear();
    const size_t lo = part == 0 ? 0 : split, hi = part == 0 ? split : f.nel;
    for (size_t e = lo; e < hi; ++e) some.elements.push_back(static_cast<double>(e + 1));
    std::vector<Array> cut;
    for (const Array& a : coefficients) {
      const std::vector<double> v = standin::Values(a.get());
      const size_t rows = standin::Dims(a.get())[0], per = rows * f.nqn;
      cut.push_back(standin::Matrix(
          {rows, (hi - lo) * f.nqn},
          std::vector<double>(v.begin() + static_cast<std::ptrdiff_t>(lo * per),
                              v.begin() + static_cast<std::ptrdiff_t>(hi * per))));
    }
    const standin::Result r = Run(some, cut);
    ASSERT_FALSE(r.failed) << r.message;
    const std::vector<double> A = Dense(r);
    for (size_t i = 0; i < sum.size(); ++i) sum[i] += A[i];
  }
  EXPECT_LT(RelativeDifference(sum, whole), 1e-14);
}

// The annulus with its inner arc collapsed to the origin, on a Lobatto rule: the map is singular
// at the nodes on eta = 0 (jacdet 0, gradients and Laplacians not finite there). Those nodes
// contribute nothing: the form is finite and the integral over the other nodes.
TEST_P(Forms, SingularNodesContributeNothing) {
  MeshCase c = AnnulusCase(2, 3);
  for (size_t a = 0; a < 3; ++a) c.coefs[4 * a] = c.coefs[4 * a + 1] = 0.0;
  c.rule[0] = c.rule[1] = {0.0, 1.0 / 6, 0.5, 4.0 / 6, 1.0, 1.0 / 6};
  const Fields f = Evaluate(c);
  size_t singular = 0;
  for (size_t node = 0; node < f.jacdet.size(); ++node) singular += f.jacdet[node] == 0.0;
  ASSERT_GT(singular, 0u);
  std::mt19937 rng(23);
  std::vector<double> c0, c1;
  size_t components = 1;
  const std::vector<Array> coefficients = Coefficients(f, true, rng, &c0, &c1, &components);
  const standin::Result r = Run(c, coefficients);
  ASSERT_FALSE(r.failed) << r.id << ": " << r.message;
  const std::vector<double> got = Dense(r);
  for (double v : got) ASSERT_TRUE(std::isfinite(v));
  EXPECT_LT(RelativeDifference(got, Reference(kind(), f, c0, c1, components)), 1e-13);
}

// Two values on one element of rdim = 2 nodes fit both one value a node and a constant of rdim
// components: b (which has rdim components) takes the constant, every other coefficient, the
// load's too, one value a node; rdim x nqn values there are a vector load.
TEST_P(Forms, TwoValuesOnOneElementOfTwoNodes) {
  MeshCase c = AnnulusCase(2, 1);
  c.rule[0] = {2};
  c.rule[1] = {1};
  const Fields f = Evaluate(c);
  ASSERT_EQ(f.nqn * f.nel, 2u);
  ASSERT_EQ(f.r, 2u);
  std::vector<Array> values;
  for (int k = 0; k < coefficients(); ++k) values.push_back(standin::Matrix({2, 1}, {1.0, 2.0}));
  const standin::Result r = Run(c, values);
  ASSERT_FALSE(r.failed) << r.message;
  const bool advection = kind() == MeshKind::Advection;
  const std::vector<double> c0 =
      advection ? std::vector<double>{1.0, 2.0, 1.0, 2.0} : std::vector<double>{1.0, 2.0};
  const std::vector<double> expected = Reference(kind(), f, c0, {1.0, 2.0}, advection ? 2 : 1);
  ASSERT_EQ(Dense(r).size(), expected.size());
  EXPECT_LT(RelativeDifference(Dense(r), expected), 1e-14);
  if (kind() == MeshKind::Load) {
    values[0] = standin::Matrix({2, 2}, {1.0, 2.0, 1.0, 2.0});
    const standin::Result vector = Run(c, values);
    ASSERT_FALSE(vector.failed) << vector.message;
    EXPECT_EQ(Dense(vector).size(), 2 * f.ndof);
  }
}

TEST_P(Forms, FaultsOfItsOwn) {
  const MeshCase c = AnnulusCase(2, 3);
  const Fields f = Evaluate(c);
  // Constants: b has a value per physical coordinate.
  const size_t rows = kind() == MeshKind::Advection ? f.r : 1;
  std::vector<Array> good;
  for (int k = 0; k < coefficients(); ++k) {
    good.push_back(standin::Matrix({rows, 1}, std::vector<double>(rows, 1.0)));
  }
  const auto expect = [&](const std::string& mnemonic, const MeshCase& m,
                          const std::vector<Array>& extra) {
    SCOPED_TRACE(mnemonic);
    const standin::Result r = Run(m, extra);
    ASSERT_TRUE(r.failed) << "expected " << mnemonic;
    EXPECT_EQ(r.id, std::string(call_.name) + ":" + mnemonic) << r.message;
  };
  std::vector<Array> wrong;
  wrong.push_back(standin::Row(std::vector<double>(f.nqn * f.nel + 1, 1.0)));
  for (int k = 1; k < coefficients(); ++k) wrong.push_back(standin::Scalar(1.0));
  expect("coefficientSize", c, wrong);
  // Values at the nodes transposed, nel x nqn (rdim x nqn x nel: nodes x rdim), are refused, not
  // read in the wrong order: 9 elements of 4 nodes.
  MeshCase four = c;
  four.rule[0] = four.rule[1] = {2};
  const size_t nqn = 4, nodes = nqn * f.nel, per = kind() == MeshKind::Advection ? f.r : 1;
  std::vector<Array> transposed;
  transposed.push_back(standin::Matrix({per == 1 ? f.nel : nodes, per == 1 ? nqn : per},
                                       std::vector<double>(per * nodes, 1.0)));
  for (int k = 1; k < coefficients(); ++k) {
    transposed.push_back(standin::Matrix({f.nel, nqn}, std::vector<double>(nodes, 1.0)));
  }
  expect("coefficientSize", four, transposed);
  std::vector<Array> bad;
  bad.push_back(standin::Make(standin::Class::Single, {1, 1}));
  for (int k = 1; k < coefficients(); ++k) bad.push_back(standin::Scalar(1.0));
  expect("notDouble", c, bad);
  MeshCase side = c;
  side.options[3] = 2;
  if (kind() != MeshKind::Mass && kind() != MeshKind::Load) {
    expect("sideOutOfRange", side, good);
  } else {
    const standin::Result r = Run(side, good);
    EXPECT_FALSE(r.failed) << r.message;
  }
  // One input too few: the usage message; two outputs: too many.
  std::vector<Array> in = MeshInputs(c);
  std::vector<const Array*> args = Borrow(in);
  for (const Array& a : good) args.push_back(&a);
  const standin::Result two = CheckedCall(core_, 2, args);
  EXPECT_EQ(two.id, std::string(call_.name) + ":tooManyOutputs");
  args.pop_back();
  const standin::Result usage = CheckedCall(core_, 1, args);
  EXPECT_TRUE(usage.failed);
  EXPECT_EQ(usage.id, "");
}

INSTANTIATE_TEST_SUITE_P(Registry, Forms, ::testing::ValuesIn(FormNames()),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace
