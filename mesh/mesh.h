// The quadrature data of a patch in physical space, element by element, free of the host.
//
// A patch is a NURBS geometry map of d = 1..3 parametric directions into rdim >= d physical
// coordinates, and a discrete space on the same parametric domain whose knots refine the
// geometry's. The mesh's elements are the non-empty knot spans of the space: element
// (e0, e1, e2) is e0 + nel0 (e1 + nel1 e2), the first direction fastest, and element e_d of
// direction d is its e_d-th non-empty span [U[s], U[s+1]]. Each direction has a rule on [0, 1],
// mapped to every element of the direction; the element's nodes are their tensor product,
// q = q0 + nq0 (q1 + nq1 q2).
//
// On a side (a face of the patch, 1..2d: face 2i-1 where coordinate i is at the start of its
// domain, 2i at its end) the elements are the faces of the boundary elements, numbered over the
// other directions in order, and coordinate i takes the one node at the face with weight 1.
//
// Arithmetic, per node:
//   - the space's rows and the geometry's rows come from the evaluators' rows functions fed with
//     each direction's functions, evaluated once per element and node (not once per point), so
//     that R is the bits of the one-point plug-in at that point and span: RatCurveShapeGrad,
//     RatSurfShapeGrad, RatVolShapeGrad with weights; PolySurfShapeGrad and the plain products
//     (basis.h) without. No end clamp: a node is evaluated where it is, in its element's span.
//   - x = sum R_a x_a, J = sum dR_a/dxi x_a over the geometry's functions, H^m = sum d2R_a x_a^m;
//     each sum from 0.0 in row order.
//   - K = J^-T (cofactors over det J) where rdim = d, K = J (J'J)^-1 otherwise; jacdet = |det J|,
//     or sqrt(det J'J).
//   - grad R = K grad_xi R; hess R = K (hess_xi R - sum_m (grad R)_m H^m) K'; lap R = the
//     contraction of the same bracket with G^-1 = K'K, the trace of hess R.
//   - side normal n = -+ K e_i / |K e_i| (minus at the start; a curve's end: -+ J / |J|), face
//     measure |det J| |K e_i| as the face's own tangents give it: 1 at a curve's end, |J_j| on
//     a surface's edge along j, |J_a x J_b| on a volume's face along a and b; a surface in 3-D
//     has n = (J1 x J2) / |J1 x J2|.
// A singular map (det J = 0) gives jacdet 0 and infinite or NaN gradients, never a fault.
#ifndef NURBS_MESH_MESH_H_
#define NURBS_MESH_MESH_H_

#include <cstddef>

#include "basis.h"
#include "evaluators.h"
#include "quadrature.h"

namespace mesh {

using evaluators::kMaxDirections;

// A rule on [0, 1] for one direction.
struct Rule {
  int n;
  double node[kMaxQuadrature];
  double weight[kMaxQuadrature];
};

// What to compute besides the map: first and second derivatives of the space's functions.
struct Wanted {
  bool gradient, hessian, laplacian;
};

// A patch and its mesh as a call reads them; everything checked (the gateway's ReadMesh).
struct Mesh {
  int d;     // parametric directions, 1..3
  int rdim;  // physical coordinates, d..3
  // The geometry: its axes and weights (one per control point, xi fastest, contiguous), and its
  // control points as 4 x ng homogeneous coordinates (w x, w y, w z, w), column-major.
  evaluators::Call geometry;
  const double* coefs;
  // The space: its axes and, for a rational space, its weights (nullptr: B-splines).
  evaluators::Call space;
  bool isoparametric;  // the space is the geometry's basis: one evaluation serves both
  Rule rule[kMaxDirections];
  int nel[kMaxDirections];  // elements of each direction
  int side;                 // 0, or the face 1..2d
  Wanted wanted;
  // Nodes whose rows are evaluated at once in vector lanes (evaluators::LaneWidth): 2 or 4; 0 or
  // 1: one at a time. Read once per call, before the scratch is sized.
  int lanes;
  // The elements to evaluate, 1-based, as the caller holds them (doubles); nullptr: all of them,
  // in order. Each is a mesh element, or on a side a face element.
  const double* elements;
  std::size_t count;  // elements to evaluate
  // Element e_d's spans in direction d: span[d][e_d] in the space, geometrySpan[d][e_d] in the
  // geometry. Filled by Spans() into memory the caller provides.
  const int* span[kMaxDirections];
  const int* geometrySpan[kMaxDirections];
};

// Counts of one element.
int Nodes(const Mesh& mesh);                // nqn: nodes of an element (of a face on a side)
int Functions(const Mesh& mesh);            // nsh: the space's functions on an element
int GeometryFunctions(const Mesh& mesh);    // the geometry's functions on an element
std::size_t MeshElements(const Mesh& mesh);  // elements of the mesh, or of the face on a side
int SecondDerivatives(int d);               // d (d + 1) / 2
bool HasNormal(const Mesh& mesh);           // on a side, and for a surface in 3-D

// The non-empty spans of knots U[0..m-1] of degree p in p..n-1: how many there are, and (span
// not nullptr) which, in order.
int CountElements(const evaluators::Axis& axis);
void ElementSpans(const evaluators::Axis& axis, int* span);

// Ints the span tables need, and the tables themselves in `ints` (that many).
std::size_t SpanInts(const Mesh& mesh);
void Spans(Mesh* mesh, int* ints);

// Where one element's fields go, each laid out as its output's column for the element (first
// index fastest); nullptr where not wanted. nqn nodes, nsh functions:
//   nodes       d x nqn            parametric, the fixed coordinate included on a side
//   weights     nqn                the rule's weights scaled to the element
//   x           rdim x nqn
//   jacobian    rdim x d x nqn
//   jacdet      nqn                |det J| or sqrt(det J'J); on a side, the face measure
//   normal      rdim x nqn
//   size        1                  (sum of weights jacdet)^(1/k), k the element's dimension
//   connectivity nsh               1-based global indices of the element's functions
//   R           nqn x nsh
//   gradient    rdim x nqn x nsh
//   hessian     rdim x rdim x nqn x nsh
//   laplacian   nqn x nsh
struct Fields {
  double *nodes, *weights, *x, *jacobian, *jacdet, *normal, *size, *connectivity;
  double *R, *gradient, *hessian, *laplacian;
};

// What one thread needs to evaluate elements: tables of each direction's functions at the nodes
// of its current element, and one point's rows. Carved from one block of ScratchBytes.
struct Scratch;
std::size_t ScratchBytes(const Mesh& mesh);
Scratch* MakeScratch(const Mesh& mesh, void* block);  // block: ScratchBytes, max_align_t aligned

// Element k of the evaluation (0 <= k < mesh.count): its global index in the mesh (or face).
std::size_t ElementAt(const Mesh& mesh, std::size_t k);

// An element's index in each direction (on a side, the fixed direction's boundary element), and
// the 0-based indices of its first and last function in each direction, spans s - p .. s: its
// functions are their tensor product. Needs the span tables (Spans).
void ElementIndex(const Mesh& mesh, std::size_t element, int e[kMaxDirections]);
void ElementBox(const Mesh& mesh, std::size_t element, int first[kMaxDirections],
                int last[kMaxDirections]);

// One element's fields (element: 0-based index in the mesh, or in the face on a side).
void EvaluateElement(const Mesh& mesh, Scratch* scratch, std::size_t element, const Fields& out);

// On a side, the fixed direction's functions that do not vanish on it, first..last (0-based, a
// value other than 0 at the face's node in its boundary span); returns the fixed direction, or -1
// without a side. Needs no span tables.
int SideRange(const Mesh& mesh, int* first, int* last);

// The space's functions that do not vanish on the side: how many (dofs nullptr), or their 1-based
// global indices into dofs, ascending.
std::size_t SideFunctions(const Mesh& mesh, double* dofs);

// Element k's column of every field: base + k times the field's column length.
Fields Column(const Mesh& mesh, const Fields& base, std::size_t k);

// Estimated time of one element in nanoseconds, for the thread rule (evaluators::ThreadsFor).
double ElementCost(const Mesh& mesh);

// Elements k = begin..end-1 of the evaluation into the columns of `base`.
void EvaluateElements(const Mesh& mesh, Scratch* scratch, const Fields& base, std::size_t begin,
                      std::size_t end);

}  // namespace mesh

#endif  // NURBS_MESH_MESH_H_
