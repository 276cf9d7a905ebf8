// The forms' native cores: the mesh's inputs, then the form's coefficients; one output, a sparse
// matrix (or the load's dense column) made through the host and filled in place.
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <cmath>
#include <cstdlib>
#include <new>

#include "batch.h"
#include "checks.h"
#include "domain.h"
#include "form_gateway.h"
#include "forms.h"
#include "gateway.h"
#include "mesh_gateway.h"
#include "sumfact.h"
#include "threads.h"

namespace gateway {
namespace formcall {

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

[[noreturn]] void Usage(const MeshCall& call, const Names& coefficients, int inputs) {
  char message[480];
  std::snprintf(message, sizeof message,
                "%d inputs expected, as in %s = %s(coefs, order, knots1, knots2, knots3, "
                "spaceOrder, spaceKnots1, spaceKnots2, spaceKnots3, spaceWeights, quadrature1, "
                "quadrature2, quadrature3, elements, options, %s%s%s), or over a domain "
                "%s(header, 16 inputs a piece, %s%s%s)",
                inputs, call.outputs, call.core, coefficients.name[0],
                coefficients.count > 1 ? ", " : "",
                coefficients.count > 1 ? coefficients.name[1] : "", call.core,
                coefficients.name[0], coefficients.count > 1 ? ", " : "",
                coefficients.count > 1 ? coefficients.name[1] : "");
  mexErrMsgTxt(message);
  std::abort();
}

// The size limits of a result of n unknowns and up to `bound` stored entries.
void CheckResultSize(const char* who, bool vector, std::size_t n, std::size_t bound) {
  if (vector && n > static_cast<std::size_t>(INT_MAX)) {
    Fail(who, "tooManyPoints", "the result would have %zu rows, more than the %d a column holds.",
         n, INT_MAX);
  }
  const std::size_t most = MaxOutputElements();
  if (n > most || bound == SIZE_MAX || bound > PTRDIFF_MAX / 16) {
    Fail(who, "tooManyPoints",
         "the result would have %zu unknowns and up to %zu stored entries, more than this host "
         "holds.",
         n, bound);
  }
}

// The one output: a dense column, or an n x n sparse matrix of room for `bound` entries.
Result MakeResult(Outputs* made, mxArray* plhs[], bool vector, std::size_t n, std::size_t bound) {
  Result r{nullptr, nullptr, nullptr};
  if (vector) {
    r.pr = made->Matrix(0, n, 1);
  } else {
    plhs[0] = mxCreateSparse(n, n, bound > 0 ? bound : 1, mxREAL);
    r.pr = mxGetPr(plhs[0]);
    r.ir = mxGetIr(plhs[0]);
    r.jc = mxGetJc(plhs[0]);
  }
  return r;
}

void RunPatchForm(const MeshCall& call, const Names& coefficients, int nlhs, mxArray* plhs[],
                  const mxArray* prhs[]) {
  const char* who = call.name;
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
  const std::size_t nodes = static_cast<std::size_t>(mesh::Nodes(mesh)) * mesh.count;
  for (int k = 0; k < coefficients.count; ++k) {
    form.c[k] = ReadCoefficient(who, coefficients.name[k], prhs[kMeshInputs + k], form.kind,
                                mesh.rdim, static_cast<std::size_t>(mesh::Nodes(mesh)), nodes);
  }

  const std::size_t n = forms::Unknowns(form, mesh);
  const bool vector = forms::IsVector(form.kind);
  const std::size_t bound = vector ? 0 : forms::PatternBound(form, mesh);
  CheckResultSize(who, vector, n, bound);

  // The output first: the host may end the call while making it, and nothing of ours is live.
  Outputs made(nlhs, plhs);
  const Result out = MakeResult(&made, plhs, vector, n, bound);
  if (mesh.count == 0 && vector) return;
  const double work = forms::ElementCost(form, mesh) * static_cast<double>(mesh.count);
  const int threads = mesh.count == 0 ? 1 : evaluators::ThreadsFor(work);
  MeshMemory memory(&rq, threads, forms::ElementBytes(form, mesh),
                    vector ? 0 : forms::PatternBytes(mesh));
  if (memory.threads() == 0) {
    Fail(who, "outOfMemory", "%s could not allocate its scratch.", call.core);
  }
  if (vector) {
    forms::AssembleVector(form, mesh, memory.scratches(), memory.extras(), memory.threads(),
                          out.pr);
  } else {
    const std::size_t nnz = forms::Pattern(form, mesh, memory.callExtra(), out.jc, out.ir);
    std::memset(out.pr, 0, nnz * sizeof(double));
    forms::Assemble(form, mesh, memory.scratches(), memory.extras(), memory.threads(),
                    static_cast<const mwIndex*>(out.jc), static_cast<const mwIndex*>(out.ir),
                    out.pr);
    forms::DropZeros(n, out.jc, out.ir, out.pr);
  }
  memory.Release();
}

// A domain's piece k: its mesh inputs at prhs + 1 + k (kMeshInputs + 1), its numbering after.
constexpr int kPieceInputs = kMeshInputs + 1;

struct Context {
  char text[32];
};

Context PatchContext(const double* header, int k) {
  Context c;
  std::snprintf(c.text, sizeof c.text, "patch %.0f: ", header[1 + k]);
  return c;
}

// What a domain call holds for each piece while it runs.
struct Held {
  MeshRequest rq;
  MeshMemory* memory;
};

// A domain call's header, [ndof, the patch of each of the count pieces], checked.
const double* ReadHeader(const char* who, const mxArray* h, int count) {
  if (!mxIsDouble(h) || mxIsComplex(h) || mxIsSparse(h) ||
      mxGetNumberOfElements(h) != static_cast<std::size_t>(count) + 1) {
    Fail(who, "optionValue",
         "header must be [ndof, the patch of each of the %d pieces], real doubles; found %zu "
         "values of class %s.",
         count, mxGetNumberOfElements(h), mxGetClassName(h));
  }
  const double* header = mxGetPr(h);
  const double most = static_cast<double>(INT_MAX);
  if (!(header[0] >= 1 && header[0] <= most && header[0] == std::trunc(header[0]))) {
    Fail(who, "optionValue", "ndof must be a whole number from 1 to %d, found %g.", INT_MAX,
         header[0]);
  }
  for (int k = 0; k < count; ++k) {
    const double p = header[1 + k];
    if (!(p >= 1 && p <= most && p == std::trunc(p))) {
      Fail(who, "optionValue", "the patch of piece %d must be a whole number of at least 1, "
           "found %g.", k + 1, p);
    }
  }
  return header;
}

// A piece's numbering g: one global index from 1 to ndof a function of its space.
void CheckNumbering(const char* who, const Context& context, const mesh::Mesh& mesh,
                    const mxArray* g, double ndof) {
  const std::size_t functions = domain::PatchFunctions(mesh);
  if (functions > static_cast<std::size_t>(INT_MAX)) {
    Fail(who, "tooManyPoints", "%sthe space has %zu functions, more than %d.", context.text,
         functions, INT_MAX);
  }
  if (!mxIsDouble(g) || mxIsComplex(g) || mxIsSparse(g) ||
      mxGetNumberOfElements(g) != functions) {
    Fail(who, "numbering",
         "%sgnum must hold one global index (real double) per function of the space, %zu; "
         "found %zu of class %s.",
         context.text, functions, mxGetNumberOfElements(g), mxGetClassName(g));
  }
  const double* gnum = mxGetPr(g);
  for (std::size_t a = 0; a < functions; ++a) {
    if (!(gnum[a] >= 1 && gnum[a] <= ndof && gnum[a] == std::trunc(gnum[a]))) {
      Fail(who, "numbering", "%sgnum(%zu) must be a global index from 1 to %.0f, found %g.",
           context.text, a + 1, ndof, gnum[a]);
    }
  }
}

// Piece k's dimensions: the first's (d, rdim taken from it), or a fault.
void SameDimensions(const char* who, const Context& context, const mesh::Mesh& mesh, int k,
                    int* d, int* rdim) {
  if (k == 0) {
    *d = mesh.d;
    *rdim = mesh.rdim;
  } else if (mesh.d != *d || mesh.rdim != *rdim) {
    Fail(who, "dimensions",
         "%severy patch of a domain must have %d parametric and %d physical dimensions, as the "
         "first; found %d and %d.",
         context.text, *d, *rdim, mesh.d, mesh.rdim);
  }
}

void RunDomainForm(const MeshCall& call, const Names& coefficients, int count, int nlhs,
                   mxArray* plhs[], const mxArray* prhs[]) {
  const char* who = call.name;
  const double* header = ReadHeader(who, prhs[0], count);
  const std::size_t ndof = static_cast<std::size_t>(header[0]);
  forms::Form form{};
  form.kind = KindOf(call.kind);
  form.coefficients = coefficients.count;

  // Every piece checked, and what the call will need, before anything is allocated.
  std::size_t nodes = 0, bound = 0;
  double work = 0.0;
  int d = 0, rdim = 0;
  std::size_t nqn = 0;  // nodes an element, where every piece has as many; else 0
  for (int k = 0; k < count; ++k) {
    const Context context = PatchContext(header, k);
    const mxArray* const* in = prhs + 1 + k * kPieceInputs;
    // A patch's faces share its arrays: their values scanned once.
    const bool seen = k > 0 && SameValues(in, in - kPieceInputs);
    MeshRequest rq = ReadMesh(who, in, context.text, seen);
    mesh::Mesh& mesh = rq.mesh;
    mesh.wanted = forms::Needs(form.kind);
    if (mesh.side != 0 && form.kind != forms::Kind::Mass && form.kind != forms::Kind::Load) {
      Fail(who, "sideOutOfRange",
           "%sside must be 0: a face's form is a mass matrix or a load vector, found %d.",
           context.text, mesh.side);
    }
    SameDimensions(who, context, mesh, k, &d, &rdim);
    CheckNumbering(who, context, mesh, in[kMeshInputs], header[0]);
    nodes += static_cast<std::size_t>(mesh::Nodes(mesh)) * mesh.count;
    const std::size_t pieceNodes = static_cast<std::size_t>(mesh::Nodes(mesh));
    nqn = k == 0 || nqn == pieceNodes ? pieceNodes : 0;
    forms::Form shape = form;
    for (int c = 0; c < coefficients.count; ++c) shape.c[c] = {nullptr, 1, true};
    work += forms::ElementCost(shape, mesh) * static_cast<double>(mesh.count);
    const std::size_t b = forms::PatternBound(shape, mesh);
    bound = b > SIZE_MAX - bound ? SIZE_MAX : bound + b;
  }
  for (int c = 0; c < coefficients.count; ++c) {
    form.c[c] = ReadCoefficient(who, coefficients.name[c], prhs[1 + count * kPieceInputs + c],
                                form.kind, rdim, nqn, nodes);
  }
  const int C = form.kind == forms::Kind::Elasticity ? rdim
                : form.kind == forms::Kind::Load     ? form.c[0].components
                                                     : 1;
  const std::size_t n = ndof * static_cast<std::size_t>(C);
  const bool vector = forms::IsVector(form.kind);
  if (vector) bound = 0;
  CheckResultSize(who, vector, n, bound);

  // The output first: the host may end the call while making it, and nothing of ours is live.
  Outputs made(nlhs, plhs);
  const Result out = MakeResult(&made, plhs, vector, n, bound);

  const std::size_t bytes = static_cast<std::size_t>(count) *
                            (sizeof(Held) + sizeof(MeshMemory) + sizeof(forms::Piece));
  void* block = std::malloc(bytes + 64);
  if (block == nullptr) {
    Fail(who, "outOfMemory", "%s could not allocate its %zu bytes of scratch.", call.core, bytes);
  }
  Held* held = static_cast<Held*>(block);
  MeshMemory* memory = reinterpret_cast<MeshMemory*>(held + count);
  forms::Piece* pieces = reinterpret_cast<forms::Piece*>(memory + count);
  const int want = evaluators::ThreadsFor(work);
  int threads = want;
  int made_pieces = 0;
  std::size_t before = 0;  // nodes of the pieces before
  for (int k = 0; k < count; ++k) {
    const mxArray* const* in = prhs + 1 + k * kPieceInputs;
    held[k].rq = ReadMesh(who, in, nullptr, true);  // checked above: no fault now
    mesh::Mesh& mesh = held[k].rq.mesh;
    mesh.wanted = forms::Needs(form.kind);
    forms::Form piece = form;
    for (int c = 0; c < coefficients.count; ++c) {
      if (!piece.c[c].constant) piece.c[c].v += before * static_cast<std::size_t>(piece.c[c].components);
    }
    before += static_cast<std::size_t>(mesh::Nodes(mesh)) * mesh.count;
    held[k].memory = new (memory + k) MeshMemory(&held[k].rq, want, forms::ElementBytes(piece, mesh));
    made_pieces = k + 1;
    if (held[k].memory->threads() == 0) break;
    if (held[k].memory->threads() < threads) threads = held[k].memory->threads();
    pieces[k] = {&mesh, piece, mxGetPr(in[kMeshInputs]), held[k].memory->scratches(),
                 held[k].memory->extras()};
  }
  void* scratch = nullptr;
  const bool room = made_pieces == count && held[count - 1].memory->threads() > 0 &&
                    (vector || (scratch = std::malloc(forms::DomainPatternBytes(pieces, count, ndof))) != nullptr);
  if (!room) {
    for (int k = 0; k < made_pieces; ++k) held[k].memory->Release();
    std::free(block);
    Fail(who, "outOfMemory", "%s could not allocate its scratch.", call.core);
  }
  if (vector) {
    forms::AssembleDomainVector(pieces, count, ndof, threads, out.pr);
  } else {
    const std::size_t nnz = forms::DomainPattern(pieces, count, ndof, scratch, out.jc, out.ir);
    std::free(scratch);
    std::memset(out.pr, 0, nnz * sizeof(double));
    forms::AssembleDomain(pieces, count, ndof, threads, static_cast<const mwIndex*>(out.jc),
                          static_cast<const mwIndex*>(out.ir), out.pr);
    forms::DropZeros(n, out.jc, out.ir, out.pr);
  }
  for (int k = 0; k < count; ++k) held[k].memory->Release();
  std::free(block);
}

// The nodes' coordinates of a patch, or of every piece of a domain in turn.
void RunNodesOf(const MeshCall& call, int count, int nlhs, mxArray* plhs[],
                const mxArray* prhs[]) {
  const char* who = call.name;
  const bool domain = count > 0;
  const double* header = domain ? ReadHeader(who, prhs[0], count) : nullptr;
  const int pieces = domain ? count : 1;
  std::size_t nodes = 0;
  int rdim = 0, d = 0;
  for (int k = 0; k < pieces; ++k) {
    const Context context = domain ? PatchContext(header, k) : Context{""};
    const mxArray* const* in = domain ? prhs + 1 + k * kPieceInputs : prhs;
    const bool seen = k > 0 && SameValues(in, in - kPieceInputs);
    MeshRequest rq = ReadMesh(who, in, domain ? context.text : nullptr, seen);
    const mesh::Mesh& mesh = rq.mesh;
    SameDimensions(who, context, mesh, k, &d, &rdim);
    if (domain) CheckNumbering(who, context, mesh, in[kMeshInputs], header[0]);
    const std::size_t n = static_cast<std::size_t>(mesh::Nodes(mesh)) * mesh.count;
    nodes = n > SIZE_MAX - nodes ? SIZE_MAX : nodes + n;
  }
  const std::size_t most = MaxOutputElements() / static_cast<std::size_t>(rdim);
  if (nodes > most) {
    Fail(who, "tooManyPoints",
         "the result would have %d x %zu values, more than this host holds; evaluate fewer "
         "elements a call.",
         rdim, nodes);
  }
  Outputs made(nlhs, plhs);
  double* x = made.Matrix(0, static_cast<std::size_t>(rdim), nodes);
  for (int k = 0; k < pieces && !evaluators::Stopping(); ++k) {
    const mxArray* const* in = domain ? prhs + 1 + k * kPieceInputs : prhs;
    MeshRequest rq = ReadMesh(who, in, nullptr, true);  // checked above: no fault now
    const mesh::Mesh& mesh = rq.mesh;
    if (mesh.count == 0) continue;
    const double work = forms::NodeCost(mesh) * static_cast<double>(mesh.count);
    MeshMemory memory(&rq, evaluators::ThreadsFor(work));
    const bool done = memory.threads() > 0 && forms::NodeCoordinates(rq.mesh, memory.threads(), x);
    memory.Release();
    if (!done) Fail(who, "outOfMemory", "%s could not allocate its scratch.", call.core);
    x += static_cast<std::size_t>(mesh::Nodes(mesh)) * mesh.count * static_cast<std::size_t>(rdim);
  }
}

}  // namespace formcall

using namespace formcall;

// A coefficient: one value or rdim values for every node, or a value (rdim values) at each of
// `nodes` nodes, those of every evaluated element in MeshEval's order (piece by piece over a
// domain). Values at the nodes come as nqn x nel (the transpose is refused where its rows tell it
// apart; nqn 0 where the pieces of a domain differ), as a vector in that order, or as rdim rows;
// where a load's values fit both one value a node and a constant of rdim components (nqn = rdim
// on one element), one value a node is read.
FullArray ReadFullArray(const char* who, const mxArray* a, const char* name) {
  if (!mxIsDouble(a)) {
    Fail(who, "notDouble", "%s must be a real double array, found %s.", name, mxGetClassName(a));
  }
  if (mxIsComplex(a)) Fail(who, "complex", "%s must be real, found a complex array.", name);
  if (mxIsSparse(a)) Fail(who, "sparse", "%s must be a full array, found a sparse one.", name);
  return {mxGetPr(a), mxGetNumberOfElements(a), mxGetM(a), mxGetN(a)};
}

forms::Coefficient ReadCoefficient(const char* who, const char* name, const mxArray* a,
                                   forms::Kind kind, int rdim, std::size_t nqn,
                                   std::size_t nodes) {
  const FullArray values = ReadFullArray(who, a, name);
  const std::size_t count = values.count, rows = values.rows, cols = values.cols;
  const std::size_t r = static_cast<std::size_t>(rdim);
  const bool vector = kind == forms::Kind::Advection;  // b has rdim components
  const bool either = kind == forms::Kind::Load;       // f has 1 or rdim
  // One value a node, nqn x nel or a vector: rows == nqn, 1 or all of them; no elements' values
  // in rdim rows are a load's of rdim components.
  const bool perNode = count == nodes && (count == 0 ? !(either && rows == r)
                                                     : rows == nqn || rows == 1 || cols == 1);
  forms::Coefficient c{values.v, 1, false};
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
    if (nqn > 0) {
      Fail(who, "coefficientSize",
           "%s must be a scalar or hold one value per node of every element, nqn x nel = %zu x "
           "%zu or a vector of %zu%s; found a %zu x %zu array.",
           name, nqn, nodes / nqn, nodes, either && r > 1 ? ", or rdim rows of them" : "", rows,
           cols);
    }
    Fail(who, "coefficientSize",
         "%s must be a scalar or hold one value per node of every element of every piece, a "
         "vector of %zu%s; found a %zu x %zu array.",
         name, nodes, either && r > 1 ? ", or rdim rows of them" : "", rows, cols);
  }
  return c;
}

void RunForm(const MeshCall& call, int nlhs, mxArray* plhs[], int nrhs,
             const mxArray* prhs[]) {
  const Names coefficients = Split(call.inputs);
  const int inputs = kMeshInputs + coefficients.count;
  const int pieces = (nrhs - coefficients.count - 1) / kPieceInputs;
  const bool hierarchical = IsHierarchicalCall(nrhs, prhs, kFormExtra + coefficients.count);
  const bool domain = !hierarchical && nrhs != inputs && pieces >= 1 &&
                      nrhs == 1 + pieces * kPieceInputs + coefficients.count;
  if (nrhs != inputs && !domain && !hierarchical) Usage(call, coefficients, inputs);
  if (nlhs > 1) {
    Fail(call.name, "tooManyOutputs", "%d outputs were requested; %s has one.", nlhs, call.core);
  }
  if (hierarchical) {
    RunHierarchicalForm(call, nlhs, plhs, nrhs, prhs);
  } else if (domain) {
    RunDomainForm(call, coefficients, pieces, nlhs, plhs, prhs);
  } else {
    RunPatchForm(call, coefficients, nlhs, plhs, prhs);
  }
  if (evaluators::Interrupted()) Interrupt();
}

}  // namespace gateway

namespace gateway {

void RunNodes(const MeshCall& call, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const int pieces = (nrhs - 1) / kPieceInputs;
  const bool domain = nrhs != kMeshInputs && pieces >= 1 && nrhs == 1 + pieces * kPieceInputs;
  if (nrhs != kMeshInputs && !domain) {
    char message[320];
    std::snprintf(message, sizeof message,
                  "%d inputs expected, as in x = %s(coefs, order, knots1, knots2, knots3, "
                  "spaceOrder, spaceKnots1, spaceKnots2, spaceKnots3, spaceWeights, quadrature1, "
                  "quadrature2, quadrature3, elements, options), or over a domain %s(header, 16 "
                  "inputs a piece)",
                  kMeshInputs, call.core, call.core);
    mexErrMsgTxt(message);
    std::abort();
  }
  if (nlhs > 1) {
    Fail(call.name, "tooManyOutputs", "%d outputs were requested; %s has one.", nlhs, call.core);
  }
  RunNodesOf(call, domain ? pieces : 0, nlhs, plhs, prhs);
  if (evaluators::Interrupted()) Interrupt();
}

}  // namespace gateway
