// MultipatchCore: the patches of a domain read as the mesh calls read a patch, glued (domain.h).
//
//   [gnum, interfaces, boundaries, boundary_dofs, counts] = MultipatchCore(tolerance, patch 1's
//       15 mesh inputs, patch 2's, ...)
//
// gnum: 1 x (functions of every patch), each patch's global indices in turn. interfaces: 7 x
// npatch d, [patch1 side1 patch2 side2 flag ornt1 ornt2] a column, the first counts(2) columns
// meaningful. boundaries: 3 x 2 d npatch, [patch side ndofs] a face on no interface, the first
// counts(3) columns meaningful; boundary_dofs: their functions' global indices, face by face,
// ascending and without repeats within a face. counts: [ndof interfaces boundaries]. The sizes are bounds known
// before anything is allocated; MultipatchCore's m-function keeps the meaningful part.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "checks.h"
#include "domain.h"
#include "gateway.h"
#include "mesh_gateway.h"

namespace gateway {
namespace {

constexpr const char* kWho = "Multipatch";

[[noreturn]] void Raise(const char* mnemonic, const char* format, ...) {
  va_list args;
  va_start(args, format);
  RaiseV(kWho, "", mnemonic, format, args);
}

struct Context {
  char text[32];
};

Context PatchContext(int k) {
  Context c;
  std::snprintf(c.text, sizeof c.text, "patch %d: ", k + 1);
  return c;
}

// Functions of a face at most: the product of the other directions' counts (open knots give
// exactly that; Glue refuses other knots before a face's functions are read).
std::size_t FaceBound(const mesh::Mesh& mesh, int side) {
  const int fixed = (side - 1) / 2;
  std::size_t n = 1;
  for (int d = 0; d < mesh.d; ++d) {
    if (d != fixed) n *= static_cast<std::size_t>(mesh.space.axis[d].n);
  }
  return n;
}

// The fault's message, once everything of ours is released.
[[noreturn]] void Report(const domain::Finding& f) {
  const int p1 = f.patch1 + 1, p2 = f.patch2 + 1;
  switch (f.fault) {
    case domain::Fault::NotOpen:
      Raise("knotsNotOpen",
           "patch %d: the knots of direction %d must be open (their first and last p + 1 equal) "
           "for the patch to be glued; side %d's end is not.",
           p1, (f.side1 + 1) / 2, f.side1);
    case domain::Fault::NonConforming:
      if (f.spaces) {
        Raise("nonConforming",
             "patch %d side %d and patch %d side %d meet but do not conform: the geometry "
             "coincides (points %.3g apart at most, within the tolerance %.3g) and the spaces "
             "differ there (degrees, knots or weights).",
             p1, f.side1, p2, f.side2, f.distance, f.tolerance);
      }
      Raise("nonConforming",
           "patch %d side %d and patch %d side %d meet but do not conform: the corners coincide "
           "and the geometry does not, its points up to %.3g apart where the tolerance is %.3g "
           "(a different refinement, or coordinates rounded beyond the tolerance: give a larger "
           "one).",
           p1, f.side1, p2, f.side2, f.distance, f.tolerance);
    case domain::Fault::Partial:
      Raise("partialContact",
           "patch %d side %d and patch %d side %d touch only in part: faces must meet whole "
           "(split the larger patch where the smaller ends).",
           p1, f.side1, p2, f.side2);
    case domain::Fault::MatchedTwice:
      Raise("faceMatchedTwice",
           "patch %d side %d coincides with more than one face (patch %d side %d and another): "
           "patches overlap.",
           p1, f.side1, p2, f.side2);
    case domain::Fault::Overlap:
      Raise("patchesOverlap",
           "patch %d side %d and patch %d side %d coincide with both patches on the same side of "
           "them: the patches overlap (a patch given twice?).",
           p1, f.side1, p2, f.side2);
    default:
      Raise("outOfMemory", "the domain could not be glued.");
  }
}

}  // namespace

void RunMultipatch(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  constexpr int kOutputCount = 5;
  const int npatch = (nrhs - 1) / kMeshInputs;
  if (nrhs < 1 + kMeshInputs || nrhs != 1 + npatch * kMeshInputs) {
    mexErrMsgTxt(
        "1 + 15 n inputs expected, as in [gnum, interfaces, boundaries, boundary_dofs, counts] = "
        "MultipatchCore(tolerance, then coefs, order, knots1, knots2, knots3, spaceOrder, "
        "spaceKnots1, spaceKnots2, spaceKnots3, spaceWeights, quadrature1, quadrature2, "
        "quadrature3, elements, options of each of n patches)");
  }
  if (nlhs > kOutputCount) {
    Raise("tooManyOutputs", "%d outputs were requested; MultipatchCore has at most %d.", nlhs,
         kOutputCount);
  }
  const mxArray* t = prhs[0];
  if (!mxIsDouble(t) || mxIsComplex(t) || mxIsSparse(t) || mxGetNumberOfElements(t) != 1 ||
      !(mxGetPr(t)[0] > 0.0 && mxGetPr(t)[0] < 1.0)) {
    Raise("optionValue", "tolerance must be a real scalar in (0, 1), relative; found %s.",
         mxGetNumberOfElements(t) == 1 && mxIsDouble(t) ? "another value" : "another array");
  }
  const double tolerance = mxGetPr(t)[0];

  // Every patch checked, and the outputs' sizes, before anything is allocated.
  std::size_t functions = 0, faceFunctions = 0, largest = 0;
  int d = 0, rdim = 0;
  for (int k = 0; k < npatch; ++k) {
    const Context context = PatchContext(k);
    MeshRequest rq = ReadMesh(kWho, prhs + 1 + k * kMeshInputs, context.text);
    const mesh::Mesh& mesh = rq.mesh;
    if (k == 0) {
      d = mesh.d;
      rdim = mesh.rdim;
    } else if (mesh.d != d || mesh.rdim != rdim) {
      Raise("dimensions",
           "patch %d has %d parametric and %d physical dimensions, patch 1 %d and %d: the patches "
           "of a domain are all curves, surfaces or volumes in one space.",
           k + 1, mesh.d, mesh.rdim, d, rdim);
    }
    functions += domain::PatchFunctions(mesh);
    for (int side = 1; side <= 2 * d; ++side) {
      faceFunctions += FaceBound(mesh, side);
      largest = std::max(largest, FaceBound(mesh, side));
    }
  }
  if (functions > static_cast<std::size_t>(INT_MAX)) {
    Raise("tooManyPoints", "the domain has %zu functions, more than %d.", functions, INT_MAX);
  }
  const std::size_t faces = static_cast<std::size_t>(npatch) * 2 * static_cast<std::size_t>(d);

  Outputs made(nlhs, plhs);
  double* gnum = made.Matrix(0, 1, functions);
  double* interfaces = made.Matrix(1, 7, faces / 2);
  double* boundaries = made.Matrix(2, 3, faces);
  double* boundaryDofs = made.Matrix(3, 1, faceFunctions);
  double* counts = made.Matrix(4, 1, 3);

  // The patches again, into memory of ours (no fault now), and the gluing's scratch.
  const std::size_t n = static_cast<std::size_t>(npatch);
  const std::size_t head = n * (sizeof(mesh::Mesh) + sizeof(mesh::Mesh*));
  const std::size_t local = (functions + largest) * sizeof(double) + faces * sizeof(domain::Interface) +
                            largest * sizeof(std::size_t);
  char* block = static_cast<char*>(std::malloc(head + local + 64));
  if (block == nullptr) {
    Raise("outOfMemory", "MultipatchCore could not allocate its %zu bytes of scratch.", head + local);
  }
  mesh::Mesh* meshes = reinterpret_cast<mesh::Mesh*>(block);
  const mesh::Mesh** patches = reinterpret_cast<const mesh::Mesh**>(meshes + n);
  for (int k = 0; k < npatch; ++k) {
    meshes[k] = ReadMesh(kWho, prhs + 1 + k * kMeshInputs).mesh;
    patches[k] = &meshes[k];
  }
  double* numbering = reinterpret_cast<double*>(block + head);
  double* faceGlobal = numbering + functions;
  domain::Interface* found = reinterpret_cast<domain::Interface*>(faceGlobal + largest);
  std::size_t* faceLocal = reinterpret_cast<std::size_t*>(found + faces);
  void* scratch = std::malloc(domain::GlueBytes(patches, npatch) + 64);
  if (scratch == nullptr) {
    std::free(block);
    Raise("outOfMemory", "MultipatchCore could not allocate the scratch of its gluing.");
  }
  int count = 0;
  std::size_t ndof = 0;
  const domain::Finding finding = domain::Glue(patches, npatch, tolerance, scratch, found, &count,
                                               numbering, &ndof);
  std::free(scratch);
  if (finding.fault != domain::Fault::None) {
    std::free(block);
    Report(finding);
  }

  // Outputs: the numbering, the interfaces, then every face on none of them.
  if (gnum) std::copy(numbering, numbering + functions, gnum);
  for (int i = 0; i < count && interfaces; ++i) {
    const domain::Interface& f = found[i];
    const double column[7] = {f.patch1 + 1.0, double(f.side1), f.patch2 + 1.0, double(f.side2),
                              double(f.flag),  double(f.ornt1), double(f.ornt2)};
    std::copy(column, column + 7, interfaces + 7 * i);
  }
  std::size_t nb = 0, written = 0, offset = 0;
  for (int k = 0; k < npatch; ++k) {
    for (int side = 1; side <= 2 * d; ++side) {
      bool glued = false;
      for (int i = 0; i < count && !glued; ++i) {
        glued = (found[i].patch1 == k && found[i].side1 == side) ||
                (found[i].patch2 == k && found[i].side2 == side);
      }
      if (glued) continue;
      std::size_t m = domain::FaceFunctions(meshes[k], side, faceLocal);
      for (std::size_t a = 0; a < m; ++a) faceGlobal[a] = numbering[offset + faceLocal[a]];
      // A patch glued to itself has functions on its face that are one global function.
      std::sort(faceGlobal, faceGlobal + m);
      m = static_cast<std::size_t>(std::unique(faceGlobal, faceGlobal + m) - faceGlobal);
      if (boundaries) {
        boundaries[3 * nb] = k + 1.0;
        boundaries[3 * nb + 1] = side;
        boundaries[3 * nb + 2] = static_cast<double>(m);
      }
      if (boundaryDofs) std::copy(faceGlobal, faceGlobal + m, boundaryDofs + written);
      written += m;
      ++nb;
    }
    offset += domain::PatchFunctions(meshes[k]);
  }
  if (counts) {
    counts[0] = static_cast<double>(ndof);
    counts[1] = count;
    counts[2] = static_cast<double>(nb);
  }
  std::free(block);
}

}  // namespace gateway
