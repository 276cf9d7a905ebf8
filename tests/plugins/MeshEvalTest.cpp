// MeshEvalCore through the stand-in host, as MATLAB loads it: its rows the one-point plug-ins'
// bits at every node, its elements the columns of the whole mesh, the same bits on any number of
// threads, IEEE results for a singular map, and every fault it reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "NURBS.h"
#include "mesh_case.h"
#include "plugin_test.h"
#include "signature.h"

namespace {

using standin::Array;
using namespace gateway::mesh_output;

class MeshEval : public PluginTest {
 protected:
  MeshEval() : PluginTest("MeshEvalCore", "MeshEval") {}
  void TearDown() override {
    SetThreads(nullptr);
    PluginTest::TearDown();
  }

  // Every output of a valid call.
  std::vector<std::vector<double>> Run(const MeshCase& c) {
    const std::vector<Array> in = MeshInputs(c);
    const standin::Result r = Call(kOutputs, Borrow(in));
    EXPECT_FALSE(r.failed) << r.id << ": " << r.message;
    std::vector<std::vector<double>> out;
    if (r.failed) return out;
    for (int o = 0; o < kOutputs; ++o) out.push_back(Out(r, o));
    return out;
  }

  void ExpectMeshFault(const std::string& mnemonic, const MeshCase& c) {
    SCOPED_TRACE(mnemonic);
    const std::vector<Array> in = MeshInputs(c);
    const standin::Result r = Call(1, Borrow(in));
    ASSERT_TRUE(r.failed) << "expected " << mnemonic;
    EXPECT_EQ(r.id, "MeshEval:" + mnemonic) << r.message;
  }
};

// One point's rows of the one-point plug-in of the patch's dimension: its weights those of the
// space (the geometry's when isoparametric).
std::vector<double> PluginRow(const MeshCase& c, const double* x, const std::vector<double>& w) {
  static const standin::Plugin curve(PluginPath("RatCurveShapeGrad"));
  static const standin::Plugin surface(PluginPath("RatSurfShapeGrad"));
  static const standin::Plugin volume(PluginPath("RatVolShapeGrad"));
  static const standin::Plugin poly(PluginPath("PolySurfShapeGrad"));
  const bool spline = w.empty();
  std::vector<Array> in;
  in.push_back(standin::Row(std::vector<double>(x, x + c.d)));
  for (int k = 0; k < c.d; ++k) {
    in.push_back(standin::Scalar((c.spaceOrder.empty() ? c.order[k] : c.spaceOrder[k]) - 1));
  }
  for (int k = 0; k < c.d; ++k) {
    in.push_back(standin::Row(c.spaceOrder.empty() ? c.knots[k] : c.spaceKnots[k]));
  }
  if (!spline) in.push_back(standin::Row(w));
  const standin::Plugin& plugin =
      spline ? poly : c.d == 1 ? curve : c.d == 2 ? surface : volume;
  const standin::Result r = CheckedCall(plugin, 1, Borrow(in));
  EXPECT_FALSE(r.failed) << r.message;
  return r.failed ? std::vector<double>() : standin::Values(r.outputs[0].get());
}

std::vector<double> GeometryWeights(const MeshCase& c) {
  std::vector<double> w;
  for (size_t a = 3; a < c.coefs.size(); a += 4) w.push_back(c.coefs[a]);
  return w;
}

// Random patches of every dimension, isoparametric: shape_functions(q, :, e) is the one-point
// plug-in's R at node q, bit for bit, and connectivity(:, e) the positions of its functions.
TEST_F(MeshEval, RowsAreTheOnePointPluginsBits) {
  std::mt19937 rng(11);
  for (int d = 1; d <= 3; ++d) {
    for (int t = 0; t < 6; ++t) {
      SCOPED_TRACE("d = " + std::to_string(d) + ", case " + std::to_string(t));
      const MeshCase c = RandomPatch(rng, d, d == 3 ? 3 : 5, d, true);
      const auto out = Run(c);
      if (out.empty()) return;
      const size_t dd = static_cast<size_t>(d);
      const size_t nqn = static_cast<size_t>(out[kCounts][2]);
      const size_t nsh = static_cast<size_t>(out[kCounts][3]);
      const size_t nel = out[kQuadWeights].size() / nqn;
      const std::vector<double> w = GeometryWeights(c);
      for (size_t e = 0; e < nel; e += 1 + nel / 5) {
        for (size_t q = 0; q < nqn; q += 1 + nqn / 4) {
          const std::vector<double> expected =
              PluginRow(c, &out[kQuadNodes][(e * nqn + q) * dd], w);
          std::vector<double> row;
          for (size_t a = 0; a < nsh; ++a) {
            row.push_back(out[kShapeFunctions][(e * nsh + a) * nqn + q]);
          }
          ASSERT_EQ(Bits(row), Bits(expected)) << "element " << e << ", node " << q;
        }
      }
    }
  }
}

// A B-spline space that refines a rational geometry: PolySurfShapeGrad's bits on a surface, the
// kernel's values (times each other, (N M) L) on a curve and a volume.
TEST_F(MeshEval, BSplineSpaceRowsArePlainProducts) {
  std::mt19937 rng(12);
  for (int d = 1; d <= 3; ++d) {
    SCOPED_TRACE("d = " + std::to_string(d));
    MeshCase c = RandomPatch(rng, d, 2, d, true);
    for (int k = 0; k < d; ++k) {
      // The geometry's knots with one more interior knot, one degree more.
      std::vector<double> U = c.knots[k];
      U.insert(U.begin(), 0.0);
      U.push_back(1.0);
      U.push_back(0.4375);
      std::sort(U.begin(), U.end());
      c.spaceKnots[k] = U;
      c.spaceOrder.push_back(c.order[k] + 1);
      c.rule[k] = {static_cast<double>(c.order[k] + 1)};
    }
    const auto out = Run(c);
    if (out.empty()) return;
    const size_t nqn = static_cast<size_t>(out[kCounts][2]);
    const size_t nsh = static_cast<size_t>(out[kCounts][3]);
    const size_t dd = static_cast<size_t>(d);
    for (size_t e = 0; e < out[kQuadWeights].size() / nqn; ++e) {
      const double* x = &out[kQuadNodes][e * nqn * dd];
      std::vector<double> expected;
      if (d == 2) {
        expected = PluginRow(c, x, {});
      } else {
        // The one-point plug-ins find the span of the node; the element's is the same inside.
        double N[3][kMaxDegree + 1];
        int p[3] = {0, 0, 0};
        for (int k = 0; k < d; ++k) {
          p[k] = static_cast<int>(c.spaceOrder[k]) - 1;
          const std::vector<double>& U = c.spaceKnots[k];
          const int n = static_cast<int>(U.size()) - p[k] - 1;
          BasisFuns(FindSpan(n - 1, p[k], x[k], U.data()), x[k], p[k], U.data(), N[k]);
        }
        for (int i = 0; i <= (d == 3 ? p[2] : 0); ++i) {
          for (int j = 0; j <= (d == 3 ? p[1] : 0); ++j) {
            for (int k = 0; k <= p[0]; ++k) {
              expected.push_back(d == 1 ? N[0][k] : (N[0][k] * N[1][j]) * N[2][i]);
            }
          }
        }
      }
      std::vector<double> row;
      for (size_t a = 0; a < nsh; ++a) row.push_back(out[kShapeFunctions][(e * nsh + a) * nqn]);
      ASSERT_EQ(Bits(row), Bits(expected)) << "element " << e;
    }
  }
}

// Chosen elements, in any order and repeated, are the matching columns of the whole mesh; on a
// side too.
TEST_F(MeshEval, ElementsAreColumnsOfTheWholeMesh) {
  std::mt19937 rng(13);
  for (double side : {0.0, 3.0}) {
    MeshCase c = RandomPatch(rng, 2, 3, 2, true);
    c.options[1] = c.options[2] = 1;  // Hessians and Laplacians too
    c.options[3] = side;
    const auto all = Run(c);
    if (all.empty()) return;
    const size_t nel = all[kElementSize].size();
    c.elements = {static_cast<double>(nel), 1.0, static_cast<double>(nel), nel > 1 ? 2.0 : 1.0};
    const auto some = Run(c);
    if (some.empty()) return;
    for (int o : {kQuadNodes, kGeoMapJac, kJacdet, kElementSize, kConnectivity, kShapeFunctions,
                  kGradients, kHessians, kLaplacians}) {
      const size_t rows = all[o].size() / nel;
      for (size_t k = 0; k < c.elements.size(); ++k) {
        const size_t e = static_cast<size_t>(c.elements[k]) - 1;
        const std::vector<double> expected(all[o].begin() + e * rows,
                                           all[o].begin() + (e + 1) * rows);
        const std::vector<double> got(some[o].begin() + k * rows, some[o].begin() + (k + 1) * rows);
        ASSERT_EQ(Bits(got), Bits(expected)) << "output " << o << ", element " << e + 1;
      }
    }
    if (side != 0) {
      EXPECT_EQ(all[kNormal].size(), 2 * all[kJacdet].size());
      EXPECT_FALSE(all[kDofs].empty());
    }
  }
}

// Enough elements for threads: every output the same bits on one thread and on all.
TEST_F(MeshEval, AnyThreadCountGivesTheSameBits) {
  std::mt19937 rng(14);
  MeshCase c = RandomPatch(rng, 3, 2, 3, true);
  for (int k = 0; k < 3; ++k) {
    std::vector<double> U = {0, 0, 0, 0};
    for (int i = 1; i < 9; ++i) U.push_back(i / 9.0);
    U.insert(U.end(), 4, 1.0);
    c.spaceKnots[k] = U;
    c.spaceOrder.push_back(4);
    c.knots[k] = {0, 0, 1, 1};
    c.order[k] = 2;
    c.rule[k] = {4};
  }
  c.coefs.clear();
  for (int a = 0; a < 8; ++a) {
    const double w = 1.0 + 0.25 * (a % 3);
    for (int m = 0; m < 3; ++m) c.coefs.push_back(w * ((a >> m) & 1) * (1.0 + 0.1 * m));
    c.coefs.push_back(w);
  }
  c.options[2] = 1;
  SetThreads("1");
  const auto serial = Run(c);
  SetThreads(nullptr);
  const auto threaded = Run(c);
  ASSERT_EQ(serial.size(), threaded.size());
  for (size_t o = 0; o < serial.size(); ++o) {
    EXPECT_EQ(Bits(serial[o]), Bits(threaded[o])) << "output " << o;
  }
}

// The rows of a group of nodes in vector lanes: every output the same bits as one node at a time,
// on both lane widths, for curves, surfaces and volumes in every space of coordinates, rational
// and B-spline spaces refining the geometry, second derivatives, sides, node counts that leave a
// remainder after the groups, degrees either side of the lanes' limit, and weights so small that
// the rows are NaN.
TEST_F(MeshEval, LanesChangeNoBit) {
  std::mt19937 rng(15);
  std::uniform_real_distribution<double> unit(0.5, 1.5);
  for (int t = 0; t < 36; ++t) {
    const int d = 1 + t % 3;
    const int rdim = d + static_cast<int>(rng() % static_cast<unsigned>(4 - d));
    const int top = d == 3 ? 3 : t % 4 == 0 ? 8 : 6;
    MeshCase c = RandomPatch(rng, d, top, rdim, true);
    const int kind = t % 4;  // 0, 1: isoparametric; 2: a B-spline space; 3: a rational one
    if (kind >= 2) {
      int functions = 1;
      for (int k = 0; k < d; ++k) {
        std::vector<double> U = c.knots[k];
        U.push_back(0.375 + 0.25 * unit(rng) - 0.25);
        std::sort(U.begin(), U.end());
        c.spaceKnots[k] = U;
        c.spaceOrder.push_back(c.order[k]);
        functions *= static_cast<int>(U.size() - c.order[k]);
      }
      for (int a = 0; kind == 3 && a < functions; ++a) c.spaceWeights.push_back(unit(rng));
    }
    if (t % 5 == 1) {
      // Weights so small that W W underflows to 0: infinite and NaN rows.
      for (double& v : c.coefs) v *= 1e-200;
    }
    for (int k = 0; k < d; ++k) {
      // Lobatto's two nodes (at the corners) or 1 to 7 Gauss nodes.
      c.rule[k] = t % 5 == 1 ? std::vector<double>{0.0, 0.5, 1.0, 0.5}
                             : std::vector<double>{static_cast<double>(1 + rng() % 7)};
    }
    c.options[1] = c.options[2] = (t / 4) % 2;  // Hessians and Laplacians, in every kind of space
    c.options[3] = t % 6 == 5 ? 1 + static_cast<double>(rng() % static_cast<unsigned>(2 * d)) : 0;
    SCOPED_TRACE("case " + std::to_string(t) + ", d = " + std::to_string(d) + ", rdim " +
                 std::to_string(rdim));
    SetSimd("scalar");
    const auto alone = Run(c);
    ASSERT_FALSE(alone.empty());
    for (const char* simd : {"sse2", static_cast<const char*>(nullptr)}) {
      SetSimd(simd);
      const auto grouped = Run(c);
      ASSERT_EQ(grouped.size(), alone.size());
      for (size_t o = 0; o < alone.size(); ++o) {
        EXPECT_EQ(Bits(grouped[o]), Bits(alone[o]))
            << "output " << o << ", NURBS_SIMD " << (simd ? simd : "unset");
      }
    }
  }
  SetSimd(nullptr);
}

// A collapsed edge: det J = 0 at its nodes gives jacdet 0 and non-finite gradients, no fault; a
// face at the last knot is evaluated there exactly, with no end clamp.
TEST_F(MeshEval, SingularMapAndFacesGiveTheDefinedResults) {
  MeshCase c;
  c.d = 2;
  c.order[0] = c.order[1] = 2;
  c.knots[0] = c.knots[1] = {0, 0, 1, 1};
  // (0,0), (1,0), (0,1), (0,1): the edge eta = 1 collapses to one point.
  c.coefs = {0, 0, 0, 1, 1, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1};
  c.rule[0] = {0.0, 0.5, 1.0, 0.5};  // Lobatto: nodes 0 and 1
  c.rule[1] = {0.0, 0.5, 1.0, 0.5};
  const auto out = Run(c);
  ASSERT_FALSE(out.empty());
  // Nodes (0,1) and (1,1) are on the collapsed edge.
  EXPECT_EQ(out[kJacdet][2], 0.0);
  EXPECT_EQ(out[kJacdet][3], 0.0);
  EXPECT_GT(out[kJacdet][0], 0.0);
  bool nonfinite = false;
  for (double g : out[kGradients]) nonfinite = nonfinite || !std::isfinite(g);
  EXPECT_TRUE(nonfinite);

  // The curve's last end: node 1 exactly, the last function 1 and the others 0.
  MeshCase curve;
  curve.d = 1;
  curve.order[0] = 3;
  curve.knots[0] = {0, 0, 0, 0.3, 1, 1, 1};
  for (int a = 0; a < 4; ++a) curve.coefs.insert(curve.coefs.end(), {0.25 * a, 0, 0, 1});
  curve.rule[0] = {3};
  curve.options[3] = 2;
  const auto end = Run(curve);
  ASSERT_FALSE(end.empty());
  EXPECT_EQ(end[kQuadNodes], (std::vector<double>{1.0}));
  EXPECT_EQ(end[kShapeFunctions], (std::vector<double>{0.0, 0.0, 1.0}));
  EXPECT_EQ(end[kNormal], (std::vector<double>{1.0}));
  EXPECT_EQ(end[kJacdet], (std::vector<double>{1.0}));
  EXPECT_EQ(end[kDofs], (std::vector<double>{4.0}));
}

// Every fault of the mesh's inputs, each from a valid call with one thing spoiled.
TEST_F(MeshEval, EveryFaultIsReported) {
  std::mt19937 rng(15);
  const MeshCase good = RandomPatch(rng, 2, 2, 2, true);
  ASSERT_FALSE(Run(good).empty());
  const auto with = [&](auto spoil) {
    MeshCase c = good;
    spoil(c);
    return c;
  };
  ExpectMeshFault("dimensions", with([](MeshCase& c) { c.knots[2] = {0, 1}; }));
  ExpectMeshFault("dimensions", with([](MeshCase& c) { c.rule[2] = {2}; }));
  ExpectMeshFault("orderNotInteger", with([](MeshCase& c) { c.order[0] = 2.5; }));
  ExpectMeshFault("orderTooSmall", with([](MeshCase& c) { c.order[1] = 0; }));
  ExpectMeshFault("knotsTooShort", with([](MeshCase& c) { c.knots[1] = {0, 1}; }));
  ExpectMeshFault("knotsDecreasing", with([](MeshCase& c) {
                    c.knots[0][c.order[0]] = 0.9;
                    c.knots[0][c.order[0] + 1] = 0.1;
                  }));
  ExpectMeshFault("knotsNaN", with([](MeshCase& c) { c.knots[1][1] = NAN; }));
  ExpectMeshFault("knotsNotFinite", with([](MeshCase& c) {
                    c.knots[1].front() = -INFINITY;
                    c.knots[1].back() = INFINITY;
                  }));
  // Finite knots whose spread overflows: every span's reciprocal would be 0, the basis NaN.
  ExpectMeshFault("knotsNotFinite", with([](MeshCase& c) {
                    for (double& u : c.knots[0]) u = (2 * u - 1) * 1.5e308;
                  }));
  ExpectMeshFault("domainEmpty", with([](MeshCase& c) {
                    for (double& u : c.knots[0]) u = 0.5;
                  }));
  ExpectMeshFault("coefsSize", with([](MeshCase& c) { c.coefs.resize(c.coefs.size() - 4); }));
  ExpectMeshFault("coefsNotFinite", with([](MeshCase& c) { c.coefs[5] = INFINITY; }));
  ExpectMeshFault("weightsNotPositive", with([](MeshCase& c) { c.coefs[7] = 0.0; }));
  ExpectMeshFault("weightsNotPositive", with([](MeshCase& c) { c.coefs[3] = -1.0; }));
  ExpectMeshFault("coefsNotFinite", with([](MeshCase& c) { c.coefs[3] = NAN; }));
  // A positive but denormal weight: the control point w x / w overflows.
  ExpectMeshFault("coefsNotFinite", with([](MeshCase& c) {
                    c.coefs[4] = 1.0;
                    c.coefs[7] = 1e-310;
                  }));
  ExpectMeshFault("quadratureCount", with([](MeshCase& c) { c.rule[0] = {0}; }));
  ExpectMeshFault("quadratureCount", with([](MeshCase& c) { c.rule[1] = {65}; }));
  ExpectMeshFault("quadratureCount", with([](MeshCase& c) { c.rule[1] = {2.5}; }));
  ExpectMeshFault("quadratureRule", with([](MeshCase& c) { c.rule[0] = {1.5, 1.0}; }));
  ExpectMeshFault("quadratureRule", with([](MeshCase& c) { c.rule[0] = {0.5, NAN}; }));
  ExpectMeshFault("elementOutOfRange", with([](MeshCase& c) { c.elements = {1, 1e6}; }));
  ExpectMeshFault("elementOutOfRange", with([](MeshCase& c) { c.elements = {1.5}; }));
  ExpectMeshFault("elementOutOfRange", with([](MeshCase& c) { c.elements = {-1}; }));
  ExpectMeshFault("sideOutOfRange", with([](MeshCase& c) { c.options[3] = 5; }));
  ExpectMeshFault("optionValue", with([](MeshCase& c) { c.options[0] = 2; }));
  ExpectMeshFault("optionValue", with([](MeshCase& c) { c.options[4] = 1; }));
  // The space: of the geometry's dimension, refining it, with a weight per function.
  MeshCase refined = good;
  for (int k = 0; k < 2; ++k) {
    refined.spaceKnots[k] = good.knots[k];
    refined.spaceOrder.push_back(good.order[k]);
  }
  ASSERT_FALSE(Run(refined).empty());
  const auto space = [&](auto spoil) {
    MeshCase c = refined;
    spoil(c);
    return c;
  };
  ExpectMeshFault("dimensions", space([](MeshCase& c) { c.spaceOrder.pop_back(); }));
  ExpectMeshFault("notRefinement", space([](MeshCase& c) {
                    c.spaceKnots[0] = {0, 0, 1, 1};
                    c.spaceOrder[0] = 2;
                  }));
  ExpectMeshFault("notRefinement", space([](MeshCase& c) {
                    for (double& u : c.spaceKnots[1]) u *= 2;
                  }));
  ExpectMeshFault("coefsSize", space([](MeshCase& c) { c.spaceWeights = {1, 2, 3}; }));
  ExpectMeshFault("orderTooLarge", space([](MeshCase& c) { c.spaceOrder[1] = 20; }));
  ExpectMeshFault("orderTooSmall", space([](MeshCase& c) { c.spaceOrder[1] = 0; }));
  ExpectMeshFault("dimensions", with([](MeshCase& c) { c.spaceKnots[0] = {0, 1}; }));

  // Every output of a degree-18 volume's Hessians on 64 nodes a direction: more elements than
  // the host's int dimensions hold.
  MeshCase big;
  big.d = 3;
  for (int k = 0; k < 3; ++k) {
    big.order[k] = 19;
    big.knots[k].assign(19, 0.0);
    big.knots[k].insert(big.knots[k].end(), 19, 1.0);
    big.rule[k] = {64};
  }
  big.coefs.assign(4 * 19 * 19 * 19, 1.0);
  big.options[1] = 1;
  ExpectMeshFault("tooManyPoints", big);
  {
    // The limit exceeded is a column's rows (int), and the message quotes it.
    const std::vector<Array> bigIn = MeshInputs(big);
    const standin::Result r = Call(1, Borrow(bigIn));
    EXPECT_NE(r.message.find(std::to_string(INT_MAX)), std::string::npos) << r.message;
  }

  // A knot vector as a column.
  std::vector<Array> in = MeshInputs(good);
  in[3] = standin::Matrix({good.knots[1].size(), 1}, good.knots[1]);
  const standin::Result r = Call(1, Borrow(in));
  EXPECT_EQ(r.id, "MeshEval:knotsNotRow") << r.message;
}

TEST_F(MeshEval, ArraysOfAnotherKindAreRefused) {
  std::mt19937 rng(16);
  const std::vector<Array> in = MeshInputs(RandomPatch(rng, 2, 2, 2, true));
  ExpectClassFaults(Borrow(in));
}

TEST_F(MeshEval, UsageAndOutputCount) {
  std::mt19937 rng(17);
  const std::vector<Array> in = MeshInputs(RandomPatch(rng, 1, 2, 1, true));
  std::vector<const Array*> args = Borrow(in);
  const standin::Result one = Call(0, args);
  ASSERT_FALSE(one.failed) << one.message;
  ASSERT_EQ(one.outputs.size(), 1u);
  EXPECT_NE(one.outputs[0], nullptr);
  ExpectError("tooManyOutputs", kOutputs + 1, args);
  args.pop_back();
  const standin::Result usage = Call(1, args);
  EXPECT_TRUE(usage.failed);
  EXPECT_EQ(usage.id, "");
  EXPECT_NE(usage.message.find("MeshEvalCore("), std::string::npos) << usage.message;
}

}  // namespace
