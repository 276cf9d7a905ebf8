// The forms of a whole patch by sum factorisation, the forms layer's own: the same Gauss sums as
// the element path, grouped one direction at a time over the patch.
//
// Every form here is sum_q F_ij(q) D_i N_a(q) D_j N_b(q), summed over the derivative indices
// i, j = 0..d (0: the value, 1 + k: the derivative along direction k) and the patch's nodes q,
// times w_a w_b for a rational space: the point factors F take the coefficient, the node's dx, the
// map's J^-T and, for R = w N / W, the weight function W and its gradient (grad R_a = w_a (grad
// N_a / W - N_a grad W / W^2)). With N a tensor product, the sum over q is taken one direction
// at a time, the last first: a direction's nodes are contracted against the products of its
// functions' values and derivatives, pair by pair of the functions that share an element there,
// while the other directions' indices stay; then the next direction. A node's 1-D products are
// counted once per pair, so the work is about (p + 1)^2 a node and direction for each factor,
// against (p + 1)^(2d) a node element by element. The sums run in a fixed order whatever the
// threads: each thread takes a range of the indices that stay, and every value is summed by one
// thread over the same nodes in the same order.
//
// The patch is cut into slabs of elements along its last direction so that the tables fit a
// bound (at most NURBS_FORMS_SLAB elements where that is set: a test's knob); a slab's
// contributions are added in order. Symmetric forms are mirrored from their
// upper triangle at the end, so that they are exactly symmetric.
#ifndef NURBS_FORMS_SUMFACT_H_
#define NURBS_FORMS_SUMFACT_H_

#include <cstddef>

#include "forms.h"

namespace forms {

// Whether the sum-factorised path can take the form over this mesh at all: every element of a
// patch of 2 or 3 directions in as many coordinates (no side, no chosen elements), the
// stiffness, mass, advection or elasticity.
bool SumFactorisable(const Form& form, const mesh::Mesh& mesh);

// Whether it takes it: form.method, or for Method::Auto the environment's NURBS_FORMS_METHOD
// ("elements" or "sumfact") if set, else where it is estimated faster.
bool UseSumFactorised(const Form& form, const mesh::Mesh& mesh);

// Estimated nanoseconds of one element by the element path (ElementCost is this or the sum
// factorised path's share of an element).
double ElementPathCost(const Form& form, const mesh::Mesh& mesh);

// Estimated nanoseconds of the whole patch by sum factorisation (one thread).
double SumFactorisedCost(const Form& form, const mesh::Mesh& mesh);

// The matrix into pr (jc, ir: Pattern's over every element; pr zeroed) on `threads` threads.
// false, with pr untouched, where its tables could not be had (more than the bound, or no
// memory): the caller takes the element path.
template <typename Index>
bool AssembleSumFactorised(const Form& form, const mesh::Mesh& mesh, int threads, const Index* jc,
                           const Index* ir, double* pr);

}  // namespace forms

#endif  // NURBS_FORMS_SUMFACT_H_
