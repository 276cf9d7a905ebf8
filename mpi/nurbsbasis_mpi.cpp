// nurbsbasis-mpi: a problem written by SolvePETSc, assembled and solved across MPI processes with
// PETSc. A second front end over the host-free layers (mesh, domain, forms), beside the plug-ins.
//
//   mpiexec -n N nurbsbasis-mpi WORKDIR [PETSc's options]
//
// WORKDIR holds problem.dat (mpi/problem.h), rhs.dat (the right-hand side, one vector of every
// unknown) and dirichlet.dat (two vectors: the 1-based unknowns held fixed and their values;
// empty for none); it receives solution.dat (one vector of every unknown), report.txt and, with
// -nurbs_write_matrix, matrix.dat (the assembled matrix, before the Dirichlet rows). Only rank 0
// reads or writes them: the folder needs to be on its machine alone.
//
// Each process takes a contiguous share of the elements (SplitElements' balance, patch by patch)
// and a contiguous range of the unknowns in proportion; it preallocates its rows exactly from the
// pattern of the elements that touch them, sums its own elements' matrices (forms::AssembleDomain
// over its pieces) and adds them row by row into one MATMPIAIJ, PETSc sending the rows another
// process owns at assembly's end. Dirichlet unknowns: their rows and columns zeroed, 1 on the
// diagonal, the right-hand side corrected (MatZeroRowsColumns). KSP solves under the options
// given, by default CG with GAMG to a relative tolerance of 1e-10.
//
// A fault is a line "nurbsbasis-mpi: SolvePETSc:mnemonic: message" on standard error, and the
// exit status 1 (every process aborted with it).
#include <petscksp.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "batch.h"
#include "forms.h"
#include "mesh.h"
#include "petsc_binary.h"
#include "problem.h"

namespace {

int g_rank = 0;
std::string g_petscMessage;  // PETSc's last error message, as its handler was given it

[[noreturn]] void Fatal(const std::string& id, const std::string& message) {
  std::fprintf(stderr, "nurbsbasis-mpi: %s: %s\n", id.c_str(), message.c_str());
  std::fflush(stderr);
  MPI_Abort(MPI_COMM_WORLD, 1);
  std::exit(1);
}

// PETSc's errors, kept for Fatal's message; the first line only (its own is a traceback).
PetscErrorCode Handler(MPI_Comm, int, const char*, const char*, PetscErrorCode, PetscErrorType p,
                       const char* message, void*) {
  if (p == PETSC_ERROR_INITIAL && message != nullptr && g_petscMessage.empty()) {
    g_petscMessage = message;
  }
  return PETSC_ERR_LIB;
}

void Check(PetscErrorCode code, const char* mnemonic, const char* what) {
  if (code == 0) return;
  const char* text = nullptr;
  PetscErrorMessage(code, &text, nullptr);
  Fatal(std::string("SolvePETSc:") + mnemonic,
        std::string(what) + ": " +
            (g_petscMessage.empty() ? (text ? text : "PETSc error") : g_petscMessage));
}

// A whole file of rank 0's, on every rank.
std::vector<char> Broadcast(const std::string& path) {
  std::vector<char> bytes;
  std::uint64_t size = 0;
  int ok = 1;
  if (g_rank == 0) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
      ok = 0;
    } else {
      fseeko(f, 0, SEEK_END);
      size = static_cast<std::uint64_t>(ftello(f));
      fseeko(f, 0, SEEK_SET);
      bytes.resize(size);
      if (size > 0 && std::fread(bytes.data(), 1, size, f) != size) ok = 0;
      std::fclose(f);
    }
  }
  MPI_Bcast(&ok, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (!ok) Fatal("SolvePETSc:badProblem", path + " could not be read.");
  MPI_Bcast(&size, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);
  bytes.resize(size);
  for (std::uint64_t at = 0; at < size;) {
    const int n = static_cast<int>(std::min<std::uint64_t>(size - at, 1u << 30));
    MPI_Bcast(bytes.data() + at, n, MPI_CHAR, 0, MPI_COMM_WORLD);
    at += static_cast<std::uint64_t>(n);
  }
  return bytes;
}

// A file's bytes as a stream the format's reader reads.
std::FILE* Memory(std::vector<char>* bytes) {
  static char empty[1];
  std::FILE* f =
      bytes->empty() ? fmemopen(empty, 1, "rb") : fmemopen(bytes->data(), bytes->size(), "rb");
  if (f == nullptr) Fatal("SolvePETSc:outOfMemory", "no memory for the problem's stream.");
  if (bytes->empty()) {
    // fmemopen of no bytes is not allowed: a one-byte stream read as empty by its size.
  }
  return f;
}

// The vectors of dirichlet.dat.
void ReadDirichlet(std::vector<char>* bytes, std::vector<double>* dofs,
                   std::vector<double>* values) {
  if (bytes->empty()) return;
  std::FILE* f = Memory(bytes);
  petsc_binary::File file{f, bytes->size()};
  std::uint64_t offset = 0;
  std::vector<double>* out[2] = {dofs, values};
  for (int k = 0; k < 2; ++k) {
    petsc_binary::Object o{};
    petsc_binary::Status s = petsc_binary::ReadHeader(file, offset, &o);
    if (s.fault == petsc_binary::Fault::None && o.classId != petsc_binary::kVectorClass) {
      s.fault = petsc_binary::Fault::ClassId;
    }
    if (s.fault == petsc_binary::Fault::None) {
      out[k]->resize(static_cast<std::size_t>(o.entries));
      s = petsc_binary::ReadVector(file, o, out[k]->data());
    }
    if (s.fault != petsc_binary::Fault::None) {
      Fatal("SolvePETSc:badProblem",
            "dirichlet.dat must hold two vectors, the unknowns and their values.");
    }
    offset += o.bytes;
  }
  std::fclose(f);
  if (dofs->size() != values->size()) {
    Fatal("SolvePETSc:badDirichlet", "the Dirichlet unknowns and values must be as many.");
  }
}

// What one process holds for its pieces: each patch's mesh over chosen elements, the scratch.
struct Pieces {
  std::vector<mesh::Mesh> meshes;
  std::vector<std::vector<double>> elements;
  std::vector<std::vector<double>> values;  // coefficients at the chosen nodes, two a piece
  std::vector<std::vector<char>> blocks;
  std::vector<std::vector<mesh::Scratch*>> scratch;
  std::vector<std::vector<void*>> extra;
  std::vector<forms::Piece> pieces;
};

// Pieces of the patches over elements[p], the form of `part`; threads' scratch where asked.
void MakePieces(const problem::Problem& pb, int part, std::vector<std::vector<double>> elements,
                int threads, Pieces* out) {
  const std::size_t npatch = pb.patches.size();
  out->meshes.assign(npatch, mesh::Mesh{});
  out->elements = std::move(elements);
  out->values.assign(2 * npatch, {});
  out->blocks.assign(npatch, {});
  out->scratch.assign(npatch, {});
  out->extra.assign(npatch, {});
  out->pieces.clear();
  for (std::size_t p = 0; p < npatch; ++p) {
    if (out->elements[p].empty()) continue;
    mesh::Mesh& m = out->meshes[p];
    m = pb.patches[p].mesh;
    m.elements = out->elements[p].data();
    m.count = out->elements[p].size();
    m.wanted = forms::Needs(pb.kinds[part]);
    const forms::Form form =
        problem::PartForm(pb, part, pb.patches[p], out->elements[p], &out->values[2 * p]);
    if (threads > 0) {
      const std::size_t scratch = (mesh::ScratchBytes(m) + 63) / 64 * 64;
      const std::size_t extra = (forms::ElementBytes(form, m) + 63) / 64 * 64;
      out->blocks[p].resize(64 + static_cast<std::size_t>(threads) * (scratch + extra));
      char* at = reinterpret_cast<char*>(
          (reinterpret_cast<std::uintptr_t>(out->blocks[p].data()) + 63) / 64 * 64);
      for (int t = 0; t < threads; ++t, at += scratch + extra) {
        out->scratch[p].push_back(mesh::MakeScratch(m, at));
        out->extra[p].push_back(at + scratch);
      }
    }
    out->pieces.push_back({&out->meshes[p], form, pb.patches[p].gnum.data(),
                           threads > 0 ? out->scratch[p].data() : nullptr,
                           threads > 0 ? out->extra[p].data() : nullptr});
  }
}

struct Csc {
  std::vector<std::int64_t> jc, ir;
  std::vector<double> pr;
};

// The pieces' pattern over every unknown.
void PatternOf(const problem::Problem& pb, const Pieces& pieces, Csc* a) {
  const int count = static_cast<int>(pieces.pieces.size());
  a->jc.assign(pb.unknowns + 1, 0);
  if (count == 0) {
    a->ir.clear();
    return;
  }
  const std::size_t bound = forms::DomainPatternBound(pieces.pieces.data(), count);
  std::vector<char> scratch(forms::DomainPatternBytes(pieces.pieces.data(), count, pb.ndof) + 64);
  void* aligned =
      reinterpret_cast<void*>((reinterpret_cast<std::uintptr_t>(scratch.data()) + 63) / 64 * 64);
  a->ir.resize(bound > 0 ? bound : 1);
  const std::size_t nnz = forms::DomainPattern(pieces.pieces.data(), count, pb.ndof, aligned,
                                               a->jc.data(), a->ir.data());
  a->ir.resize(nnz);
}

double Now() { return MPI_Wtime(); }

struct Phase {
  const char* name;
  double seconds;
};

long MaxResidentKB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

PetscViewer Viewer(const std::string& path, PetscFileMode mode) {
  PetscViewer v;
  Check(PetscViewerCreate(PETSC_COMM_WORLD, &v), "writeFailed", path.c_str());
  Check(PetscViewerSetType(v, PETSCVIEWERBINARY), "writeFailed", path.c_str());
  Check(PetscViewerBinarySetSkipInfo(v, PETSC_TRUE), "writeFailed", path.c_str());
  Check(PetscViewerFileSetMode(v, mode), "writeFailed", path.c_str());
  Check(PetscViewerFileSetName(v, path.c_str()),
        mode == FILE_MODE_READ ? "badProblem" : "writeFailed", path.c_str());
  return v;
}

// Options of ours, and whether PETSc's were all used: a misspelt one is a fault, not a default.
void CheckOptionsUsed() {
  PetscInt n = 0;
  char** names = nullptr;
  char** values = nullptr;
  PetscOptionsLeftGet(nullptr, &n, &names, &values);
  std::string unused;
  for (PetscInt k = 0; k < n; ++k) {
    const std::string name = names[k];
    // Options PETSc reads at its end, or of the run rather than the solve.
    if (name.rfind("log", 0) == 0 || name.rfind("info", 0) == 0 || name.rfind("malloc", 0) == 0 ||
        name.rfind("options_", 0) == 0 || name.rfind("nurbs_", 0) == 0 || name == "help" ||
        name.rfind("memory_", 0) == 0 || name.rfind("ksp_view", 0) == 0 ||
        name.rfind("ksp_converged_reason", 0) == 0 || name.rfind("ksp_monitor", 0) == 0) {
      continue;
    }
    unused += (unused.empty() ? "-" : ", -") + name;
  }
  PetscOptionsLeftRestore(nullptr, &n, &names, &values);
  if (!unused.empty()) {
    Fatal("SolvePETSc:badOptions",
          "options that nothing read (misspelt, or of another solver): " + unused + ".");
  }
}

// -nurbs_kill_rank r -nurbs_kill_phase name: rank r ends by SIGKILL as that phase starts (the
// tests' process that dies mid-run).
void MaybeDie(const char* phase) {
  PetscInt rank = -1;
  char name[64] = "";
  PetscBool set = PETSC_FALSE;
  PetscOptionsGetInt(nullptr, nullptr, "-nurbs_kill_rank", &rank, nullptr);
  PetscOptionsGetString(nullptr, nullptr, "-nurbs_kill_phase", name, sizeof name, &set);
  if (rank == g_rank && set && std::strcmp(name, phase) == 0) std::raise(SIGKILL);
}

}  // namespace

int main(int argc, char** argv) {
  // The work folder first, before PETSc reads the options.
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: mpiexec -n N nurbsbasis-mpi WORKDIR [PETSc options]\n");
    return 2;
  }
  const std::string dir = argv[1];
  argv[1] = argv[0];
  --argc;
  ++argv;
  if (PetscInitialize(&argc, &argv, nullptr, nullptr) != 0) return 1;
  PetscPushErrorHandler(Handler, nullptr);
  int size = 1;
  MPI_Comm_rank(PETSC_COMM_WORLD, &g_rank);
  MPI_Comm_size(PETSC_COMM_WORLD, &size);
  std::vector<Phase> phases;
  double t = Now();
  const auto done = [&](const char* name) {
    const double now = Now();
    phases.push_back({name, now - t});
    t = now;
  };

  // The problem, on every rank.
  MaybeDie("read");
  std::vector<char> bytes = Broadcast(dir + "/problem.dat");
  problem::Problem pb;
  std::string id, message;
  std::FILE* f = Memory(&bytes);
  if (!problem::Read(f, &pb, &id, &message)) Fatal(id, message);
  std::fclose(f);
  std::vector<char> fixedBytes = Broadcast(dir + "/dirichlet.dat");
  std::vector<double> dofs, values;
  ReadDirichlet(&fixedBytes, &dofs, &values);
  for (double d : dofs) {
    if (!(d >= 1 && d <= static_cast<double>(pb.unknowns) &&
          d == static_cast<double>(static_cast<std::int64_t>(d)))) {
      Fatal("SolvePETSc:badDirichlet", "the Dirichlet unknowns must be whole numbers from 1 to " +
                                           std::to_string(pb.unknowns) + ".");
    }
  }
  if (pb.unknowns > static_cast<std::size_t>(PETSC_MAX_INT)) {
    Fatal("SolvePETSc:tooLarge", "more unknowns than PETSc's 32-bit indices hold.");
  }
  done("read");

  // Shares of the elements and of the unknowns.
  const problem::Partition partition = problem::SplitElements(pb, size);
  const std::vector<std::size_t> begin = problem::SplitUnknowns(pb, partition);
  const std::size_t r0 = begin[g_rank], r1 = begin[g_rank + 1];
  const PetscInt local = static_cast<PetscInt>(r1 - r0);
  const int npatch = static_cast<int>(pb.patches.size());
  // Threads as the plug-ins take them: the work's estimate, the cores this process is bound to,
  // NURBS_NUM_THREADS.
  double work = 0;
  for (int p = 0; p < npatch; ++p) {
    const std::vector<double> mine = problem::PatchElements(
        partition, pb, p, partition.first[g_rank], partition.first[g_rank + 1]);
    std::vector<double> unused[2];
    work += forms::ElementCost(problem::PartForm(pb, 0, pb.patches[p], {}, unused),
                               pb.patches[p].mesh) *
            static_cast<double>(mine.size());
  }
  const int threads = evaluators::ThreadsFor(work);
  done("partition");

  // Exact preallocation: the pattern of every element that touches the rows this process owns.
  MaybeDie("pattern");
  std::vector<PetscInt> dnz(static_cast<std::size_t>(local), 0),
      onz(static_cast<std::size_t>(local), 0);
  {
    std::vector<std::vector<double>> touching(static_cast<std::size_t>(npatch));
    for (int p = 0; p < npatch; ++p) touching[p] = problem::TouchingElements(pb, p, r0, r1);
    Pieces pieces;
    MakePieces(pb, 0, std::move(touching), 0, &pieces);
    Csc pattern;
    PatternOf(pb, pieces, &pattern);
    // The pattern is symmetric: row i's columns are column i's rows.
    for (std::size_t i = r0; i < r1; ++i) {
      for (std::int64_t k = pattern.jc[i]; k < pattern.jc[i + 1]; ++k) {
        const std::size_t j = static_cast<std::size_t>(pattern.ir[static_cast<std::size_t>(k)]);
        ++(j >= r0 && j < r1 ? dnz : onz)[i - r0];
      }
    }
  }
  Mat A;
  Check(MatCreateAIJ(PETSC_COMM_WORLD, local, local, static_cast<PetscInt>(pb.unknowns),
                     static_cast<PetscInt>(pb.unknowns), 0, dnz.data(), 0, onz.data(), &A),
        "outOfMemory", "the matrix");
  Check(MatSetOption(A, MAT_NEW_NONZERO_ALLOCATION_ERR, PETSC_TRUE), "petscFailed", "the matrix");
  std::vector<PetscInt>().swap(dnz);
  std::vector<PetscInt>().swap(onz);
  done("preallocation");

  // This process's elements, form by form, summed into its rows and sent where others own them.
  MaybeDie("assembly");
  std::size_t ownEntries = 0;
  double insert = 0, sums = 0;
  for (int part = 0; part < pb.parts; ++part) {
    const double t0 = Now();
    std::vector<std::vector<double>> mine(static_cast<std::size_t>(npatch));
    for (int p = 0; p < npatch; ++p) {
      mine[p] = problem::PatchElements(partition, pb, p, partition.first[g_rank],
                                       partition.first[g_rank + 1]);
    }
    Pieces pieces;
    MakePieces(pb, part, std::move(mine), threads, &pieces);
    Csc a;
    PatternOf(pb, pieces, &a);
    a.pr.assign(a.ir.size(), 0.0);
    if (!pieces.pieces.empty()) {
      forms::AssembleDomain(pieces.pieces.data(), static_cast<int>(pieces.pieces.size()), pb.ndof,
                            threads, a.jc.data(), a.ir.data(), a.pr.data());
    }
    ownEntries += a.ir.size();
    const double t1 = Now();
    sums += t1 - t0;
    // Every form here is exactly symmetric: column j of the sum is row j.
    std::vector<PetscInt> columns;
    for (std::size_t j = 0; j < pb.unknowns; ++j) {
      const std::int64_t from = a.jc[j], to = a.jc[j + 1];
      if (from == to) continue;
      columns.resize(static_cast<std::size_t>(to - from));
      for (std::int64_t k = from; k < to; ++k) {
        columns[static_cast<std::size_t>(k - from)] =
            static_cast<PetscInt>(a.ir[static_cast<std::size_t>(k)]);
      }
      const PetscInt row = static_cast<PetscInt>(j);
      Check(MatSetValues(A, 1, &row, static_cast<PetscInt>(to - from), columns.data(),
                         a.pr.data() + from, ADD_VALUES),
            "petscFailed", "adding the elements' rows");
    }
    insert += Now() - t1;
  }
  phases.push_back({"assembly", sums});
  phases.push_back({"insertion", insert});
  t = Now();
  MaybeDie("exchange");
  Check(MatAssemblyBegin(A, MAT_FINAL_ASSEMBLY), "petscFailed", "the matrix's assembly");
  Check(MatAssemblyEnd(A, MAT_FINAL_ASSEMBLY), "petscFailed", "the matrix's assembly");
  done("exchange");

  PetscBool writeMatrix = PETSC_FALSE;
  PetscOptionsGetBool(nullptr, nullptr, "-nurbs_write_matrix", &writeMatrix, nullptr);
  if (writeMatrix) {
    PetscViewer v = Viewer(dir + "/matrix.dat", FILE_MODE_WRITE);
    Check(MatView(A, v), "writeFailed", "matrix.dat");
    PetscViewerDestroy(&v);
  }

  // The right-hand side, in this process's rows; the Dirichlet unknowns it owns.
  Vec b, u;
  Check(VecCreate(PETSC_COMM_WORLD, &b), "outOfMemory", "the right-hand side");
  Check(VecSetSizes(b, local, static_cast<PetscInt>(pb.unknowns)), "outOfMemory",
        "the right-hand side");
  Check(VecSetFromOptions(b), "petscFailed", "the right-hand side");
  {
    PetscViewer v = Viewer(dir + "/rhs.dat", FILE_MODE_READ);
    Check(VecLoad(b, v), "badProblem", "rhs.dat (the right-hand side, one value an unknown)");
    PetscViewerDestroy(&v);
  }
  PetscInt n = 0;
  VecGetSize(b, &n);
  if (static_cast<std::size_t>(n) != pb.unknowns) {
    Fatal("SolvePETSc:badProblem", "the right-hand side must hold one value an unknown.");
  }
  Check(VecDuplicate(b, &u), "outOfMemory", "the solution");
  Check(VecSet(u, 0.0), "petscFailed", "the solution");
  std::vector<PetscInt> rows;
  for (std::size_t k = 0; k < dofs.size(); ++k) {
    const std::size_t row = static_cast<std::size_t>(dofs[k]) - 1;
    if (row < r0 || row >= r1) continue;
    rows.push_back(static_cast<PetscInt>(row));
    Check(VecSetValue(u, static_cast<PetscInt>(row), values[k], INSERT_VALUES), "petscFailed",
          "the Dirichlet values");
  }
  Check(VecAssemblyBegin(u), "petscFailed", "the Dirichlet values");
  Check(VecAssemblyEnd(u), "petscFailed", "the Dirichlet values");
  Check(MatZeroRowsColumns(A, static_cast<PetscInt>(rows.size()), rows.data(), 1.0, u, b),
        "petscFailed", "the Dirichlet rows");
  done("dirichlet");

  // The solve: CG with GAMG to 1e-10 unless the options say otherwise.
  MaybeDie("solve");
  KSP ksp;
  PC pc;
  Check(KSPCreate(PETSC_COMM_WORLD, &ksp), "petscFailed", "the solver");
  Check(KSPSetOperators(ksp, A, A), "petscFailed", "the solver");
  Check(KSPSetType(ksp, KSPCG), "petscFailed", "the solver");
  Check(KSPGetPC(ksp, &pc), "petscFailed", "the solver");
  Check(PCSetType(pc, PCGAMG), "petscFailed", "the solver");
  Check(KSPSetTolerances(ksp, 1e-10, PETSC_DEFAULT, PETSC_DEFAULT, PETSC_DEFAULT), "petscFailed",
        "the solver");
  Check(KSPSetInitialGuessNonzero(ksp, PETSC_TRUE), "petscFailed", "the solver");
  Check(KSPSetFromOptions(ksp), "badOptions", "the solver's options");
  Check(KSPSetUp(ksp), "badOptions", "the solver's set-up");
  CheckOptionsUsed();
  done("setup");
  Check(KSPSolve(ksp, b, u), "solverFailed", "the solve");
  done("solve");
  KSPConvergedReason reason;
  PetscInt iterations = 0;
  PetscReal residual = 0;
  KSPGetConvergedReason(ksp, &reason);
  KSPGetIterationNumber(ksp, &iterations);
  KSPGetResidualNorm(ksp, &residual);
  // The true relative residual, |b - A u| / |b|.
  Vec r;
  VecDuplicate(b, &r);
  MatMult(A, u, r);
  VecAYPX(r, -1.0, b);
  PetscReal rnorm = 0, bnorm = 0;
  VecNorm(r, NORM_2, &rnorm);
  VecNorm(b, NORM_2, &bnorm);
  VecDestroy(&r);
  KSPType ktype;
  PCType ptype;
  KSPGetType(ksp, &ktype);
  PCGetType(pc, &ptype);
  const std::string kspType = ktype, pcType = ptype;

  MaybeDie("write");
  {
    PetscViewer v = Viewer(dir + "/solution.dat", FILE_MODE_WRITE);
    Check(VecView(u, v), "writeFailed", "solution.dat");
    PetscViewerDestroy(&v);
  }
  done("write");

  // The report: the solve's figures, then every phase and count of every process.
  const int nphase = static_cast<int>(phases.size());
  std::vector<double> mineTimes(static_cast<std::size_t>(nphase) + 4);
  for (int k = 0; k < nphase; ++k) mineTimes[k] = phases[k].seconds;
  mineTimes[nphase] = static_cast<double>(partition.first[g_rank + 1] - partition.first[g_rank]);
  mineTimes[nphase + 1] = static_cast<double>(local);
  mineTimes[nphase + 2] = static_cast<double>(ownEntries);
  mineTimes[nphase + 3] = static_cast<double>(MaxResidentKB()) / 1024.0;
  const int per = nphase + 4;
  std::vector<double> all(static_cast<std::size_t>(per * size));
  MPI_Gather(mineTimes.data(), per, MPI_DOUBLE, all.data(), per, MPI_DOUBLE, 0, PETSC_COMM_WORLD);
  if (g_rank == 0) {
    const std::string path = dir + "/report.txt";
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) Fatal("SolvePETSc:writeFailed", path + ": " + std::strerror(errno));
    std::fprintf(out, "processes %d\nthreads %d\nunknowns %zu\nksp %s\npc %s\n", size, threads,
                 pb.unknowns, kspType.c_str(), pcType.c_str());
    std::fprintf(out, "converged %d\nreason %s\niterations %d\nresidual %.17g\n",
                 reason > 0 ? 1 : 0, KSPConvergedReasons[reason], static_cast<int>(iterations),
                 static_cast<double>(residual));
    std::fprintf(out, "relative_residual %.17g\n",
                 bnorm > 0 ? static_cast<double>(rnorm / bnorm) : static_cast<double>(rnorm));
    const char* counts[4] = {"elements", "rows", "entries", "memory_mb"};
    for (int k = 0; k < per; ++k) {
      std::fprintf(out, "%s%s", k < nphase ? "time_" : "",
                   k < nphase ? phases[k].name : counts[k - nphase]);
      for (int q = 0; q < size; ++q)
        std::fprintf(out, " %.9g", all[static_cast<std::size_t>(q * per + k)]);
      std::fprintf(out, "\n");
    }
    if (std::fclose(out) != 0) Fatal("SolvePETSc:writeFailed", path);
  }
  KSPDestroy(&ksp);
  VecDestroy(&b);
  VecDestroy(&u);
  MatDestroy(&A);
  PetscFinalize();
  return 0;
}
