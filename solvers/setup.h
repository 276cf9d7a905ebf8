// What the solvers make once a patch, free of the host: the tables of its directions at the
// quadrature points, the operator's point factors (operator.h), the points' coordinates (for a
// coefficient given as a function) and, for the fast-diagonalisation preconditioner, each
// direction's 1-D stiffness and mass matrices weighted by a separable fit of the form's
// coefficients (fastdiag.h). Every pass is a sweep (sweep.h) over the geometry's control points:
// nothing of the mesh layer's per-element fields is made.
//
// The preconditioner's fit. Write the form's parametric coefficients at a point as densities
// (the factors without the point's quadrature weight): for the stiffness the diagonal entries
// D_k of C (operator.h), for the mass m, for elasticity component j the diagonal of its own
// block, mu dx |P e_k|^2 + (lambda + mu) dx P[k][j]^2. Each is fitted in logarithms by a sum of
// functions of one direction: log D_k(xi) ~ alpha_k + sum_t phi_kt(xi_t), phi_kt(g) the mean
// over the other directions less alpha_k, alpha_k the mean of the phi_k0 samples; the means over
// the other directions sample each element there at its central node (the two central ones of an
// even rule), so that the fit reads some 3 / nq^2 (12 / nq^2) of the points (nq a direction's
// nodes an element). The preconditioner is
//   sum_k (x_{t != k} M_t) x K_k + beta (x_t M_t)
// with M_t weighted by exp(l_t), l_t the mean of phi_kt over k != t (the mass alone: phi_mt), K_k
// by exp(alpha_k + phi_kk), and beta = exp(alpha_m): exact where the densities are products of
// functions of one direction each that agree (an affine box, constant coefficients), close for a
// mild map. The rational space's weights enter as 1 / W^2 in the densities (and as the scaling
// of fastdiag.h); b, C's off-diagonal entries and elasticity's coupling are left out. Points
// where a density is not positive and finite are left out of the means.
#ifndef NURBS_SOLVERS_SETUP_H_
#define NURBS_SOLVERS_SETUP_H_

#include <cstddef>

#include "forms.h"
#include "mesh.h"
#include "operator.h"

namespace solvers {

// Direction t's table (sweep.h) of the space's functions or, geometry, of the geometry's at the
// mesh's points (the rule on every element of the space), and the points' weights scaled to
// their elements. The mesh's spans must be filled (mesh::Spans).
std::size_t TableDoubles(const mesh::Mesh& mesh, int t, bool geometry);
void MakeTable(const mesh::Mesh& mesh, int t, bool geometry, double* table);
void MakeWeights(const mesh::Mesh& mesh, int t, double* weights);

// Quadrature points of the whole patch.
std::size_t PointCount(const mesh::Mesh& mesh);

struct Setup {
  const mesh::Mesh* mesh;  // a whole patch of d = rdim = 2 or 3, spans filled, weights copied
  Form form;
  double scale[2];           // the stiffness's and the mass's factor (StiffnessMass), else 1 1
  forms::Coefficient c[2];   // c, or c and the mass's c, or lambda and mu
  const double* space[3];    // MakeTable's
  const double* geometry[3];
  const double* weights[3];  // MakeWeights'
  int threads, width;
  std::size_t budget;        // a sweep's ring, bytes
};

// The point factors, FactorCount(d, form, rational) a point in the operator's layout.
bool Factors(const Setup& s, double* factors);

// The points' coordinates, rdim a point, in MeshEval's order of nodes (element by element,
// each element's nodes with direction 0 fastest).
bool Coordinates(const Setup& s, double* x);

// The preconditioner's problems: d for elasticity (one a component), else 1.
int Problems(const Setup& s);
// For each problem j: K[t] + j N_t^2 and M[t] + j N_t^2 the weighted 1-D matrices of direction t
// (N_t x N_t, column-major), constants[2 j] the stiffness's sign (0 without it) and
// constants[2 j + 1] beta (0 without a mass). False where memory could not be had.
bool Separable(const Setup& s, double* const K[3], double* const M[3], double* constants);

}  // namespace solvers

#endif  // NURBS_SOLVERS_SETUP_H_
