// A form applied without its matrix: y = A x by sum factorisation at the quadrature points (sweep.h),
// over one patch or a domain's patches, free of the host.
//
// A patch keeps its space's tables (one a direction, sweep.h) and, at every quadrature point,
// the form's point factors: nf doubles (FactorCount) that hold the coefficient, the quadrature
// weight and the map, so that the form is
//   y_a = w_a sum_q (D N_a)(q)^T F(q) (D u~)(q),  u~ = sum_b w_b x_b N_b,
// N the tensor B-splines, w the space's weights (1 for B-splines), D the value and parametric
// gradient. The rational space's weight function W = sum_b w_b N_b and its gradient are summed at
// the points with the field in every application (a field of its own in the sweep, not taken
// back) rather than kept. The factors, with J the map's Jacobian (J[m][i] = dx_m / dxi_i),
// Jinv = J^-1, dx = the point's weight times |det J|, b = grad_xi W / W, per point in this order:
//   Stiffness      C = c dx Jinv Jinv^T (symmetric: C00 C01 C11, or C00 C01 C02 C11 C12 C22):
//                  t = C (g - v b) / W^2, s = -b . t
//   Mass           m = c dx / W^2: s = m v
//   StiffnessMass  a C (as Stiffness, scaled), then b m (c dx, the mass's): both, m v / W^2
//   Elasticity     Jinv (d x d, Jinv[i][m] at i d + m), lambda dx, mu dx: with G[k][m] =
//                  sum_i (g_k - v_k b)_i Jinv[i][m] / W (the physical gradient of component k),
//                  sigma = lambda dx tr G I + mu dx (G + G^T), t_k = sigma_k Jinv^T / W,
//                  s_k = -t_k . b
// where v, g are u~'s value and parametric gradient at the point and (s, t) what goes back. A
// point where dx is 0 has factors 0: it contributes nothing, as in the assembled forms. They are
// laid out as the sweep visits the points: 3-D F[((g2 Q1 + g1) nf + k) Q0 + g0], 2-D
// F[(g1 nf + k) Q0 + g0].
#ifndef NURBS_SOLVERS_OPERATOR_H_
#define NURBS_SOLVERS_OPERATOR_H_

#include <cstddef>

#include "sweep.h"

namespace solvers {

enum class Form { Stiffness = 1, Mass = 2, StiffnessMass = 3, Elasticity = 4 };

// Factors a point: 2-D 3 / 1 / 4 / 6, 3-D 6 / 1 / 7 / 11 (stiffness, mass, both, elasticity), for
// B-spline and NURBS spaces alike.
int FactorCount(int d, Form form, bool rational);
// Whether the form reads gradients; components of a function (elasticity: d).
bool NeedsGradient(Form form);
int FormComponents(int d, Form form);

struct PatchOperator {
  int d;  // 2 or 3, as many physical coordinates
  Form form;
  bool rational;
  Direction dir[3];
  const double* factors;
  const double* weights;  // the space's, N0 N1 N2 (first fastest); nullptr: B-splines
  const double* gnum;     // global index of each function, 1-based; nullptr: its own index + 1
};

// The whole operator: its patches, ndof global functions of `components` unknowns each (unknown
// (k - 1) ndof + a, as the forms number them), and the free unknowns it acts on, 1-based and
// ascending (nullptr: all of them).
struct Operator {
  const PatchOperator* patch;
  int patches;
  std::size_t ndof;
  int components;
  const double* free;
  std::size_t nfree;
};

// y = A x for `columns` columns of nfree values each (column-major), on up to `threads`
// threads, vector kernels of `width` (KernelWidth). A patch's sweep holds some layers of its
// points (budget: bytes of a ring). False where memory could not be had; y then incomplete. A
// stopped call (evaluators::Stopping) returns early with y incomplete.
bool Apply(const Operator& op, const double* x, std::size_t columns, double* y, int threads,
           int width, std::size_t budget);

// Bytes Apply allocates at most: the global vectors of a group of columns, a patch's local ones
// and its sweep.
std::size_t ApplyBytes(const Operator& op, std::size_t columns, int threads, std::size_t budget);

// Estimated nanoseconds of one column's application, for the thread rule.
double ApplyCost(const Operator& op);

// Columns applied at once, at most: their fields share one sweep and each point's factors.
constexpr std::size_t kGroup = 4;

}  // namespace solvers

#endif  // NURBS_SOLVERS_OPERATOR_H_
