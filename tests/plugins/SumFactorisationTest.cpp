// The forms by sum factorisation against the element path (NURBS_FORMS_METHOD) through each
// form's core: degrees 1 to 8 in 2-D and 3-D, isoparametric NURBS spaces and refined B-spline and
// NURBS spaces over curved rational maps, coefficients at every node and constant; the matrices
// agree to 1e-13 relative, the symmetric ones exactly symmetric, the same bits on any number of
// threads. Then the other paths: chunks of elements that are a box, several boxes or neither,
// faces, the load vector, domains of glued patches whose interfaces run reversed and swapped
// (and a numbering that maps two functions to one), and the nodes' coordinates for handles.
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
    size_t nodes = 1;
    for (int k = 0; k < c.d; ++k) nodes *= static_cast<size_t>(c.rule[k][0] * elements[k]);
    return CoefficientsAt(nodes, c.d, field, rng);
  }

  std::vector<Array> CoefficientsAt(size_t nodes, int d, bool field, std::mt19937& rng) {
    std::uniform_real_distribution<double> unit(0.5, 1.5);
    const size_t rows = call_.kind == MeshKind::Advection ? static_cast<size_t>(d) : 1;
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
    return Dense(r.outputs.at(0).get());
  }

  // The two paths' matrices for a case: agreement, and exact symmetry of the symmetric forms;
  // where `path` says which the call takes, its bits: the element path's (where the elements
  // are not a union of boxes), or others (summed in another order).
  enum class Path { Either, SumFactorised, Elements };
  void Compare(const MeshCase& c, const std::vector<Array>& coefficients,
               Path path = Path::Either) {
    const std::vector<double> reference = Run(c, coefficients, "elements");
    const std::vector<double> got = Run(c, coefficients, "sumfact");
    ASSERT_EQ(got.size(), reference.size());
    if (path == Path::Elements) EXPECT_EQ(Bits(got), Bits(reference));
    if (path == Path::SumFactorised) EXPECT_NE(Bits(got), Bits(reference));
    EXPECT_LT(RelativeDifference(got, reference), 1e-13);
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

// Chunks of elements and faces, by sum factorisation box by box against the element path: a
// chunk that is a box (in its own pattern), two boxes (looked up in the chunk's pattern), two
// elements apart listed in reverse, and one with an element twice (element by element, whatever
// is asked);
// every side of the patch for the mass. Degrees 1 to 6, 2-D and 3-D, the three kinds of space;
// the same bits on one thread and on several.
TEST_P(SumFactorisation, ChunksAndFaces) {
  std::mt19937 rng(33);
  for (int d = 2; d <= 3; ++d) {
    for (int p = 1; p <= 6; ++p) {
      // The element path's reference grows as (p + 1)^9 (the elasticity's 27 times that).
      if (d == 3 && p > (call_.kind == MeshKind::Elasticity ? 2 : 3)) continue;
      const int space = p % 3;
      const int degree[3] = {p, d == 3 ? 1 + p % 2 : p, 2};
      const int elements[3] = {3, 2, d == 3 ? 2 : 1};
      SCOPED_TRACE("d = " + std::to_string(d) + ", p = " + std::to_string(p) + ", space " +
                   std::to_string(space));
      MeshCase c = Case(rng, d, degree, elements, space == 0, space != 1, false);
      // The elements are numbered e0 + 3 e1 + 6 e2 (1-based); a 2-D patch has 6 of them.
      const std::vector<std::vector<double>> chunks = {
          {2, 3, 5, 6},        // a box: e0 in 1..2, e1 in 0..1
          {1, 2, 3, 5},        // a row and one more: two boxes
          {6, 1},              // apart, in reverse: two boxes of one element
          {2, 3, 3}};          // an element twice: element by element
      const Path paths[] = {Path::SumFactorised, Path::SumFactorised, Path::SumFactorised,
                            Path::Elements};
      for (size_t k = 0; k < chunks.size(); ++k) {
        const std::vector<double>& list = chunks[k];
        SCOPED_TRACE("elements " + std::to_string(list.size()));
        MeshCase chunk = c;
        chunk.elements = list;
        const size_t nqn = static_cast<size_t>(c.rule[0][0] * c.rule[1][0] *
                                               (d == 3 ? c.rule[2][0] : 1));
        const std::vector<Array> coefficients =
            CoefficientsAt(nqn * list.size(), d, list.size() % 2 == 0, rng);
        Compare(chunk, coefficients, paths[k]);
        SetThreads("1");
        const std::vector<double> serial = Run(chunk, coefficients, "sumfact");
        SetThreads(nullptr);
        EXPECT_EQ(Bits(Run(chunk, coefficients, "sumfact")), Bits(serial));
      }
      if (call_.kind != MeshKind::Mass) continue;
      // The faces; a refined space's first direction not open at its start (two of its functions
      // do not vanish on side 1).
      if (space != 0 && p >= 2) {
        c.spaceKnots[0][0] -= 0.2;
        c.spaceKnots[0][1] -= 0.1;
      }
      for (int side = 1; side <= 2 * d; ++side) {
        SCOPED_TRACE("side " + std::to_string(side));
        MeshCase face = c;
        face.options[3] = side;
        size_t nodes = 1;
        for (int k = 0; k < d; ++k) {
          if (k != (side - 1) / 2) nodes *= static_cast<size_t>(c.rule[k][0] * elements[k]);
        }
        Compare(face, CoefficientsAt(nodes, d, side % 2 == 0, rng), Path::SumFactorised);
        face.elements = {1};
        Compare(face, CoefficientsAt(nodes / static_cast<size_t>(elements[side > 2 ? 0 : 1]), d,
                                     false, rng));
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Registry, SumFactorisation, ::testing::ValuesIn(SumFactorisedForms()),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace

namespace {

// The patch's first two directions swapped: the same geometry and space, other parameters.
MeshCase Swapped(const MeshCase& c) {
  MeshCase t = c;
  std::swap(t.order[0], t.order[1]);
  std::swap(t.knots[0], t.knots[1]);
  std::swap(t.rule[0], t.rule[1]);
  if (!t.spaceOrder.empty()) {
    std::swap(t.spaceOrder[0], t.spaceOrder[1]);
    std::swap(t.spaceKnots[0], t.spaceKnots[1]);
  }
  const int n0 = c.Functions(0), n1 = c.Functions(1), n2 = c.d > 2 ? c.Functions(2) : 1;
  for (int k = 0; k < n2; ++k) {
    for (int b = 0; b < n1; ++b) {
      for (int a = 0; a < n0; ++a) {
        for (int m = 0; m < 4; ++m) {
          t.coefs[4 * (b + n1 * (a + n0 * k)) + m] = c.coefs[4 * (a + n0 * (b + n1 * k)) + m];
        }
      }
    }
  }
  return t;
}

class SumFactorisedCalls : public ::testing::Test {
 protected:
  void TearDown() override {
    SetEnvironment("NURBS_FORMS_METHOD", nullptr);
    SetThreads(nullptr);
  }

  static std::vector<double> Values(size_t count, size_t seed) {
    std::vector<double> v(count);
    for (size_t i = 0; i < count; ++i) {
      v[i] = 0.5 + std::fmod(0.618034 * static_cast<double>(i + seed), 1.0);
    }
    return v;
  }

  std::vector<double> Call(const standin::Plugin& core, const std::vector<Array>& in,
                           const char* method) {
    SetEnvironment("NURBS_FORMS_METHOD", method);
    const standin::Result r = CheckedCall(core, 1, Borrow(in));
    EXPECT_FALSE(r.failed) << r.id << ": " << r.message;
    return r.failed ? std::vector<double>() : Dense(r.outputs.at(0).get());
  }

  // Both paths of a call: agreement to 1e-13, other bits than the element path's, the same bits
  // on one thread and on several, a symmetric result exactly symmetric.
  void Agree(const char* name, const std::vector<Array>& in, bool symmetric,
             const std::string& label) {
    SCOPED_TRACE(label);
    const standin::Plugin core(PluginPath(name));
    const std::vector<double> reference = Call(core, in, "elements");
    SetThreads("1");
    const std::vector<double> serial = Call(core, in, "sumfact");
    SetThreads(nullptr);
    const std::vector<double> got = Call(core, in, "sumfact");
    ASSERT_EQ(got.size(), reference.size());
    EXPECT_LT(RelativeDifference(got, reference), 1e-13);
    EXPECT_NE(Bits(got), Bits(reference));
    EXPECT_EQ(Bits(got), Bits(serial));
    if (!symmetric) return;
    const size_t n = static_cast<size_t>(std::sqrt(static_cast<double>(got.size())));
    for (size_t i = 0; i < n; ++i) {
      for (size_t j = 0; j < i; ++j) {
        ASSERT_EQ(got[i + n * j], got[j + n * i]) << "not symmetric at " << i << ", " << j;
      }
    }
  }
};

// The load vector of a patch, of its faces and of chunks by sum factorisation: degrees 1 to 6,
// 2-D and 3-D, the three kinds of space, a constant, values at the nodes, rdim components.
TEST_F(SumFactorisedCalls, LoadVector) {
  std::mt19937 rng(34);
  for (int d = 2; d <= 3; ++d) {
    for (int p = 1; p <= 6; ++p) {
      const int space = (p + d) % 3;
      const int degree[3] = {p, 1 + (p + 1) % 3, 1 + p % 2};
      const int elements[3] = {2, 3, 2};
      MeshCase c = Case(rng, d, degree, elements, space == 0, space != 1, p % 2 == 0);
      const std::string label = "d = " + std::to_string(d) + ", p = " + std::to_string(p);
      for (int variant = 0; variant < 4; ++variant) {
        MeshCase v = c;
        if (variant == 1) v.options[3] = 1 + (p % (2 * d));           // a face
        if (variant == 2) v.elements = {5, 2, 1, 4};                  // two boxes
        if (variant == 3) v.options[3] = 2, v.elements = {2, 1};      // a face's chunk
        const size_t nodes = CaseNodes(v);
        std::vector<Array> in = MeshInputs(v);
        const size_t rows = (p + variant) % 3 == 2 ? static_cast<size_t>(d) : 1;
        const size_t columns = (p + variant) % 3 == 0 ? 1 : nodes;
        in.push_back(standin::Matrix({rows, columns}, Values(rows * columns, variant)));
        Agree("LoadVectorCore", in, false, label + ", variant " + std::to_string(variant));
      }
    }
  }
}

// Domains of two or three quarters of an annulus, glued along edges (faces) that run reversed and,
// with a patch's directions swapped, swapped: every form over the whole domain, its boundary
// faces (mass, load), chunks of each patch, B-spline spaces of degrees 1 to 6 and the patches'
// own NURBS bases; and a numbering that maps two functions of one patch to one index (a patch
// glued to itself), summed on one thread.
TEST_F(SumFactorisedCalls, Domains) {
  const standin::Plugin glue(PluginPath("MultipatchCore"));
  for (int d = 2; d <= 3; ++d) {
    for (int p = 1; p <= (d == 2 ? 6 : 2); ++p) {
      MeshCase a = AnnulusCase(p, d == 3 ? 2 : 2 + p % 2, d == 3);
      if (p == 2) {  // the geometry's own NURBS basis (degrees 2, 1, 1)
        a.spaceOrder.clear();
        for (int k = 0; k < 3; ++k) a.spaceKnots[k].clear();
        for (int k = 0; k < d; ++k) a.rule[k] = {3};
      }
      const MeshCase b = Turned(a), e = Swapped(Turned(b));
      const std::vector<MeshCase> patches = {a, b, e};
      std::vector<Array> gin;
      gin.push_back(standin::Scalar(1e-10));
      for (const MeshCase& c : patches) {
        for (Array& x : MeshInputs(c)) gin.push_back(std::move(x));
      }
      const standin::Result g = CheckedCall(glue, 5, Borrow(gin));
      ASSERT_FALSE(g.failed) << g.id << ": " << g.message;
      const std::vector<double> gnum = standin::Values(g.outputs[0].get());
      const std::vector<double> counts = standin::Values(g.outputs[4].get());
      ASSERT_EQ(counts[1], 2.0) << "two interfaces";
      const std::vector<double> B = standin::Values(g.outputs[2].get());
      const double ndof = counts[0];
      std::vector<DomainPiece> pieces, faces, chunks;
      size_t at = 0;
      for (size_t k = 0; k < patches.size(); ++k) {
        const size_t n = CaseFunctions(patches[k]);
        pieces.push_back({k + 1.0, patches[k], {gnum.begin() + at, gnum.begin() + at + n}});
        at += n;
        DomainPiece chunk = pieces.back();
        chunk.mesh.elements = p == 2   ? std::vector<double>{1}  // one element a patch
                              : k == 1 ? std::vector<double>{1, 2}
                                       : std::vector<double>{3, 1};
        chunks.push_back(chunk);
      }
      for (size_t i = 0; i < counts[2]; ++i) {
        DomainPiece face = pieces[static_cast<size_t>(B[3 * i]) - 1];
        face.mesh.options[3] = B[3 * i + 1];
        faces.push_back(face);
      }
      const std::string label = "d = " + std::to_string(d) + ", p = " + std::to_string(p);
      const auto nodes = [](const std::vector<DomainPiece>& list) {
        size_t n = 0;
        for (const DomainPiece& piece : list) n += CaseNodes(piece.mesh);
        return n;
      };
      const auto call = [&](const char* core, const std::vector<DomainPiece>& list, size_t rows,
                            int coefficients, bool symmetric, const std::string& what) {
        std::vector<Array> in = DomainInputs(ndof, list);
        for (int k = 0; k < coefficients; ++k) {
          in.push_back(standin::Matrix({rows, nodes(list)}, Values(rows * nodes(list), k)));
        }
        Agree(core, in, symmetric, label + ", " + what);
      };
      call("StiffnessMatrixCore", pieces, 1, 1, true, "stiffness");
      call("MassMatrixCore", pieces, 1, 1, true, "mass");
      call("LoadVectorCore", pieces, static_cast<size_t>(d), 1, false, "load of rdim");
      call("AdvectionMatrixCore", pieces, static_cast<size_t>(d), 1, false, "advection");
      // The elasticity's reference element by element grows as (rdim (p + 1)^d)^2 (p + 1)^d.
      if (p <= 4 - d) call("ElasticityMatrixCore", pieces, 1, 2, true, "elasticity");
      call("MassMatrixCore", faces, 1, 1, true, "boundary mass");
      call("LoadVectorCore", faces, 1, 1, false, "boundary load");
      call("StiffnessMatrixCore", chunks, 1, 1, true, "chunks");
    }
  }
  // One patch whose two first functions share an index.
  MeshCase a = AnnulusCase(3, 2);
  DomainPiece piece{1.0, a, {}};
  for (size_t k = 0; k < CaseFunctions(a); ++k) piece.gnum.push_back(k == 0 ? 1.0 : k);
  std::vector<Array> in = DomainInputs(static_cast<double>(CaseFunctions(a) - 1), {piece});
  in.push_back(standin::Scalar(1.0));
  Agree("StiffnessMatrixCore", in, true, "a numbering that repeats an index");
}

// The nodes' coordinates against MeshEval's geo_map: a patch (and a refined space), a side, a
// chunk in reverse order, a domain's pieces in turn; its faults.
TEST_F(SumFactorisedCalls, NodeCoordinates) {
  const standin::Plugin nodes(PluginPath("MeshNodesCore")), eval(PluginPath("MeshEvalCore"));
  std::mt19937 rng(35);
  std::vector<double> all;
  for (int d = 1; d <= 3; ++d) {
    for (int variant = 0; variant < 4; ++variant) {
      const int degree[3] = {2 + variant, 2, 1 + variant % 2};
      const int elements[3] = {2, 2, 2};
      MeshCase c = d == 1 ? RandomPatch(rng, 1, 3, 2, true)
                          : Case(rng, d, degree, elements, variant % 2 == 0, true, false);
      if (variant == 1) c.options[3] = 2 * d;
      if (variant == 2) c.elements = {2, 1};
      const std::vector<Array> in = MeshInputs(c);
      const standin::Result x = CheckedCall(nodes, 1, Borrow(in));
      const standin::Result m = CheckedCall(eval, 3, Borrow(in));
      ASSERT_FALSE(x.failed || m.failed) << x.message << m.message;
      const std::vector<double> got = standin::Values(x.outputs[0].get());
      const std::vector<double> want = standin::Values(m.outputs[2].get());
      ASSERT_EQ(got.size(), want.size());
      for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-14);
      if (d == 3 && variant == 0) all = got;
    }
  }
  // Over a domain of the patch twice: its nodes, then the same again.
  MeshCase c = AnnulusCase(2, 2, true);
  const std::vector<double> gnum = [&] {
    std::vector<double> g(CaseFunctions(c));
    for (size_t k = 0; k < g.size(); ++k) g[k] = static_cast<double>(k + 1);
    return g;
  }();
  std::vector<Array> domain = DomainInputs(static_cast<double>(gnum.size()),
                                           {{1.0, c, gnum}, {1.0, c, gnum}});
  const standin::Result two = CheckedCall(nodes, 1, Borrow(domain));
  const standin::Result one = CheckedCall(nodes, 1, Borrow(MeshInputs(c)));
  ASSERT_FALSE(two.failed || one.failed) << two.message << one.message;
  std::vector<double> twice = standin::Values(one.outputs[0].get());
  const size_t half = twice.size();
  twice.insert(twice.end(), twice.begin(), twice.begin() + static_cast<std::ptrdiff_t>(half));
  EXPECT_EQ(Bits(standin::Values(two.outputs[0].get())), Bits(twice));
  // Faults: two outputs, the wrong count of inputs, a numbering out of range.
  const std::vector<Array> in = MeshInputs(c);
  EXPECT_EQ(CheckedCall(nodes, 2, Borrow(in)).id, "MeshNodes:tooManyOutputs");
  std::vector<const Array*> fewer = Borrow(in);
  fewer.pop_back();
  EXPECT_TRUE(CheckedCall(nodes, 1, fewer).failed);
  std::vector<Array> wrong = DomainInputs(2.0, {{1.0, c, gnum}});
  EXPECT_EQ(CheckedCall(nodes, 1, Borrow(wrong)).id, "MeshNodes:numbering");
}

}  // namespace
