// The hierarchical layer on patches built by hand: the two-scale relation against knot insertion
// one knot at a time, a space refined everywhere against the refined tensor space, partition of
// unity, linear independence, polynomials, refinement and its admissibility, prolongation, a
// domain of two patches, and every fault of the checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "NURBS.h"
#include "hierarchical.h"
#include "lanes.h"
#include "quadrature.h"

namespace {

using hierarchical::Hierarchy;

// A box [x0, x0 + 1] x [0, 1] (x [0, 1]) as a multilinear geometry, under a space of degree p
// with n elements a direction (uniform, open knots), optionally rational.
struct Patch {
  std::vector<double> geometryKnots[3], knots[3], coefs, weights, spaceWeights;
  mesh::Mesh mesh{};
};

std::unique_ptr<Patch> Box(int d, int p, int n, double x0 = 0.0, bool rational = false) {
  auto b = std::make_unique<Patch>();
  mesh::Mesh& m = b->mesh;
  m.d = d;
  m.rdim = d;
  m.geometry.directions = m.space.directions = d;
  std::ptrdiff_t gs = 1, ss = 1;
  for (int k = 0; k < d; ++k) {
    b->geometryKnots[k] = {0, 0, 1, 1};
    for (int j = 0; j <= p; ++j) b->knots[k].push_back(0.0);
    for (int j = 1; j < n; ++j) b->knots[k].push_back(static_cast<double>(j) / n);
    for (int j = 0; j <= p; ++j) b->knots[k].push_back(1.0);
    m.geometry.axis[k] = {1, b->geometryKnots[k].data(), 4, 2};
    m.geometry.stride[k] = gs;
    gs *= 2;
    const int size = static_cast<int>(b->knots[k].size());
    m.space.axis[k] = {p, b->knots[k].data(), size, size - p - 1};
    m.space.stride[k] = ss;
    ss *= size - p - 1;
    m.nel[k] = n;
    m.rule[k].n = p + 1;
    mesh::GaussLegendre(p + 1, m.rule[k].node, m.rule[k].weight);
  }
  const int corners = 1 << d;
  for (int c = 0; c < corners; ++c) {
    const double x[3] = {x0 + (c & 1), static_cast<double>((c >> 1) & 1),
                         static_cast<double>((c >> 2) & 1)};
    b->coefs.insert(b->coefs.end(), {x[0], x[1], x[2], 1.0});
    b->weights.push_back(1.0);
  }
  m.coefs = b->coefs.data();
  m.geometry.weights = b->weights.data();
  m.isoparametric = false;
  m.wanted = {true, false, false};
  m.lanes = evaluators::LaneWidth();
  m.count = 1;
  for (int k = 0; k < d; ++k) m.count *= static_cast<std::size_t>(n);
  if (rational) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> w(0.5, 2.0);
    b->spaceWeights.resize(static_cast<std::size_t>(ss));
    for (double& v : b->spaceWeights) v = w(random);
  }
  return b;
}

struct Space {
  std::vector<double> refined;  // 3 x count
  std::vector<domain::Interface> interfaces;
  std::vector<hierarchical::PatchInput> inputs;
  hierarchical::Options options{2, true};
  Hierarchy* h = nullptr;
  ~Space() { hierarchical::Release(h); }
  hierarchical::Refinement Refinement() const {
    return {refined.data(), refined.size() / 3};
  }
  bool Make() {
    hierarchical::Release(h);
    h = nullptr;
    const hierarchical::Finding c = hierarchical::Check(
        inputs.data(), static_cast<int>(inputs.size()), options, Refinement(), interfaces.data(),
        static_cast<int>(interfaces.size()));
    EXPECT_EQ(c.fault, hierarchical::Fault::None) << "at " << c.at;
    if (c.fault != hierarchical::Fault::None) return false;
    hierarchical::Finding f{};
    h = hierarchical::Build(inputs.data(), static_cast<int>(inputs.size()), options, Refinement(),
                            interfaces.data(), static_cast<int>(interfaces.size()), &f);
    return h != nullptr;
  }
  // Refines the given elements (or functions) and rebuilds.
  bool Refine(const std::vector<std::size_t>& marked, bool functions = false, int m = 2) {
    const std::size_t n =
        hierarchical::Refine(*h, marked.data(), marked.size(), functions, m, nullptr);
    std::vector<double> out(3 * n);
    EXPECT_EQ(hierarchical::Refine(*h, marked.data(), marked.size(), functions, m, out.data()), n);
    refined = out;
    return Make();
  }
};

// A workspace of a hierarchy, owning its block.
struct Work {
  std::vector<char> block;
  hierarchical::Workspace* w;
  Work(const Hierarchy& h, mesh::Wanted wanted)
      : block(hierarchical::WorkspaceBytes(h, wanted) + 64) {
    void* at = reinterpret_cast<void*>((reinterpret_cast<std::uintptr_t>(block.data()) + 63) / 64 * 64);
    w = hierarchical::MakeWorkspace(h, wanted, at);
  }
};

// One element's fields: values and gradients of its functions at its nodes.
struct ElementFields {
  int n = 0, nqn = 0, rdim = 0;
  std::vector<double> R, gradient, conn, weights, jacdet, x;
};

ElementFields Evaluate(const Hierarchy& h, hierarchical::Workspace* w, std::size_t e) {
  const hierarchical::Cell c = hierarchical::ElementCell(h, e);
  const mesh::Mesh& m = hierarchical::PatchMesh(h, c.patch);
  ElementFields f;
  f.nqn = mesh::Nodes(m);
  f.rdim = m.rdim;
  const std::size_t rows = static_cast<std::size_t>(hierarchical::MaxFunctions(h));
  f.R.assign(f.nqn * rows, 0.0);
  f.gradient.assign(f.rdim * f.nqn * rows, 0.0);
  f.conn.assign(rows, 0.0);
  f.weights.assign(f.nqn, 0.0);
  f.jacdet.assign(f.nqn, 0.0);
  f.x.assign(f.rdim * f.nqn, 0.0);
  mesh::Fields out{};
  out.R = f.R.data();
  out.gradient = f.gradient.data();
  out.connectivity = f.conn.data();
  out.weights = f.weights.data();
  out.jacdet = f.jacdet.data();
  out.x = f.x.data();
  f.n = hierarchical::EvaluateElement(h, w, e, 0, out);
  return f;
}

// Random refinements: rounds of marking a fraction of the active elements, from a seed.
void RefineAtRandom(Space* s, int rounds, unsigned seed, double fraction = 0.3, int m = 2) {
  std::mt19937 random(seed);
  for (int r = 0; r < rounds; ++r) {
    const std::size_t nel = hierarchical::Elements(*s->h);
    std::vector<std::size_t> marked;
    std::uniform_real_distribution<double> u(0.0, 1.0);
    // Elements near a corner more often, so that levels pile up there.
    for (std::size_t e = 0; e < nel; ++e) {
      double lo[3], hi[3];
      hierarchical::ElementBox(*s->h, e, lo, hi);
      const double near = lo[0] + lo[1];
      if (u(random) < fraction * (near < 0.3 ? 3.0 : 0.3)) marked.push_back(e);
    }
    if (marked.empty()) marked.push_back(0);
    ASSERT_TRUE(s->Refine(marked, false, m));
  }
}

// Knot insertion one knot at a time (Boehm, The NURBS Book A5.1 on the identity's rows): the
// coarse functions' coefficients in the refined basis, column j of coarse function j.
std::vector<std::vector<double>> Insert(int p, std::vector<double> U,
                                        const std::vector<double>& add) {
  const int n = static_cast<int>(U.size()) - p - 1;
  std::vector<std::vector<double>> C(n, std::vector<double>(n, 0.0));
  for (int j = 0; j < n; ++j) C[j][j] = 1.0;
  for (double x : add) {
    const int k = FindSpan(static_cast<int>(U.size()) - p - 2, p, x, U.data());
    for (auto& c : C) {
      std::vector<double> next(c.size() + 1, 0.0);
      for (int i = 0; i < static_cast<int>(next.size()); ++i) {
        if (i <= k - p) {
          next[i] = c[i];
        } else if (i > k) {
          next[i] = c[i - 1];
        } else {
          const double a = (x - U[i]) / (U[i + p] - U[i]);
          next[i] = a * c[i] + (1 - a) * c[i - 1];
        }
      }
      c = next;
    }
    U.insert(U.begin() + k + 1, x);
  }
  return C;
}

TEST(TwoScale, AgreesWithKnotInsertionOneKnotAtATime) {
  std::mt19937 random(3);
  for (int p = 0; p <= 5; ++p) {
    for (int trial = 0; trial < 6; ++trial) {
      // Open knots with a repeated interior knot now and then.
      std::vector<double> U(p + 1, 0.0);
      double x = 0.0;
      std::uniform_real_distribution<double> step(0.2, 1.0);
      for (int j = 0; j < 5; ++j) {
        x += step(random);
        U.push_back(x);
        if (trial % 3 == 1 && j == 2 && p > 0) U.push_back(x);
      }
      x += step(random);
      for (int j = 0; j <= p; ++j) U.push_back(x);
      std::vector<double> add, V;
      for (std::size_t j = 0; j + 1 < U.size(); ++j) {
        V.push_back(U[j]);
        if (j >= static_cast<std::size_t>(p) && j + 1 < U.size() - p && U[j] < U[j + 1]) {
          const double mid = U[j] + (U[j + 1] - U[j]) * 1 / 2;
          add.push_back(mid);
          V.push_back(mid);
        }
      }
      V.push_back(U.back());
      std::sort(V.begin(), V.end());
      const auto C = Insert(p, U, add);
      const int n = static_cast<int>(U.size()) - p - 1;
      for (int sc = p; sc + 1 < static_cast<int>(V.size()) - p; ++sc) {
        if (!(V[sc] < V[sc + 1])) continue;
        const int sp = FindSpan(n - 1, p, V[sc], U.data());
        std::vector<double> A((p + 1) * (p + 1));
        hierarchical::TwoScale(p, U.data(), sp, V.data(), sc, A.data());
        for (int i = 0; i <= p; ++i) {
          for (int j = 0; j <= p; ++j) {
            EXPECT_NEAR(A[i + (p + 1) * j], C[sp - p + j][sc - p + i], 1e-14)
                << "p " << p << " trial " << trial << " span " << sc;
          }
        }
      }
    }
  }
}

TEST(Hierarchy, EveryElementRefinedIsTheRefinedTensorSpace) {
  for (int d = 1; d <= 3; ++d) {
    const int p = d == 3 ? 2 : 3, n = 3;
    auto box = Box(d, p, n);
    Space s;
    s.inputs = {{&box->mesh, nullptr}};
    ASSERT_TRUE(s.Make());
    std::vector<std::size_t> all(hierarchical::Elements(*s.h));
    for (std::size_t e = 0; e < all.size(); ++e) all[e] = e;
    ASSERT_TRUE(s.Refine(all, false, 2));
    // Level 1's tensor mesh, from the hierarchy's knots.
    std::vector<double> knots[3];
    mesh::Mesh fine = hierarchical::PatchMesh(*s.h, 0);
    fine.count = 1;
    std::ptrdiff_t stride = 1;
    for (int k = 0; k < d; ++k) {
      knots[k].resize(hierarchical::LevelKnots(*s.h, 0, 1, k, nullptr));
      hierarchical::LevelKnots(*s.h, 0, 1, k, knots[k].data());
      const int m = static_cast<int>(knots[k].size());
      fine.space.axis[k] = {p, knots[k].data(), m, m - p - 1};
      fine.space.stride[k] = stride;
      stride *= m - p - 1;
      fine.nel[k] = mesh::CountElements(fine.space.axis[k]);
      fine.count *= static_cast<std::size_t>(fine.nel[k]);
    }
    std::vector<int> spans(mesh::SpanInts(fine));
    mesh::Spans(&fine, spans.data());
    std::size_t functions = 1;
    for (int k = 0; k < d; ++k) functions *= static_cast<std::size_t>(fine.space.axis[k].n);
    ASSERT_EQ(hierarchical::Functions(*s.h), functions);
    ASSERT_EQ(hierarchical::Elements(*s.h), fine.count);
    Work work(*s.h, {true, false, false});
    std::vector<char> scratch(mesh::ScratchBytes(fine) + 64);
    mesh::Scratch* t = mesh::MakeScratch(
        fine, reinterpret_cast<void*>((reinterpret_cast<std::uintptr_t>(scratch.data()) + 63) / 64 * 64));
    for (std::size_t e = 0; e < fine.count; ++e) {
      const ElementFields f = Evaluate(*s.h, work.w, e);
      const int nsh = mesh::Functions(fine);
      ASSERT_EQ(f.n, nsh);
      std::vector<double> R(f.nqn * nsh), g(f.rdim * f.nqn * nsh), conn(nsh);
      mesh::Fields out{};
      out.R = R.data();
      out.gradient = g.data();
      out.connectivity = conn.data();
      mesh::EvaluateElement(fine, t, e, out);
      for (int a = 0; a < nsh; ++a) {
        EXPECT_EQ(f.conn[a], conn[a]);
        for (int q = 0; q < f.nqn; ++q) EXPECT_EQ(f.R[q + f.nqn * a], R[q + f.nqn * a]);
      }
      EXPECT_EQ(std::vector<double>(f.gradient.begin(), f.gradient.begin() + g.size()), g);
    }
  }
}

// Every node of every element: the functions sum to 1 and their gradients to 0 (truncated), and
// each element has at most `levels` levels of functions.
void CheckElements(const Space& s, bool unity, int levels) {
  Work work(*s.h, {true, false, false});
  for (std::size_t e = 0; e < hierarchical::Elements(*s.h); ++e) {
    const ElementFields f = Evaluate(*s.h, work.w, e);
    int lo = 99, hi = -1;
    for (int a = 0; a < f.n; ++a) {
      const int l = hierarchical::FunctionAt(*s.h, static_cast<std::size_t>(f.conn[a]) - 1).level;
      lo = std::min(lo, l);
      hi = std::max(hi, l);
    }
    if (levels > 0) EXPECT_LE(hi - lo + 1, levels) << "element " << e;
    if (!unity) continue;
    for (int q = 0; q < f.nqn; ++q) {
      double sum = 0.0, grad[3] = {0, 0, 0};
      for (int a = 0; a < f.n; ++a) {
        sum += f.R[q + f.nqn * a];
        for (int m = 0; m < f.rdim; ++m) grad[m] += f.gradient[m + f.rdim * (q + f.nqn * a)];
      }
      EXPECT_NEAR(sum, 1.0, 1e-13) << "element " << e << " node " << q;
      for (int m = 0; m < f.rdim; ++m) EXPECT_NEAR(grad[m], 0.0, 1e-11);
    }
  }
}

TEST(Hierarchy, TruncatedSumsToOneAndAdmissibleMeshesHaveTwoLevels) {
  for (int d = 2; d <= 3; ++d) {
    for (bool rational : {false, true}) {
      auto box = Box(d, 2, d == 2 ? 4 : 2, 0.0, rational);
      Space s;
      s.inputs = {{&box->mesh, rational ? box->spaceWeights.data() : nullptr}};
      ASSERT_TRUE(s.Make());
      RefineAtRandom(&s, d == 2 ? 4 : 3, 11 + d);
      ASSERT_GE(hierarchical::Levels(*s.h), 3);
      CheckElements(s, true, 2);
    }
  }
}

TEST(Hierarchy, AdmissibilityOfClassThreeAndHierarchicalNeighbourhoods) {
  auto box = Box(2, 3, 4);
  Space s;
  s.inputs = {{&box->mesh, nullptr}};
  ASSERT_TRUE(s.Make());
  RefineAtRandom(&s, 5, 5, 0.3, 3);
  CheckElements(s, true, 3);
  Space hb;
  hb.inputs = s.inputs;
  hb.options.truncated = false;
  ASSERT_TRUE(hb.Make());
  RefineAtRandom(&hb, 4, 6, 0.3, 2);
  CheckElements(hb, false, 2);
}

// Dense symmetric positive definite by Cholesky: whether every pivot exceeds tol times the
// largest diagonal entry.
bool PositiveDefinite(std::vector<double> A, int n, double tol) {
  double most = 0.0;
  for (int i = 0; i < n; ++i) most = std::max(most, A[i + n * i]);
  for (int j = 0; j < n; ++j) {
    double v = A[j + n * j];
    for (int k = 0; k < j; ++k) v -= A[j + n * k] * A[j + n * k];
    if (!(v > tol * most)) return false;
    const double r = std::sqrt(v);
    A[j + n * j] = r;
    for (int i = j + 1; i < n; ++i) {
      double w = A[i + n * j];
      for (int k = 0; k < j; ++k) w -= A[i + n * k] * A[j + n * k];
      A[i + n * j] = w / r;
    }
  }
  return true;
}

// Solves A x = b (A symmetric positive definite, dense) by Gaussian elimination.
std::vector<double> Solve(std::vector<double> A, std::vector<double> b, int n) {
  for (int k = 0; k < n; ++k) {
    for (int i = k + 1; i < n; ++i) {
      const double f = A[i + n * k] / A[k + n * k];
      for (int j = k; j < n; ++j) A[i + n * j] -= f * A[k + n * j];
      b[i] -= f * b[k];
    }
  }
  for (int k = n - 1; k >= 0; --k) {
    for (int j = k + 1; j < n; ++j) b[k] -= A[k + n * j] * b[j];
    b[k] /= A[k + n * k];
  }
  return b;
}

TEST(Hierarchy, LinearlyIndependentAndReproducesPolynomials) {
  for (bool truncated : {true, false}) {
    auto box = Box(2, 2, 3);
    Space s;
    s.inputs = {{&box->mesh, nullptr}};
    s.options.truncated = truncated;
    ASSERT_TRUE(s.Make());
    RefineAtRandom(&s, 3, 21);
    const int n = static_cast<int>(hierarchical::Functions(*s.h));
    std::vector<double> M(n * n, 0.0), b(n, 0.0);
    const auto u = [](const double* x) { return x[0] * x[0] * x[1] - 3 * x[1] * x[1] + x[0]; };
    Work work(*s.h, {true, false, false});
    std::vector<std::vector<double>> nodes;
    for (std::size_t e = 0; e < hierarchical::Elements(*s.h); ++e) {
      const ElementFields f = Evaluate(*s.h, work.w, e);
      for (int q = 0; q < f.nqn; ++q) {
        const double dx = f.weights[q] * f.jacdet[q];
        for (int a = 0; a < f.n; ++a) {
          const int I = static_cast<int>(f.conn[a]) - 1;
          b[I] += dx * u(&f.x[f.rdim * q]) * f.R[q + f.nqn * a];
          for (int c = 0; c < f.n; ++c) {
            const int J = static_cast<int>(f.conn[c]) - 1;
            M[I + n * J] += dx * f.R[q + f.nqn * a] * f.R[q + f.nqn * c];
          }
        }
      }
    }
    EXPECT_TRUE(PositiveDefinite(M, n, 1e-10)) << "truncated " << truncated;
    const std::vector<double> c = Solve(M, b, n);
    for (std::size_t e = 0; e < hierarchical::Elements(*s.h); ++e) {
      const ElementFields f = Evaluate(*s.h, work.w, e);
      for (int q = 0; q < f.nqn; ++q) {
        double v = 0.0;
        for (int a = 0; a < f.n; ++a) v += c[static_cast<int>(f.conn[a]) - 1] * f.R[q + f.nqn * a];
        EXPECT_NEAR(v, u(&f.x[f.rdim * q]), 1e-11);
      }
    }
  }
}

// The field at parametric point xi of a patch, from its element's tensor coefficients.
double FieldAt(const Hierarchy& h, hierarchical::Workspace* w, int patch, const double* xi,
               const std::vector<double>& u) {
  for (std::size_t e = 0; e < hierarchical::Elements(h); ++e) {
    const hierarchical::Cell c = hierarchical::ElementCell(h, e);
    if (c.patch != patch) continue;
    double lo[3], hi[3];
    hierarchical::ElementBox(h, e, lo, hi);
    const int d = hierarchical::Dimension(h);
    bool inside = true;
    for (int k = 0; k < d; ++k) inside = inside && xi[k] >= lo[k] && xi[k] <= hi[k];
    if (!inside) continue;
    const mesh::Mesh& m = hierarchical::PatchMesh(h, c.patch);
    int nloc = 1;
    for (int k = 0; k < d; ++k) nloc *= m.space.axis[k].p + 1;
    std::vector<double> v(nloc), wl(nloc);
    hierarchical::ElementCoefficients(h, w, e, u.data(), 1, v.data(), wl.data());
    double N[3][kMaxDegree + 1];
    for (int k = 0; k < d; ++k) {
      const int p = m.space.axis[k].p;
      std::vector<double> U(hierarchical::LevelKnots(h, c.patch, c.level, k, nullptr));
      hierarchical::LevelKnots(h, c.patch, c.level, k, U.data());
      const int n = static_cast<int>(U.size()) - p - 1;
      BasisFuns(FindSpan(n - 1, p, 0.5 * (lo[k] + hi[k]), U.data()), xi[k], p, U.data(), N[k]);
    }
    double num = 0.0, den = 0.0;
    for (int j = 0; j < nloc; ++j) {
      double b = 1.0;
      int r = j;
      for (int k = 0; k < d; ++k) {
        const int pk = m.space.axis[k].p + 1;
        b *= N[k][r % pk];
        r /= pk;
      }
      num += v[j] * b;
      den += wl[j] * b;
    }
    return num / den;
  }
  return NAN;
}

TEST(Hierarchy, ProlongedFieldsAreTheSameFields) {
  for (bool truncated : {true, false}) {
    for (bool rational : {false, true}) {
      auto box = Box(2, 2, 3, 0.0, rational);
      Space coarse;
      coarse.inputs = {{&box->mesh, rational ? box->spaceWeights.data() : nullptr}};
      coarse.options.truncated = truncated;
      ASSERT_TRUE(coarse.Make());
      RefineAtRandom(&coarse, 2, 31);
      Space fine;
      fine.inputs = coarse.inputs;
      fine.options = coarse.options;
      fine.refined = coarse.refined;
      ASSERT_TRUE(fine.Make());
      RefineAtRandom(&fine, 2, 32);
      ASSERT_TRUE(hierarchical::Nested(*coarse.h, *fine.h));
      ASSERT_FALSE(hierarchical::Nested(*fine.h, *coarse.h));
      std::mt19937 random(4);
      std::uniform_real_distribution<double> value(-1.0, 1.0);
      std::vector<double> u(hierarchical::Functions(*coarse.h));
      for (double& v : u) v = value(random);
      std::vector<double> x(hierarchical::Functions(*fine.h));
      Work wc(*coarse.h, {false, false, false}), wf(*fine.h, {false, false, false});
      ASSERT_TRUE(hierarchical::Prolong(*coarse.h, *fine.h, wc.w, wf.w, u.data(), 1, x.data()));
      for (int k = 0; k < 200; ++k) {
        const double xi[2] = {0.5 * (1 + value(random)), 0.5 * (1 + value(random))};
        EXPECT_NEAR(FieldAt(*fine.h, wf.w, 0, xi, x), FieldAt(*coarse.h, wc.w, 0, xi, u), 1e-13)
            << "truncated " << truncated << " rational " << rational;
      }
    }
  }
}

TEST(Hierarchy, MarkedFunctionsRefineTheirSupport) {
  auto box = Box(2, 2, 4);
  Space s;
  s.inputs = {{&box->mesh, nullptr}};
  ASSERT_TRUE(s.Make());
  const std::size_t before = hierarchical::Functions(*s.h);
  ASSERT_TRUE(s.Refine({14}, true, 0));
  // Function 14 (tensor (2, 2) of 6 x 6) has 3 x 3 cells: refined, it gives way to its children.
  EXPECT_EQ(s.refined.size() / 3, 9u);
  EXPECT_GT(hierarchical::Functions(*s.h), before);
  for (std::size_t f = 0; f < hierarchical::Functions(*s.h); ++f) {
    const hierarchical::Function g = hierarchical::FunctionAt(*s.h, f);
    EXPECT_FALSE(g.level == 0 && g.index == 14);
  }
}

TEST(Hierarchy, TwoPatchesGlueContinuouslyAndRefineConforming) {
  auto left = Box(2, 2, 3, 0.0), right = Box(2, 2, 3, 1.0);
  Space s;
  s.inputs = {{&left->mesh, nullptr}, {&right->mesh, nullptr}};
  s.interfaces = {{0, 2, 1, 1, 1, 0, 0}};
  ASSERT_TRUE(s.Make());
  // 5 x 5 functions a patch, 5 shared.
  EXPECT_EQ(hierarchical::Functions(*s.h), 45u);
  // The left patch's elements along the interface, twice.
  for (int round = 0; round < 2; ++round) {
    std::vector<std::size_t> marked;
    for (std::size_t e = 0; e < hierarchical::Elements(*s.h); ++e) {
      double lo[3], hi[3];
      hierarchical::ElementBox(*s.h, e, lo, hi);
      if (hierarchical::ElementCell(*s.h, e).patch == 0 && hi[0] == 1.0 && lo[1] < 0.5) {
        marked.push_back(e);
      }
    }
    ASSERT_TRUE(s.Refine(marked, false, 2));
  }
  bool rightRefined = false;
  for (std::size_t k = 0; k < s.refined.size() / 3; ++k) rightRefined |= s.refined[3 * k] == 2;
  EXPECT_TRUE(rightRefined);
  CheckElements(s, true, 2);
  std::mt19937 random(9);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::vector<double> u(hierarchical::Functions(*s.h));
  for (double& v : u) v = value(random);
  Work work(*s.h, {false, false, false});
  for (int k = 0; k < 100; ++k) {
    const double t = 0.5 * (1 + value(random));
    const double a[2] = {1.0, t}, b[2] = {0.0, t};
    EXPECT_NEAR(FieldAt(*s.h, work.w, 0, a, u), FieldAt(*s.h, work.w, 1, b, u), 1e-13);
  }
  // The same refinement with the right patch's cells dropped does not conform.
  std::vector<double> tampered;
  for (std::size_t k = 0; k < s.refined.size() / 3; ++k) {
    if (s.refined[3 * k] == 1) tampered.insert(tampered.end(), &s.refined[3 * k], &s.refined[3 * k] + 3);
  }
  hierarchical::Finding f{};
  const hierarchical::Refinement r{tampered.data(), tampered.size() / 3};
  EXPECT_EQ(hierarchical::Check(s.inputs.data(), 2, s.options, r, s.interfaces.data(), 1).fault,
            hierarchical::Fault::None);
  EXPECT_EQ(hierarchical::Build(s.inputs.data(), 2, s.options, r, s.interfaces.data(), 1, &f),
            nullptr);
  EXPECT_EQ(f.fault, hierarchical::Fault::NotConforming);
}

TEST(Hierarchy, ChecksEveryFault) {
  auto box = Box(2, 2, 2);
  auto other = Box(2, 3, 2, 1.0);
  const hierarchical::PatchInput in[2] = {{&box->mesh, nullptr}, {&other->mesh, nullptr}};
  const hierarchical::Options o{2, true};
  const auto check = [&](std::vector<double> cells, int npatch = 1,
                         std::vector<domain::Interface> faces = {}) {
    return hierarchical::Check(in, npatch, o, {cells.data(), cells.size() / 3}, faces.data(),
                               static_cast<int>(faces.size()))
        .fault;
  };
  using hierarchical::Fault;
  EXPECT_EQ(check({1, 0, 4, 1, 1, 16}), Fault::None);
  EXPECT_EQ(check({2, 0, 1}), Fault::Patch);
  EXPECT_EQ(check({1.5, 0, 1}), Fault::Patch);
  EXPECT_EQ(check({1, -1, 1}), Fault::Level);
  EXPECT_EQ(check({1, 0.5, 1}), Fault::Level);
  EXPECT_EQ(check({1, 31, 1}), Fault::Level);
  EXPECT_EQ(check({1, 0, 5}), Fault::Cell);
  EXPECT_EQ(check({1, 0, 0}), Fault::Cell);
  EXPECT_EQ(check({1, 0, NAN}), Fault::Cell);
  EXPECT_EQ(check({1, 0, 2, 1, 0, 1}), Fault::Order);
  EXPECT_EQ(check({1, 0, 2, 1, 0, 2}), Fault::Order);
  EXPECT_EQ(check({1, 0, 1, 1, 1, 16}), Fault::Parent);
  EXPECT_EQ(check({1, 0, 4, 1, 1, 13}), Fault::Parent);
  EXPECT_EQ(check({1, 24, 1}), Fault::TooFine);
  EXPECT_EQ(check({}, 2, {{0, 2, 1, 1, 1, 0, 0}}), Fault::Interface);
}

}  // namespace
