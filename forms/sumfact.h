// The forms by sum factorisation, the forms layer's own: the same Gauss sums as the element path,
// grouped one direction at a time over a box of elements of a patch (the whole patch, a chunk
// that is a box, one of the boxes a chunk is cut into) or of one of its faces.
//
// Every matrix here is sum_q F_ij(q) D_i N_a(q) D_j N_b(q), summed over the derivative indices
// i, j = 0..d (0: the value, 1 + k: the derivative along direction k) and the box's nodes q,
// times w_a w_b for a rational space: the point factors F take the coefficient, the node's dx, the
// map's J^-T and, for R = w N / W, the weight function W and its gradient (grad R_a = w_a (grad
// N_a / W - N_a grad W / W^2)). With N a tensor product, the sum over q is taken one direction
// at a time, the last first: a direction's nodes are contracted against the products of its
// functions' values and derivatives, pair by pair of the functions that share an element there,
// while the other directions' indices stay; then the next direction. A node's 1-D products are
// counted once per pair, so the work is about (p + 1)^2 a node and direction for each factor,
// against (p + 1)^(2d) a node element by element. A load vector is sum_q f dx / W N_a(q) w_a,
// the same contractions against single functions, (p + 1) a node and direction.
//
// A face (a side of the patch) is the patch's d - 1 other directions: the fixed direction's
// functions are taken at the face's one node (those that do not vanish there), the geometry's
// control points contracted with the geometry's functions there, dx the rule's weights times the
// face measure (|J_j| on an edge, |J_a x J_b| on a face of a volume). Mass matrices and loads.
//
// The sums run in a fixed order whatever the threads: each thread takes a range of the indices
// that stay, and every value is summed by one thread over the same nodes in the same order; the
// boxes of a call, and the slabs of a box, are summed one after another. A box is cut into slabs
// of elements along its last direction so that the tables fit a bound (at most NURBS_FORMS_SLAB
// elements where that is set: a test's knob). Symmetric forms are summed on and above the
// diagonal and mirrored, so that they are exactly symmetric.
#ifndef NURBS_FORMS_SUMFACT_H_
#define NURBS_FORMS_SUMFACT_H_

#include <cstddef>
#include <cstdint>

#include "forms.h"

namespace forms {

// Elements lo[k]..hi[k]-1 of each of the mesh's directions k (on a side, the fixed direction's
// entry is ignored), and where each element's coefficients are: order[e] is the evaluated
// position of the box's element e (numbered over the box, the first direction fastest, the fixed
// one of a side skipped), or order nullptr: the element's own index in the mesh (in the face).
struct Box {
  int lo[3], hi[3];
  const std::int64_t* order;
};

// The evaluated elements (of a mesh with a list of them) as boxes: each box's elements in order
// (order[k] their evaluated positions, the boxes' tables one after another), taken greedily in
// the mesh's order, each extended along direction 0, then 1, then 2 while a whole row, then a
// whole layer, of its elements is there. false, with nothing held, where the elements are not a
// union of boxes this way can take (an element listed twice, elements scattered over more than
// some four times their count) or memory could not be had; FreeCover frees what it holds.
struct Cover {
  int count;
  Box* boxes;
  std::int64_t* order;
};
bool CoverElements(const mesh::Mesh& mesh, Cover* cover);
void FreeCover(Cover* cover);

// Where a call's contributions go. own: into the pattern of exactly this one box over the patch's
// own numbering (Pattern over the box's elements), at offsets the box's tensor structure gives,
// symmetric forms mirrored there. Otherwise each entry is looked up in the result's pattern at row
// and column gnum (1-based, nullptr: the patch's own index) of the patch's functions, ndof rows a
// component, and symmetric forms are summed only on and above the diagonal: MirrorUpper completes
// them once every contribution is in. serial: one thread for the scatter (a numbering that maps two
// functions of the patch to one index would have two threads add into one entry).
struct Target {
  bool own;
  const double* gnum;
  std::size_t ndof;
  bool serial;
};

// Whether the sum-factorised path can take the form over this mesh at all: a patch of 2 or 3
// directions in as many coordinates; over elements the stiffness, mass, advection, elasticity and
// load, on a side the mass and load. Every element of the boxes must be evaluated.
bool SumFactorisable(const Form& form, const mesh::Mesh& mesh);

// Method::Auto and NURBS_FORMS_METHOD resolved: Elements or SumFactorised where forced, else Auto.
Method Forced(const Form& form);

// Estimated nanoseconds of one element by the element path.
double ElementPathCost(const Form& form, const mesh::Mesh& mesh);

// Estimated nanoseconds of one box of the mesh by sum factorisation (one thread).
double BoxCost(const Form& form, const mesh::Mesh& mesh, const Box& box);

// The box of the whole mesh, or of the whole side.
Box WholeBox(const mesh::Mesh& mesh);

// The boxes' contributions to the matrix (jc, ir: the result's pattern, holding every pair of
// their elements; pr: summed into) on `threads` threads, or to the vector out (summed into). false,
// with nothing written, where the tables could not be had (more than the bound, or no memory): the
// caller takes the element path.
template <typename Index>
bool AssembleSumFactorised(const Form& form, const mesh::Mesh& mesh, const Box boxes[], int count,
                           const Target& target, int threads, const Index* jc, const Index* ir,
                           double* pr);
bool AssembleSumFactorisedVector(const Form& form, const mesh::Mesh& mesh, const Box boxes[],
                                 int count, const Target& target, int threads, double* out);

// Every entry below the diagonal the one above it, in a matrix of `columns` columns whose pattern
// is symmetric (a domain's, a chunk's).
template <typename Index>
void MirrorUpper(std::size_t columns, const Index* jc, const Index* ir, double* pr, int threads);

// The physical coordinates of every evaluated node, rdim x (nqn count) in MeshEval's order, from
// the geometry's own sum factorisation element by element (not the mesh layer's bits: held to
// the forms' tolerance), on `threads` threads. false where its scratch could not be had.
bool NodeCoordinates(const mesh::Mesh& mesh, int threads, double* x);
// Estimated nanoseconds of one element's coordinates.
double NodeCost(const mesh::Mesh& mesh);

}  // namespace forms

#endif  // NURBS_FORMS_SUMFACT_H_
