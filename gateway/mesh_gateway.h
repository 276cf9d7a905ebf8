// The gateway of the calls over a whole mesh (MeshEvalCore, the forms): they read a patch, its
// space, the quadrature, the elements and the options alike, as the first kMeshInputs inputs:
//
//   coefs            4 x n1 [x n2 [x n3]]: (w x, w y, w z, w) of every control point, xi fastest
//   order            1 x d: degree + 1 per direction, d = 1, 2 or 3
//   knots1..knots3   the geometry's knots, a row per direction; [] beyond d
//   spaceOrder       1 x d, or []: the space is the geometry's own basis (isoparametric)
//   spaceKnots1..3   the space's knots; [] beyond d, or all [] for the geometry's basis
//   spaceWeights     one weight per function of the space (a NURBS space), or [] (B-splines)
//   quadrature1..3   Gauss-Legendre nodes per direction (a count), or a 2 x nq rule [nodes;
//                    weights] on [0, 1]; [] beyond d
//   elements         1-based element indices (of the face on a side), or 0: every element
//   options          [gradient hessian laplacian side rdim]: flags 0 or 1, the face 0..2d (0:
//                    none), rdim 0 (the highest coordinate not zero at some control point, at
//                    least d) or d..3
//
// Every input is checked, before anything is allocated, against the table of faults in
// mesh_gateway.cpp, raising "Who:mnemonic" on the first.
#ifndef NURBS_GATEWAY_MESH_GATEWAY_H_
#define NURBS_GATEWAY_MESH_GATEWAY_H_

#include <cstddef>

#include "forms.h"
#include "mesh.h"
#include "mex_api.h"
#include "signature.h"

namespace gateway {

constexpr int kMeshInputs = 15;

// A mesh as read: the mesh and what must be allocated for it once the checks are done.
struct MeshRequest {
  mesh::Mesh mesh;
  const char* who;
  std::size_t controlPoints;  // of the geometry: its weights are copied, contiguous
};

// Reads and checks the mesh inputs prhs[0..kMeshInputs-1] of the call named `who`. context, where
// it is not nullptr, starts the message of a fault ("patch 3: "). valuesChecked: the values of
// the control points and of the space's weights were checked already in this call (the same
// arrays read before: a domain's second reading, a patch's faces), and are not scanned again.
MeshRequest ReadMesh(const char* who, const mxArray* const prhs[], const char* context = nullptr,
                     bool valuesChecked = false);

// Whether two calls' mesh inputs hold the same control points and space weights (the same arrays
// of the host, of the same sizes): checked once, they need not be scanned again.
bool SameValues(const mxArray* const a[], const mxArray* const b[]);

// Raises who:mnemonic for the faults the callers of ReadMesh detect themselves.
[[noreturn]] void MeshFault(const char* who, const char* mnemonic, const char* format, ...);

// What a mesh call allocates once checked: the geometry's weights, the span tables, perCall bytes
// of the caller's, and one scratch per thread with extraPerThread bytes of the caller's, in one
// heap block, which Release frees. threads is lowered to what could be had; 0 where not even one
// thread's scratch could be (and then nothing is allocated). Released by hand, not by a
// destructor: a destructor would bring the C++ unwinder into every binary (nothing may raise a
// host error while the block is held, so no unwinding ever needs it).
class MeshMemory {
 public:
  MeshMemory(MeshRequest* request, int threads, std::size_t extraPerThread = 0,
             std::size_t perCall = 0);
  void Release();
  MeshMemory(const MeshMemory&) = delete;
  MeshMemory& operator=(const MeshMemory&) = delete;
  int threads() const { return threads_; }
  mesh::Scratch* scratch(int t) const { return scratch_[t]; }
  void* extra(int t) const { return extra_[t]; }  // extraPerThread bytes for thread t
  void* callExtra() const { return callExtra_; }   // perCall bytes
  mesh::Scratch* const* scratches() const { return scratch_; }
  void* const* extras() const { return extra_; }

 private:
  void* block_ = nullptr;
  void* callExtra_ = nullptr;
  int threads_ = 0;
  mesh::Scratch* scratch_[64] = {};
  void* extra_[64] = {};
};

// MeshEvalCore: the mesh's fields.
void RunMeshEval(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// A form's core: the mesh's inputs, then the form's coefficients (call.inputs); its matrix or
// vector. Over a domain: a header [ndof, patch of piece 1, ..., patch of piece n], then each
// piece's mesh inputs followed by its numbering (the global index of each of the patch's
// functions, 1-based), then the coefficients, their values at the nodes of every piece in order.

void RunForm(const MeshCall& call, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// MeshNodesCore: the physical coordinates of the evaluated nodes (rdim x nodes, MeshEval's
// order), of a patch (the mesh's inputs) or of every piece of a domain in turn (as a form's
// core takes a domain, without coefficients), from the geometry's own sum factorisation.
void RunNodes(const MeshCall& call, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// A form's coefficient `name` as the forms' cores read it: a scalar (or, for the advection's b
// and a load of rdim components, rdim values) for every node, or values at the `nodes` nodes of
// every evaluated element in MeshEval's order, nqn a element (0: the pieces of a domain differ);
// raises who:notDouble, complex, sparse or coefficientSize.
forms::Coefficient ReadCoefficient(const char* who, const char* name, const mxArray* a,
                                   forms::Kind kind, int rdim, std::size_t nqn,
                                   std::size_t nodes);

// MeshEval's fields written straight into its outputs (nullptr where not asked for).
mesh::Fields FieldsOfOutputs(double* const out[]);

// A real, full double array: its values, count and dimensions; raises who:notDouble, complex or
// sparse naming it.
struct FullArray {
  const double* v;
  std::size_t count, rows, cols;
};
FullArray ReadFullArray(const char* who, const mxArray* a, const char* name);

// MultipatchCore: a domain's interfaces, numbering and boundary faces (domain/domain.h).
void RunMultipatch(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// A call over a hierarchical space (hierarchical/hierarchical.h), gateway/hierarchical_gateway.cpp:
//
//   header           [0 subdivision truncated npatch ...]: 0 marks the layout
//   15 inputs a patch  its mesh inputs as above (elements 0, side 0)
//   refined          3 x N: [patch; level; cell] of every refined cell, ascending (1-based patch
//                    and cell, 0-based level)
//   interfaces       7 x m: [patch1 side1 patch2 side2 flag ornt1 ornt2] a column, as Multipatch
//   extra inputs     the call's own
//
// Whether prhs is that layout with `extra` inputs after the interfaces.
bool IsHierarchicalCall(int nrhs, const mxArray* const prhs[], int extra);

// The forms' and MeshEval's extra inputs over a hierarchical space: faces (2 x nf, [patch; side]
// a column: those faces' elements instead of the space's), elements (1-based indices into the
// space's elements, or 0: every one); the forms' coefficients follow.
constexpr int kFormExtra = 2;
void RunHierarchicalForm(const MeshCall& call, int nlhs, mxArray* plhs[], int nrhs,
                         const mxArray* prhs[]);
void RunHierarchicalMeshEval(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// HierarchicalSpaceCore: the space's tables, refined, a field moved to a finer space, or a
// field's coefficients element by element (plugins/hierarchical/HierarchicalSpaceCore.m).
void RunHierarchicalSpace(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

}  // namespace gateway

#endif  // NURBS_GATEWAY_MESH_GATEWAY_H_
