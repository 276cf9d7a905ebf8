// Domains of glued patches through the stand-in host: MultipatchCore's numbering, interfaces and
// boundary faces on quarters of an annulus turned against each other, the forms' domain calls
// against the single-patch calls summed through that numbering, the same bits on any number of
// threads, and every fault of the two entry points by its identifier, leaving nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "mesh_case.h"
#include "plugin_test.h"

namespace {

using standin::Array;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// MultipatchCore's outputs, the meaningful part.
struct Glued {
  size_t ndof = 0;
  std::vector<std::vector<double>> gnum;        // a patch's
  std::vector<std::vector<double>> interfaces;  // columns of 7
  std::vector<std::vector<double>> boundaries;  // [patch side ndofs]
  std::vector<double> boundaryDofs;
};

class Multipatch : public ::testing::Test {
 protected:
  Multipatch()
      : core_(PluginPath("MultipatchCore")),
        stiffness_(PluginPath("StiffnessMatrixCore")),
        mass_(PluginPath("MassMatrixCore")),
        load_(PluginPath("LoadVectorCore")) {}
  void SetUp() override { live_ = standin::LiveArrays(); }
  void TearDown() override {
    SetThreads(nullptr);
    EXPECT_EQ(standin::LiveArrays(), live_) << "arrays left alive";
  }

  std::vector<Array> CoreInputs(const std::vector<MeshCase>& patches, double tolerance = 1e-10) {
    std::vector<Array> in;
    in.push_back(standin::Scalar(tolerance));
    for (const MeshCase& c : patches) {
      for (Array& a : MeshInputs(c)) in.push_back(std::move(a));
    }
    return in;
  }

  Glued Glue(const std::vector<MeshCase>& patches) {
    const std::vector<Array> in = CoreInputs(patches);
    const standin::Result r = CheckedCall(core_, 5, Borrow(in));
    Glued g;
    EXPECT_FALSE(r.failed) << r.id << ": " << r.message;
    if (r.failed) return g;
    const auto out = [&](int o) { return standin::Values(r.outputs[o].get()); };
    const std::vector<double> gnum = out(0), I = out(1), B = out(2), dofs = out(3), counts = out(4);
    g.ndof = static_cast<size_t>(counts[0]);
    size_t at = 0;
    for (const MeshCase& c : patches) {
      const size_t n = CaseFunctions(c);
      g.gnum.emplace_back(gnum.begin() + at, gnum.begin() + at + n);
      at += n;
    }
    EXPECT_EQ(at, gnum.size());
    for (size_t i = 0; i < counts[1]; ++i) g.interfaces.emplace_back(&I[7 * i], &I[7 * i + 7]);
    size_t written = 0;
    for (size_t i = 0; i < counts[2]; ++i) {
      g.boundaries.emplace_back(&B[3 * i], &B[3 * i + 3]);
      written += static_cast<size_t>(B[3 * i + 2]);
    }
    g.boundaryDofs.assign(dofs.begin(), dofs.begin() + written);
    return g;
  }

  // The domain call of a form over the pieces, and the same form patch by patch (each piece's
  // own call with its share of the coefficient's columns) summed through the pieces' gnum.
  void ExpectSumOfPieces(const standin::Plugin& core, bool vector, size_t ndof,
                         const std::vector<DomainPiece>& pieces, size_t components,
                         const std::string& label) {
    SCOPED_TRACE(label);
    size_t nodes = 0;
    for (const DomainPiece& piece : pieces) nodes += CaseNodes(piece.mesh);
    std::vector<double> c(components * nodes);
    for (size_t i = 0; i < c.size(); ++i)
      c[i] = 0.5 + std::fmod(0.618034 * static_cast<double>(i), 1.0);
    std::vector<Array> in = DomainInputs(static_cast<double>(ndof), pieces);
    in.push_back(standin::Matrix({components, nodes}, c));
    const standin::Result whole = CheckedCall(core, 1, Borrow(in));
    ASSERT_FALSE(whole.failed) << whole.id << ": " << whole.message;
    const std::vector<double> got = Dense(whole.outputs[0].get());

    const size_t n = ndof * components;
    std::vector<double> sum(vector ? n : n * n, 0.0);
    size_t before = 0;
    for (const DomainPiece& piece : pieces) {
      const size_t m = CaseNodes(piece.mesh), local = CaseFunctions(piece.mesh);
      std::vector<Array> one = MeshInputs(piece.mesh);
      one.push_back(standin::Matrix({components, m},
                                    std::vector<double>(c.begin() + before * components,
                                                        c.begin() + (before + m) * components)));
      before += m;
      const standin::Result r = CheckedCall(core, 1, Borrow(one));
      ASSERT_FALSE(r.failed) << r.id << ": " << r.message;
      const std::vector<double> A = Dense(r.outputs[0].get());
      const auto global = [&](size_t a) { return static_cast<size_t>(piece.gnum[a]) - 1; };
      if (vector) {
        ASSERT_EQ(A.size(), local * components);
        for (size_t k = 0; k < components; ++k) {
          for (size_t a = 0; a < local; ++a) sum[k * ndof + global(a)] += A[k * local + a];
        }
      } else {
        ASSERT_EQ(A.size(), local * local);
        for (size_t b = 0; b < local; ++b) {
          for (size_t a = 0; a < local; ++a) sum[global(a) + n * global(b)] += A[a + local * b];
        }
      }
    }
    ASSERT_EQ(got.size(), sum.size());
    EXPECT_LT(RelativeDifference(got, sum), 1e-14);
  }

  standin::Plugin core_, stiffness_, mass_, load_;
  long live_ = 0;
};

// Three quarters of an annulus, each turned against the last: two interfaces whose edges run
// against each other, the shared functions numbered once, the other faces on the boundary.
TEST_F(Multipatch, GluesTurnedQuartersOfAnAnnulus) {
  const int p = 2, N = 3, n = p + N;
  const MeshCase a = AnnulusCase(p, N);
  const std::vector<MeshCase> patches = {a, Turned(a), Turned(Turned(a))};
  const Glued g = Glue(patches);
  ASSERT_EQ(g.gnum.size(), 3u);
  EXPECT_EQ(g.ndof, static_cast<size_t>(3 * n * n - 2 * n));
  ASSERT_EQ(g.interfaces.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const std::vector<double>& f = g.interfaces[i];
    EXPECT_EQ(f[0], i + 1.0);
    EXPECT_EQ(f[1], 2.0);
    EXPECT_EQ(f[2], i + 2.0);
    EXPECT_EQ(f[3], 1.0);
    EXPECT_EQ(f[4], -1.0) << "the edges run against each other";
  }
  // Patch 1 in its own order; patch k + 1's first column is patch k's last, reversed.
  for (int a0 = 0; a0 < n * n; ++a0) EXPECT_EQ(g.gnum[0][a0], a0 + 1.0);
  for (int k = 0; k < 2; ++k) {
    for (int b = 0; b < n; ++b) {
      EXPECT_EQ(g.gnum[k + 1][n * b], g.gnum[k][n - 1 + n * (n - 1 - b)]) << "patch " << k + 2;
    }
  }
  std::vector<int> seen(g.ndof + 1, 0);
  for (const auto& gn : g.gnum) {
    for (double v : gn) {
      ASSERT_TRUE(v >= 1 && v <= g.ndof && v == std::trunc(v)) << v;
      ++seen[static_cast<size_t>(v)];
    }
  }
  for (size_t v = 1; v <= g.ndof; ++v) EXPECT_GE(seen[v], 1) << v;
  // Faces on no interface: 4 sides of 3 patches less the 4 glued, n functions each, ascending.
  ASSERT_EQ(g.boundaries.size(), 8u);
  EXPECT_EQ(g.boundaryDofs.size(), 8u * n);
  for (size_t f = 0; f < 8; ++f) {
    EXPECT_EQ(g.boundaries[f][2], n);
    for (int a0 = 1; a0 < n; ++a0)
      EXPECT_LT(g.boundaryDofs[f * n + a0 - 1], g.boundaryDofs[f * n + a0]);
  }
}

// Stiffness, mass and a load of two components over three patches, and mass and load over
// boundary faces of two patches: the domain call is the pieces' calls summed through gnum.
TEST_F(Multipatch, DomainFormsAreThePatchFormsSummedThroughTheNumbering) {
  const MeshCase a = AnnulusCase(2, 3);
  const std::vector<MeshCase> patches = {a, Turned(a), Turned(Turned(a))};
  const Glued g = Glue(patches);
  ASSERT_EQ(g.gnum.size(), 3u);
  std::vector<DomainPiece> whole;
  for (int k = 0; k < 3; ++k) whole.push_back({k + 1.0, patches[k], g.gnum[k]});
  ExpectSumOfPieces(stiffness_, false, g.ndof, whole, 1, "stiffness");
  ExpectSumOfPieces(mass_, false, g.ndof, whole, 1, "mass");
  ExpectSumOfPieces(load_, true, g.ndof, whole, 1, "load");
  ExpectSumOfPieces(load_, true, g.ndof, whole, 2, "load of two components");
  // Pieces in another order, one patch alone.
  ExpectSumOfPieces(stiffness_, false, g.ndof, {whole[2], whole[0]}, 1, "patches 3 and 1");
  ExpectSumOfPieces(stiffness_, false, g.ndof, {whole[1]}, 1, "patch 2 alone");

  std::vector<DomainPiece> faces;
  for (const std::vector<double>& f : g.boundaries) {
    if (f[1] != 3) continue;
    DomainPiece piece = whole[static_cast<size_t>(f[0]) - 1];
    piece.mesh.options[3] = f[1];
    faces.push_back(piece);
  }
  ASSERT_EQ(faces.size(), 3u);
  ExpectSumOfPieces(mass_, false, g.ndof, faces, 1, "mass on every side 3");
  ExpectSumOfPieces(load_, true, g.ndof, faces, 2, "load on every side 3");
}

// Enough elements for threads: one thread and the default give the same bits.
TEST_F(Multipatch, SameBitsOnOneAndSeveralThreads) {
  const MeshCase a = AnnulusCase(3, 24);
  const std::vector<MeshCase> patches = {a, Turned(a)};
  SetThreads("1");
  const Glued serial = Glue(patches);
  SetThreads("4");
  const Glued threaded = Glue(patches);
  ASSERT_EQ(serial.gnum, threaded.gnum);
  std::vector<DomainPiece> pieces;
  for (int k = 0; k < 2; ++k) pieces.push_back({k + 1.0, patches[k], serial.gnum[k]});
  size_t nodes = 0;
  for (const DomainPiece& piece : pieces) nodes += CaseNodes(piece.mesh);
  std::vector<double> c(nodes);
  for (size_t i = 0; i < nodes; ++i) c[i] = 1.0 + std::sin(0.1 * static_cast<double>(i));
  for (const standin::Plugin* core : {&stiffness_, &mass_, &load_}) {
    std::vector<Array> in = DomainInputs(static_cast<double>(serial.ndof), pieces);
    in.push_back(standin::Row(c));
    SetThreads("1");
    const standin::Result one = CheckedCall(*core, 1, Borrow(in));
    SetThreads("4");
    const standin::Result four = CheckedCall(*core, 1, Borrow(in));
    SetThreads(nullptr);
    const standin::Result any = CheckedCall(*core, 1, Borrow(in));
    ASSERT_FALSE(one.failed || four.failed || any.failed) << one.message << four.message;
    const std::vector<uint64_t> bits = Bits(Dense(one.outputs[0].get()));
    EXPECT_EQ(Bits(Dense(four.outputs[0].get())), bits);
    EXPECT_EQ(Bits(Dense(any.outputs[0].get())), bits);
  }
}

// A hierarchical space over the same two patches, refined twice at a corner of the first: its
// stiffness, mass and load, element by element through each element's change of basis, have the
// same bits on one and several threads.
TEST_F(Multipatch, HierarchicalSameBitsOnOneAndSeveralThreads) {
  const MeshCase a = AnnulusCase(3, 16);
  const std::vector<MeshCase> patches = {a, Turned(a)};
  const Glued glued = Glue(patches);
  ASSERT_EQ(glued.interfaces.size(), 1u);
  const standin::Plugin space(PluginPath("HierarchicalSpaceCore"));
  std::vector<double> interface = glued.interfaces[0];
  std::vector<double> refined;  // 3 x n: patch, level, cell
  const auto layout = [&](std::vector<double> header, std::vector<Array> extra) {
    std::vector<Array> in;
    in.push_back(standin::Row(header));
    for (const MeshCase& c : patches) {
      for (Array& m : MeshInputs(c)) in.push_back(std::move(m));
    }
    in.push_back(standin::Matrix({3, refined.size() / 3}, refined));
    in.push_back(standin::Matrix({7, 1}, interface));
    for (Array& m : extra) in.push_back(std::move(m));
    return in;
  };
  size_t ndof = 0;
  for (const std::vector<double>& marked : {std::vector<double>{1, 2, 3, 17, 18, 19},
                                            std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8}}) {
    std::vector<Array> extra;
    extra.push_back(standin::Matrix({2, 0}));
    extra.push_back(standin::Row(marked));
    const std::vector<Array> in = layout({0, 2, 1, 2, 2, 1, 1, 0}, std::move(extra));
    const standin::Result r = CheckedCall(space, 7, Borrow(in));
    ASSERT_FALSE(r.failed) << r.id << ": " << r.message;
    refined = standin::Values(r.outputs[0].get());
    ndof = static_cast<size_t>(standin::Values(r.outputs[6].get())[0]);
  }
  ASSERT_GT(refined.size(), 0u);
  for (const standin::Plugin* core : {&stiffness_, &mass_, &load_}) {
    std::vector<Array> extra;
    extra.push_back(standin::Matrix({2, 0}));
    extra.push_back(standin::Scalar(0));
    extra.push_back(standin::Scalar(1.5));
    const std::vector<Array> in = layout({0, 2, 1, 2}, std::move(extra));
    SetThreads("1");
    const standin::Result one = CheckedCall(*core, 1, Borrow(in));
    SetThreads("4");
    const standin::Result four = CheckedCall(*core, 1, Borrow(in));
    SetThreads(nullptr);
    ASSERT_FALSE(one.failed || four.failed) << one.message << four.message;
    const std::vector<double> A = Dense(one.outputs[0].get());
    EXPECT_EQ(A.size(), core == &load_ ? ndof : ndof * ndof);
    EXPECT_EQ(Bits(Dense(four.outputs[0].get())), Bits(A));
  }
}

// The call must fail with who:mnemonic, leave no output and, where given, name the patch.
// Faults of the inputs come before anything is created; MultipatchCore finds the gluing's faults
// once its outputs are made, and leaves those to the host to free (as MATLAB and Octave do).
void ExpectFailure(const standin::Plugin& core, int nlhs, const std::vector<Array>& in,
                   const std::string& id, const std::string& context = "") {
  SCOPED_TRACE(id);
  const bool gluing = id == "Multipatch:knotsNotOpen" || id == "Multipatch:nonConforming" ||
                      id == "Multipatch:partialContact" || id == "Multipatch:faceMatchedTwice" ||
                      id == "Multipatch:patchesOverlap";
  std::vector<const mxArray*> handles;
  std::vector<std::vector<uint64_t>> before;
  for (const Array& a : in) {
    handles.push_back(a.get());
    before.push_back(Bits(standin::Values(a.get())));
  }
  const standin::Result r = core.Call(nlhs, handles);
  EXPECT_FALSE(r.overrun || r.foreign);
  if (!gluing) EXPECT_EQ(r.dropped, 0) << "created arrays before the fault";
  for (size_t k = 0; k < in.size(); ++k) {
    EXPECT_EQ(Bits(standin::Values(handles[k])), before[k]) << "input " << k + 1 << " changed";
  }
  ASSERT_TRUE(r.failed) << "expected " << id;
  EXPECT_EQ(r.id, id) << r.message;
  if (!context.empty()) EXPECT_EQ(r.message.rfind(context, 0), 0u) << r.message;
  for (const Array& out : r.outputs) EXPECT_EQ(out, nullptr);
}

TEST_F(Multipatch, CoreFaults) {
  const MeshCase left = SquareCase(0, 0, 2, 2), right = SquareCase(1, 0, 2, 2);
  const std::vector<Array> good = CoreInputs({left, right});
  ASSERT_FALSE(CheckedCall(core_, 5, Borrow(good)).failed);
  const auto with = [&](size_t at, Array bad) {
    std::vector<Array> in = CoreInputs({left, right});
    in.at(at) = std::move(bad);
    return in;
  };
  // Counts of inputs and outputs.
  for (size_t count : {0, 1, 15, 17, 30, 32}) {
    std::vector<Array> in = CoreInputs({left, right});
    in.resize(std::min<size_t>(count, in.size()));
    while (in.size() < count) in.push_back(standin::Scalar(1));
    ExpectFailure(core_, 1, in, "");
  }
  std::vector<Array> alone = CoreInputs({left});
  EXPECT_FALSE(CheckedCall(core_, 5, Borrow(alone)).failed) << "one patch is a domain";
  ExpectFailure(core_, 6, good, "Multipatch:tooManyOutputs");
  // The tolerance.
  for (double t : {0.0, 1.0, -1e-3, 2.0, kNaN, kInf}) {
    ExpectFailure(core_, 1, with(0, standin::Scalar(t)), "Multipatch:optionValue");
  }
  ExpectFailure(core_, 1, with(0, standin::Row({1e-10, 1e-10})), "Multipatch:optionValue");
  ExpectFailure(core_, 1, with(0, standin::Make(standin::Class::Single, {1, 1})),
                "Multipatch:optionValue");
  ExpectFailure(core_, 1, with(0, standin::Make(standin::Class::Double, {1, 1}, true)),
                "Multipatch:optionValue");
  // Any input of the second patch of another class, complex or sparse: named as patch 2's.
  for (size_t at = 16; at < 31; ++at) {
    ExpectFailure(core_, 1, with(at, standin::Make(standin::Class::Int32, {1, 4})),
                  "Multipatch:notDouble", "patch 2: ");
    ExpectFailure(core_, 1, with(at, standin::Make(standin::Class::Double, {1, 4}, true)),
                  "Multipatch:complex", "patch 2: ");
    ExpectFailure(core_, 1, with(at, standin::Make(standin::Class::Double, {1, 4}, false, true)),
                  "Multipatch:sparse", "patch 2: ");
  }
  // A patch's own fault, named.
  MeshCase decreasing = right;
  decreasing.spaceKnots[1] = {0, 0, 0, 0.7, 0.3, 1, 1, 1};
  ExpectFailure(core_, 1, CoreInputs({left, decreasing}), "Multipatch:knotsDecreasing",
                "patch 2: ");
  MeshCase nan = left;
  nan.coefs[5] = NAN;
  ExpectFailure(core_, 1, CoreInputs({nan, right}), "Multipatch:coefsNotFinite", "patch 1: ");
  // Patches of different dimensions: a volume and a surface, a surface in 2-D and one in 3-D.
  ExpectFailure(core_, 1, CoreInputs({left, AnnulusCase(1, 1, true)}), "Multipatch:dimensions");
  MeshCase lifted = right;
  lifted.options[4] = 3;
  ExpectFailure(core_, 1, CoreInputs({left, lifted}), "Multipatch:dimensions");
  // Geometry that the gluing refuses.
  MeshCase notOpen = right;
  notOpen.spaceOrder.clear();
  for (auto& U : notOpen.spaceKnots) U.clear();
  notOpen.knots[0] = {0, 0, 1, 1.2};
  ExpectFailure(core_, 1, CoreInputs({left, notOpen}), "Multipatch:knotsNotOpen", "patch 2: ");
  ExpectFailure(core_, 1, CoreInputs({left, SquareCase(1, 0, 2, 3)}), "Multipatch:nonConforming");
  ExpectFailure(core_, 1, CoreInputs({left, SquareCase(1, 0, 3, 2)}), "Multipatch:nonConforming");
  ExpectFailure(core_, 1, CoreInputs({left, SquareCase(1, 0.5, 2, 2)}),
                "Multipatch:partialContact");
  // Three pages of a book on one spine: x = 1, z = 0.
  MeshCase page = SquareCase(0, 0, 2, 2);
  for (int b = 0; b < 2; ++b) {
    for (int a = 0; a < 2; ++a) {
      double* x = &page.coefs[4 * (a + 2 * b)];
      x[0] = 1;
      x[1] = b;
      x[2] = a;
    }
  }
  std::vector<MeshCase> book = {left, right, page};
  for (MeshCase& c : book) c.options[4] = 3;
  ExpectFailure(core_, 1, CoreInputs(book), "Multipatch:faceMatchedTwice");
  book.pop_back();
  EXPECT_FALSE(CheckedCall(core_, 5, Borrow(CoreInputs(book))).failed);
}

TEST_F(Multipatch, DomainFormFaults) {
  const MeshCase left = SquareCase(0, 0, 1, 2), right = SquareCase(1, 0, 1, 2);
  const Glued g = Glue({left, right});
  ASSERT_EQ(g.ndof, 15u);
  const std::vector<DomainPiece> pieces = {{1, left, g.gnum[0]}, {2, right, g.gnum[1]}};
  const size_t nodes = CaseNodes(left) + CaseNodes(right);
  const auto call = [&](const std::vector<DomainPiece>& p, Array c, double ndof = 15) {
    std::vector<Array> in = DomainInputs(ndof, p);
    in.push_back(std::move(c));
    return in;
  };
  const auto with = [&](size_t at, Array bad) {
    std::vector<Array> in = call(pieces, standin::Scalar(1));
    in.at(at) = std::move(bad);
    return in;
  };
  const std::string who = "StiffnessMatrix:";
  ASSERT_FALSE(CheckedCall(stiffness_, 1, Borrow(call(pieces, standin::Scalar(1)))).failed);
  // Input and output counts: a piece's numbering or the coefficient missing.
  std::vector<Array> shortOne = call(pieces, standin::Scalar(1));
  shortOne.erase(shortOne.begin() + 16);
  ExpectFailure(stiffness_, 1, shortOne, "");
  std::vector<Array> noCoefficient = call(pieces, standin::Scalar(1));
  noCoefficient.pop_back();
  ExpectFailure(stiffness_, 1, noCoefficient, "");
  ExpectFailure(stiffness_, 2, call(pieces, standin::Scalar(1)), who + "tooManyOutputs");
  // The header.
  for (std::vector<double> header : {std::vector<double>{15, 1},
                                     {15, 1, 2, 3},
                                     {},
                                     {0, 1, 2},
                                     {-15, 1, 2},
                                     {15.5, 1, 2},
                                     {NAN, 1, 2},
                                     {INFINITY, 1, 2},
                                     {15, 0, 2},
                                     {15, 1, -2},
                                     {15, 1, 2.5},
                                     {15, NAN, 2},
                                     {15, 1, 1e300}}) {
    ExpectFailure(stiffness_, 1, with(0, standin::Row(header)), who + "optionValue");
  }
  ExpectFailure(stiffness_, 1, with(0, standin::Make(standin::Class::Single, {1, 3})),
                who + "optionValue");
  ExpectFailure(stiffness_, 1, with(0, standin::Make(standin::Class::Double, {1, 3}, true)),
                who + "optionValue");
  ExpectFailure(stiffness_, 1, with(0, standin::Make(standin::Class::Double, {1, 3}, false, true)),
                who + "optionValue");
  // A numbering: its length, its values (ndof 15 is the highest), its class.
  for (size_t piece : {0, 1}) {
    const size_t at = 16 + 16 * piece;
    std::vector<double> gnum = pieces[piece].gnum;
    const std::string context = "patch " + std::to_string(piece + 1) + ": ";
    ExpectFailure(stiffness_, 1,
                  with(at, standin::Row(std::vector<double>(gnum.begin(), gnum.end() - 1))),
                  who + "numbering", context);
    std::vector<double> longer = gnum;
    longer.push_back(1);
    ExpectFailure(stiffness_, 1, with(at, standin::Row(longer)), who + "numbering", context);
    for (double v : {0.0, -1.0, 16.0, kNaN, 2.5, kInf}) {
      std::vector<double> bad = gnum;
      bad[bad.size() / 2] = v;
      ExpectFailure(stiffness_, 1, with(at, standin::Row(bad)), who + "numbering", context);
    }
    ExpectFailure(stiffness_, 1, with(at, standin::Make(standin::Class::Int32, {1, gnum.size()})),
                  who + "numbering", context);
    ExpectFailure(stiffness_, 1,
                  with(at, standin::Make(standin::Class::Double, {1, gnum.size()}, true)),
                  who + "numbering", context);
  }
  // A lower ndof than the numbering reaches.
  ExpectFailure(stiffness_, 1, call(pieces, standin::Scalar(1), 14), who + "numbering");
  // The coefficient: one value per node of every piece, no fewer, no more.
  for (size_t count : {nodes - 1, nodes + 1, CaseNodes(left), size_t{2}}) {
    ExpectFailure(stiffness_, 1, call(pieces, standin::Row(std::vector<double>(count, 1.0))),
                  who + "coefficientSize");
  }
  ExpectFailure(stiffness_, 1, call(pieces, standin::Make(standin::Class::Single, {1, 1})),
                who + "notDouble");
  // A piece's own fault, named by the header's patch; pieces of different dimensions; a side.
  std::vector<DomainPiece> renamed = pieces;
  renamed[1].patch = 7;
  renamed[1].mesh.rule[0] = {0.0};
  const std::vector<Array> ruled = call(renamed, standin::Scalar(1));
  const standin::Result r = CheckedCall(stiffness_, 1, Borrow(ruled));
  ASSERT_TRUE(r.failed);
  EXPECT_EQ(r.id.rfind(who, 0), 0u) << r.id;
  EXPECT_EQ(r.message.rfind("patch 7: ", 0), 0u) << r.message;
  std::vector<DomainPiece> lifted = pieces;
  lifted[1].mesh.options[4] = 3;
  ExpectFailure(stiffness_, 1, call(lifted, standin::Scalar(1)), who + "dimensions", "patch 2: ");
  std::vector<DomainPiece> faced = pieces;
  faced[0].mesh.options[3] = 1;
  ExpectFailure(stiffness_, 1, call(faced, standin::Scalar(1)), who + "sideOutOfRange",
                "patch 1: ");
  // A load's coefficient: 1 or rdim rows at the nodes of every piece.
  std::vector<Array> load =
      call(pieces, standin::Matrix({3, nodes}, std::vector<double>(3 * nodes, 1.0)));
  ExpectFailure(load_, 1, load, "LoadVector:coefficientSize");
}

}  // namespace
