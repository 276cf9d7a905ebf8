// Hierarchical spline spaces over a patch or a domain of patches, free of the host.
//
// Levels. Level 0 of a patch is its space (mesh::Mesh's space: degrees, knots, weights); level
// l + 1 has the same degrees and the knots of level l with s - 1 knots more, equally spaced, in
// every non-empty span (s, the subdivision, 2 by default), so that its cell (element) e_d of
// direction d lies in cell e_d / s of level l and the spaces are nested. A cell of level l is
// numbered as the mesh numbers elements, e0 + nel0 (e1 + nel1 e2), and so is a function of level
// l by its tensor index.
//
// Domains. The refined cells R_l of each level are given; Omega^0 is the whole patch and
// Omega^(l+1) the union of R_l's cells, so that a refined cell of level l >= 1 must lie in
// Omega^l (its parent refined). A cell of level l is active where it lies in Omega^l and is not
// refined: the active cells of every level are the elements, numbered patch by patch, level by
// level, cell by cell. A function of level l is active where its support (the cells of level l
// where it does not vanish) lies in Omega^l but not in Omega^(l+1); the active functions are
// numbered patch by patch, level by level, in tensor order.
//
// The basis. Hierarchical (HB): each active function as it is. Truncated (THB): each active
// function of level l written in level l + 1's basis by the two-scale relation (knot insertion)
// with the terms of the functions whose support lies in Omega^(l+1) dropped, then in level
// l + 2's, and so on to the finest level. On an element of level L, every function that does not
// vanish there is a combination of level L's (p + 1)^d functions of that cell, with the rows of a
// small matrix C, its change of basis: the element is a tensor element of its level whose rows
// are mapped through C. A rational space (weights not all equal) is the hierarchical B-spline
// space divided by the weight function W = sum w_i N_i of level 0: the function of an active
// B-spline b of level l is w_b^l tau_b / W, w^l the coefficients of W at level l, so that the
// truncated ones sum to 1 as the B-splines do.
//
// A domain. Patches glued as a domain glues them (domain::Interface), continuous across the
// interfaces: the active functions of two glued faces that match under the interface's
// orientation (at the same level, the face's indices mapped, the face's own layer of the
// patch's functions) are one function; the refinement conforms: the cells of every level along
// an interface (the layer of cells that touch the face) are refined alike on both sides. The
// numbering is a domain's: patch by patch in order, each active function in its patch's order
// takes the index of its class if the class has one, else the next. Every knot vector must be
// open, as a domain's.
#ifndef NURBS_HIERARCHICAL_HIERARCHICAL_H_
#define NURBS_HIERARCHICAL_HIERARCHICAL_H_

#include <cstddef>
#include <cstdint>

#include "domain.h"
#include "mesh.h"

namespace hierarchical {

using mesh::kMaxDirections;

// Levels 0 .. kMaxLevels - 1; a refined cell's level is at most kMaxLevels - 2.
constexpr int kMaxLevels = 32;
constexpr int kMaxSubdivision = 16;
// The most cells a direction may have at its finest level: its knots and tables are held whole,
// some 24 bytes a cell and direction.
constexpr int kMaxCells = 1 << 24;

struct Options {
  int subdivision;  // 2 .. kMaxSubdivision
  bool truncated;
};

// One patch as read: its level-0 mesh (geometry, space, rule, rdim, wanted; no side, every
// element), and its level-0 functions' weights, one a function in tensor order (nullptr:
// B-splines; a rational space whose weights are all equal is one too).
struct PatchInput {
  const mesh::Mesh* mesh;
  const double* weights;
};

// The refined cells of every patch: 3 x count doubles, [patch (1-based); level (0-based); cell
// (1-based in its level)] a column, ascending by patch, then level, then cell.
struct Refinement {
  const double* cells;
  std::size_t count;
};

enum class Fault {
  None,
  Patch,         // cells(1, at) not a patch
  Level,         // cells(2, at) not a level 0 .. kMaxLevels - 2
  Cell,          // cells(3, at) not a cell of its level
  Order,         // column at not after column at - 1
  Parent,        // column at's cell of level >= 1 whose parent is not refined
  TooFine,       // patch's level `level` has more than kMaxCells cells in a direction
  Interface,     // interface at: a face of no patch, or faces of different function counts
  NotConforming, // interface at: the cells of level `level` along it refined differently
  NotOpen,       // patch's knots not open (a domain of several patches)
  OutOfMemory,
};

struct Finding {
  Fault fault;
  std::size_t at;
  int patch, level;
};

// Checks the refinement against the patches and the options, and the interfaces' faces, before
// anything is allocated. The interfaces' values (patches, sides, orientation codes) are the
// caller's to check.
Finding Check(const PatchInput patches[], int npatch, const Options& options,
              const Refinement& refinement, const domain::Interface interfaces[],
              int ninterfaces);

struct Hierarchy;

// The hierarchy of Check's inputs (which it trusts), or nullptr with the fault in *finding
// (NotConforming, or OutOfMemory: nothing is held then). Keeps pointers to the inputs.
Hierarchy* Build(const PatchInput patches[], int npatch, const Options& options,
                 const Refinement& refinement, const domain::Interface interfaces[],
                 int ninterfaces, Finding* finding);
void Release(Hierarchy* h);

std::size_t Functions(const Hierarchy& h);  // active functions, global (ndof)
std::size_t Elements(const Hierarchy& h);   // active elements
int Levels(const Hierarchy& h);             // 1 + the finest level of an active element
int Patches(const Hierarchy& h);
int Dimension(const Hierarchy& h);

// Element e (0-based, in the order above): its patch and level (0-based), its cell's index in
// its level and per direction.
struct Cell {
  int patch, level;
  std::uint64_t cell;
  int e[kMaxDirections];
};
Cell ElementCell(const Hierarchy& h, std::size_t element);
// The element's parametric box, [lo[d], hi[d]] a direction.
void ElementBox(const Hierarchy& h, std::size_t element, double lo[kMaxDirections],
                double hi[kMaxDirections]);
// The element of an active cell, or SIZE_MAX.
std::size_t ElementOf(const Hierarchy& h, int patch, int level, std::uint64_t cell);

// Global function f (0-based): the patch where it is first numbered, its level and tensor index.
struct Function {
  int patch, level;
  std::uint64_t index;
};
Function FunctionAt(const Hierarchy& h, std::size_t f);
// Patch k's active functions in its own order, each one's global index (0-based), and its
// level and tensor index.
std::size_t PatchFunctions(const Hierarchy& h, int patch);
const std::size_t* PatchNumbering(const Hierarchy& h, int patch);
Function PatchFunction(const Hierarchy& h, int patch, std::size_t local);

// Levels a patch holds (0 .. its finest refined level + 1), and its element's tensor functions,
// prod (p_d + 1).
int PatchLevels(const Hierarchy& h, int patch);
int LocalFunctions(const Hierarchy& h, int patch);

// The shape of a patch's elements: its level-0 mesh as a B-spline space (geometry, rule, rdim,
// wanted), every element, no side; for sizes (mesh::Nodes, mesh::Functions) and, with a side,
// a face's. A level's cells a direction, and its knots (their count; into U where not nullptr).
const mesh::Mesh& PatchMesh(const Hierarchy& h, int patch);
int LevelCells(const Hierarchy& h, int patch, int level, int direction);
int LevelKnots(const Hierarchy& h, int patch, int level, int direction, double* U);

// The refined cells after refining: `marked` (0-based) elements (functions: the active cells of
// a function's level in its support), each cell's children made active, and with admissibility
// m >= 2 every coarser active cell that keeps the mesh of class m (at most m levels of functions
// on an element; Buffa and Giannelli's refine_recursive with the truncated or hierarchical
// neighbourhood), and along interfaces the cells that keep the refinement conforming. Counts
// (out nullptr) or writes them as Refinement's columns, ascending. Returns SIZE_MAX where memory
// ran out.
std::size_t Refine(const Hierarchy& h, const std::size_t* marked, std::size_t count,
                   bool functions, int admissibility, double* out);

// One thread's scratch for the element calls below: tensor rows of a level, the change of basis,
// tables. Carved from one block of WorkspaceBytes (max_align_t aligned). wanted: the fields the
// caller will ask for.
struct Workspace;
std::size_t WorkspaceBytes(const Hierarchy& h, const mesh::Wanted& wanted);
Workspace* MakeWorkspace(const Hierarchy& h, const mesh::Wanted& wanted, void* block);

// Room for an element's functions: at most (p + 1)^d a level of its patch.
int MaxFunctions(const Hierarchy& h);

// Element e's functions: those of every level whose support holds the element's cell and that
// are active (a truncated one may vanish there all the same), ascending, 0-based global indices
// into rows (MaxFunctions of room); returns how many.
int ElementFunctions(const Hierarchy& h, Workspace* w, std::size_t element, std::size_t* rows);

// Element e's fields (of its face `side`, 1..2d, or 0: the element): its level's tensor rows
// times its change of basis, for its functions that do not vanish there, their 1-based global
// indices in out.connectivity. Writes the fields out holds (rows for up to MaxFunctions
// functions; second derivatives only where the workspace was made for them); returns how many
// functions. The rational quotient is taken in physical space. The element is evaluated as a
// mesh of one element: its knots around its cell, so that no level's knots are ever held whole.
int EvaluateElement(const Hierarchy& h, Workspace* w, std::size_t element, int side,
                    const mesh::Fields& out);

// Element e's functions that do not vanish on face `side` (1..2d) of its cell: appended to rows as
// 0-based global indices (MaxFunctions of room); returns how many.
int SideFunctions(const Hierarchy& h, Workspace* w, std::size_t element, int side,
                  std::size_t* rows);

// The field sum_a u_a R_a, ncomp components (u: Functions x ncomp, column-major), as tensor
// coefficients of element e's level on its cell: v (nloc x ncomp, nloc = prod (p_d + 1), the
// cell's functions in tensor order) of the numerator and W's coefficients wl (nloc; 1 for a
// B-spline space), the field being sum v_j N_j / sum wl_j N_j there.
void ElementCoefficients(const Hierarchy& h, Workspace* w, std::size_t element, const double* u,
                         int ncomp, double* v, double* wl);

// The element of patch `patch` that holds parametric point xi (d coordinates; each clamped to
// its direction's domain, a point on a breakpoint in the element that starts there, the last
// element closed), or SIZE_MAX for a NaN coordinate.
std::size_t ElementAt(const Hierarchy& h, int patch, const double* xi);

// A field at point xi of element e from ElementCoefficients' v and wl: its values and parametric
// derivatives, out[c + ncomp k] for k = 0 (values), 1..d (first derivatives) and, with second,
// the second ones in the Hessian twins' order (11 22 12; 11 22 33 12 23 13), by the quotient
// rule from the element's level's B-splines at xi.
void PointField(const Hierarchy& h, std::size_t element, const double* xi, const double* v,
                const double* wl, int ncomp, bool second, double* out);

// The field u of `coarse` (Functions(coarse) x ncomp) in `fine`'s basis (Functions(fine) x ncomp
// into out), exact where fine refines coarse (Nested). w, wc: workspaces of fine and coarse.
// False where its scratch could not be had.
bool Nested(const Hierarchy& coarse, const Hierarchy& fine);
bool Prolong(const Hierarchy& coarse, const Hierarchy& fine, Workspace* wc, Workspace* w,
             const double* u, int ncomp, double* out);

// The two-scale relation of one direction: the functions of level-l span sp (coarse knots U,
// degree p) on the child span sc of the fine knots V: A[i + (p + 1) j] is fine function
// sc - p + i's coefficient in coarse function sp - p + j, the blossom of coarse function j's
// piece on span sp at fine knots V[sc - p + i + 1 .. sc + i] (knot insertion, exact in the
// sense that its arithmetic is the stable convex recurrence).
void TwoScale(int p, const double* U, int sp, const double* V, int sc, double* A);

}  // namespace hierarchical

#endif  // NURBS_HIERARCHICAL_HIERARCHICAL_H_
