// A domain of several patches glued along the faces they share, free of the host.
//
// Patches are read as the mesh layer reads them (mesh::Mesh: a geometry map, its control points,
// a discrete space); their quadrature, elements and sides play no part here. All have the same
// parametric dimension d (1..3). Sides are MeshEval's: face 2i-1 where coordinate i is at the
// start of its domain, 2i where it is at its end (i = 1..d); a face of a volume has the
// directions of the volume other than i, in their order, as its own first and second.
//
// Two faces form an interface where they coincide: the same geometry within the tolerance,
// evaluated at points that correspond under an affine map of their parameters in one of the
// relative orientations (d = 2: the edge's direction kept or reversed; d = 3: the face's two
// directions swapped or not, each reversed or not), and the same space on them under that map
// (degrees, knots up to the affine map, and for a rational space weights up to a common factor).
// A face collapsed to a point (or, in 3-D, to a curve: along one of its directions every row of
// control points is one point) is on no interface, and is not tested for partial contact. Every
// knot vector of every patch, geometry and space, must be open (its first and last p + 1 knots
// equal), so that a face's functions are those of the first or last layer of the tensor grid.
// A rational space's weights are the geometry's (coefs' fourth row) where the patch is
// isoparametric, else space.weights; a B-spline space has weights 1.
//
// The functions of a space are numbered globally, C0 across interfaces: the two functions of a
// matched pair get one index, and so do all functions linked by chains of pairs (three or more
// patches at an edge or a vertex). Patch by patch in the given order, each function in its local
// order (first direction fastest) takes the index of its class if the class has one, else the
// next index.
#ifndef NURBS_DOMAIN_DOMAIN_H_
#define NURBS_DOMAIN_DOMAIN_H_

#include <cstddef>

#include "mesh.h"

namespace domain {

// An interface as the nurbs package's nrbmultipatch reports it: patches 0-based here (the
// gateway adds 1), sides 1..2d, the orientation relative to the first face.
//   d = 1: flag 1.
//   d = 2: flag +1 where the two edges' parameters run the same way, -1 where one runs against
//          the other (nrbmultipatch names this field ornt for surfaces).
//   d = 3: with a1, a2 the first face's directions and b1, b2 the second's (a face's directions
//          as above): flag +1 where a1 runs along b1 and a2 along b2, -1 where a1 runs along b2
//          and a2 along b1; ornt1 +1 where a1 runs the same way as the direction of the second
//          face it runs along, -1 where against; ornt2 likewise for a2.
// ornt1 = ornt2 = 0 where d < 3.
struct Interface {
  int patch1, side1, patch2, side2;
  int flag, ornt1, ornt2;
};

enum class Fault {
  None,
  NotOpen,        // a knot vector that is not open: patch1, and side1 its end (2i-1 or 2i)
  NonConforming,  // faces that coincide as geometry but not as spaces, or whose corners coincide
                  // and which lie on one another (the centre of the first on the second) while
                  // their maps differ: a different refinement. Faces with the same corners that
                  // bound a region between them (two halves of a circle) are not a fault.
  Partial,        // a face that touches another only in part: a corner of one lies on the other
                  // (within the tolerance) away from that one's corners, or (faces of volumes) an
                  // edge of one crosses an edge of the other where the two faces are tangent, so
                  // that they overlap in part
  MatchedTwice,   // a face that coincides with two others
  Overlap,        // two faces that coincide with both patches on the same side of them: the
                  // patches overlap (a patch given twice, in any parametrisation)
};

// The first fault found; patch2 and side2 -1 where a fault has one face. For NonConforming:
// distance, the largest distance between the two faces' points where they are compared (in the
// relative orientation that fits them best), and tolerance, the distance within which points
// count as one; for the others 0.
struct Finding {
  Fault fault;
  int patch1, side1, patch2, side2;
  double distance, tolerance;
  bool spaces;  // NonConforming: the geometry coincides and the spaces differ
};

// Functions of patch k's space (the product of its directions' counts).
std::size_t PatchFunctions(const mesh::Mesh& patch);

// Bytes of scratch Glue needs: its faces, the union-find of every function, and tables of both
// faces' functions at the points where two faces are compared.
std::size_t GlueBytes(const mesh::Mesh* const patches[], int npatch);

// Finds every interface and numbers the functions. tolerance: relative, parameters against the
// length of their direction's domain, points against the diameter of the domain's control points
// or, where that is more, 2^-44 (256 units of rounding) of their largest coordinate: points far
// from the origin carry no more precision than that, and refinement rounds them by a few units.
// Distances are taken without overflow or underflow, for coordinates of any finite magnitude. Writes at most npatch * d interfaces, in order of patch1 then side1 (patch1 < patch2, or
// patch1 = patch2 and side1 < side2: a patch whose two faces coincide is glued to itself), their
// count into *interfaces; gnum: for patch k at gnum + sum of PatchFunctions of the patches before
// it, the 1-based global index of each of its functions; the count of global indices in *ndof.
// scratch: GlueBytes, aligned for double; Glue allocates nothing. On a fault nothing written is
// meaningful; the fault is the first found: knots patch by patch, then faces in the order of the
// search.
Finding Glue(const mesh::Mesh* const patches[], int npatch, double tolerance, void* scratch,
             Interface* interface, int* interfaces, double* gnum, std::size_t* ndof);

// Functions of the patch that do not vanish on side (1..2d): how many (dofs nullptr), or their
// 0-based local indices into dofs, ascending.
std::size_t FaceFunctions(const mesh::Mesh& patch, int side, std::size_t* dofs);

}  // namespace domain

#endif  // NURBS_DOMAIN_DOMAIN_H_
