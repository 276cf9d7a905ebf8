// A patch's mesh read from its fifteen input arrays and checked, free of the host: what the
// plug-ins' gateway (gateway/mesh_gateway.h) and the MPI program read alike.
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
#ifndef NURBS_MESH_INPUTS_H_
#define NURBS_MESH_INPUTS_H_

#include <cstddef>

#include "mesh.h"

namespace mesh {

constexpr int kInputs = 15;

// One input: its values (column-major) and its shape.
struct Input {
  const double* v;
  std::size_t count, rows, cols;
};

// The first fault: its identifier's mnemonic (knotsDecreasing, ...; identifiers are API) and a
// one-sentence message naming the input.
struct Error {
  const char* mnemonic;
  char message[400];
};

// Reads and checks every input, in order, without allocating: the mesh, pointing into the
// inputs, and the geometry's control points (whose weights the caller copies contiguous, into
// mesh.geometry.weights, before the mesh is evaluated); or false and the first fault.
bool ReadInputs(const Input in[kInputs], Mesh* mesh, std::size_t* controlPoints, Error* error);

}  // namespace mesh

#endif  // NURBS_MESH_INPUTS_H_
