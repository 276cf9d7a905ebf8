// A problem as SolvePETSc writes it for the MPI program, read and checked, and its partition over
// the processes; free of MPI, PETSc and the host.
//
// The problem is a file of PETSc's binary format (files/petsc_binary.h), every object a vector:
//   header           [version 1, form, patches, ndof]: form 1 stiffness (c), 2 mass (c),
//                    3 elasticity (lambda, mu), 4 stiffness + mass (c of each, one matrix)
//   for each patch   its fifteen mesh inputs (mesh/inputs.h) in order, each as a vector: coefs
//                    4 x n flattened, a quadrature's rule 2 x nq flattened (one value: a count);
//                    the elements and the side are the program's own (the inputs' are ignored)
//                    then gnum, the global index of each of its functions (1-based)
//                    then the form's coefficients: one value (a constant), or one value a node
//                    of every element of the patch in MeshEval's order
// The unknowns: ndof, or rdim ndof for elasticity (component k of function I at k ndof + I).
#ifndef NURBS_MPI_PROBLEM_H_
#define NURBS_MPI_PROBLEM_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "forms.h"
#include "inputs.h"
#include "mesh.h"

namespace problem {

enum class FormKind { Stiffness = 1, Mass = 2, Elasticity = 3, StiffnessMass = 4 };

struct Patch {
  std::vector<double> input[mesh::kInputs];
  std::vector<double> gnum;
  std::vector<double> coefficient[2];
  mesh::Mesh mesh;  // over the inputs, every element; weights copied contiguous
  std::vector<double> weights;
  std::vector<int> spans;  // the mesh's span tables
  std::size_t functions;
};

struct Problem {
  FormKind form;
  std::size_t ndof;      // global functions
  int components;        // unknowns a function
  std::size_t unknowns;  // ndof components
  std::vector<Patch> patches;
  // The forms summed into the one matrix: one, or the stiffness then the mass.
  int parts;
  forms::Kind kinds[2];
};

// Reads the problem from a file of the format above; false and a message (naming the object or
// the patch) on the first fault, "Name:mnemonic" style in *id.
bool Read(std::FILE* f, Problem* problem, std::string* id, std::string* message);

// The form of part k (0 or 1) over one patch evaluated at `elements` (1-based, as the mesh takes
// them), its coefficients gathered at those elements' nodes into `values` (which it points into).
forms::Form PartForm(const Problem& problem, int part, const Patch& patch,
                     const std::vector<double>& elements, std::vector<double> values[2]);

// Elements in the global order (patch by patch, each patch's in its order) cut into `parts`
// shares of about equal work, SplitElements' rule: element j goes to the share where the middle
// of its work falls, an element costing nodes x functions^2. first[k]..first[k+1]-1 are share
// k's elements in that order; work[k] their estimate.
struct Partition {
  std::vector<std::size_t> first;
  std::vector<double> work;
  std::vector<std::size_t> patchStart;  // global order of each patch's first element
};
Partition SplitElements(const Problem& problem, int parts);

// Unknowns [begin[k], begin[k + 1]) owned by process k: split in proportion to the shares'
// work, so that a process owns about the unknowns its elements make.
std::vector<std::size_t> SplitUnknowns(const Problem& problem, const Partition& partition);

// The 1-based elements of patch p among global elements [from, to), in order.
std::vector<double> PatchElements(const Partition& partition, const Problem& problem, int p,
                                  std::size_t from, std::size_t to);

// The 1-based elements of patch p that have a function with an unknown in [begin, end).
std::vector<double> TouchingElements(const Problem& problem, int p, std::size_t begin,
                                     std::size_t end);

}  // namespace problem

#endif  // NURBS_MPI_PROBLEM_H_
