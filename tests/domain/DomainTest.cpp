// The domain layer on patches built by hand: interfaces and their orientation codes, the global
// numbering, and every fault.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "domain.h"

namespace {

using Point = std::array<double, 3>;

// A patch as ReadMesh fills it, owning its arrays: the space is the geometry's basis unless
// space knots are given.
struct Patch {
  std::vector<double> knots[3];
  std::vector<double> spaceKnots[3];
  std::vector<double> spaceWeights;
  std::vector<double> coefs;
  mesh::Mesh mesh{};

  // The control point of local index a, Cartesian.
  Point At(std::size_t a) const {
    const double* c = coefs.data() + 4 * a;
    return {c[0] / c[3], c[1] / c[3], c[2] / c[3]};
  }
};

void Fill(evaluators::Call* call, int d, const int* p, const std::vector<double>* knots) {
  call->directions = d;
  std::ptrdiff_t stride = 1;
  for (int k = 0; k < d; ++k) {
    call->axis[k] = {p[k], knots[k].data(), static_cast<int>(knots[k].size()),
                     static_cast<int>(knots[k].size()) - p[k] - 1};
    call->stride[k] = stride;
    stride *= call->axis[k].n;
  }
}

// A patch of degrees p over knots, control points from point(i, j, k) with weight(i, j, k).
template <typename PointAt, typename WeightAt>
std::unique_ptr<Patch> MakePatch(int d, std::array<int, 3> p,
                                 std::array<std::vector<double>, 3> knots, PointAt point,
                                 WeightAt weight) {
  auto patch = std::make_unique<Patch>();
  int n[3] = {1, 1, 1};
  for (int k = 0; k < d; ++k) {
    patch->knots[k] = knots[k];
    n[k] = static_cast<int>(knots[k].size()) - p[k] - 1;
  }
  for (int k = 0; k < n[2]; ++k) {
    for (int j = 0; j < n[1]; ++j) {
      for (int i = 0; i < n[0]; ++i) {
        const Point x = point(i, j, k);
        const double w = weight(i, j, k);
        patch->coefs.insert(patch->coefs.end(), {w * x[0], w * x[1], w * x[2], w});
      }
    }
  }
  mesh::Mesh& m = patch->mesh;
  m.d = d;
  m.rdim = d == 1 ? 1 : 3;
  Fill(&m.geometry, d, p.data(), patch->knots);
  m.coefs = patch->coefs.data();
  m.space = m.geometry;
  m.isoparametric = true;
  return patch;
}

template <typename PointAt>
std::unique_ptr<Patch> MakePatch(int d, std::array<int, 3> p,
                                 std::array<std::vector<double>, 3> knots, PointAt point) {
  return MakePatch(d, p, knots, point, [](int, int, int) { return 1.0; });
}

// A space of its own for a patch (B-splines unless weights are given).
void SetSpace(Patch* patch, std::array<int, 3> p, std::array<std::vector<double>, 3> knots,
              std::vector<double> weights = {}) {
  for (int k = 0; k < patch->mesh.d; ++k) patch->spaceKnots[k] = knots[k];
  patch->spaceWeights = weights;
  Fill(&patch->mesh.space, patch->mesh.d, p.data(), patch->spaceKnots);
  patch->mesh.space.weights = weights.empty() ? nullptr : patch->spaceWeights.data();
  patch->mesh.isoparametric = false;
}

// New geometry knots for direction k, of the same count; an isoparametric space follows them.
void SetKnots(Patch* patch, int k, std::vector<double> U) {
  patch->knots[k] = std::move(U);
  patch->mesh.geometry.axis[k].U = patch->knots[k].data();
  if (patch->mesh.isoparametric) patch->mesh.space.axis[k].U = patch->knots[k].data();
}

// Greville abscissae: control points there make the B-spline map the identity on [0, 1].
std::vector<double> Greville(const std::vector<double>& U, int p) {
  std::vector<double> g(U.size() - p - 1);
  for (std::size_t i = 0; i < g.size(); ++i) {
    double s = 0.0;
    for (int k = 1; k <= p; ++k) s += U[i + k];
    g[i] = p > 0 ? s / p : 0.5 * (U[i] + U[i + 1]);
  }
  return g;
}

std::vector<double> Reversed(const std::vector<double>& U) {
  std::vector<double> r(U.size());
  for (std::size_t i = 0; i < U.size(); ++i) r[i] = 1.0 - U[U.size() - 1 - i];
  return r;
}

// The box origin + [0, 1]^d with physical axis c's knots axisKnots[c] of degree p: parametric
// direction k runs along physical axis perm[k], reversed where flip[k].
std::unique_ptr<Patch> Box(int d, int p, Point origin, std::array<int, 3> perm,
                           std::array<bool, 3> flip,
                           const std::array<std::vector<double>, 3>& axisKnots) {
  std::array<std::vector<double>, 3> knots;
  std::array<std::vector<double>, 3> g;
  for (int k = 0; k < d; ++k) {
    const std::vector<double>& U = axisKnots[perm[k]];
    knots[k] = flip[k] ? Reversed(U) : U;
    g[k] = Greville(knots[k], p);
  }
  return MakePatch(d, {p, p, p}, knots, [&](int i, int j, int l) {
    Point x = origin;
    const int idx[3] = {i, j, l};
    for (int k = 0; k < d; ++k) x[perm[k]] += flip[k] ? 1.0 - g[k][idx[k]] : g[k][idx[k]];
    return x;
  });
}

const std::vector<double> kQuadratic = {0, 0, 0, 0.5, 1, 1, 1};
const std::vector<double> kOneSpan = {0, 0, 0, 1, 1, 1};
const std::vector<double> kUneven = {0, 0, 0, 0.3, 1, 1, 1};
const std::vector<double> kUneven2 = {0, 0, 0, 0.25, 0.6, 1, 1, 1};
const std::array<std::vector<double>, 3> kAxes = {kQuadratic, kUneven, kUneven2};

struct Glued {
  domain::Finding finding;
  std::vector<domain::Interface> interfaces;
  std::vector<double> gnum;
  std::size_t ndof = 0;
};

Glued Glue(const std::vector<const Patch*>& patches, double tolerance = 1e-10) {
  std::vector<const mesh::Mesh*> meshes;
  std::size_t functions = 0;
  for (const Patch* p : patches) {
    meshes.push_back(&p->mesh);
    functions += domain::PatchFunctions(p->mesh);
  }
  const int npatch = static_cast<int>(patches.size());
  const std::size_t bytes = domain::GlueBytes(meshes.data(), npatch);
  // A guard after the scratch: Glue stays inside what GlueBytes asks for.
  constexpr std::size_t kGuard = 64;
  std::vector<double> scratch((bytes + kGuard) / sizeof(double) + 1, 0.0);
  unsigned char* guard = reinterpret_cast<unsigned char*>(scratch.data()) + bytes;
  std::memset(guard, 0xA5, kGuard);
  Glued out;
  const int most = npatch * (npatch ? patches[0]->mesh.d : 1);
  out.interfaces.resize(most);
  out.gnum.assign(functions, 0.0);
  int count = -1;
  out.finding = domain::Glue(meshes.data(), npatch, tolerance, scratch.data(),
                             out.interfaces.data(), &count, out.gnum.data(), &out.ndof);
  for (std::size_t k = 0; k < kGuard; ++k) EXPECT_EQ(guard[k], 0xA5) << "scratch overrun";
  if (out.finding.fault == domain::Fault::None) out.interfaces.resize(count);
  return out;
}

// Every global index's functions, as (patch, local index).
std::map<double, std::vector<std::pair<int, std::size_t>>> Classes(
    const std::vector<const Patch*>& patches, const Glued& glued) {
  std::map<double, std::vector<std::pair<int, std::size_t>>> classes;
  std::size_t at = 0;
  for (std::size_t k = 0; k < patches.size(); ++k) {
    for (std::size_t a = 0; a < domain::PatchFunctions(patches[k]->mesh); ++a) {
      classes[glued.gnum[at++]].push_back({static_cast<int>(k), a});
    }
  }
  return classes;
}

// For isoparametric spaces: the functions of one global index have one control point, and
// functions of different indices have different ones.
void ExpectGluedPointsCoincide(const std::vector<const Patch*>& patches, const Glued& glued) {
  const auto classes = Classes(patches, glued);
  EXPECT_EQ(classes.size(), glued.ndof);
  EXPECT_EQ(classes.begin()->first, 1.0);
  EXPECT_EQ(classes.rbegin()->first, static_cast<double>(glued.ndof));
  std::vector<Point> points;
  for (const auto& [index, members] : classes) {
    const Point x = patches[members[0].first]->At(members[0].second);
    for (const auto& [k, a] : members) {
      const Point y = patches[k]->At(a);
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(x[c], y[c], 1e-12) << "index " << index;
    }
    points.push_back(x);
  }
  for (std::size_t i = 0; i < points.size(); ++i) {
    for (std::size_t j = i + 1; j < points.size(); ++j) {
      const double dist = std::hypot(points[i][0] - points[j][0], points[i][1] - points[j][1],
                                     points[i][2] - points[j][2]);
      EXPECT_GT(dist, 1e-9) << "indices " << i + 1 << " and " << j + 1 << " share a point";
    }
  }
}

void ExpectInterface(const domain::Interface& f, std::array<int, 7> want) {
  EXPECT_EQ(f.patch1, want[0]);
  EXPECT_EQ(f.side1, want[1]);
  EXPECT_EQ(f.patch2, want[2]);
  EXPECT_EQ(f.side2, want[3]);
  EXPECT_EQ(f.flag, want[4]);
  EXPECT_EQ(f.ornt1, want[5]);
  EXPECT_EQ(f.ornt2, want[6]);
}

void ExpectFinding(const domain::Finding& f, domain::Fault fault, std::array<int, 4> faces) {
  EXPECT_EQ(f.fault, fault);
  EXPECT_EQ(f.patch1, faces[0]);
  EXPECT_EQ(f.side1, faces[1]);
  EXPECT_EQ(f.patch2, faces[2]);
  EXPECT_EQ(f.side2, faces[3]);
}

// The second square's first direction runs along x, or (swapped) along y, so that its edge at
// x = 1 is its side 1, or its side 3; its direction along y kept or reversed.
TEST(Glue, TwoSquaresInBothEdgeOrientations) {
  for (bool swapped : {false, true}) {
    for (bool reversed : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << (swapped ? "swapped " : "") << (reversed ? "reversed" : ""));
      auto a = Box(2, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
      auto b = swapped ? Box(2, 2, {1, 0, 0}, {1, 0, 2}, {reversed, false, false}, kAxes)
                       : Box(2, 2, {1, 0, 0}, {0, 1, 2}, {false, reversed, false}, kAxes);
      const std::vector<const Patch*> patches = {a.get(), b.get()};
      const Glued glued = Glue(patches);
      ASSERT_EQ(glued.finding.fault, domain::Fault::None);
      ASSERT_EQ(glued.interfaces.size(), 1u);
      ExpectInterface(glued.interfaces[0], {0, 2, 1, swapped ? 3 : 1, reversed ? -1 : 1, 0, 0});
      EXPECT_EQ(glued.ndof, 2u * 16 - 4);
      ExpectGluedPointsCoincide(patches, glued);
      // The first patch keeps its local order.
      for (std::size_t a0 = 0; a0 < 16; ++a0) EXPECT_EQ(glued.gnum[a0], a0 + 1.0);
    }
  }
}

// The second cube's face at x = 1 in each of its 8 orientations: its directions along y and z
// swapped or not, y and z each reversed or not; the codes nrbmultipatch gives for the same cubes.
TEST(Glue, TwoCubesInEveryFaceOrientation) {
  struct Case {
    bool swap, flipY, flipZ;
    int flag, ornt1, ornt2;
  };
  const Case cases[8] = {{false, false, false, 1, 1, 1}, {false, false, true, 1, 1, -1},
                         {false, true, false, 1, -1, 1}, {false, true, true, 1, -1, -1},
                         {true, false, false, -1, 1, 1}, {true, false, true, -1, 1, -1},
                         {true, true, false, -1, -1, 1}, {true, true, true, -1, -1, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.swap << c.flipY << c.flipZ);
    const std::array<int, 3> perm =
        c.swap ? std::array<int, 3>{0, 2, 1} : std::array<int, 3>{0, 1, 2};
    const std::array<bool, 3> flip = c.swap ? std::array<bool, 3>{false, c.flipZ, c.flipY}
                                            : std::array<bool, 3>{false, c.flipY, c.flipZ};
    auto a = Box(3, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
    auto b = Box(3, 2, {1, 0, 0}, perm, flip, kAxes);
    const std::vector<const Patch*> patches = {a.get(), b.get()};
    const Glued glued = Glue(patches);
    ASSERT_EQ(glued.finding.fault, domain::Fault::None);
    ASSERT_EQ(glued.interfaces.size(), 1u);
    ExpectInterface(glued.interfaces[0], {0, 2, 1, 1, c.flag, c.ornt1, c.ornt2});
    EXPECT_EQ(glued.ndof, 2u * 4 * 4 * 5 - 4 * 5);
    ExpectGluedPointsCoincide(patches, glued);
  }
}

// Two cubes side by side along each axis, each in any of the 48 placements of its parametric
// directions, in either order: the sides that meet, and the codes from the placements alone.
TEST(Glue, CubesInAnyPlacementGetTheCodesOfTheirDirections) {
  const std::array<int, 3> perms[6] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2},
                                       {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  for (int axis = 0; axis < 3; ++axis) {
    for (int pi = 0; pi < 6; ++pi) {
      for (int fl = 0; fl < 8; ++fl) {
        for (bool swapped : {false, true}) {
          SCOPED_TRACE(testing::Message() << "axis " << axis << " perm " << pi << " flips " << fl
                                          << (swapped ? " swapped" : ""));
          std::array<int, 3> perm[2] = {{0, 1, 2}, perms[pi]};
          std::array<bool, 3> flip[2] = {{false, false, false},
                                         {(fl & 1) != 0, (fl & 2) != 0, (fl & 4) != 0}};
          Point origin[2] = {{0, 0, 0}, {0, 0, 0}};
          origin[1][axis] = 1.0;  // the second cube is the upper one
          if (swapped) {
            std::swap(perm[0], perm[1]);
            std::swap(flip[0], flip[1]);
            std::swap(origin[0], origin[1]);
          }
          auto a = Box(3, 2, origin[0], perm[0], flip[0], kAxes);
          auto b = Box(3, 2, origin[1], perm[1], flip[1], kAxes);
          const std::vector<const Patch*> patches = {a.get(), b.get()};
          const Glued glued = Glue(patches);
          ASSERT_EQ(glued.finding.fault, domain::Fault::None);
          ASSERT_EQ(glued.interfaces.size(), 1u);
          // Each cube's direction along the axis, its side on the shared plane, its face's
          // directions.
          int side[2], dirs[2][2];
          for (int c = 0; c < 2; ++c) {
            int k = 0;
            while (perm[c][k] != axis) ++k;
            const bool upper = origin[c][axis] > 0.0;
            side[c] = 2 * k + 1 + (upper == flip[c][k] ? 1 : 0);
            for (int j = 0, m = 0; j < 3; ++j) {
              if (j != k) dirs[c][m++] = j;
            }
          }
          const int flag = perm[1][dirs[1][0]] == perm[0][dirs[0][0]] ? 1 : -1;
          int ornt[2];
          for (int m = 0; m < 2; ++m) {
            const int along = perm[1][dirs[1][0]] == perm[0][dirs[0][m]] ? 0 : 1;
            ornt[m] = flip[0][dirs[0][m]] == flip[1][dirs[1][along]] ? 1 : -1;
          }
          ExpectInterface(glued.interfaces[0], {0, side[0], 1, side[1], flag, ornt[0], ornt[1]});
          ExpectGluedPointsCoincide(patches, glued);
        }
      }
    }
  }
}

TEST(Glue, CubeOfEightCubesNumbersTheSingleC0Space) {
  std::vector<std::unique_ptr<Patch>> owned;
  std::vector<const Patch*> patches;
  // Each block in an orientation of its own, so that the faces meet in many orientations.
  for (int k = 0; k < 8; ++k) {
    const std::array<int, 3> perm = k % 3 == 0   ? std::array<int, 3>{0, 1, 2}
                                    : k % 3 == 1 ? std::array<int, 3>{2, 0, 1}
                                                 : std::array<int, 3>{1, 2, 0};
    const std::array<bool, 3> flip = {(k & 1) != 0, k == 3 || k == 6, (k & 2) != 0};
    const std::array<std::vector<double>, 3> uniform = {kQuadratic, kQuadratic, kQuadratic};
    owned.push_back(Box(3, 2, {double(k & 1), double((k >> 1) & 1), double((k >> 2) & 1)}, perm,
                        flip, uniform));
    patches.push_back(owned.back().get());
  }
  const Glued glued = Glue(patches);
  ASSERT_EQ(glued.finding.fault, domain::Fault::None);
  EXPECT_EQ(glued.interfaces.size(), 12u);
  // Knots 0 0 0 .5 1 1 1.5 2 2 2 in each direction: 7 functions, C0 at 1.
  EXPECT_EQ(glued.ndof, 7u * 7 * 7);
  ExpectGluedPointsCoincide(patches, glued);
  for (const domain::Interface& f : glued.interfaces) {
    EXPECT_TRUE(f.patch1 < f.patch2);
  }
  for (std::size_t k = 1; k < glued.interfaces.size(); ++k) {
    const domain::Interface& p = glued.interfaces[k - 1];
    const domain::Interface& q = glued.interfaces[k];
    EXPECT_TRUE(p.patch1 < q.patch1 || (p.patch1 == q.patch1 && p.side1 < q.side1));
  }
}

TEST(Glue, LShapeLinksTheCornerOfThreePatches) {
  auto a = Box(2, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  auto b = Box(2, 2, {1, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  auto c = Box(2, 2, {0, 1, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  const std::vector<const Patch*> patches = {a.get(), b.get(), c.get()};
  const Glued glued = Glue(patches);
  ASSERT_EQ(glued.finding.fault, domain::Fault::None);
  ASSERT_EQ(glued.interfaces.size(), 2u);
  ExpectInterface(glued.interfaces[0], {0, 2, 1, 1, 1, 0, 0});
  ExpectInterface(glued.interfaces[1], {0, 4, 2, 3, 1, 0, 0});
  EXPECT_EQ(glued.ndof, 3u * 16 - 4 - 4);
  ExpectGluedPointsCoincide(patches, glued);
}

// A ring of linear pieces around the origin, its first direction closing on itself.
std::unique_ptr<Patch> Ring(int d) {
  const double corner[5][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}, {1, 0}};
  return MakePatch(d, {1, 1, 1}, {{{0, 0, 0.25, 0.5, 0.75, 1, 1}, {0, 0, 1, 1}, {0, 0, 1, 1}}},
                   [&](int i, int j, int k) {
                     const double r = 1.0 + j;
                     return Point{r * corner[i][0], r * corner[i][1], double(k)};
                   });
}

TEST(Glue, RingIsGluedToItself) {
  for (int d : {2, 3}) {
    SCOPED_TRACE(d);
    auto ring = Ring(d);
    const std::vector<const Patch*> patches = {ring.get()};
    const Glued glued = Glue(patches);
    ASSERT_EQ(glued.finding.fault, domain::Fault::None);
    ASSERT_EQ(glued.interfaces.size(), 1u);
    if (d == 2) {
      ExpectInterface(glued.interfaces[0], {0, 1, 0, 2, 1, 0, 0});
      EXPECT_EQ(glued.ndof, 8u);
    } else {
      ExpectInterface(glued.interfaces[0], {0, 1, 0, 2, 1, 1, 1});
      EXPECT_EQ(glued.ndof, 16u);
    }
    ExpectGluedPointsCoincide(patches, glued);
  }
}

// A circular ring of four rational quarters, one of them with its homogeneous coordinates scaled:
// the same map, and a space whose weights differ from its neighbours' by one factor.
TEST(Glue, RationalQuartersCloseACircle) {
  std::vector<std::unique_ptr<Patch>> owned;
  std::vector<const Patch*> patches;
  const double pi = std::acos(-1.0);
  for (int k = 0; k < 4; ++k) {
    const double a0 = k * pi / 2, a1 = a0 + pi / 2, scale = k == 2 ? 3.0 : 1.0;
    owned.push_back(MakePatch(
        2, {2, 1, 1}, {{{0, 0, 0, 1, 1, 1}, {0, 0, 1, 1}, {}}},
        [&](int i, int j, int) {
          const double r = 1.0 + j;
          if (i == 1)
            return Point{r * (std::cos(a0) + std::cos(a1)), r * (std::sin(a0) + std::sin(a1)), 0};
          const double a = i == 0 ? a0 : a1;
          return Point{r * std::cos(a), r * std::sin(a), 0};
        },
        [&](int i, int, int) { return scale * (i == 1 ? std::sqrt(0.5) : 1.0); }));
    patches.push_back(owned.back().get());
  }
  const Glued glued = Glue(patches);
  ASSERT_EQ(glued.finding.fault, domain::Fault::None);
  ASSERT_EQ(glued.interfaces.size(), 4u);
  ExpectInterface(glued.interfaces[0], {0, 1, 3, 2, 1, 0, 0});
  ExpectInterface(glued.interfaces[1], {0, 2, 1, 1, 1, 0, 0});
  ExpectInterface(glued.interfaces[2], {1, 2, 2, 1, 1, 0, 0});
  ExpectInterface(glued.interfaces[3], {2, 2, 3, 1, 1, 0, 0});
  EXPECT_EQ(glued.ndof, 4u * 6 - 8);
  ExpectGluedPointsCoincide(patches, glued);
}

TEST(Glue, CurvesMeetAtTheirEnds) {
  auto a = MakePatch(1, {2, 0, 0}, {kQuadratic, {}, {}}, [](int i, int, int) {
    return Point{0.5 * i, 0, 0};
  });
  auto b = MakePatch(1, {2, 0, 0}, {kQuadratic, {}, {}}, [](int i, int, int) {
    return Point{3.0 - 0.5 * i, 0, 0};
  });
  const std::vector<const Patch*> patches = {a.get(), b.get()};
  const Glued glued = Glue(patches);
  ASSERT_EQ(glued.finding.fault, domain::Fault::None);
  ASSERT_EQ(glued.interfaces.size(), 1u);
  ExpectInterface(glued.interfaces[0], {0, 2, 1, 2, 1, 0, 0});
  EXPECT_EQ(glued.ndof, 7u);
  EXPECT_EQ(glued.gnum[7], 4.0);  // b's last function is a's last
}

TEST(Glue, DifferentlyRefinedGeometryOfTheSameMapGlues) {
  // The second square's geometry has the extra knot in y that the first one's space has.
  const std::array<std::vector<double>, 3> finer = {
      kQuadratic, {0, 0, 0, 0.3, 0.7, 1, 1, 1}, kUneven2};
  auto a = Box(2, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  SetSpace(a.get(), {2, 2, 2}, finer);
  auto b = Box(2, 2, {1, 0, 0}, {0, 1, 2}, {false, false, false}, finer);
  const std::vector<const Patch*> patches = {a.get(), b.get()};
  const Glued glued = Glue(patches);
  ASSERT_EQ(glued.finding.fault, domain::Fault::None);
  ASSERT_EQ(glued.interfaces.size(), 1u);
  EXPECT_EQ(glued.ndof, 2u * 20 - 5);
}

TEST(Glue, RationalSpacesMatchUpToOneFactor) {
  // Weights on the shared edge: a's scaled by 2 in b; a B-spline space matches equal weights.
  auto weight = [](double scale) {
    return [scale](int i, int j, int) { return scale * (1.0 + 0.1 * j + (i == 1 ? 0.2 : 0.0)); };
  };
  auto a = Box(2, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  auto b = Box(2, 2, {1, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  std::vector<double> wa, wb;
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 4; ++i) {
      wa.push_back(i == 3 ? weight(1.0)(0, j, 0) : 1.0 + i);
      wb.push_back(i == 0 ? weight(2.0)(0, j, 0) : 3.0);
    }
  }
  SetSpace(a.get(), {2, 2, 2}, kAxes, wa);
  SetSpace(b.get(), {2, 2, 2}, kAxes, wb);
  const std::vector<const Patch*> patches = {a.get(), b.get()};
  EXPECT_EQ(Glue(patches).finding.fault, domain::Fault::None);
  wb[4] *= 1.5;
  SetSpace(b.get(), {2, 2, 2}, kAxes, wb);
  ExpectFinding(Glue(patches).finding, domain::Fault::NonConforming, {0, 2, 1, 1});
  // Equal weights 1 on the edge match a B-spline space.
  for (int j = 0; j < 4; ++j) wa[3 + 4 * j] = 1.0;
  SetSpace(a.get(), {2, 2, 2}, kAxes, wa);
  SetSpace(b.get(), {2, 2, 2}, kAxes);
  EXPECT_EQ(Glue(patches).finding.fault, domain::Fault::None);
}

TEST(Glue, NumberingIsDeterministicAndPatchByPatch) {
  auto a = Box(3, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  auto b = Box(3, 2, {1, 0, 0}, {0, 2, 1}, {false, true, false}, kAxes);
  auto c = Box(3, 2, {0, 1, 0}, {2, 1, 0}, {true, false, false}, kAxes);
  const std::vector<const Patch*> patches = {a.get(), b.get(), c.get()};
  const Glued first = Glue(patches);
  const Glued again = Glue(patches);
  ASSERT_EQ(first.finding.fault, domain::Fault::None);
  EXPECT_EQ(first.gnum, again.gnum);
  EXPECT_EQ(first.ndof, again.ndof);
  // Each new index is one more than the highest before it.
  double highest = 0.0;
  for (double g : first.gnum) {
    EXPECT_LE(g, highest + 1.0);
    highest = std::max(highest, g);
  }
  EXPECT_EQ(highest, static_cast<double>(first.ndof));
  ExpectGluedPointsCoincide(patches, first);
}

TEST(Glue, ManyPatchesAreFast) {
  std::vector<std::unique_ptr<Patch>> owned;
  std::vector<const Patch*> patches;
  const std::array<std::vector<double>, 3> uniform = {kQuadratic, kQuadratic, kQuadratic};
  for (int k = 0; k < 100; ++k) {
    owned.push_back(Box(3, 2, {double(k % 5), double(k / 5 % 5), double(k / 25)}, {0, 1, 2},
                        {false, false, false}, uniform));
    patches.push_back(owned.back().get());
  }
  const auto start = std::chrono::steady_clock::now();
  const Glued glued = Glue(patches);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(glued.finding.fault, domain::Fault::None);
  EXPECT_EQ(glued.interfaces.size(), 4u * 5 * 4 + 5u * 4 * 4 + 5u * 5 * 3);
  EXPECT_EQ(glued.ndof, 16u * 16 * 13);  // 4 functions a patch and direction, C0
  EXPECT_LT(ms, 100.0);
}

TEST(GlueFault, KnotsNotOpen) {
  auto a = Box(2, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  auto b = Box(2, 2, {1, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  const std::vector<const Patch*> patches = {a.get(), b.get()};
  SetKnots(b.get(), 1, {0, 0, 0, 0.3, 1, 1, 1.2});
  ExpectFinding(Glue(patches).finding, domain::Fault::NotOpen, {1, 4, -1, -1});
  SetKnots(b.get(), 1, kUneven);
  SetSpace(a.get(), {2, 2, 2}, {{{-0.5, 0, 0, 0.5, 1, 1, 1}, kUneven}});
  ExpectFinding(Glue(patches).finding, domain::Fault::NotOpen, {0, 1, -1, -1});
}

TEST(GlueFault, SpacesDifferOnACoincidingFace) {
  auto a = Box(2, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  auto b = Box(2, 2, {1, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  const std::vector<const Patch*> patches = {a.get(), b.get()};
  SetSpace(b.get(), {2, 2, 2}, {{kQuadratic, {0, 0, 0, 0.3, 0.6, 1, 1, 1}}});
  ExpectFinding(Glue(patches).finding, domain::Fault::NonConforming, {0, 2, 1, 1});
  SetSpace(b.get(), {2, 3, 2}, {{kQuadratic, {0, 0, 0, 0, 0.3, 1, 1, 1, 1}}});
  ExpectFinding(Glue(patches).finding, domain::Fault::NonConforming, {0, 2, 1, 1});
}

TEST(GlueFault, CornersCoincideButGeometryDiffers) {
  // The second square's left edge is the same segment run at another pace: the faces lie on
  // one another, but their maps (and so their functions) differ.
  auto a = Box(2, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  auto b = Box(2, 2, {1, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  b->coefs[4 * 4 + 1] += 0.05;  // control point (0, 1): y, along the edge
  const std::vector<const Patch*> patches = {a.get(), b.get()};
  ExpectFinding(Glue(patches).finding, domain::Fault::NonConforming, {0, 2, 1, 1});
}

TEST(Glue, FacesThatShareOnlyTheirCornersAreTwoFaces) {
  // The second square's left edge bulges away from the first's right edge between the same
  // corners, as the two halves of a circle's boundary do: no interface, and no fault.
  auto a = Box(2, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  auto b = Box(2, 2, {1, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  b->coefs[4 * 4] -= 0.1;  // control point (0, 1): x
  const std::vector<const Patch*> patches = {a.get(), b.get()};
  const Glued g = Glue(patches);
  EXPECT_EQ(g.finding.fault, domain::Fault::None);
  EXPECT_TRUE(g.interfaces.empty());
}

TEST(GlueFault, PartialContact) {
  const std::array<std::vector<double>, 3> linear = {
      std::vector<double>{0, 0, 1, 1}, {0, 0, 1, 1}, {0, 0, 1, 1}};
  {
    SCOPED_TRACE("T-junction");
    auto a = Box(2, 1, {0, 0, 0}, {0, 1, 2}, {false, false, false}, linear);
    for (int i = 0; i < 2; ++i) a->coefs[4 * (1 + 2 * i)] = 2.0;  // [0, 2] x [0, 1]
    auto b = Box(2, 1, {0, 1, 0}, {0, 1, 2}, {false, false, false}, linear);
    auto c = Box(2, 1, {1, 1, 0}, {0, 1, 2}, {false, false, false}, linear);
    const std::vector<const Patch*> patches = {a.get(), b.get(), c.get()};
    const domain::Finding f = Glue(patches).finding;
    EXPECT_EQ(f.fault, domain::Fault::Partial);
    EXPECT_EQ(f.patch1, 0);
    EXPECT_EQ(f.side1, 4);
  }
  {
    SCOPED_TRACE("half of a curved edge");
    // a's top edge is a parabola; b's bottom edge is its first half (de Casteljau at 1/2).
    const Point top[3] = {{0, 1, 0}, {1, 1.5, 0}, {2, 1, 0}};
    const Point half[3] = {{0, 1, 0}, {0.5, 1.25, 0}, {1, 1.25, 0}};
    auto a = MakePatch(2, {2, 1, 1}, {{kOneSpan, {0, 0, 1, 1}, {}}}, [&](int i, int j, int) {
      return j == 0 ? Point{double(i), 0, 0} : top[i];
    });
    auto b = MakePatch(2, {2, 1, 1}, {{kOneSpan, {0, 0, 1, 1}, {}}}, [&](int i, int j, int) {
      return Point{half[i][0], half[i][1] + j, 0};
    });
    const std::vector<const Patch*> patches = {a.get(), b.get()};
    ExpectFinding(Glue(patches).finding, domain::Fault::Partial, {0, 4, 1, 3});
  }
  {
    SCOPED_TRACE("blocks offset by half a face");
    auto a = Box(3, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
    auto b = Box(3, 2, {1, 0.5, 0}, {0, 1, 2}, {false, false, false}, kAxes);
    const std::vector<const Patch*> patches = {a.get(), b.get()};
    const domain::Finding f = Glue(patches).finding;
    EXPECT_EQ(f.fault, domain::Fault::Partial);
    EXPECT_EQ(f.patch1, 0);
    EXPECT_EQ(f.patch2, 1);
  }
  {
    SCOPED_TRACE("touching along an edge only is no fault");
    auto a = Box(3, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
    auto b = Box(3, 2, {1, 1, 0}, {0, 1, 2}, {false, false, false}, kAxes);
    const std::vector<const Patch*> patches = {a.get(), b.get()};
    const Glued glued = Glue(patches);
    EXPECT_EQ(glued.finding.fault, domain::Fault::None);
    EXPECT_TRUE(glued.interfaces.empty());
  }
}

TEST(GlueFault, FaceMatchedTwice) {
  // Three surfaces in space like the pages of a book, their edges on one line: each of the three
  // edges coincides with the other two.
  auto a = Box(2, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  auto b = Box(2, 2, {1, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  auto c = Box(2, 2, {1, 0, 0}, {2, 1, 0}, {false, false, false}, kAxes);  // x = 1, z in [0, 1]
  const std::vector<const Patch*> two = {a.get(), b.get()};
  ASSERT_EQ(Glue(two).finding.fault, domain::Fault::None);
  const std::vector<const Patch*> three = {a.get(), b.get(), c.get()};
  const domain::Finding f = Glue(three).finding;
  EXPECT_EQ(f.fault, domain::Fault::MatchedTwice);
  const std::set<std::pair<int, int>> spine = {{0, 2}, {1, 1}, {2, 1}};
  EXPECT_EQ(spine.count({f.patch1, f.side1}), 1u);
  EXPECT_EQ(spine.count({f.patch2, f.side2}), 1u);
  EXPECT_NE(f.patch1, f.patch2);
}

TEST(GlueFault, DegenerateFacesAreOnNoInterface) {
  // Two triangles whose collapsed sides 3 sit at the origin; a wedge in 3-D collapsed to a curve.
  const std::array<std::vector<double>, 3> linear = {
      std::vector<double>{0, 0, 1, 1}, {0, 0, 1, 1}, {0, 0, 1, 1}};
  auto up = MakePatch(2, {1, 1, 1}, linear, [](int i, int j, int) {
    return j == 0 ? Point{0, 0, 0} : Point{i == 0 ? -1.0 : 1.0, 1, 0};
  });
  auto down = MakePatch(2, {1, 1, 1}, linear, [](int i, int j, int) {
    return j == 0 ? Point{0, 0, 0} : Point{i == 0 ? 1.0 : -1.0, -1, 0};
  });
  const std::vector<const Patch*> patches = {up.get(), down.get()};
  Glued glued = Glue(patches);
  ASSERT_EQ(glued.finding.fault, domain::Fault::None);
  EXPECT_TRUE(glued.interfaces.empty());
  EXPECT_EQ(glued.ndof, 8u);

  auto wedge = [](double sign) {
    return MakePatch(
        3, {1, 1, 1}, {{{0, 0, 1, 1}, {0, 0, 1, 1}, {0, 0, 1, 1}}}, [sign](int i, int j, int k) {
          return j == 0 ? Point{0, 0, double(k)} : Point{i == 0 ? -1.0 : 1.0, sign, double(k)};
        });
  };
  auto top = wedge(1.0), bottom = wedge(-1.0);
  const std::vector<const Patch*> wedges = {top.get(), bottom.get()};
  glued = Glue(wedges);
  ASSERT_EQ(glued.finding.fault, domain::Fault::None);
  EXPECT_TRUE(glued.interfaces.empty());
  EXPECT_EQ(glued.ndof, 16u);
}

// The patch's control points moved by x -> scale x + shift, weights kept.
void Transform(Patch* patch, double scale, Point shift = {0, 0, 0}) {
  for (std::size_t a = 0; a < patch->coefs.size() / 4; ++a) {
    double* c = patch->coefs.data() + 4 * a;
    for (int k = 0; k < 3; ++k) c[k] = (scale * (c[k] / c[3]) + shift[k]) * c[3];
  }
}

// The 8 cubes of CubeOfEightCubesNumbersTheSingleC0Space, each in an orientation of its own.
std::vector<std::unique_ptr<Patch>> EightCubes() {
  std::vector<std::unique_ptr<Patch>> owned;
  const std::array<std::vector<double>, 3> uniform = {kQuadratic, kQuadratic, kQuadratic};
  for (int k = 0; k < 8; ++k) {
    const std::array<int, 3> perm = k % 3 == 0   ? std::array<int, 3>{0, 1, 2}
                                    : k % 3 == 1 ? std::array<int, 3>{2, 0, 1}
                                                 : std::array<int, 3>{1, 2, 0};
    const std::array<bool, 3> flip = {(k & 1) != 0, k == 3 || k == 6, (k & 2) != 0};
    owned.push_back(Box(3, 2, {double(k & 1), double((k >> 1) & 1), double((k >> 2) & 1)}, perm,
                        flip, uniform));
  }
  return owned;
}

TEST(Glue, CoordinatesOfAnyMagnitudeGlueAlike) {
  // Squared distances of coordinates beyond 1e154 overflow and below 1e-154 underflow: every
  // face was taken as collapsed and nothing glued.
  auto reference = EightCubes();
  std::vector<const Patch*> patches;
  for (const auto& p : reference) patches.push_back(p.get());
  const Glued unit = Glue(patches);
  ASSERT_EQ(unit.finding.fault, domain::Fault::None);
  for (double scale : {1e200, 1e-200, 1e300, 1e-300, 1e307}) {
    SCOPED_TRACE(scale);
    auto owned = EightCubes();
    patches.clear();
    for (const auto& p : owned) {
      Transform(p.get(), scale);
      patches.push_back(p.get());
    }
    const Glued glued = Glue(patches);
    ASSERT_EQ(glued.finding.fault, domain::Fault::None);
    EXPECT_EQ(glued.ndof, unit.ndof);
    EXPECT_EQ(glued.gnum, unit.gnum);
    ASSERT_EQ(glued.interfaces.size(), unit.interfaces.size());
    for (std::size_t k = 0; k < unit.interfaces.size(); ++k) {
      const domain::Interface &a = glued.interfaces[k], &b = unit.interfaces[k];
      const std::array<int, 7> got = {a.patch1, a.side1, a.patch2, a.side2, a.flag, a.ornt1, a.ornt2};
      const std::array<int, 7> want = {b.patch1, b.side1, b.patch2, b.side2, b.flag, b.ornt1, b.ornt2};
      EXPECT_EQ(got, want);
    }
  }
}

TEST(Glue, ControlPointsFarFromTheOriginGlueWithinTheirRounding) {
  // Two unit squares at x, y = 4.2e6 (geo-referenced coordinates), the shared edge's inner
  // control points of the second a few units of rounding off, as refinement leaves them: the
  // domain is 1.4 across, so 1e-10 of it is less than a unit of rounding of 4.2e6 (9.3e-10).
  for (double at : {0.0, 4.2e6}) {
    SCOPED_TRACE(at);
    auto a = Box(2, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
    auto b = Box(2, 2, {1, 0, 0}, {0, 1, 2}, {false, false, true}, kAxes);
    Transform(a.get(), 1.0, {at, at, 0});
    Transform(b.get(), 1.0, {at, at, 0});
    for (int j = 1; j + 1 < 4; ++j) {  // b's side 1: i = 0, its inner points
      double* c = b->coefs.data() + 4 * (j * 4);
      c[1] += 4 * std::nextafter(at, HUGE_VAL) - 4 * at + (at == 0.0 ? 4e-16 : 0.0);
    }
    const std::vector<const Patch*> patches = {a.get(), b.get()};
    const Glued glued = Glue(patches);
    ASSERT_EQ(glued.finding.fault, domain::Fault::None);
    EXPECT_EQ(glued.interfaces.size(), 1u);
  }
}

TEST(GlueFault, NonConformingSaysHowFarAndWithinWhat) {
  auto a = Box(2, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  auto b = Box(2, 2, {1, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  b->coefs[4 * 4 + 1] += 0.05;  // control point (0, 1): y, along the edge
  const std::vector<const Patch*> patches = {a.get(), b.get()};
  const domain::Finding f = Glue(patches, 1e-9).finding;
  ASSERT_EQ(f.fault, domain::Fault::NonConforming);
  EXPECT_FALSE(f.spaces);
  // The map along the edge moves by at most the control point's shift times its function.
  EXPECT_GT(f.distance, 0.005);
  EXPECT_LT(f.distance, 0.05);
  const double diameter = std::sqrt(2.0 * 2.0 + 1.0);
  EXPECT_NEAR(f.tolerance, 1e-9 * diameter, 1e-20);
}

TEST(GlueFault, OverlappingPatchesInAnyParametrisation) {
  // A patch given twice coincides with itself on every face: each face was an interface.
  for (int code = 0; code < 8; ++code) {
    SCOPED_TRACE(code);
    const std::array<int, 3> perm = code & 4 ? std::array<int, 3>{1, 0, 2}
                                             : std::array<int, 3>{0, 1, 2};
    const std::array<bool, 3> flip = {(code & 1) != 0, (code & 2) != 0, false};
    auto a = Box(2, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
    auto b = Box(2, 2, {0, 0, 0}, perm, flip, kAxes);
    const std::vector<const Patch*> surfaces = {a.get(), b.get()};
    EXPECT_EQ(Glue(surfaces).finding.fault, domain::Fault::Overlap);
    auto c = Box(3, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
    auto d = Box(3, 2, {0, 0, 0}, {perm[0], perm[1], 2}, {flip[0], false, flip[1]}, kAxes);
    const std::vector<const Patch*> volumes = {c.get(), d.get()};
    EXPECT_EQ(Glue(volumes).finding.fault, domain::Fault::Overlap);
  }
  // A square and the rectangle on the same side of their shared edge; curves run the same way
  // from a shared end.
  auto a = Box(2, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  auto tall = Box(2, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  for (std::size_t k = 0; k < tall->coefs.size() / 4; ++k) tall->coefs[4 * k + 0] *= 2.0;
  const std::vector<const Patch*> pair = {a.get(), tall.get()};
  EXPECT_EQ(Glue(pair).finding.fault, domain::Fault::Overlap);
  auto line = Box(1, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  auto longer = Box(1, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
  for (std::size_t k = 0; k < longer->coefs.size() / 4; ++k) longer->coefs[4 * k] *= 3.0;
  const std::vector<const Patch*> curves = {line.get(), longer.get()};
  EXPECT_EQ(Glue(curves).finding.fault, domain::Fault::Overlap);
}

TEST(GlueFault, FacesOverlappingInPartWithNoCornerOnTheOther) {
  const std::array<std::vector<double>, 3> linear = {
      std::vector<double>{0, 0, 1, 1}, {0, 0, 1, 1}, {0, 0, 1, 1}};
  {
    SCOPED_TRACE("a cube on a cube turned 45 degrees: an octagon");
    auto below = Box(3, 1, {-0.5, -0.5, -1}, {0, 1, 2}, {false, false, false}, linear);
    auto above = Box(3, 1, {-0.5, -0.5, 0}, {0, 1, 2}, {false, false, false}, linear);
    const double c = std::sqrt(0.5), s = c;  // 45 degrees
    for (std::size_t k = 0; k < above->coefs.size() / 4; ++k) {
      double* q = above->coefs.data() + 4 * k;
      const double x = q[0], y = q[1];
      q[0] = c * x - s * y;
      q[1] = s * x + c * y;
    }
    const std::vector<const Patch*> patches = {below.get(), above.get()};
    ExpectFinding(Glue(patches).finding, domain::Fault::Partial, {0, 6, 1, 5});
  }
  {
    SCOPED_TRACE("two strips crossed as a +");
    // B-spline boxes (weights 1): coefs are the points.
    auto along = Box(3, 2, {0, 0, -1}, {0, 1, 2}, {false, false, false}, kAxes);
    auto across = Box(3, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);
    for (std::size_t k = 0; k < along->coefs.size() / 4; ++k) {
      double* a = along->coefs.data() + 4 * k;
      double* b = across->coefs.data() + 4 * k;
      a[0] = 3.0 * a[0] - 1.5;   // x in [-1.5, 1.5]
      a[1] = 0.5 * a[1] - 0.25;  // y in [-0.25, 0.25]
      b[0] = 0.5 * b[0] - 0.25;
      b[1] = 3.0 * b[1] - 1.5;
    }
    const std::vector<const Patch*> patches = {along.get(), across.get()};
    ExpectFinding(Glue(patches).finding, domain::Fault::Partial, {0, 6, 1, 5});
  }
}

TEST(FaceFunctions, FirstOrLastLayerAscending) {
  auto cube = Box(3, 2, {0, 0, 0}, {0, 1, 2}, {false, false, false}, kAxes);  // 4 x 4 x 5
  const mesh::Mesh& m = cube->mesh;
  EXPECT_EQ(domain::PatchFunctions(m), 80u);
  const std::size_t count[6] = {20, 20, 20, 20, 16, 16};
  for (int side = 1; side <= 6; ++side) {
    SCOPED_TRACE(side);
    ASSERT_EQ(domain::FaceFunctions(m, side, nullptr), count[side - 1]);
    std::vector<std::size_t> dofs(count[side - 1]);
    domain::FaceFunctions(m, side, dofs.data());
    const int dir = (side - 1) / 2;
    const std::size_t n[3] = {4, 4, 5}, stride[3] = {1, 4, 16};
    for (std::size_t k = 0; k < dofs.size(); ++k) {
      if (k > 0) EXPECT_LT(dofs[k - 1], dofs[k]);
      EXPECT_EQ(dofs[k] / stride[dir] % n[dir], side % 2 ? 0u : n[dir] - 1);
    }
  }
}

}  // namespace
