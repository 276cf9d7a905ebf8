// The forms' native cores: the mesh's inputs, then the form's coefficients; one output, a sparse
// matrix (or the load's dense column) made through the host and filled in place.
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "batch.h"
#include "checks.h"
#include "forms.h"
#include "gateway.h"
#include "mesh_gateway.h"

namespace gateway {
namespace {

forms::Kind KindOf(MeshKind kind) {
  switch (kind) {
    case MeshKind::Stiffness:
      return forms::Kind::Stiffness;
    case MeshKind::Mass:
      return forms::Kind::Mass;
    case MeshKind::Load:
      return forms::Kind::Load;
    case MeshKind::Advection:
      return forms::Kind::Advection;
    case MeshKind::Elasticity:
      return forms::Kind::Elasticity;
    default:
      return forms::Kind::Bilaplacian;
  }
}

// The names of a comma-separated list, at most two.
struct Names {
  char name[2][16];
  int count;
};

Names Split(const char* list) {
  Names n{};
  int at = 0;
  for (const char* c = list; *c != '\0' && n.count < 2; ++c) {
    if (*c == ',') {
      n.name[n.count++][at] = '\0';
      at = 0;
    } else if (*c != ' ' && at < 15) {
      n.name[n.count][at++] = *c;
    }
  }
  if (at > 0 && n.count < 2) n.name[n.count++][at] = '\0';
  return n;
}

[[noreturn]] void Fail(const char* who, const char* mnemonic, const char* format, ...) {
  va_list args;
  va_start(args, format);
  RaiseV(who, "", mnemonic, format, args);
}

// A coefficient: one value or rdim values for every node, or a value (rdim values) at each node
// of every evaluated element, in MeshEval's order. Values at the nodes come as nqn x nel (the
// transpose is refused where its rows tell it apart), as a vector in that order, or as rdim rows;
// where a load's values fit both one value a node and a constant of rdim components (nqn = rdim on
// one element), one value a node is read.
forms::Coefficient ReadCoefficient(const char* who, const char* name, const mxArray* a,
                                   forms::Kind kind, const mesh::Mesh& mesh) {
  if (!mxIsDouble(a)) {
    Fail(who, "notDouble", "%s must be a real double array, found %s.", name, mxGetClassName(a));
  }
  if (mxIsComplex(a)) Fail(who, "complex", "%s must be real, found a complex array.", name);
  if (mxIsSparse(a)) Fail(who, "sparse", "%s must be a full array, found a sparse one.", name);
  const std::size_t count = mxGetNumberOfElements(a), rows = mxGetM(a), cols = mxGetN(a);
  const std::size_t r = static_cast<std::size_t>(mesh.rdim);
  const std::size_t nqn = static_cast<std::size_t>(mesh::Nodes(mesh));
  const std::size_t nodes = nqn * mesh.count;
  const bool vector = kind == forms::Kind::Advection;  // b has rdim components
  const bool either = kind == forms::Kind::Load;       // f has 1 or rdim
  // One value a node, nqn x nel or a vector: rows == nqn, 1 or all of them; no elements' values
  // in rdim rows are a load's of rdim components.
  const bool perNode = count == nodes && (count == 0 ? !(either && rows == r)
                                                     : rows == nqn || rows == 1 || cols == 1);
  forms::Coefficient c{mxGetPr(a), 1, false};
  if ((!vector || r == 1) && perNode) {
    c.components = 1;
  } else if ((vector || either) && r > 1 && rows == r && count == r * nodes) {
    c.components = static_cast<int>(r);
  } else if ((vector || either) && r > 1 && count == r && rows == r) {
    c.components = static_cast<int>(r);
    c.constant = true;
  } else if ((!vector || r == 1) && count == 1) {
    c.constant = true;
  } else {
    if (vector) {
      Fail(who, "coefficientSize",
           "%s must be %zu x 1 (a constant vector) or %zu x %zu (rdim x nodes of every element), "
           "found a %zu x %zu array.",
           name, r, r, nodes, rows, cols);
    }
    Fail(who, "coefficientSize",
         "%s must be a scalar or hold one value per node of every element, nqn x nel = %zu x %zu "
         "or a vector of %zu%s; found a %zu x %zu array.",
         name, nqn, mesh.count, nodes, either && r > 1 ? ", or rdim rows of them" : "", rows, cols);
  }
  return c;
}

}  // namespace

void RunForm(const MeshCall& call, int nlhs, mxArray* plhs[], int nrhs,
             const mxArray* prhs[]) {
  const char* who = call.name;
  const Names coefficients = Split(call.inputs);
  const int inputs = kMeshInputs + coefficients.count;
  if (nrhs != inputs) {
    char message[320];
    std::snprintf(message, sizeof message,
                  "%d inputs expected, as in %s = %s(coefs, order, knots1, knots2, knots3, "
                  "spaceOrder, spaceKnots1, spaceKnots2, spaceKnots3, spaceWeights, quadrature1, "
                  "quadrature2, quadrature3, elements, options, %s%s%s)",
                  inputs, call.outputs, call.core, coefficients.name[0],
                  coefficients.count > 1 ? ", " : "", coefficients.count > 1 ? coefficients.name[1] : "");
    mexErrMsgTxt(message);
  }
  if (nlhs > 1) {
    Fail(who, "tooManyOutputs", "%d outputs were requested; %s has one.", nlhs, call.core);
  }
  MeshRequest rq = ReadMesh(who, prhs);
  mesh::Mesh& mesh = rq.mesh;
  forms::Form form{};
  form.kind = KindOf(call.kind);
  mesh.wanted = forms::Needs(form.kind);
  if (mesh.side != 0 && form.kind != forms::Kind::Mass && form.kind != forms::Kind::Load) {
    Fail(who, "sideOutOfRange",
         "side must be 0: a face's form is a mass matrix or a load vector, found %d.", mesh.side);
  }
  form.coefficients = coefficients.count;
  for (int k = 0; k < coefficients.count; ++k) {
    form.c[k] = ReadCoefficient(who, coefficients.name[k], prhs[kMeshInputs + k], form.kind, mesh);
  }

  const std::size_t n = forms::Unknowns(form, mesh);
  const bool vector = forms::IsVector(form.kind);
  const std::size_t bound = vector ? 0 : forms::PatternBound(form, mesh);
  const std::size_t most = MaxOutputElements();
  if (vector && n > static_cast<std::size_t>(INT_MAX)) {
    Fail(who, "tooManyPoints", "the result would have %zu rows, more than the %d a column holds.",
         n, INT_MAX);
  }
  if (n > most || bound == SIZE_MAX || bound > PTRDIFF_MAX / 16) {
    Fail(who, "tooManyPoints",
         "the result would have %zu unknowns and up to %zu stored entries, more than this host "
         "holds.",
         n, bound);
  }

  // The output first: the host may end the call while making it, and nothing of ours is live.
  Outputs made(nlhs, plhs);
  double* out = nullptr;
  mwIndex *ir = nullptr, *jc = nullptr;
  if (vector) {
    out = made.Matrix(0, n, 1);
  } else {
    plhs[0] = mxCreateSparse(n, n, bound > 0 ? bound : 1, mxREAL);
    out = mxGetPr(plhs[0]);
    ir = mxGetIr(plhs[0]);
    jc = mxGetJc(plhs[0]);
  }
  if (mesh.count == 0 && vector) return;
  const double work = forms::ElementCost(form, mesh) * static_cast<double>(mesh.count);
  const int threads = mesh.count == 0 ? 1 : evaluators::ThreadsFor(work);
  MeshMemory memory(&rq, threads, forms::ElementBytes(form, mesh),
                    vector ? 0 : forms::PatternBytes(mesh));
  if (memory.threads() == 0) {
    Fail(who, "outOfMemory", "%s could not allocate its scratch.", call.core);
  }
  mesh::Scratch* scratch[64];
  void* extra[64];
  for (int t = 0; t < memory.threads(); ++t) {
    scratch[t] = memory.scratch(t);
    extra[t] = memory.extra(t);
  }
  if (vector) {
    forms::AssembleVector(form, mesh, scratch, extra, memory.threads(), out);
  } else {
    const std::size_t nnz = forms::Pattern(form, mesh, memory.callExtra(), jc, ir);
    std::memset(out, 0, nnz * sizeof(double));
    forms::Assemble(form, mesh, scratch, extra, memory.threads(), static_cast<const mwIndex*>(jc),
                    static_cast<const mwIndex*>(ir), out);
    forms::DropZeros(n, jc, ir, out);
  }
  memory.Release();
}

}  // namespace gateway
