// The forms by sum factorisation against the element path (NURBS_FORMS_METHOD) through each
// form's core: degrees 1 to 8 in 2-D and 3-D, isoparametric NURBS spaces and refined B-spline and
// NURBS spaces over curved rational maps, coefficients at every node and constant; the matrices
// agree to 1e-13 relative, the symmetric ones exactly symmetric, the same bits on any number of
// threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "environment.h"
#include "mesh_case.h"
#include "plugin_test.h"
#include "random_case.h"
#include "registry.h"

namespace {

using gateway::MeshCall;
using gateway::MeshKind;
using standin::Array;

std::vector<const char*> SumFactorisedForms() {
  std::vector<const char*> names;
  for (const MeshCall* call : registry::kMeshCalls) {
    switch (call->kind) {
      case MeshKind::Stiffness:
      case MeshKind::Mass:
      case MeshKind::Advection:
      case MeshKind::Elasticity:
        names.push_back(call->name);
        break;
      default:
        break;
    }
  }
  return names;
}

const MeshCall& Find(const char* name) {
  for (const MeshCall* call : registry::kMeshCalls) {
    if (std::string(call->name) == name) return *call;
  }
  std::abort();
}

// Clamped knots of degree p with `elements` elements of random lengths on [0, 1].
std::vector<double> Knots(std::mt19937& rng, int p, int elements) {
  std::uniform_real_distribution<double> unit(0.3, 1.0);
  std::vector<double> cut(elements);
  double sum = 0.0;
  for (double& c : cut) sum += (c = unit(rng));
  std::vector<double> U(p + 1, 0.0);
  double at = 0.0;
  for (int e = 0; e + 1 < elements; ++e) U.push_back(at += cut[e] / sum);
  U.insert(U.end(), p + 1, 1.0);
  return U;
}

// A curved rational map of degrees pg over a grid sheared and perturbed from the unit cube (a
// regular map: no fold), one element a
// direction; the space of degrees p with `elements` elements a direction: the map's own basis
// where `isoparametric` (then pg = p), else B-splines or (rational) NURBS of random weights, with
// a doubled knot along the first direction where it has two elements.
// Gauss rules of p + 1 nodes, one more along the first direction where `extra`.
MeshCase Case(std::mt19937& rng, int d, const int p[3], const int elements[3], bool isoparametric,
              bool rational, bool extra) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  MeshCase c;
  c.d = d;
  int n[3] = {1, 1, 1};
  for (int k = 0; k < d; ++k) {
    const int pg = isoparametric ? p[k] : std::min(p[k], 2);
    c.order[k] = pg + 1;
    c.knots[k] = isoparametric ? Knots(rng, pg, elements[k]) : Knots(rng, pg, 1);
    n[k] = static_cast<int>(c.knots[k].size()) - pg - 1;
    c.rule[k] = {static_cast<double>(p[k] + 1 + (extra && k == 0))};
  }
  for (int a = 0; a < n[0] * n[1] * n[2]; ++a) {
    const int i[3] = {a % n[0], (a / n[0]) % n[1], a / (n[0] * n[1])};
    const double w = 0.6 + 0.8 * unit(rng);
    double x[3] = {0.0, 0.0, 0.0};
    for (int m = 0; m < d; ++m) {
      x[m] = (i[m] + 0.2 * unit(rng) + 0.3 * std::sin(1.0 + 0.7 * i[(m + 1) % d])) / n[m];
    }
    for (int m = 0; m < 3; ++m) c.coefs.push_back(w * x[m]);
    c.coefs.push_back(w);
  }
  if (!isoparametric) {
    int ns = 1;
    for (int k = 0; k < d; ++k) {
      c.spaceOrder.push_back(p[k] + 1);
      c.spaceKnots[k] = Knots(rng, p[k], elements[k]);
      // A doubled interior knot along the first direction: C^(p-2) there, pairs of functions
      // that meet on fewer elements.
      if (k == 0 && p[k] >= 2 && elements[k] >= 2) {
        c.spaceKnots[k].insert(c.spaceKnots[k].begin() + p[k] + 1, c.spaceKnots[k][p[k] + 1]);
      }
      ns *= static_cast<int>(c.spaceKnots[k].size()) - p[k] - 1;
    }
    if (rational) c.spaceWeights = RandomWeights(rng, ns);
  }
  return c;
}

class SumFactorisation : public ::testing::TestWithParam<const char*> {
 protected:
  SumFactorisation() : call_(Find(GetParam())), core_(PluginPath(call_.core)) {}
  void TearDown() override {
    SetEnvironment("NURBS_FORMS_METHOD", nullptr);
    SetEnvironment("NURBS_FORMS_SLAB", nullptr);
    SetThreads(nullptr);
  }

  // The form's coefficients: random at every node, or constants.
  std::vector<Array> Coefficients(const MeshCase& c, const int elements[3], bool field,
                                  std::mt19937& rng) {
    std::uniform_real_distribution<double> unit(0.5, 1.5);
    size_t nodes = 1;
    for (int k = 0; k < c.d; ++k) nodes *= static_cast<size_t>(c.rule[k][0] * elements[k]);
    const size_t rows = call_.kind == MeshKind::Advection ? static_cast<size_t>(c.d) : 1;
    std::vector<Array> in;
    for (int k = 0; k < gateway::ListCount(call_.inputs); ++k) {
      std::vector<double> v(rows * (field ? nodes : 1));
      for (double& x : v) x = unit(rng);
      in.push_back(standin::Matrix({rows, v.size() / rows}, v));
    }
    return in;
  }

  std::vector<double> Run(const MeshCase& c, const std::vector<Array>& extra, const char* method) {
    SetEnvironment("NURBS_FORMS_METHOD", method);
    const std::vector<Array> in = MeshInputs(c);
    std::vector<const Array*> args = Borrow(in);
    for (const Array& a : extra) args.push_back(&a);
    const standin::Result r = CheckedCall(core_, 1, args);
    EXPECT_FALSE(r.failed) << r.id << ": " << r.message;
    if (r.failed) return {};
    const standin::Sparse s = standin::SparseOf(r.outputs.at(0).get());
    std::vector<double> A(s.rows * s.cols, 0.0);
    for (size_t j = 0; j < s.cols; ++j) {
      for (size_t k = s.jc[j]; k < s.jc[j + 1]; ++k) {
        EXPECT_NE(s.pr[k], 0.0) << "a stored zero";
        A[s.ir[k] + s.rows * j] = s.pr[k];
      }
    }
    return A;
  }

  // The two paths' matrices for a case: agreement, and exact symmetry of the symmetric forms.
  void Compare(const MeshCase& c, const std::vector<Array>& coefficients) {
    const std::vector<double> reference = Run(c, coefficients, "elements");
    const std::vector<double> got = Run(c, coefficients, "sumfact");
    ASSERT_EQ(got.size(), reference.size());
    double d = 0.0, n = 0.0;
    for (size_t i = 0; i < got.size(); ++i) {
      d += (got[i] - reference[i]) * (got[i] - reference[i]);
      n += reference[i] * reference[i];
    }
    EXPECT_LT(std::sqrt(d / n), 1e-13);
    if (call_.kind == MeshKind::Advection) return;
    const size_t rows = static_cast<size_t>(std::sqrt(static_cast<double>(got.size())));
    for (size_t i = 0; i < rows; ++i) {
      for (size_t j = 0; j < i; ++j) {
        ASSERT_EQ(got[i + rows * j], got[j + rows * i]) << "not symmetric at " << i << ", " << j;
      }
    }
  }

  const MeshCall& call_;
  standin::Plugin core_;
};

// Degrees 1 to 8 along every direction of a 2-D patch, along one direction of a 3-D one (the
// others of degrees 1 to 3, to 2 from degree 6) and in all three up to 3 (the element path's
// reference grows as (p + 1)^9 an element); one or two elements a direction; isoparametric,
// B-spline and NURBS spaces at every degree to 3, one of them at each degree from 4.
TEST_P(SumFactorisation, MatchesTheElementPath) {
  std::mt19937 rng(31);
  for (int d = 2; d <= 3; ++d) {
    for (int p = 1; p <= 8; ++p) {
      for (int space = 0; space < 3; ++space) {
        // Every space at the low degrees, one of them in turn from degree 4.
        if (p >= 4 && space != p % 3) continue;
        const bool isoparametric = space == 0, rational = space != 1;
        int degree[3] = {p, p, p};
        if (d == 3 && (p > 3 || space == 1)) {
          degree[(p + space) % 3] = p;
          degree[(p + space + 1) % 3] = 1 + p % (p > 5 ? 2 : 3);
          degree[(p + space + 2) % 3] = 1 + (p + 1) % 2;
        }
        const int elements[3] = {1 + p % 2, 1 + (p + space) % 2, 1 + (p + 1) % 2};
        SCOPED_TRACE("d = " + std::to_string(d) + ", degrees " + std::to_string(degree[0]) + " " +
                     std::to_string(degree[1]) + " " + std::to_string(degree[2]) +
                     (isoparametric ? ", isoparametric"
                      : rational    ? ", NURBS"
                                    : ", B-splines"));
        const MeshCase c = Case(rng, d, degree, elements, isoparametric, rational, p == 3);
        Compare(c, Coefficients(c, elements, (p + space) % 3 != 0, rng));
      }
    }
  }
}

// A patch of enough elements for both threads, in one slab and in slabs of three elements along
// the last direction (the pairs that span two slabs summed in each): the same bits serial and
// threaded, and the slabs' sums in agreement with the one slab's.
TEST_P(SumFactorisation, ThreadsAndSlabs) {
  std::mt19937 rng(32);
  const int degree[3] = {3, 2, 2}, elements[3] = {3, 3, 6};
  const MeshCase c = Case(rng, 3, degree, elements, false, true, false);
  const std::vector<Array> coefficients = Coefficients(c, elements, true, rng);
  std::vector<double> whole;
  for (const char* slab : {static_cast<const char*>(nullptr), "3"}) {
    SCOPED_TRACE(slab ? "slabs of 3" : "one slab");
    SetEnvironment("NURBS_FORMS_SLAB", slab);
    SetThreads("1");
    const std::vector<double> serial = Run(c, coefficients, "sumfact");
    SetThreads(nullptr);
    const std::vector<double> threaded = Run(c, coefficients, "sumfact");
    EXPECT_EQ(Bits(serial), Bits(threaded));
    if (!slab) {
      whole = serial;
      continue;
    }
    ASSERT_EQ(serial.size(), whole.size());
    double d = 0.0, n = 0.0;
    for (size_t i = 0; i < whole.size(); ++i) {
      d += (serial[i] - whole[i]) * (serial[i] - whole[i]);
      n += whole[i] * whole[i];
    }
    EXPECT_LT(std::sqrt(d / n), 1e-14);
  }
}

INSTANTIATE_TEST_SUITE_P(Registry, SumFactorisation, ::testing::ValuesIn(SumFactorisedForms()),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace
