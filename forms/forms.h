// The standard forms of a patch, assembled, free of the host: element matrices (or vectors) from
// the mesh layer's fields, summed into one column-compressed matrix (or one vector).
//
// Forms, with dx = the node's weight times jacdet (on a side, times the face measure); a node
// where dx is 0 contributes nothing, whatever its fields or coefficients (a singular map's
// gradients there are Inf or NaN):
//   Stiffness    K(I,J) = int c grad R_J . grad R_I dx
//   Mass         M(I,J) = int c R_J R_I dx                      (also on a side)
//   Load         F(I)   = int f R_I dx; with rdim components, F((k-1) ndof + I) = int f_k R_I dx
//                                                             (also on a side)
//   Advection    A(I,J) = int (b . grad R_J) R_I dx
//   Elasticity   K((k-1) ndof + I, (l-1) ndof + J) = int lambda d_k R_I d_l R_J
//                + mu d_l R_I d_k R_J + mu [k = l] grad R_I . grad R_J dx, the bilinear form of
//                lambda div u div v + 2 mu eps(u) : eps(v) with u = R_J e_l, v = R_I e_k
//   Bilaplacian  B(I,J) = int c lap R_J lap R_I dx
// I indexes rows (the test function), J columns. The symmetric forms are exactly symmetric:
// each element matrix is computed on and above its diagonal and mirrored, and every entry of the
// global matrix sums its elements' contributions in the order of the evaluated elements, the
// same whichever thread owns its column. (By sum factorisation, Method below: its own fixed
// order, the same for any thread count, mirrored from above the diagonal.) Entries that sum to
// exactly 0 are not stored, as the host's own sparse() leaves them. On a side, the functions that
// vanish there are in no pair: their contributions are exactly 0.
#ifndef NURBS_FORMS_FORMS_H_
#define NURBS_FORMS_FORMS_H_

#include <cstddef>
#include <cstdint>

#include "mesh.h"

namespace forms {

enum class Kind { Stiffness, Mass, Load, Advection, Elasticity, Bilaplacian };

// A coefficient at the evaluated nodes: components values a node, at v[k + components (q + nqn
// e)] for node q of the e-th evaluated element, or one set for every node (constant: v[k]).
struct Coefficient {
  const double* v;
  int components;
  bool constant;
};

// How a piece is summed: element by element (the reference: every element's matrix from the
// mesh's fields), by sum factorisation over boxes of its elements (sumfact.h: the whole patch, a
// side, a chunk that is a box or a few; the same Gauss sums grouped otherwise, equal to about
// 1e-15 relative), or (Auto) by sum factorisation where it applies and is faster: a matrix over
// elements where every direction has degree 2 or more, a load or a face's form at every degree, a
// chunk of several boxes where its estimate is below the element path's. Auto takes the
// environment's NURBS_FORMS_METHOD ("elements" or "sumfact") where it is set, so that the two can
// be compared through a host.
enum class Method { Auto, Elements, SumFactorised };

struct Form {
  Kind kind;
  Coefficient c[2];  // c, f or b; lambda and mu
  int coefficients;
  Method method;
};

// The fields the form reads of each element.
mesh::Wanted Needs(Kind kind);
bool Symmetric(Kind kind);
bool IsVector(Kind kind);  // Load: a column, not a matrix

// Unknowns per function: rdim for elasticity and a load of rdim components, else 1.
int Components(const Form& form, const mesh::Mesh& mesh);
// Rows of the result: every function's unknowns.
std::size_t Unknowns(const Form& form, const mesh::Mesh& mesh);

// The matrix's pattern: the pairs of unknowns whose functions share an evaluated element. Bound:
// known before anything is allocated, the pairs of every element of the mesh or, where fewer
// elements are evaluated (a chunk, a side), at most their own pairs, so that a chunk's result is
// sized by the chunk; SIZE_MAX where it does not fit.
std::size_t PatternBound(const Form& form, const mesh::Mesh& mesh);
// Bytes the pattern needs besides its output (a table of the chosen elements; 0 for all of them).
std::size_t PatternBytes(const mesh::Mesh& mesh);
// jc[0..n] and ir[0..nnz-1], rows ascending in every column; returns nnz <= PatternBound. scratch:
// PatternBytes, aligned for int. Costs in proportion to the unknowns plus the chosen elements'
// pairs.
template <typename Index>
std::size_t Pattern(const Form& form, const mesh::Mesh& mesh, void* scratch, Index* jc, Index* ir);

// Elements whose functions are not their mesh's tensor ones (a hierarchical space's, whose
// element is a tensor element of its level with its rows mapped through a change of basis):
// evaluate writes the k-th evaluated element's fields (those `out` holds) for at most
// `functions` functions of its own, their 1-based global indices in out.connectivity, and
// returns how many; touches says whether it has a function in [lo, hi) (0-based).
struct ElementRows {
  int functions;
  const void* context;
  bool (*touches)(const void* context, std::size_t k, std::size_t lo, std::size_t hi);
  int (*evaluate)(const void* context, int thread, std::size_t k, const mesh::Fields& out);
};

// A piece of a domain: a patch's mesh (or one of its faces), the form with its coefficients at
// the piece's evaluated nodes, the global index of each of the patch's functions (1-based, as
// doubles, in the patch's order; nullptr: the patch's own indices), and each thread's scratch.
// A domain's result sums its pieces' contributions in global numbering, in the order of the
// pieces and of each piece's elements, whichever thread owns the entry. With rows, the piece's
// elements are evaluated by it instead (its mesh gives their nodes, its scratch is unused).
struct Piece {
  const mesh::Mesh* mesh;
  Form form;
  const double* gnum;
  mesh::Scratch* const* scratch;
  void* const* extra;
  const ElementRows* rows = nullptr;
};

// The pattern of the pairs of n functions that share an element, each of `elements` elements'
// functions given: element k's at rows[start[k] .. start[k + 1] - 1] (0-based, without repeats).
// Bytes of scratch, the scalar pattern's entries, and the pattern of C components a function
// (component c of function a at c n + a), rows ascending in every column.
std::size_t ListPatternBytes(std::size_t n, std::size_t elements, const std::size_t* start);
std::size_t ListPatternCount(std::size_t n, std::size_t elements, const std::size_t* start,
                             const std::size_t* rows, void* scratch);
template <typename Index>
std::size_t ListPattern(int C, std::size_t n, std::size_t elements, const std::size_t* start,
                        const std::size_t* rows, void* scratch, Index* jc, Index* ir);

// A domain's pattern over ndof global functions: each piece's own, mapped through its numbering
// and merged. Bound: the sum of the pieces' bounds. Bytes of scratch it needs besides its output.
std::size_t DomainPatternBound(const Piece pieces[], int count);
std::size_t DomainPatternBytes(const Piece pieces[], int count, std::size_t ndof);
template <typename Index>
std::size_t DomainPattern(const Piece pieces[], int count, std::size_t ndof, void* scratch,
                          Index* jc, Index* ir);

// Bytes of one thread's scratch besides the mesh's: the element's fields and matrix, for at
// least `functions` functions an element.
std::size_t ElementBytes(const Form& form, const mesh::Mesh& mesh, int functions = 0);
// Estimated nanoseconds of one element, for the thread rule.
double ElementCost(const Form& form, const mesh::Mesh& mesh);

// Sums every evaluated element's matrix into pr (jc, ir from Pattern; pr zeroed), or its vector
// into out (zeroed), on `threads` threads: element by element, thread t taking the columns (rows
// of a vector) of its share of the unknowns, with mesh scratch scratch[t] and element scratch
// extra[t]; or by sum factorisation (form.method), on its own memory, where that cannot be had
// element by element.
template <typename Index>
void Assemble(const Form& form, const mesh::Mesh& mesh, mesh::Scratch* const scratch[],
              void* const extra[], int threads, const Index* jc, const Index* ir, double* pr);
void AssembleVector(const Form& form, const mesh::Mesh& mesh, mesh::Scratch* const scratch[],
                    void* const extra[], int threads, double* out);

// The same over a domain's pieces (jc, ir from DomainPattern), ndof global functions; every piece
// has at least `threads` scratches. The pieces summed by sum factorisation first, one after
// another (their values looked up in the pattern through their numbering), then the others
// element by element; a symmetric form's lower triangle then from its upper one.
template <typename Index>
void AssembleDomain(const Piece pieces[], int count, std::size_t ndof, int threads,
                    const Index* jc, const Index* ir, double* pr);
void AssembleDomainVector(const Piece pieces[], int count, std::size_t ndof, int threads,
                          double* out);

// Drops the entries that summed to exactly 0, moving the others up; returns the new nnz.
template <typename Index>
std::size_t DropZeros(std::size_t columns, Index* jc, Index* ir, double* pr);

}  // namespace forms

#endif  // NURBS_FORMS_FORMS_H_
