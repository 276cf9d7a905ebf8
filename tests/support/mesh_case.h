// Inputs of the calls over a whole mesh (MeshEvalCore, the forms' cores) from their parts, and
// random valid patches: what the tests, the fuzzer, the benchmarks and the build comparison use.
#ifndef NURBS_TESTS_SUPPORT_MESH_CASE_H_
#define NURBS_TESTS_SUPPORT_MESH_CASE_H_

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "random_case.h"
#include "standin.h"

struct MeshCase {
  int d = 2;
  double order[3] = {1, 1, 1};              // degree + 1
  std::vector<double> knots[3];             // the geometry's
  std::vector<double> coefs;                // 4 x n0 n1 n2: (w x, w y, w z, w)
  std::vector<double> spaceOrder;           // empty: the geometry's own basis
  std::vector<double> spaceKnots[3];
  std::vector<double> spaceWeights;         // empty: B-splines
  std::vector<double> rule[3];              // a count, or [node weight node weight ...]
  std::vector<double> elements = {0};       // 0: all
  double options[5] = {1, 0, 0, 0, 0};      // gradient hessian laplacian side rdim
  std::vector<double> extra;                // the forms' inputs after the mesh's, one each

  int Functions(int k) const { return static_cast<int>(knots[k].size() - order[k]); }
  int ControlPoints() const {
    int n = 1;
    for (int k = 0; k < d; ++k) n *= Functions(k);
    return n;
  }
};

// The mesh inputs in the cores' order (gateway/mesh_gateway.h).
inline std::vector<standin::Array> MeshInputs(const MeshCase& c) {
  using standin::Matrix;
  using standin::Row;
  std::vector<standin::Array> in;
  in.push_back(Matrix({4, c.coefs.size() / 4}, c.coefs));
  in.push_back(Row(std::vector<double>(c.order, c.order + c.d)));
  for (int k = 0; k < 3; ++k) {
    in.push_back(k < c.d || !c.knots[k].empty() ? Row(c.knots[k]) : Matrix({0, 0}));
  }
  in.push_back(c.spaceOrder.empty() ? Matrix({0, 0}) : Row(c.spaceOrder));
  for (int k = 0; k < 3; ++k) {
    in.push_back(c.spaceKnots[k].empty() ? Matrix({0, 0}) : Row(c.spaceKnots[k]));
  }
  in.push_back(c.spaceWeights.empty() ? Matrix({0, 0}) : Row(c.spaceWeights));
  for (int k = 0; k < 3; ++k) {
    if (c.rule[k].size() <= 1) {
      in.push_back(c.rule[k].empty() ? Matrix({0, 0}) : standin::Scalar(c.rule[k][0]));
    } else {
      in.push_back(Matrix({2, c.rule[k].size() / 2}, c.rule[k]));
    }
  }
  in.push_back(Row(c.elements));
  in.push_back(Row(std::vector<double>(c.options, c.options + 5)));
  return in;
}

// A random patch of d directions: degrees 1..maxDegree, clamped knots on [0, 1] with a repeated
// interior knot now and then, random weights (rational) or ones, control points in [0, 1]^rdim
// perturbed from a grid so that the map is regular, Gauss rules of order + 1 nodes.
inline MeshCase RandomPatch(std::mt19937& rng, int d, int maxDegree, int rdim, bool rational) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  MeshCase c;
  c.d = d;
  int n[3] = {1, 1, 1};
  for (int k = 0; k < d; ++k) {
    const int p = 1 + static_cast<int>(rng() % maxDegree);
    c.order[k] = p + 1;
    n[k] = p + 1 + static_cast<int>(rng() % 4);
    c.knots[k] = RandomKnots(rng, p, n[k]);
    c.rule[k] = {static_cast<double>(p + 1)};
  }
  const int count = n[0] * n[1] * n[2];
  for (int a = 0; a < count; ++a) {
    const int i[3] = {a % n[0], (a / n[0]) % n[1], a / (n[0] * n[1])};
    const double w = rational ? 0.5 + unit(rng) : 1.0;
    double x[3] = {0.0, 0.0, 0.0};
    for (int m = 0; m < 3; ++m) {
      // Greville-like grid in the patch's directions, small noise, a bend into rdim > d.
      if (m < d) x[m] = (i[m] + 0.15 * unit(rng)) / n[m];
      if (m >= d && m < rdim) x[m] = 0.3 * std::sin(i[0] + 0.5 * i[1]) + 0.1 * unit(rng);
    }
    for (int m = 0; m < 3; ++m) c.coefs.push_back(w * x[m]);
    c.coefs.push_back(w);
  }
  return c;
}

// Clamped uniform knots of degree p with N elements on [0, 1].
inline std::vector<double> UniformKnots(int p, int N) {
  std::vector<double> U(p, 0.0);
  for (int k = 0; k <= N; ++k) U.push_back(static_cast<double>(k) / N);
  U.insert(U.end(), p, 1.0);
  return U;
}

// The quarter annulus of radii 1 and 2 (rational, degree 2 around, 1 across) under a B-spline
// space of degree p and N x N uniform elements with p + 1 Gauss nodes a direction; extruded
// (a thick ring, degree 1 along z, height 1) and N x N x N with `volume`.
inline MeshCase AnnulusCase(int p, int N, bool volume = false) {
  MeshCase c;
  c.d = volume ? 3 : 2;
  c.order[0] = 3;
  c.order[1] = c.order[2] = 2;
  c.knots[0] = {0, 0, 0, 1, 1, 1};
  c.knots[1] = {0, 0, 1, 1};
  if (volume) c.knots[2] = {0, 0, 1, 1};
  const double s = 1.0 / std::sqrt(2.0);
  const double w[3] = {1, s, 1};
  const double X[2][3] = {{1, 1, 0}, {2, 2, 0}}, Y[2][3] = {{0, 1, 1}, {0, 2, 2}};
  for (int k = 0; k < (volume ? 2 : 1); ++k) {
    for (int b = 0; b < 2; ++b) {
      for (int a = 0; a < 3; ++a) {
        c.coefs.insert(c.coefs.end(), {w[a] * X[b][a], w[a] * Y[b][a], w[a] * k, w[a]});
      }
    }
  }
  for (int k = 0; k < c.d; ++k) {
    c.spaceOrder.push_back(p + 1);
    c.spaceKnots[k] = UniformKnots(p, N);
    c.rule[k] = {static_cast<double>(p + 1)};
  }
  return c;
}

// The square [x0, x0 + 1] x [y0, y0 + 1] (bilinear) under a B-spline space of degree p and N x N
// uniform elements with p + 1 Gauss nodes a direction: neighbours glue along whole faces.
inline MeshCase SquareCase(double x0, double y0, int p, int N) {
  MeshCase c;
  c.order[0] = c.order[1] = 2;
  c.knots[0] = c.knots[1] = {0, 0, 1, 1};
  for (int b = 0; b < 2; ++b) {
    for (int a = 0; a < 2; ++a) c.coefs.insert(c.coefs.end(), {x0 + a, y0 + b, 0, 1});
  }
  for (int k = 0; k < 2; ++k) {
    c.spaceOrder.push_back(p + 1);
    c.spaceKnots[k] = UniformKnots(p, N);
    c.rule[k] = {static_cast<double>(p + 1)};
  }
  return c;
}

// A piece of a domain call: a patch's mesh inputs (whole, or a face through options[3]) and the
// global index of each of its functions.
struct DomainPiece {
  double patch;
  MeshCase mesh;
  std::vector<double> gnum;
};

// A domain form's inputs (gateway/mesh_gateway.h): [ndof, the patch of each piece], then each
// piece's mesh inputs followed by its numbering; the form's coefficients come after.
inline std::vector<standin::Array> DomainInputs(double ndof,
                                                const std::vector<DomainPiece>& pieces) {
  std::vector<double> header = {ndof};
  for (const DomainPiece& piece : pieces) header.push_back(piece.patch);
  std::vector<standin::Array> in;
  in.push_back(standin::Row(header));
  for (const DomainPiece& piece : pieces) {
    for (standin::Array& a : MeshInputs(piece.mesh)) in.push_back(std::move(a));
    in.push_back(standin::Row(piece.gnum));
  }
  return in;
}

// The quarter annulus turned a quarter about the z-axis, its second direction reversed: its side
// 1 is the original's side 2, run the other way (glued to it along a face run against it).
inline MeshCase Turned(const MeshCase& c) {
  MeshCase t = c;
  const int n0 = c.Functions(0), n1 = c.Functions(1), n2 = c.d > 2 ? c.Functions(2) : 1;
  for (int k = 0; k < n2; ++k) {
    for (int b = 0; b < n1; ++b) {
      for (int a = 0; a < n0; ++a) {
        const double* from = &c.coefs[4 * (a + n0 * ((n1 - 1 - b) + n1 * k))];
        double* to = &t.coefs[4 * (a + n0 * (b + n1 * k))];
        to[0] = -from[1];
        to[1] = from[0];
        to[2] = from[2];
        to[3] = from[3];
      }
    }
  }
  return t;
}

// Functions of a case's space (the geometry's own basis where it has none).
inline size_t CaseFunctions(const MeshCase& c) {
  size_t n = 1;
  for (int k = 0; k < c.d; ++k) {
    n *= c.spaceOrder.empty() ? c.knots[k].size() - static_cast<size_t>(c.order[k])
                              : c.spaceKnots[k].size() - static_cast<size_t>(c.spaceOrder[k]);
  }
  return n;
}

// Quadrature nodes of the evaluated elements (every one, or those listed; of the face options[3]
// names), Gauss counts only.
inline size_t CaseNodes(const MeshCase& c) {
  const int side = static_cast<int>(c.options[3]);
  size_t nqn = 1, nel = 1;
  for (int k = 0; k < c.d; ++k) {
    if (side != 0 && k == (side - 1) / 2) continue;
    const std::vector<double>& U = c.spaceOrder.empty() ? c.knots[k] : c.spaceKnots[k];
    size_t spans = 0;
    for (size_t i = 1; i < U.size(); ++i) spans += U[i] > U[i - 1];
    nqn *= static_cast<size_t>(c.rule[k][0]);
    nel *= spans;
  }
  const bool all = c.elements.size() == 1 && c.elements[0] == 0;
  return nqn * (all ? nel : c.elements.size());
}

#endif  // NURBS_TESTS_SUPPORT_MESH_CASE_H_
