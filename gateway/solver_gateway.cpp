// The solvers' native cores (solvers/): the matrix-free operator's setup and application, the
// fast-diagonalisation preconditioner's setup and application. Their m-functions keep what the
// setup returns as ordinary arrays and call the application with them; the application checks
// every array it reads on every call (sizes, every index it follows), since anyone may call it.
//
//   [sizes, table1, table2, table3, factors, weights] = MatrixFreeSetupCore(15 mesh inputs,
//       form, coefficients)
//   x = MatrixFreeSetupCore(15 mesh inputs, [0 0 0])   the points' coordinates
//   y = MatrixFreeApplyCore(header, 7 arrays a patch, free, x)
//   [K1, M1, K2, M2, K3, M3, constants, weights] = FastDiagonalisationSetupCore(15 mesh
//       inputs, form, coefficients)
//   y = FastDiagonalisationApplyCore(n, 9 arrays a piece, x)
//
// form is [kind a b]: kind 1 the stiffness (coefficient c), 2 the mass (c), 3 a K + b M (c of
// the stiffness, c of the mass), 4 elasticity (lambda, mu), 0 the coordinates (none); a and b
// scale the stiffness and the mass (1 1 but for kind 3).
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "batch.h"
#include "checks.h"
#include "fastdiag.h"
#include "gateway.h"
#include "kernels.h"
#include "mesh_gateway.h"
#include "operator.h"
#include "setup.h"
#include "solver_gateway.h"
#include "threads.h"

namespace gateway {
namespace {

constexpr const char* kOperator = "MatrixFreeOperator";
constexpr const char* kPreconditioner = "FastDiagonalisation";
// A sweep's ring of layers, bytes (solvers/sweep.h): blocks of this size the C library's
// allocator reuses from one call to the next.
constexpr std::size_t kRing = std::size_t{8} << 20;
constexpr int kSizes = 13;        // [d form rational N0 N1 N2 p0 p1 p2 Q0 Q1 Q2 nf]
constexpr int kPatchArrays = 7;   // sizes, three tables, factors, weights, gnum
constexpr int kPieceArrays = 9;   // sizes, U1, L1, U2, L2, U3, L3, scale, map
constexpr int kPieceSizes = 6;    // [d n0 n1 n2 a beta]


// a times b, or SIZE_MAX where it overflows.
std::size_t Times(std::size_t a, std::size_t b) {
  return b != 0 && a > SIZE_MAX / b ? SIZE_MAX : a * b;
}

struct Name {
  char text[48];
};

Name Named(const char* base, int patch, int k = 0) {
  Name n;
  if (k > 0) {
    std::snprintf(n.text, sizeof n.text, "patch %d's %s%d", patch, base, k);
  } else {
    std::snprintf(n.text, sizeof n.text, "patch %d's %s", patch, base);
  }
  return n;
}

// ---- setup ---------------------------------------------------------------------------------

// The form input: its kind and scales.
struct FormSpec {
  int kind;  // 0..4
  double a, b;
  int coefficients;
};

FormSpec ReadForm(const char* who, const mxArray* in) {
  const FullArray f = ReadFullArray(who, in, "form");
  if (f.count != 3 || !Whole(f.v[0], 0, 4) || !std::isfinite(f.v[1]) || !std::isfinite(f.v[2])) {
    Fail(who, "optionValue",
         "form must be [kind a b]: kind 0 to 4 (the coordinates, stiffness, mass, stiffness + "
         "mass, elasticity) and finite scales; found %zu values.",
         f.count);
  }
  FormSpec s{static_cast<int>(f.v[0]), f.v[1], f.v[2], 0};
  s.coefficients = s.kind == 0 ? 0 : s.kind <= 2 ? 1 : 2;
  return s;
}

[[noreturn]] void SetupUsage(const char* core) {
  char message[320];
  std::snprintf(message, sizeof message,
                "17 or 18 inputs expected, as in %s(coefs, order, knots1, knots2, knots3, "
                "spaceOrder, spaceKnots1, spaceKnots2, spaceKnots3, spaceWeights, quadrature1, "
                "quadrature2, quadrature3, elements, options, form, coefficients), or 16 with "
                "form [0 0 0]",
                core);
  mexErrMsgTxt(message);
  std::abort();
}

// A whole patch of 2 or 3 directions in as many coordinates, every element, no side.
void CheckWholePatch(const char* who, const mesh::Mesh& mesh) {
  if (mesh.d < 2 || mesh.d != mesh.rdim) {
    Fail(who, "dimensions",
         "the patch must be a surface in 2-D or a volume in 3-D (d = rdim = 2 or 3), found d = "
         "%d in %d coordinates.",
         mesh.d, mesh.rdim);
  }
  if (mesh.side != 0) {
    Fail(who, "sideOutOfRange", "side must be 0: the operator is the patch's, found %d.",
         mesh.side);
  }
  if (mesh.elements != nullptr) {
    Fail(who, "optionValue", "elements must be 0 (every element): the operator is the whole "
         "patch's.");
  }
}

// Whether the space is rational as the solvers take it: not where all its weights are equal
// (then R = N). Read from the inputs (the geometry's fourth row where the space is its own).
bool Rational(const mesh::Mesh& mesh, std::size_t count) {
  const bool own = mesh.isoparametric;
  const double* w = own ? mesh.coefs + 3 : mesh.space.weights;
  const std::size_t step = own ? 4 : 1;
  if (w == nullptr) return false;
  for (std::size_t a = 1; a < count; ++a) {
    if (w[a * step] != w[0]) return true;
  }
  return false;
}

void CopyWeights(const mesh::Mesh& mesh, std::size_t count, double* to) {
  if (to == nullptr) return;
  const bool own = mesh.isoparametric;
  const double* w = own ? mesh.coefs + 3 : mesh.space.weights;
  for (std::size_t a = 0; a < count; ++a) to[a] = w[a * (own ? 4 : 1)];
}

// What a setup call reads: the mesh (its memory held once allocated), the form and its
// coefficients.
struct SetupCall {
  MeshRequest rq;
  FormSpec form;
  forms::Coefficient c[2];
  std::size_t functions, points;
};

SetupCall ReadSetup(const char* who, const char* core, int nrhs, const mxArray* prhs[]) {
  if (nrhs < kMeshInputs + 1) SetupUsage(core);
  SetupCall s{};
  s.form = ReadForm(who, prhs[kMeshInputs]);
  if (nrhs != kMeshInputs + 1 + s.form.coefficients) SetupUsage(core);
  s.rq = ReadMesh(who, prhs);
  const mesh::Mesh& mesh = s.rq.mesh;
  CheckWholePatch(who, mesh);
  s.functions = 1;
  s.points = 1;
  for (int t = 0; t < mesh.d; ++t) {
    s.functions = Times(s.functions, static_cast<std::size_t>(mesh.space.axis[t].n));
    s.points = Times(s.points, static_cast<std::size_t>(mesh.nel[t]) * mesh.rule[t].n);
  }
  const std::size_t nqn = static_cast<std::size_t>(mesh::Nodes(mesh));
  const std::size_t nodes = Times(nqn, mesh.count);
  static const char* const kNames[5][2] = {
      {"", ""}, {"c", ""}, {"c", ""}, {"c", "the mass's c"}, {"lambda", "mu"}};
  for (int k = 0; k < s.form.coefficients; ++k) {
    s.c[k] = ReadCoefficient(who, kNames[s.form.kind][k], prhs[kMeshInputs + 1 + k],
                             forms::Kind::Stiffness, mesh.rdim, nqn, nodes);
  }
  return s;
}

solvers::Form FormOf(int kind) { return static_cast<solvers::Form>(kind); }

// The tables and weights of a setup, once its memory is had.
struct Tables {
  double* block;
  double *geometry[3], *weights[3];
};

bool MakeTables(const mesh::Mesh& mesh, double* const space[3], Tables* t) {
  std::size_t doubles = 0;
  for (int k = 0; k < mesh.d; ++k) {
    doubles += solvers::TableDoubles(mesh, k, true) + static_cast<std::size_t>(mesh.nel[k]) *
                                                          static_cast<std::size_t>(mesh.rule[k].n);
  }
  t->block = static_cast<double*>(std::malloc(doubles * sizeof(double) + 8));
  if (t->block == nullptr) return false;
  double* at = t->block;
  for (int k = 0; k < mesh.d; ++k) {
    t->geometry[k] = at;
    solvers::MakeTable(mesh, k, true, at);
    at += solvers::TableDoubles(mesh, k, true);
    t->weights[k] = at;
    solvers::MakeWeights(mesh, k, at);
    at += static_cast<std::size_t>(mesh.nel[k]) * static_cast<std::size_t>(mesh.rule[k].n);
    if (space[k]) solvers::MakeTable(mesh, k, false, space[k]);
  }
  return true;
}

solvers::Setup MakeSetup(const SetupCall& s, const double* const space[3], const Tables& t,
                         double work) {
  solvers::Setup setup{};
  setup.mesh = &s.rq.mesh;
  setup.form = s.form.kind == 0 ? solvers::Form::Stiffness : FormOf(s.form.kind);
  setup.scale[0] = s.form.kind == 3 ? s.form.a : 1.0;
  setup.scale[1] = s.form.kind == 3 ? s.form.b : 1.0;
  setup.c[0] = s.c[0];
  setup.c[1] = s.c[1];
  for (int k = 0; k < s.rq.mesh.d; ++k) {
    setup.space[k] = space[k];
    setup.geometry[k] = t.geometry[k];
    setup.weights[k] = t.weights[k];
  }
  setup.threads = evaluators::ThreadsFor(work);
  setup.width = solvers::KernelWidth();
  setup.budget = kRing;
  return setup;
}

}  // namespace

void RunMatrixFreeSetup(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const char* who = kOperator;
  SetupCall s = ReadSetup(who, "MatrixFreeSetupCore", nrhs, prhs);
  mesh::Mesh& mesh = s.rq.mesh;
  const int d = mesh.d;
  const bool coordinates = s.form.kind == 0;
  const int outputs = coordinates ? 1 : 6;
  if (nlhs > outputs) {
    Fail(who, "tooManyOutputs", "%d outputs were requested; MatrixFreeSetupCore has %d here.",
         nlhs, outputs);
  }
  const bool rational = Rational(mesh, s.functions);
  const solvers::Form form = coordinates ? solvers::Form::Mass : FormOf(s.form.kind);
  const int nf = coordinates ? mesh.rdim : solvers::FactorCount(d, form, rational);
  const std::size_t factors = Times(s.points, static_cast<std::size_t>(nf));
  if (s.points == SIZE_MAX || factors > MaxOutputElements()) {
    Fail(who, "tooManyPoints",
         "the patch has %zu quadrature points; its factors would be more than this host holds.",
         s.points);
  }
  const double work = 200.0 * static_cast<double>(s.points);

  // The outputs first: the host may end the call while making them, and nothing of ours is live.
  Outputs made(nlhs, plhs);
  double* sizes = nullptr;
  double* space[3] = {nullptr, nullptr, nullptr};
  double* F = nullptr;
  if (coordinates) {
    F = made.Matrix(0, static_cast<std::size_t>(mesh.rdim), s.points, Outputs::Fill::Caller);
  } else {
    sizes = made.Matrix(0, 1, kSizes);
    for (int k = 0; k < 3; ++k) {
      const std::size_t rows = k < d ? static_cast<std::size_t>(2 * mesh.space.axis[k].p + 3) : 0;
      const std::size_t cols = k < d ? static_cast<std::size_t>(mesh.nel[k]) * mesh.rule[k].n : 0;
      space[k] = made.Matrix(1 + k, rows, cols, Outputs::Fill::Caller);
    }
    F = made.Matrix(4, factors, 1, Outputs::Fill::Caller);
    double* W = made.Matrix(5, rational ? s.functions : 0, rational ? 1 : 0);
    if (rational) CopyWeights(mesh, s.functions, W);
  }
  if (sizes) {
    const double v[kSizes] = {static_cast<double>(d), static_cast<double>(s.form.kind),
                              rational ? 1.0 : 0.0,
                              static_cast<double>(mesh.space.axis[0].n),
                              static_cast<double>(mesh.space.axis[1].n),
                              d == 3 ? static_cast<double>(mesh.space.axis[2].n) : 0.0,
                              static_cast<double>(mesh.space.axis[0].p),
                              static_cast<double>(mesh.space.axis[1].p),
                              d == 3 ? static_cast<double>(mesh.space.axis[2].p) : 0.0,
                              static_cast<double>(mesh.nel[0] * mesh.rule[0].n),
                              static_cast<double>(mesh.nel[1] * mesh.rule[1].n),
                              d == 3 ? static_cast<double>(mesh.nel[2] * mesh.rule[2].n) : 0.0,
                              static_cast<double>(nf)};
    std::memcpy(sizes, v, sizeof v);
  }

  // Ours: the mesh's spans and weights, the tables the outputs do not hold (every one is read),
  // the factors where they are not asked for.
  MeshMemory memory(&s.rq, 1);
  std::size_t spare = F == nullptr ? factors : 0;
  for (int k = 0; k < d; ++k) {
    if (space[k] == nullptr) spare += solvers::TableDoubles(mesh, k, false);
  }
  double* own = memory.threads() > 0 ? static_cast<double*>(std::malloc(spare * sizeof(double) + 8))
                                     : nullptr;
  Tables t{};
  if (own == nullptr || !MakeTables(mesh, space, &t)) {
    std::free(own);
    memory.Release();
    Fail(who, "outOfMemory", "MatrixFreeSetupCore found no memory for its tables.");
  }
  double* at = own;
  for (int k = 0; k < d; ++k) {
    if (space[k] == nullptr) {
      space[k] = at;
      solvers::MakeTable(mesh, k, false, at);
      at += solvers::TableDoubles(mesh, k, false);
    }
  }
  if (F == nullptr) F = at;
  if (!rational) mesh.space.weights = nullptr;
  const solvers::Setup setup = MakeSetup(s, space, t, work);
  const bool ok = coordinates ? solvers::Coordinates(setup, F) : solvers::Factors(setup, F);
  std::free(own);
  std::free(t.block);
  memory.Release();
  if (!ok) Fail(who, "outOfMemory", "MatrixFreeSetupCore found no memory for its sweep.");
  if (evaluators::Interrupted()) Interrupt();
}

void RunFastDiagonalisationSetup(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const char* who = kPreconditioner;
  SetupCall s = ReadSetup(who, "FastDiagonalisationSetupCore", nrhs, prhs);
  mesh::Mesh& mesh = s.rq.mesh;
  const int d = mesh.d;
  if (s.form.kind == 0) {
    Fail(who, "optionValue", "form must be a form's kind, 1 to 4, found 0.");
  }
  constexpr int kOutputs = 8;
  if (nlhs > kOutputs) {
    Fail(who, "tooManyOutputs",
         "%d outputs were requested; FastDiagonalisationSetupCore has %d.", nlhs, kOutputs);
  }
  if (s.points == SIZE_MAX || Times(s.points, 3) > MaxOutputElements()) {
    Fail(who, "tooManyPoints", "the patch has %zu quadrature points, more than this host holds.",
         s.points);
  }
  const std::size_t P = s.form.kind == 4 ? static_cast<std::size_t>(d) : 1;
  for (int k = 0; k < d; ++k) {
    const std::size_t N = static_cast<std::size_t>(mesh.space.axis[k].n);
    if (Times(Times(N, N), P) > MaxOutputElements()) {
      Fail(who, "tooManyPoints", "direction %d has %zu functions: its matrices would not fit.",
           k + 1, N);
    }
  }
  const bool rational = Rational(mesh, s.functions);

  // The outputs first: the host may end the call while making them, and nothing of ours is live.
  Outputs made(nlhs, plhs);
  double* K[3] = {nullptr, nullptr, nullptr};
  double* M[3] = {nullptr, nullptr, nullptr};
  for (int k = 0; k < 3; ++k) {
    const std::size_t N = k < d ? static_cast<std::size_t>(mesh.space.axis[k].n) : 0;
    K[k] = made.Matrix(2 * k, N, N * P, Outputs::Fill::Caller);
    M[k] = made.Matrix(2 * k + 1, N, N * P, Outputs::Fill::Caller);
  }
  double* C = made.Matrix(6, 2, P);
  double* W = made.Matrix(7, rational ? s.functions : 0, rational ? 1 : 0);
  if (rational) CopyWeights(mesh, s.functions, W);

  // Ours: the mesh's spans and weights, the space's tables, the matrices not asked for.
  MeshMemory memory(&s.rq, 1);
  std::size_t spare = 0;
  for (int k = 0; k < d; ++k) spare += solvers::TableDoubles(mesh, k, false);
  for (int k = 0; k < d; ++k) {
    const std::size_t N = static_cast<std::size_t>(mesh.space.axis[k].n);
    if (K[k] == nullptr) spare += N * N * P;
    if (M[k] == nullptr) spare += N * N * P;
  }
  double* own = memory.threads() > 0 ? static_cast<double*>(std::malloc(spare * sizeof(double) + 8))
                                     : nullptr;
  double* space[3] = {nullptr, nullptr, nullptr};
  Tables t{};
  if (own == nullptr || !MakeTables(mesh, space, &t)) {
    std::free(own);
    memory.Release();
    Fail(who, "outOfMemory", "FastDiagonalisationSetupCore found no memory for its tables.");
  }
  double* at = own;
  for (int k = 0; k < d; ++k) {
    const std::size_t N = static_cast<std::size_t>(mesh.space.axis[k].n);
    space[k] = at;
    solvers::MakeTable(mesh, k, false, at);
    at += solvers::TableDoubles(mesh, k, false);
    if (K[k] == nullptr) {
      K[k] = at;
      at += N * N * P;
    }
    if (M[k] == nullptr) {
      M[k] = at;
      at += N * N * P;
    }
  }
  if (!rational) mesh.space.weights = nullptr;
  const solvers::Setup setup = MakeSetup(s, space, t, 100.0 * static_cast<double>(s.points));
  double constants[2 * 3] = {};
  const bool ok = solvers::Separable(setup, K, M, constants);
  if (C) std::memcpy(C, constants, 2 * P * sizeof(double));
  std::free(own);
  std::free(t.block);
  memory.Release();
  if (!ok) Fail(who, "outOfMemory", "FastDiagonalisationSetupCore found no memory for its sweep.");
  if (evaluators::Interrupted()) Interrupt();
}

// ---- application ---------------------------------------------------------------------------

namespace {

// A patch's arrays as the operator's application reads them, every one checked.
solvers::PatchOperator ReadPatch(const char* who, const mxArray* const* in, int patch,
                                 std::size_t ndof, int components, bool single) {
  solvers::PatchOperator op{};
  const FullArray sz = ReadFullArray(who, in[0], Named("sizes", patch).text);
  if (sz.count != kSizes) {
    Fail(who, "sizes", "patch %d's sizes must hold %d values, as MatrixFreeSetupCore makes them; "
         "found %zu.", patch, kSizes, sz.count);
  }
  const double* v = sz.v;
  if (!Whole(v[0], 2, 3) || !Whole(v[1], 1, 4) || !Whole(v[2], 0, 1)) {
    Fail(who, "sizes", "patch %d's sizes must start [d form rational] with d 2 or 3, form 1 to 4 "
         "and rational 0 or 1.", patch);
  }
  op.d = static_cast<int>(v[0]);
  op.form = static_cast<solvers::Form>(static_cast<int>(v[1]));
  op.rational = v[2] == 1.0;
  std::size_t functions = 1, points = 1;
  for (int t = 0; t < 3; ++t) {
    const double N = v[3 + t], p = v[6 + t], Q = v[9 + t];
    if (t >= op.d) {
      if (N != 0 || p != 0 || Q != 0) {
        Fail(who, "sizes", "patch %d's sizes of direction 3 must be 0 for a surface.", patch);
      }
      continue;
    }
    if (!Whole(p, 0, kMaxDegree) || !Whole(N, p + 1, INT_MAX) || !Whole(Q, 1, 1e15)) {
      Fail(who, "sizes",
           "patch %d's direction %d must have a degree 0 to %d, at least p + 1 functions and "
           "some points; found N %g, p %g, Q %g.",
           patch, t + 1, kMaxDegree, N, p, Q);
    }
    solvers::Direction& d = op.dir[t];
    d.p = static_cast<int>(p);
    d.N = static_cast<int>(N);
    d.Q = static_cast<std::size_t>(Q);
    functions = Times(functions, static_cast<std::size_t>(N));
    points = Times(points, d.Q);
  }
  const int nf = solvers::FactorCount(op.d, op.form, op.rational);
  if (v[12] != nf) {
    Fail(who, "sizes", "patch %d's sizes must end with %d factors a point for its form, found "
         "%g.", patch, nf, v[12]);
  }
  if (solvers::FormComponents(op.d, op.form) != components) {
    Fail(who, "sizes", "patch %d's form has %d components a function, the header %d.", patch,
         solvers::FormComponents(op.d, op.form), components);
  }
  for (int t = 0; t < 3; ++t) {
    const Name name = Named("table", patch, t + 1);
    const FullArray tb = ReadFullArray(who, in[1 + t], name.text);
    if (t >= op.d) {
      if (tb.count != 0) Fail(who, "tableSize", "%s must be empty for a surface.", name.text);
      continue;
    }
    solvers::Direction& d = op.dir[t];
    const std::size_t rows = static_cast<std::size_t>(2 * d.p + 3);
    if (tb.rows != rows || tb.cols != d.Q) {
      Fail(who, "tableSize", "%s must be %zu x %zu, found %zu x %zu.", name.text, rows, d.Q,
           tb.rows, tb.cols);
    }
    d.table = tb.v;
    double last = 0.0;
    for (std::size_t g = 0; g < d.Q; ++g) {
      const double f = tb.v[g * rows];
      if (!Whole(f, last, d.N - d.p - 1)) {
        Fail(who, "tableValue",
             "%s(1, %zu) must be a first function from %g to %d, not below the one before: "
             "found %g.",
             name.text, g + 1, last, d.N - d.p - 1, f);
      }
      last = f;
    }
  }
  const FullArray F = ReadFullArray(who, in[4], Named("factors", patch).text);
  if (points == SIZE_MAX || F.count != Times(points, static_cast<std::size_t>(nf))) {
    Fail(who, "factorsSize", "patch %d's factors must hold %d values at each of its %zu points, "
         "found %zu.", patch, nf, points, F.count);
  }
  op.factors = F.v;
  const FullArray W = ReadFullArray(who, in[5], Named("weights", patch).text);
  if (W.count != (op.rational ? functions : 0)) {
    Fail(who, "weightsSize", "patch %d's weights must hold %zu values, found %zu.", patch,
         op.rational ? functions : 0, W.count);
  }
  op.weights = op.rational ? W.v : nullptr;
  const FullArray G = ReadFullArray(who, in[6], Named("gnum", patch).text);
  if (G.count == 0 && single && functions == ndof) {
    op.gnum = nullptr;
  } else {
    if (G.count != functions) {
      Fail(who, "numbering", "patch %d's gnum must hold a global index for each of its %zu "
           "functions, found %zu.", patch, functions, G.count);
    }
    for (std::size_t a = 0; a < functions; ++a) {
      if (!Whole(G.v[a], 1, static_cast<double>(ndof))) {
        Fail(who, "numbering", "patch %d's gnum(%zu) must be a global index from 1 to %zu, found "
             "%g.", patch, a + 1, ndof, G.v[a]);
      }
    }
    op.gnum = G.v;
  }
  return op;
}

// The unknowns a vector holds: 1-based positions below `most`, ascending.
void CheckFree(const char* who, const FullArray& f, std::size_t most) {
  double last = 0.0;
  for (std::size_t i = 0; i < f.count; ++i) {
    if (!(f.v[i] > last && Whole(f.v[i], 1, static_cast<double>(most)))) {
      Fail(who, "freeList", "free(%zu) must be an unknown from 1 to %zu above free(%zu), found %g.",
           i + 1, most, i, f.v[i]);
    }
    last = f.v[i];
  }
}

// x: as many rows as the vector's unknowns, any number of columns.
FullArray ReadX(const char* who, const mxArray* a, std::size_t n) {
  const FullArray x = ReadFullArray(who, a, "x");
  if (x.rows != n && !(x.count == 0 && n == 0)) {
    Fail(who, "xSize", "x must have %zu rows (one a free unknown), found a %zu x %zu array.", n,
         x.rows, x.cols);
  }
  return x;
}

// Piece k's arrays as the preconditioner's application reads them, every one checked.
solvers::Diagonalised ReadPiece(const char* who, const mxArray* const* in, int k, std::size_t n) {
  solvers::Diagonalised p{};
  char name[48];
  std::snprintf(name, sizeof name, "piece %d's sizes", k + 1);
  const FullArray sz = ReadFullArray(who, in[0], name);
  if (sz.count != kPieceSizes || !Whole(sz.v[0], 2, 3) || !std::isfinite(sz.v[4]) ||
      !std::isfinite(sz.v[5])) {
    Fail(who, "sizes", "piece %d's sizes must be [d n1 n2 n3 a beta], d 2 or 3, a and beta "
         "finite.", k + 1);
  }
  p.d = static_cast<int>(sz.v[0]);
  p.a = sz.v[4];
  p.beta = sz.v[5];
  std::size_t N = 1;
  for (int t = 0; t < 3; ++t) {
    const double nt = sz.v[1 + t];
    if (t >= p.d ? nt != 0 : !Whole(nt, 1, 1e7)) {
      Fail(who, "sizes", "piece %d's n%d must be %s, found %g.", k + 1, t + 1,
           t >= p.d ? "0 for a surface" : "a whole number of unknowns", nt);
    }
    p.n[t] = static_cast<std::size_t>(nt);
    if (t < p.d) N = Times(N, p.n[t]);
    std::snprintf(name, sizeof name, "piece %d's U%d", k + 1, t + 1);
    const FullArray U = ReadFullArray(who, in[1 + 2 * t], name);
    std::snprintf(name, sizeof name, "piece %d's lambda%d", k + 1, t + 1);
    const FullArray L = ReadFullArray(who, in[2 + 2 * t], name);
    const std::size_t want = t < p.d ? p.n[t] : 0;
    if (U.count != Times(want, want) || L.count != want) {
      Fail(who, "eigenSize", "piece %d's U%d must be %zu x %zu and lambda%d hold %zu values; "
           "found %zu and %zu.", k + 1, t + 1, want, want, t + 1, want, U.count, L.count);
    }
    p.U[t] = U.v;
    p.lambda[t] = L.v;
  }
  if (N > (std::size_t{1} << 40)) {
    Fail(who, "tooManyPoints", "piece %d has %zu unknowns, more than this host holds.", k + 1, N);
  }
  std::snprintf(name, sizeof name, "piece %d's scale", k + 1);
  const FullArray S = ReadFullArray(who, in[7], name);
  if (S.count != 0 && S.count != N) {
    Fail(who, "scaleSize", "piece %d's scale must hold %zu values or none, found %zu.", k + 1, N,
         S.count);
  }
  p.scale = S.count ? S.v : nullptr;
  std::snprintf(name, sizeof name, "piece %d's map", k + 1);
  const FullArray Mp = ReadFullArray(who, in[8], name);
  if (Mp.count == 0 && N == n) {
    p.map = nullptr;
  } else {
    if (Mp.count != N) {
      Fail(who, "mapValue", "piece %d's map must hold a position for each of its %zu unknowns, "
           "found %zu.", k + 1, N, Mp.count);
    }
    for (std::size_t i = 0; i < N; ++i) {
      if (!Whole(Mp.v[i], 0, static_cast<double>(n))) {
        Fail(who, "mapValue", "piece %d's map(%zu) must be a position from 0 to %zu, found %g.",
             k + 1, i + 1, n, Mp.v[i]);
      }
    }
    p.map = Mp.v;
  }
  return p;
}

[[noreturn]] void ApplyUsage(const char* text) {
  mexErrMsgTxt(text);
  std::abort();
}

}  // namespace

void RunMatrixFreeApply(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const char* who = kOperator;
  const int patches = (nrhs - 3) / kPatchArrays;
  if (nrhs < 3 + kPatchArrays || nrhs != 3 + patches * kPatchArrays) {
    ApplyUsage("3 + 7 n inputs expected, as in y = MatrixFreeApplyCore(header, then sizes, "
               "table1, table2, table3, factors, weights, gnum of each of n patches, then free, "
               "x)");
  }
  if (nlhs > 1) {
    Fail(who, "tooManyOutputs", "%d outputs were requested; MatrixFreeApplyCore has one.", nlhs);
  }
  const FullArray h = ReadFullArray(who, prhs[0], "header");
  if (h.count != 2 || !Whole(h.v[0], 1, static_cast<double>(INT_MAX) * 64) ||
      !Whole(h.v[1], 1, 3)) {
    Fail(who, "optionValue",
         "header must be [ndof components]: the global functions and 1 to 3 unknowns each.");
  }
  const std::size_t ndof = static_cast<std::size_t>(h.v[0]);
  const int components = static_cast<int>(h.v[1]);
  // Every patch checked before anything is allocated, then read again into the operator.
  int d = 0;
  for (int k = 0; k < patches; ++k) {
    const solvers::PatchOperator p =
        ReadPatch(who, prhs + 1 + k * kPatchArrays, k + 1, ndof, components, patches == 1);
    if (k == 0) d = p.d;
    if (p.d != d) Fail(who, "sizes", "patch %d has %d directions, patch 1 %d.", k + 1, p.d, d);
  }
  const std::size_t unknowns = Times(ndof, static_cast<std::size_t>(components));
  const FullArray f = ReadFullArray(who, prhs[1 + patches * kPatchArrays], "free");
  CheckFree(who, f, unknowns);
  const FullArray x = ReadX(who, prhs[2 + patches * kPatchArrays], f.count);
  const std::size_t columns = f.count == 0 ? (x.count == 0 ? x.cols : 0) : x.cols;

  Outputs made(nlhs, plhs);
  double* y = made.Matrix(0, f.count, columns, Outputs::Fill::Caller);
  if (f.count == 0 || columns == 0) return;
  const int width = solvers::KernelWidth();
  auto* ops = static_cast<solvers::PatchOperator*>(
      std::malloc(static_cast<std::size_t>(patches) * sizeof(solvers::PatchOperator)));
  if (ops == nullptr) Fail(who, "outOfMemory", "MatrixFreeApplyCore found no memory.");
  for (int k = 0; k < patches; ++k) {
    ops[k] = ReadPatch(who, prhs + 1 + k * kPatchArrays, k + 1, ndof, components, patches == 1);
  }
  const solvers::Operator op{ops, patches, ndof, components, f.v, f.count};
  const int threads = evaluators::ThreadsFor(solvers::ApplyCost(op) * static_cast<double>(columns));
  const bool ok = solvers::Apply(op, x.v, columns, y, threads, width, kRing);
  const std::size_t bytes = ok ? 0 : solvers::ApplyBytes(op, columns, threads, kRing);
  std::free(ops);
  if (!ok) {
    Fail(who, "outOfMemory", "MatrixFreeApplyCore could not allocate its %zu bytes of scratch.",
         bytes);
  }
  if (evaluators::Interrupted()) Interrupt();
}

void RunFastDiagonalisationApply(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const char* who = kPreconditioner;
  const int pieces = (nrhs - 2) / kPieceArrays;
  if (nrhs < 2 + kPieceArrays || nrhs != 2 + pieces * kPieceArrays) {
    ApplyUsage("2 + 9 n inputs expected, as in y = FastDiagonalisationApplyCore(n, then sizes, "
               "U1, lambda1, U2, lambda2, U3, lambda3, scale, map of each of n pieces, then x)");
  }
  if (nlhs > 1) {
    Fail(who, "tooManyOutputs", "%d outputs were requested; FastDiagonalisationApplyCore has "
         "one.", nlhs);
  }
  const FullArray h = ReadFullArray(who, prhs[0], "n");
  if (h.count != 1 || !Whole(h.v[0], 0, 1e15)) {
    Fail(who, "optionValue", "n must be the vector's length, a whole number.");
  }
  const std::size_t n = static_cast<std::size_t>(h.v[0]);
  for (int k = 0; k < pieces; ++k) ReadPiece(who, prhs + 1 + k * kPieceArrays, k, n);
  const FullArray x = ReadX(who, prhs[1 + pieces * kPieceArrays], n);
  const std::size_t columns = n == 0 ? 0 : x.cols;
  Outputs made(nlhs, plhs);
  double* y = made.Matrix(0, n, n == 0 ? x.cols : columns, Outputs::Fill::Caller);
  if (n == 0 || columns == 0) return;
  const int width = solvers::KernelWidth();
  auto* parts = static_cast<solvers::Diagonalised*>(
      std::malloc(static_cast<std::size_t>(pieces) * sizeof(solvers::Diagonalised)));
  if (parts == nullptr) Fail(who, "outOfMemory", "FastDiagonalisationApplyCore found no memory.");
  for (int k = 0; k < pieces; ++k) parts[k] = ReadPiece(who, prhs + 1 + k * kPieceArrays, k, n);
  const int threads =
      evaluators::ThreadsFor(solvers::DiagonalisedCost(parts, pieces) * static_cast<double>(columns));
  const bool ok = solvers::ApplyDiagonalised(parts, pieces, n, x.v, columns, y, threads, width);
  const std::size_t bytes = ok ? 0 : solvers::DiagonalisedBytes(parts, pieces, threads);
  std::free(parts);
  if (!ok) {
    Fail(who, "outOfMemory", "FastDiagonalisationApplyCore could not allocate its %zu bytes of "
         "scratch.", bytes);
  }
  if (evaluators::Interrupted()) Interrupt();
}

}  // namespace gateway
