// The calls over a hierarchical space (hierarchical/hierarchical.h): its tables and refinement
// (HierarchicalSpaceCore), the forms' cores and MeshEvalCore in the layout of mesh_gateway.h.
//
// Every input is checked before anything is allocated; what only the hierarchy can tell (a
// refinement that does not conform across an interface, marks beyond the space's elements) is
// raised once everything of ours is released. A call runs twice over its hierarchy: once for the
// sizes of its outputs, then, the outputs made, once to fill them, so that nothing of ours is
// held while the host makes an output.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "checks.h"
#include "form_gateway.h"
#include "forms.h"
#include "gateway.h"
#include "hierarchical.h"
#include "mesh_gateway.h"
#include "sumfact.h"
#include "batch.h"
#include "threads.h"

namespace gateway {

bool IsHierarchicalCall(int nrhs, const mxArray* const prhs[], int extra) {
  if (nrhs < 1) return false;
  const mxArray* h = prhs[0];
  if (!mxIsDouble(h) || mxIsComplex(h) || mxIsSparse(h) || mxGetNumberOfElements(h) < 4) {
    return false;
  }
  const double* v = mxGetPr(h);
  const double n = v[3];
  if (v[0] != 0.0 || !(n >= 1 && n <= 1e6 && n == std::trunc(n))) return false;
  return static_cast<double>(nrhs) == 3 + 15 * n + extra;
}

namespace {


// The layout's positions: patch k's mesh inputs at 1 + 15 k, then refined, interfaces and the
// call's own.
struct Layout {
  int npatch;
  int refined, interfaces, extra;
};

Layout LayoutOf(const mxArray* const prhs[]) {
  Layout l;
  l.npatch = static_cast<int>(mxGetPr(prhs[0])[3]);
  l.refined = 1 + 15 * l.npatch;
  l.interfaces = l.refined + 1;
  l.extra = l.refined + 2;
  return l;
}

struct Context {
  char text[32];
};

Context PatchContext(int k) {
  Context c;
  std::snprintf(c.text, sizeof c.text, "patch %d: ", k + 1);
  return c;
}

// The header's options: [0 subdivision truncated npatch] and, for HierarchicalSpaceCore,
// admissibility and the mode.
struct Header {
  hierarchical::Options options;
  int admissibility, mode, patch;
  bool second;
};

Header ReadHeader(const char* who, const mxArray* h, std::size_t values) {
  const FullArray a = ReadFullArray(who, h, "header");
  if (a.count != values) {
    Fail(who, "optionValue", "header must hold %zu values, found %zu.", values, a.count);
  }
  Header r{};
  if (!Whole(a.v[1], 2, hierarchical::kMaxSubdivision)) {
    Fail(who, "optionValue", "subdivision must be a whole number from 2 to %d, found %g.",
         hierarchical::kMaxSubdivision, a.v[1]);
  }
  if (a.v[2] != 0.0 && a.v[2] != 1.0) {
    Fail(who, "optionValue", "truncated must be true or false, found %g.", a.v[2]);
  }
  r.options = {static_cast<int>(a.v[1]), a.v[2] == 1.0};
  if (values > 4) {
    const double m = a.v[4];
    if (!(m == 0 || Whole(m, 2, hierarchical::kMaxLevels))) {
      Fail(who, "optionValue",
           "admissibility must be 0 (none) or a class from 2 to %d, found %g.",
           hierarchical::kMaxLevels, m);
    }
    r.admissibility = static_cast<int>(m);
    r.mode = static_cast<int>(a.v[5]);
    if (!Whole(a.v[6], 1, a.v[3])) {
      Fail(who, "optionValue", "patch must be a patch of the space, from 1 to %g, found %g.",
           a.v[3], a.v[6]);
    }
    r.patch = static_cast<int>(a.v[6]) - 1;
    if (a.v[7] != 0.0 && a.v[7] != 1.0) {
      Fail(who, "optionValue", "hessian must be true or false, found %g.", a.v[7]);
    }
    r.second = a.v[7] == 1.0;
  }
  return r;
}

// Every patch's mesh inputs, the refined cells' shape and the interfaces' values; no allocation.
void CheckInputs(const char* who, const mxArray* const prhs[], const Layout& l) {
  int d = 0, rdim = 0;
  mesh::Wanted wanted{false, false, false};
  for (int k = 0; k < l.npatch; ++k) {
    const Context context = PatchContext(k);
    const MeshRequest rq = ReadMesh(who, prhs + 1 + 15 * k, context.text);
    if (k == 0) {
      d = rq.mesh.d;
      rdim = rq.mesh.rdim;
    } else if (rq.mesh.d != d || rq.mesh.rdim != rdim) {
      Fail(who, "dimensions",
           "%severy patch of a space must have %d parametric and %d physical dimensions, as the "
           "first; found %d and %d.",
           context.text, d, rdim, rq.mesh.d, rq.mesh.rdim);
    }
    if (k > 0 && (rq.mesh.wanted.gradient != wanted.gradient ||
                  rq.mesh.wanted.hessian != wanted.hessian ||
                  rq.mesh.wanted.laplacian != wanted.laplacian)) {
      Fail(who, "optionValue",
           "%severy patch must ask for the same fields (gradient, hessian, laplacian) as the "
           "first.",
           context.text);
    }
    if (k == 0) wanted = rq.mesh.wanted;
    if (rq.mesh.side != 0 || rq.mesh.elements != nullptr) {
      Fail(who, "optionValue",
           "%sthe mesh inputs of a hierarchical space take every element and no side; the "
           "elements and faces come after the interfaces.",
           context.text);
    }
  }
  const FullArray r = ReadFullArray(who, prhs[l.refined], "refined");
  if (r.count != 0 && r.rows != 3) {
    Fail(who, "refinement",
         "refined must be 3 x N, [patch; level; cell] a refined cell, found a %zu x %zu array.",
         r.rows, r.cols);
  }
  const FullArray in = ReadFullArray(who, prhs[l.interfaces], "interfaces");
  if (in.count != 0 && in.rows != 7) {
    Fail(who, "interfaces",
         "interfaces must be 7 x m, [patch1 side1 patch2 side2 flag ornt1 ornt2] a column, "
         "found a %zu x %zu array.",
         in.rows, in.cols);
  }
  for (std::size_t i = 0; i < in.count / 7 * (in.rows == 7); ++i) {
    const double* c = in.v + 7 * i;
    const bool ok = Whole(c[0], 1, l.npatch) && Whole(c[2], 1, l.npatch) &&
                    Whole(c[1], 1, 2 * d) && Whole(c[3], 1, 2 * d) &&
                    (c[4] == 1 || c[4] == -1) && (d == 1 ? c[4] == 1 : true) &&
                    (d < 3 || ((c[5] == 1 || c[5] == -1) && (c[6] == 1 || c[6] == -1))) &&
                    !(c[0] == c[2] && c[1] == c[3]);
    if (!ok) {
      Fail(who, "interfaces",
           "interfaces(:, %zu) must be [patch1 side1 patch2 side2 flag ornt1 ornt2] with patches "
           "from 1 to %d, sides from 1 to %d, two faces, flag and (for volumes) ornt1, ornt2 of "
           "1 or -1; found [%g %g %g %g %g %g %g].",
           i + 1, l.npatch, 2 * d, c[0], c[1], c[2], c[3], c[4], c[5], c[6]);
    }
  }
}

// What a call holds of its patches: each one's mesh as read, with its geometry's weights copied
// contiguous, the hierarchy's inputs, and the interfaces; one block.
struct Held {
  int npatch = 0;
  MeshRequest* rq = nullptr;
  hierarchical::PatchInput* inputs = nullptr;
  domain::Interface* interfaces = nullptr;
  int ninterfaces = 0;
  void* block = nullptr;
  hierarchical::Options options{};
};

bool Hold(const char* who, const mxArray* const prhs[], const Layout& l,
          const hierarchical::Options& options, Held* held) {
  const FullArray in = ReadFullArray(who, prhs[l.interfaces], "interfaces");
  const int ni = static_cast<int>(in.rows == 7 ? in.count / 7 : 0);
  std::size_t points = 0;
  for (int k = 0; k < l.npatch; ++k) points += ReadMesh(who, prhs + 1 + 15 * k).controlPoints;
  const std::size_t n = static_cast<std::size_t>(l.npatch);
  const auto round = [](std::size_t bytes) { return (bytes + 63) / 64 * 64; };
  const std::size_t a1 = round(n * sizeof(MeshRequest));
  const std::size_t a2 = a1 + round(n * sizeof(hierarchical::PatchInput));
  const std::size_t a3 = a2 + round(static_cast<std::size_t>(ni) * sizeof(domain::Interface));
  const std::size_t bytes = a3 + points * sizeof(double) + 64;
  char* block = static_cast<char*>(std::malloc(bytes));
  if (block == nullptr) return false;
  held->block = block;
  char* b = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(block) + 63) / 64 * 64);
  held->npatch = l.npatch;
  held->options = options;
  held->rq = reinterpret_cast<MeshRequest*>(b);
  held->inputs = reinterpret_cast<hierarchical::PatchInput*>(b + a1);
  held->interfaces = reinterpret_cast<domain::Interface*>(b + a2);
  held->ninterfaces = ni;
  double* w = reinterpret_cast<double*>(b + a3);
  for (int k = 0; k < l.npatch; ++k) {
    MeshRequest& rq = held->rq[k];
    new (&rq) MeshRequest(ReadMesh(who, prhs + 1 + 15 * k));
    mesh::Mesh& m = rq.mesh;
    for (std::size_t a = 0; a < rq.controlPoints; ++a) w[a] = m.coefs[3 + 4 * a];
    m.geometry.weights = w;
    const double* weights = m.isoparametric ? w : m.space.weights;
    if (m.isoparametric) m.space.weights = w;
    held->inputs[k] = {&m, weights};
    w += rq.controlPoints;
  }
  // The orientation codes ornt1, ornt2 belong to volumes; checked there, ignored elsewhere.
  const bool volume = held->rq[0].mesh.d == 3;
  for (int i = 0; i < ni; ++i) {
    const double* c = in.v + 7 * i;
    held->interfaces[i] = {static_cast<int>(c[0]) - 1,
                           static_cast<int>(c[1]),
                           static_cast<int>(c[2]) - 1,
                           static_cast<int>(c[3]),
                           static_cast<int>(c[4]),
                           volume ? static_cast<int>(c[5]) : 0,
                           volume ? static_cast<int>(c[6]) : 0};
  }
  return true;
}

void Drop(Held* held) {
  std::free(held->block);
  held->block = nullptr;
}

hierarchical::Refinement RefinementOf(const mxArray* a) {
  const std::size_t count = mxGetNumberOfElements(a);
  return {mxGetPr(a), mxGetM(a) == 3 ? count / 3 : 0};
}

// Raises a fault of the hierarchy's checks or build, once everything of ours (held, and `also`)
// is released; the interface it names is copied first.
[[noreturn]] void Raise(const char* who, const hierarchical::Finding& f, Held* held,
                        const char* refined, void* also = nullptr) {
  using hierarchical::Fault;
  domain::Interface i{};
  if (f.fault == Fault::Interface && f.at < static_cast<std::size_t>(held->ninterfaces)) {
    i = held->interfaces[f.at];
  }
  const int npatch = held->npatch;
  Drop(held);
  std::free(also);
  const std::size_t at = f.at + 1;
  switch (f.fault) {
    case Fault::Patch:
      Fail(who, "refinement", "%s(1, %zu) must be a patch from 1 to %d.", refined, at, npatch);
    case Fault::Level:
      Fail(who, "refinement", "%s(2, %zu) must be a level from 0 to %d.", refined, at,
           hierarchical::kMaxLevels - 2);
    case Fault::Cell:
      Fail(who, "refinement",
           "%s(3, %zu) must be a cell of patch %d's level %d: a whole number from 1 to the "
           "level's cells.",
           refined, at, f.patch + 1, f.level);
    case Fault::Order:
      Fail(who, "refinement",
           "%s(:, %zu) must come after %s(:, %zu): columns ascending by patch, level and cell, "
           "without repeats.",
           refined, at, refined, at - 1);
    case Fault::Parent:
      Fail(who, "refinement",
           "%s(:, %zu), a cell of patch %d's level %d, must lie in a refined cell of level %d.",
           refined, at, f.patch + 1, f.level, f.level - 1);
    case Fault::TooFine:
      Fail(who, "tooFine", "patch %d would have more than %d cells a direction at level %d.",
           f.patch + 1, hierarchical::kMaxCells, f.level);
    case Fault::Interface:
      Fail(who, "interfaces",
           "interfaces(:, %zu): patch %d side %d and patch %d side %d do not have the same "
           "functions along the face.",
           at, i.patch1 + 1, i.side1, i.patch2 + 1, i.side2);
    case Fault::NotOpen:
      Fail(who, "knotsNotOpen",
           "patch %d: the knots must be open (their first and last p + 1 equal) at a side on an "
           "interface.",
           f.patch + 1);
    case Fault::NotConforming:
      Fail(who, "notConforming",
           "interfaces(:, %zu): the cells of level %d along it are refined differently on its two "
           "sides (RefineElements keeps them alike).",
           at, f.level);
    default:
      Fail(who, "outOfMemory", "%s could not allocate its hierarchy.", who);
  }
}

// The hierarchy of a refinement over the held patches, or a raised fault (nothing held then).
hierarchical::Hierarchy* Make(const char* who, Held* held, const hierarchical::Refinement& r,
                              const char* name, void* also = nullptr) {
  hierarchical::Finding f = hierarchical::Check(held->inputs, held->npatch, held->options, r,
                                                held->interfaces, held->ninterfaces);
  hierarchical::Hierarchy* h = nullptr;
  if (f.fault == hierarchical::Fault::None) {
    h = hierarchical::Build(held->inputs, held->npatch, held->options, r, held->interfaces,
                            held->ninterfaces, &f);
  }
  if (h == nullptr) Raise(who, f, held, name, also);
  return h;
}

// One thread's workspace block, aligned.
void* Align(void* p) {
  return reinterpret_cast<void*>((reinterpret_cast<std::uintptr_t>(p) + 63) / 64 * 64);
}

// ----- HierarchicalSpaceCore ------------------------------------------------------------------

const char* ModeName(int mode) {
  switch (mode) {
    case 1:
      return "RefineElements";
    case 2:
      return "RefineFunctions";
    case 3:
      return "ProlongField";
    case 4:
    case 5:
      return "FieldEval";
    default:
      return "HierarchicalSpace";
  }
}

// Faces as [patch; side] columns, checked.
FullArray ReadFaces(const char* who, const mxArray* a, int npatch, int d) {
  const FullArray f = ReadFullArray(who, a, "faces");
  if (f.count != 0 && f.rows != 2) {
    Fail(who, "optionValue", "faces must be 2 x nf, [patch; side] a face, found a %zu x %zu array.",
         f.rows, f.cols);
  }
  for (std::size_t k = 0; k < f.count / 2; ++k) {
    if (!Whole(f.v[2 * k], 1, npatch) || !Whole(f.v[2 * k + 1], 1, 2 * d)) {
      Fail(who, "sideOutOfRange",
           "faces(:, %zu) must be a patch from 1 to %d and a side from 1 to %d, found [%g; %g].",
           k + 1, npatch, 2 * d, f.v[2 * k], f.v[2 * k + 1]);
    }
  }
  return f;
}

// The sizes of HierarchicalSpaceCore's table outputs.
struct Tables {
  std::size_t refined, elements, functions, gnum, faceDofs, maxFunctions;
  int levels;
};

// The elements of a patch on one of its sides.
std::size_t FaceElements(const hierarchical::Hierarchy& h, int patch, int side) {
  const int fixed = (side - 1) / 2;
  std::size_t n = 0;
  for (std::size_t e = 0; e < hierarchical::Elements(h); ++e) {
    const hierarchical::Cell c = hierarchical::ElementCell(h, e);
    if (c.patch != patch) continue;
    const int nel = hierarchical::LevelCells(h, c.patch, c.level, fixed);
    n += c.e[fixed] == (side % 2 == 0 ? nel - 1 : 0);
  }
  return n;
}

// A face's functions (0-based global, ascending, unique) into out (nullptr: counted).
std::size_t FaceDofs(const hierarchical::Hierarchy& h, hierarchical::Workspace* w, int patch,
                     int side, std::size_t* buffer, std::size_t* out) {
  std::size_t count = 0;
  // Pass over the elements, collect into buffer in chunks of MaxFunctions: out must hold them all
  // (the caller gives room for every element's functions).
  for (std::size_t e = 0; e < hierarchical::Elements(h); ++e) {
    if (hierarchical::ElementCell(h, e).patch != patch) continue;
    count += static_cast<std::size_t>(hierarchical::SideFunctions(h, w, e, side, buffer + count));
  }
  std::sort(buffer, buffer + count);
  count = static_cast<std::size_t>(std::unique(buffer, buffer + count) - buffer);
  if (out) std::memcpy(out, buffer, count * sizeof(std::size_t));
  return count;
}

// Fills (or sizes, out[k] nullptr) the tables of hierarchy h.
void FillTables(const hierarchical::Hierarchy& h, const FullArray& faces, hierarchical::Workspace* w,
                std::size_t* buffer, Tables* t, double* const out[]) {
  const int d = hierarchical::Dimension(h);
  t->elements = hierarchical::Elements(h);
  t->functions = hierarchical::Functions(h);
  t->levels = hierarchical::Levels(h);
  if (out[1]) {
    for (std::size_t e = 0; e < t->elements; ++e) {
      const hierarchical::Cell c = hierarchical::ElementCell(h, e);
      double lo[3], hi[3];
      hierarchical::ElementBox(h, e, lo, hi);
      double* col = out[1] + static_cast<std::size_t>(3 + 2 * d) * e;
      col[0] = c.patch + 1;
      col[1] = c.level;
      col[2] = static_cast<double>(c.cell + 1);
      for (int k = 0; k < d; ++k) {
        col[3 + 2 * k] = lo[k];
        col[4 + 2 * k] = hi[k];
      }
    }
  }
  if (out[2]) {
    for (std::size_t f = 0; f < t->functions; ++f) {
      const hierarchical::Function g = hierarchical::FunctionAt(h, f);
      out[2][3 * f] = g.patch + 1;
      out[2][3 * f + 1] = g.level;
      out[2][3 * f + 2] = static_cast<double>(g.index + 1);
    }
  }
  t->gnum = 0;
  for (int k = 0; k < hierarchical::Patches(h); ++k) {
    const std::size_t n = hierarchical::PatchFunctions(h, k);
    const std::size_t* g = hierarchical::PatchNumbering(h, k);
    for (std::size_t a = 0; a < n && out[3]; ++a) {
      const hierarchical::Function f = hierarchical::PatchFunction(h, k, a);
      double* col = out[3] + 3 * (t->gnum + a);
      col[0] = static_cast<double>(g[a] + 1);
      col[1] = f.level;
      col[2] = static_cast<double>(f.index + 1);
    }
    t->gnum += n;
  }
  t->faceDofs = 0;
  for (std::size_t k = 0; k < faces.count / 2; ++k) {
    const int patch = static_cast<int>(faces.v[2 * k]) - 1, side = static_cast<int>(faces.v[2 * k + 1]);
    std::size_t* dofs = buffer;
    const std::size_t n = FaceDofs(h, w, patch, side, dofs, nullptr);
    if (out[4]) {
      for (std::size_t a = 0; a < n; ++a) out[4][t->faceDofs + a] = static_cast<double>(dofs[a] + 1);
    }
    if (out[5]) out[5][k] = static_cast<double>(n);
    t->faceDofs += n;
  }
  t->maxFunctions = 0;
  for (std::size_t e = 0; e < t->elements; ++e) {
    const int n = hierarchical::ElementFunctions(h, w, e, buffer);
    t->maxFunctions = std::max(t->maxFunctions, static_cast<std::size_t>(n));
  }
}

// The marks of a refinement: whole numbers in 1..limit without repeats; 0-based into out.
void ReadMarks(const char* who, const FullArray& marks, std::size_t limit, const char* what,
               std::size_t* out, Held* held, hierarchical::Hierarchy* h, void* also) {
  const auto fail = [&](const char* mnemonic, const char* format, std::size_t k, double v) {
    hierarchical::Release(h);
    Drop(held);
    std::free(also);
    Fail(who, mnemonic, format, k, what, limit, v);
  };
  for (std::size_t k = 0; k < marks.count; ++k) {
    const double v = marks.v[k];
    if (!Whole(v, 1, static_cast<double>(limit))) {
      fail("markOutOfRange", "marked(%zu) must be an active %s's index, a whole number from 1 to %zu; found %g.", k + 1, v);
    }
    out[k] = static_cast<std::size_t>(v) - 1;
  }
  std::sort(out, out + marks.count);
  for (std::size_t k = 1; k < marks.count; ++k) {
    if (out[k] == out[k - 1]) {
      fail("markRepeated", "marked(%zu) repeats an %s: each of the %zu at most once (found %g twice).", k + 1,
           static_cast<double>(out[k] + 1));
    }
  }
}

void RunTables(const char* who, const Header& header, int nlhs, mxArray* plhs[],
               const mxArray* prhs[], const Layout& l) {
  const int d = ReadMesh(who, prhs + 1).mesh.d;
  const FullArray faces = ReadFaces(who, prhs[l.extra], l.npatch, d);
  const FullArray marks = ReadFullArray(who, prhs[l.extra + 1], "marked");
  if (nlhs > 7) Fail(who, "tooManyOutputs", "%d outputs were requested; at most 7.", nlhs);
  Tables t{};
  for (int pass = 0; pass < 2; ++pass) {
    double* out[7] = {};
    Outputs made(nlhs, plhs);
    if (pass == 1) {
      const std::size_t rows[7] = {3, static_cast<std::size_t>(3 + 2 * d), 3, 3, 1, 1, 1};
      const std::size_t cols[7] = {t.refined, t.elements, t.functions, t.gnum, t.faceDofs,
                                   faces.count / 2, static_cast<std::size_t>(4 + l.npatch)};
      for (int o = 0; o < 7; ++o) {
        out[o] = made.Matrix(o, rows[o], cols[o], Outputs::Fill::Caller);
      }
    }
    Held held;
    if (!Hold(who, prhs, l, header.options, &held)) {
      Fail(who, "outOfMemory", "%s could not allocate its scratch.", who);
    }
    hierarchical::Refinement r = RefinementOf(prhs[l.refined]);
    hierarchical::Hierarchy* h = Make(who, &held, r, "refined");
    double* refined = nullptr;  // ours in the first pass, the output in the second
    if (header.mode == 1 || header.mode == 2) {
      const std::size_t limit =
          header.mode == 1 ? hierarchical::Elements(*h) : hierarchical::Functions(*h);
      std::size_t* marked =
          static_cast<std::size_t*>(std::malloc((marks.count + 1) * sizeof(std::size_t)));
      if (marked == nullptr) {
        hierarchical::Release(h);
        Drop(&held);
        Fail(who, "outOfMemory", "%s could not allocate its scratch.", who);
      }
      ReadMarks(who, marks, limit, header.mode == 1 ? "element" : "function", marked, &held, h,
                marked);
      const bool functions = header.mode == 2;
      const std::size_t n = hierarchical::Refine(*h, marked, marks.count, functions,
                                                 header.admissibility, nullptr);
      double* into = pass == 1 ? out[0] : nullptr;
      if (n != SIZE_MAX && pass == 0) {
        into = static_cast<double*>(std::malloc((3 * n + 1) * sizeof(double)));
        refined = into;
      }
      if (n == SIZE_MAX || (into == nullptr && n > 0) ||
          (n > 0 && hierarchical::Refine(*h, marked, marks.count, functions,
                                         header.admissibility, into) != n)) {
        std::free(marked);
        std::free(refined);
        hierarchical::Release(h);
        Drop(&held);
        Fail(who, "outOfMemory", "%s could not allocate its scratch.", who);
      }
      std::free(marked);
      hierarchical::Release(h);
      r = {into, n};
      h = Make(who, &held, r, "refined", refined);
    } else if (out[0]) {
      std::memcpy(out[0], r.cells, 3 * r.count * sizeof(double));
    }
    t.refined = r.count;
    // A workspace and room for every element's functions of a face (its functions and the
    // elements' structural rows).
    const mesh::Wanted none{false, false, false};
    const std::size_t rows = static_cast<std::size_t>(hierarchical::MaxFunctions(*h));
    // Room for one element's functions, or every function of a face's elements.
    std::size_t onFaces = 1;
    for (std::size_t k = 0; k < faces.count / 2; ++k) {
      const int patch = static_cast<int>(faces.v[2 * k]) - 1, side = static_cast<int>(faces.v[2 * k + 1]);
      onFaces = std::max(onFaces, FaceElements(*h, patch, side));
    }
    const std::size_t bytes = hierarchical::WorkspaceBytes(*h, none) + 64 +
                              (onFaces + 1) * rows * sizeof(std::size_t);
    char* block = static_cast<char*>(std::malloc(bytes));
    if (block == nullptr) {
      hierarchical::Release(h);
      Drop(&held);
      std::free(refined);
      Fail(who, "outOfMemory", "%s could not allocate its scratch.", who);
    }
    hierarchical::Workspace* w = hierarchical::MakeWorkspace(*h, none, Align(block));
    std::size_t* buffer = reinterpret_cast<std::size_t*>(
        static_cast<char*>(Align(block)) + hierarchical::WorkspaceBytes(*h, none));
    FillTables(*h, faces, w, buffer, &t, out);
    if (out[6]) {
      const double counts[4] = {static_cast<double>(t.functions), static_cast<double>(t.elements),
                                static_cast<double>(t.levels),
                                static_cast<double>(t.maxFunctions)};
      for (int k = 0; k < 4; ++k) out[6][k] = counts[k];
      for (int k = 0; k < l.npatch; ++k) {
        out[6][4 + k] = static_cast<double>(hierarchical::PatchFunctions(*h, k));
      }
    }
    std::free(block);
    hierarchical::Release(h);
    Drop(&held);
    std::free(refined);
  }
}

// A field's coefficients as ndof x ncomp: a multiple of the space's functions.
int Components(const char* who, const FullArray& u, std::size_t ndof) {
  if (ndof == 0 || u.count % ndof != 0 || u.count == 0 || u.count / ndof > 1024) {
    Fail(who, "coefsLength",
         "coefs must hold a multiple (1 to 1024) of the space's %zu functions; found %zu values.",
         ndof, u.count);
  }
  return static_cast<int>(u.count / ndof);
}

void RunProlong(const char* who, const Header& header, int nlhs, mxArray* plhs[],
                const mxArray* prhs[], const Layout& l) {
  const FullArray coarse = ReadFullArray(who, prhs[l.extra], "coarse refined");
  if (coarse.count != 0 && coarse.rows != 3) {
    Fail(who, "refinement", "the coarse space's refined must be 3 x N, found %zu x %zu.",
         coarse.rows, coarse.cols);
  }
  const FullArray u = ReadFullArray(who, prhs[l.extra + 1], "coefs");
  if (nlhs > 1) Fail(who, "tooManyOutputs", "%d outputs were requested; one.", nlhs);
  std::size_t ndof = 0;
  int ncomp = 1;
  for (int pass = 0; pass < 2; ++pass) {
    double* out = nullptr;
    Outputs made(nlhs, plhs);
    if (pass == 1) out = made.Matrix(0, ndof, static_cast<std::size_t>(ncomp), Outputs::Fill::Caller);
    Held held;
    if (!Hold(who, prhs, l, header.options, &held)) {
      Fail(who, "outOfMemory", "%s could not allocate its scratch.", who);
    }
    hierarchical::Hierarchy* f = Make(who, &held, RefinementOf(prhs[l.refined]), "refined");
    // The coarse space's faults, reported once the fine one is released.
    hierarchical::Finding found = hierarchical::Check(held.inputs, held.npatch, held.options,
                                                      RefinementOf(prhs[l.extra]),
                                                      held.interfaces, held.ninterfaces);
    hierarchical::Hierarchy* c = nullptr;
    if (found.fault == hierarchical::Fault::None) {
      c = hierarchical::Build(held.inputs, held.npatch, held.options, RefinementOf(prhs[l.extra]),
                              held.interfaces, held.ninterfaces, &found);
    }
    if (c == nullptr) {
      hierarchical::Release(f);
      Raise(who, found, &held, "the coarse space's refined");
    }
    const bool nested = hierarchical::Nested(*c, *f);
    const std::size_t nc = hierarchical::Functions(*c);
    ndof = hierarchical::Functions(*f);
    if (!nested || u.count == 0 || u.count % nc != 0 || u.count / nc > 1024) {
      hierarchical::Release(c);
      hierarchical::Release(f);
      Drop(&held);
      if (!nested) {
        Fail(who, "notNested",
             "the fine space must refine the coarse one: the same patches and options, and every "
             "refined cell of the coarse space refined in the fine one.");
      }
      Components(who, u, nc);
    }
    ncomp = static_cast<int>(u.count / nc);
    if (pass == 1) {
      const mesh::Wanted none{false, false, false};
      const std::size_t bc = hierarchical::WorkspaceBytes(*c, none) + 64;
      const std::size_t bf = hierarchical::WorkspaceBytes(*f, none) + 64;
      char* block = static_cast<char*>(std::malloc(bc + bf));
      bool ok = block != nullptr;
      if (ok) {
        hierarchical::Workspace* wc = hierarchical::MakeWorkspace(*c, none, Align(block));
        hierarchical::Workspace* wf = hierarchical::MakeWorkspace(*f, none, Align(block + bc));
        ok = hierarchical::Prolong(*c, *f, wc, wf, u.v, ncomp, out);
      }
      std::free(block);
      if (!ok) {
        hierarchical::Release(c);
        hierarchical::Release(f);
        Drop(&held);
        Fail(who, "outOfMemory", "%s could not allocate its scratch.", who);
      }
    }
    hierarchical::Release(c);
    hierarchical::Release(f);
    Drop(&held);
  }
}

// The chosen elements (1-based, whole, in range), or every one for a lone 0; into out 0-based
// where out is not nullptr. SIZE_MAX where one is out of range (BadElement raises it).
std::size_t ReadElements(const FullArray& e, std::size_t nel, std::size_t* out) {
  if (e.count == 1 && e.v[0] == 0.0) {
    for (std::size_t k = 0; k < nel && out; ++k) out[k] = k;
    return nel;
  }
  for (std::size_t k = 0; k < e.count; ++k) {
    if (!Whole(e.v[k], 1, static_cast<double>(nel))) return SIZE_MAX;
    if (out) out[k] = static_cast<std::size_t>(e.v[k]) - 1;
  }
  return e.count;
}

[[noreturn]] void BadElement(const char* who, const FullArray& e, std::size_t nel) {
  std::size_t k = 0;
  while (k + 1 < e.count && Whole(e.v[k], 1, static_cast<double>(nel))) ++k;
  Fail(who, "elementOutOfRange",
       "elements(%zu) must be an element of the space from 1 to %zu, found %g.", k + 1, nel,
       e.count > 0 ? e.v[k] : 0.0);
}

void RunCoefficients(const char* who, const Header& header, int nlhs, mxArray* plhs[],
                     const mxArray* prhs[], const Layout& l) {
  const FullArray elements = ReadFullArray(who, prhs[l.extra], "elements");
  const FullArray u = ReadFullArray(who, prhs[l.extra + 1], "coefs");
  if (nlhs > 2) Fail(who, "tooManyOutputs", "%d outputs were requested; at most 2.", nlhs);
  std::size_t nsel = 0, nloc = 0;
  int ncomp = 1;
  for (int pass = 0; pass < 2; ++pass) {
    double* out[2] = {};
    Outputs made(nlhs, plhs);
    if (pass == 1) {
      out[0] = made.Matrix(0, nloc * static_cast<std::size_t>(ncomp), nsel, Outputs::Fill::Caller);
      out[1] = made.Matrix(1, nloc, nsel, Outputs::Fill::Caller);
    }
    Held held;
    if (!Hold(who, prhs, l, header.options, &held)) {
      Fail(who, "outOfMemory", "%s could not allocate its scratch.", who);
    }
    hierarchical::Hierarchy* h = Make(who, &held, RefinementOf(prhs[l.refined]), "refined");
    const std::size_t nel = hierarchical::Elements(*h), ndof = hierarchical::Functions(*h);
    nloc = 0;
    for (int k = 0; k < hierarchical::Patches(*h); ++k) {
      nloc = std::max(nloc, static_cast<std::size_t>(hierarchical::LocalFunctions(*h, k)));
    }
    const bool badLength = u.count == 0 || u.count % ndof != 0 || u.count / ndof > 1024;
    const bool badElement = ReadElements(elements, nel, nullptr) == SIZE_MAX;
    if (badElement || badLength) {
      hierarchical::Release(h);
      Drop(&held);
      if (badElement) BadElement(who, elements, nel);
      Components(who, u, ndof);
    }
    nsel = ReadElements(elements, nel, nullptr);
    ncomp = static_cast<int>(u.count / ndof);
    if (pass == 1) {
      const mesh::Wanted none{false, false, false};
      const std::size_t bytes = hierarchical::WorkspaceBytes(*h, none) + 64;
      char* block = static_cast<char*>(std::malloc(bytes + (nsel + 1) * sizeof(std::size_t) +
                                                   (static_cast<std::size_t>(ncomp) + 1) * nloc * sizeof(double)));
      if (block == nullptr) {
        hierarchical::Release(h);
        Drop(&held);
        Fail(who, "outOfMemory", "%s could not allocate its scratch.", who);
      }
      hierarchical::Workspace* w = hierarchical::MakeWorkspace(*h, none, Align(block));
      std::size_t* list = reinterpret_cast<std::size_t*>(block + bytes);
      double* v = reinterpret_cast<double*>(list + nsel + 1);
      ReadElements(elements, nel, list);
      for (std::size_t k = 0; k < nsel; ++k) {
        const int n = hierarchical::LocalFunctions(*h, hierarchical::ElementCell(*h, list[k]).patch);
        hierarchical::ElementCoefficients(*h, w, list[k], u.v, ncomp, v, v + static_cast<std::size_t>(ncomp) * n);
        double* o = out[0] ? out[0] + k * nloc * static_cast<std::size_t>(ncomp) : nullptr;
        for (int c = 0; c < ncomp && o; ++c) {
          for (std::size_t j = 0; j < nloc; ++j) {
            o[j + nloc * static_cast<std::size_t>(c)] =
                j < static_cast<std::size_t>(n) ? v[j + static_cast<std::size_t>(n) * c] : 0.0;
          }
        }
        if (out[1]) {
          for (std::size_t j = 0; j < nloc; ++j) {
            out[1][j + nloc * k] = j < static_cast<std::size_t>(n) ? v[static_cast<std::size_t>(ncomp) * n + j] : 0.0;
          }
        }
      }
      std::free(block);
    }
    hierarchical::Release(h);
    Drop(&held);
  }
}

// A field's values and parametric derivatives at points of one patch: A the points (d x P), B
// the coefficients; out (nder ncomp x P), a point's column [values; first derivatives; second
// derivatives], each derivative's ncomp components together.
void RunPoints(const char* who, const Header& header, int nlhs, mxArray* plhs[],
               const mxArray* prhs[], const Layout& l) {
  const FullArray points = ReadFullArray(who, prhs[l.extra], "points");
  const FullArray u = ReadFullArray(who, prhs[l.extra + 1], "coefs");
  if (nlhs > 1) Fail(who, "tooManyOutputs", "%d outputs were requested; one.", nlhs);
  const int d = ReadMesh(who, prhs + 1 + 15 * header.patch).mesh.d;
  if (points.count != 0 && points.rows != static_cast<std::size_t>(d)) {
    Fail(who, "pointsShape", "points must be %d x P, one point a column; found %zu rows.", d,
         points.rows);
  }
  const std::size_t P = points.count / static_cast<std::size_t>(d);
  const int nder = 1 + d + (header.second ? d * (d + 1) / 2 : 0);
  int ncomp = 1;
  for (int pass = 0; pass < 2; ++pass) {
    double* out = nullptr;
    Outputs made(nlhs, plhs);
    if (pass == 1) {
      out = made.Matrix(0, static_cast<std::size_t>(nder * ncomp), P, Outputs::Fill::Caller);
    }
    Held held;
    if (!Hold(who, prhs, l, header.options, &held)) {
      Fail(who, "outOfMemory", "%s could not allocate its scratch.", who);
    }
    hierarchical::Hierarchy* h = Make(who, &held, RefinementOf(prhs[l.refined]), "refined");
    const std::size_t ndof = hierarchical::Functions(*h);
    if (u.count == 0 || u.count % ndof != 0 || u.count / ndof > 64) {
      hierarchical::Release(h);
      Drop(&held);
      Fail(who, "coefsLength",
           "coefs must hold a multiple (1 to 64) of the space's %zu functions; found %zu values.",
           ndof, u.count);
    }
    ncomp = static_cast<int>(u.count / ndof);
    if (pass == 1) {
      const mesh::Wanted none{false, false, false};
      const std::size_t bytes = hierarchical::WorkspaceBytes(*h, none) + 64;
      const std::size_t nloc = static_cast<std::size_t>(hierarchical::LocalFunctions(*h, header.patch));
      char* block = static_cast<char*>(
          std::malloc(bytes + (static_cast<std::size_t>(ncomp) + 1) * nloc * sizeof(double)));
      if (block == nullptr) {
        hierarchical::Release(h);
        Drop(&held);
        Fail(who, "outOfMemory", "%s could not allocate its scratch.", who);
      }
      hierarchical::Workspace* w = hierarchical::MakeWorkspace(*h, none, Align(block));
      double* v = reinterpret_cast<double*>(block + bytes);
      double* wl = v + static_cast<std::size_t>(ncomp) * nloc;
      std::size_t last = SIZE_MAX;
      for (std::size_t j = 0; j < P; ++j) {
        if ((j & 4095) == 0 && evaluators::Stopping()) break;
        const double* xi = points.v + static_cast<std::size_t>(d) * j;
        double* o = out + static_cast<std::size_t>(nder * ncomp) * j;
        const std::size_t e = hierarchical::ElementAt(*h, header.patch, xi);
        if (e == SIZE_MAX) {
          for (int k = 0; k < nder * ncomp; ++k) o[k] = NAN;
          continue;
        }
        if (e != last) {
          hierarchical::ElementCoefficients(*h, w, e, u.v, ncomp, v, wl);
          last = e;
        }
        hierarchical::PointField(*h, e, xi, v, wl, ncomp, header.second, o);
      }
      std::free(block);
    }
    hierarchical::Release(h);
    Drop(&held);
  }
}

// ----- The forms and MeshEval over a hierarchical space ------------------------------------

// One evaluated element: the space's element, its patch, level and side (0: the element).
struct Item {
  std::size_t element;
  int patch, level, side;
};

// The evaluated elements: faces' (each face's patch's elements on that side, level by level),
// or the chosen ones in their order. out nullptr: counted.
std::size_t Items(const hierarchical::Hierarchy& h, const FullArray& faces,
                  const std::size_t* chosen, std::size_t nchosen, Item* out) {
  std::size_t n = 0;
  if (faces.count > 0) {
    for (std::size_t f = 0; f < faces.count / 2; ++f) {
      const int patch = static_cast<int>(faces.v[2 * f]) - 1;
      const int side = static_cast<int>(faces.v[2 * f + 1]);
      const int fixed = (side - 1) / 2;
      for (std::size_t e = 0; e < hierarchical::Elements(h); ++e) {
        const hierarchical::Cell c = hierarchical::ElementCell(h, e);
        if (c.patch != patch) continue;
        const int nel = hierarchical::LevelCells(h, c.patch, c.level, fixed);
        if (c.e[fixed] != (side % 2 == 0 ? nel - 1 : 0)) continue;
        if (out) out[n] = {e, c.patch, c.level, side};
        ++n;
      }
    }
    return n;
  }
  for (std::size_t k = 0; k < nchosen; ++k) {
    if (out) {
      const hierarchical::Cell c = hierarchical::ElementCell(h, chosen[k]);
      out[k] = {chosen[k], c.patch, c.level, 0};
    }
    ++n;
  }
  return n;
}

// A run of items of one patch, level and side: its mesh (the level's, with the side and the
// run's count) and the hook the forms call.
struct Run {
  mesh::Mesh mesh;
  std::size_t first, count;
  forms::ElementRows rows;
};

struct Hook {
  const hierarchical::Hierarchy* h;
  hierarchical::Workspace* const* workspace;  // one a thread
  const Item* items;
  const Run* runs;
  const std::size_t* lo;  // each item's smallest and largest function
  const std::size_t* hi;
};

struct RunHook {
  const Hook* hook;
  std::size_t run;
};

bool Touches(const void* context, std::size_t k, std::size_t lo, std::size_t hi) {
  const RunHook* r = static_cast<const RunHook*>(context);
  const std::size_t at = r->hook->runs[r->run].first + k;
  return r->hook->lo[at] < hi && r->hook->hi[at] >= lo;
}

int Evaluate(const void* context, int thread, std::size_t k, const mesh::Fields& out) {
  const RunHook* r = static_cast<const RunHook*>(context);
  const Run& run = r->hook->runs[r->run];
  const Item& item = r->hook->items[run.first + k];
  return hierarchical::EvaluateElement(*r->hook->h, r->hook->workspace[thread], item.element,
                                       item.side, out);
}

// Runs of consecutive items alike; out nullptr: counted.
std::size_t Runs(const hierarchical::Hierarchy& h, const Item* items, std::size_t n, Run* out) {
  std::size_t runs = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const Item& i = items[k];
    const bool fresh = k == 0 || i.patch != items[k - 1].patch || i.level != items[k - 1].level ||
                       i.side != items[k - 1].side;
    if (fresh) {
      if (out) {
        Run& r = out[runs];
        r.mesh = hierarchical::PatchMesh(h, i.patch);
        r.mesh.side = i.side;
        r.first = k;
        r.count = 0;
      }
      ++runs;
    }
    if (out) {
      Run& r = out[runs - 1];
      ++r.count;
      r.mesh.count = r.count;
    }
  }
  return runs;
}

// A block of parts carved in order, each rounded to 64 bytes.
struct Carver {
  std::size_t at = 0;
  char* base = nullptr;
  std::size_t Take(std::size_t bytes) {
    const std::size_t here = at;
    at += (bytes + 63) / 64 * 64;
    return here;
  }
  template <typename T>
  T* At(std::size_t offset) const {
    return reinterpret_cast<T*>(base + offset);
  }
};

}  // namespace

void RunHierarchicalForm(const MeshCall& call, int nlhs, mxArray* plhs[], int,
                         const mxArray* prhs[]) {
  using namespace formcall;
  const char* who = call.name;
  const Header header = ReadHeader(who, prhs[0], 4);
  const Layout l = LayoutOf(prhs);
  CheckInputs(who, prhs, l);
  const MeshRequest first = ReadMesh(who, prhs + 1);
  const int d = first.mesh.d, rdim = first.mesh.rdim;
  const FullArray faces = ReadFaces(who, prhs[l.extra], l.npatch, d);
  const FullArray chosen = ReadFullArray(who, prhs[l.extra + 1], "elements");
  forms::Form form{};
  form.kind = KindOf(call.kind);
  const Names coefficients = Split(call.inputs);
  form.coefficients = coefficients.count;
  if (faces.count > 0 && form.kind != forms::Kind::Mass && form.kind != forms::Kind::Load) {
    Fail(who, "sideOutOfRange",
         "faces must be empty: a face's form is a mass matrix or a load vector.");
  }
  const mesh::Wanted need = forms::Needs(form.kind);
  const bool vector = forms::IsVector(form.kind);

  // The first pass: sizes only.
  std::size_t ndof = 0, nodes = 0, nqn = 0, nnz = 0, nitems = 0, entries = 0;
  int functions = 0;
  double work = 0.0;
  {
    Held held;
    if (!Hold(who, prhs, l, header.options, &held)) {
      Fail(who, "outOfMemory", "%s could not allocate its scratch.", call.core);
    }
    for (int k = 0; k < held.npatch; ++k) held.rq[k].mesh.wanted = need;
    hierarchical::Hierarchy* h = Make(who, &held, RefinementOf(prhs[l.refined]), "refined");
    ndof = hierarchical::Functions(*h);
    const std::size_t nel = hierarchical::Elements(*h);
    const std::size_t nchosen = faces.count > 0 ? 0 : ReadElements(chosen, nel, nullptr);
    if (nchosen == SIZE_MAX) {
      hierarchical::Release(h);
      Drop(&held);
      BadElement(who, chosen, nel);
    }
    const mesh::Wanted none{false, false, false};
    const std::size_t rows = static_cast<std::size_t>(hierarchical::MaxFunctions(*h));
    Carver c;
    const std::size_t oWork = c.Take(hierarchical::WorkspaceBytes(*h, none) + 64);
    const std::size_t oChosen = c.Take((nchosen + 1) * sizeof(std::size_t));
    nitems = faces.count > 0 ? Items(*h, faces, nullptr, 0, nullptr) : nchosen;
    const std::size_t oItems = c.Take((nitems + 1) * sizeof(Item));
    const std::size_t oStart = c.Take((nitems + 1) * sizeof(std::size_t));
    char* raw = static_cast<char*>(std::malloc(c.at + 64));
    // The items' functions, in a buffer that grows: their count is what this pass finds.
    std::size_t room = std::min<std::size_t>(rows, 32) * nitems + rows;
    std::size_t* all = static_cast<std::size_t*>(std::malloc(room * sizeof(std::size_t)));
    if (raw == nullptr || all == nullptr) {
      std::free(raw);
      std::free(all);
      hierarchical::Release(h);
      Drop(&held);
      Fail(who, "outOfMemory", "%s could not allocate its scratch.", call.core);
    }
    c.base = static_cast<char*>(Align(raw));
    hierarchical::Workspace* w = hierarchical::MakeWorkspace(*h, none, c.base + oWork);
    std::size_t* list = c.At<std::size_t>(oChosen);
    ReadElements(chosen, nel, faces.count > 0 ? nullptr : list);
    Item* items = c.At<Item>(oItems);
    Items(*h, faces, list, nchosen, items);
    std::size_t* start = c.At<std::size_t>(oStart);
    start[0] = 0;
    bool same = true;
    for (std::size_t k = 0; k < nitems; ++k) {
      if (start[k] + rows > room) {
        std::size_t* grown =
            static_cast<std::size_t*>(std::realloc(all, 2 * room * sizeof(std::size_t)));
        if (grown == nullptr) {
          std::free(raw);
          std::free(all);
          hierarchical::Release(h);
          Drop(&held);
          Fail(who, "outOfMemory", "%s could not allocate its scratch.", call.core);
        }
        all = grown;
        room *= 2;
      }
      const int n = hierarchical::ElementFunctions(*h, w, items[k].element, all + start[k]);
      start[k + 1] = start[k] + static_cast<std::size_t>(n);
      functions = std::max(functions, n);
      mesh::Mesh m = hierarchical::PatchMesh(*h, items[k].patch);
      m.side = items[k].side;
      const std::size_t q = static_cast<std::size_t>(mesh::Nodes(m));
      nodes += q;
      same = same && (k == 0 || q == nqn);
      nqn = q;
      work += forms::ElementPathCost(form, m) * 1.3;
    }
    if (!same) nqn = 0;
    if (!vector) {
      void* scratch = std::malloc(forms::ListPatternBytes(ndof, nitems, start) + 64);
      if (scratch == nullptr) {
        std::free(raw);
        std::free(all);
        hierarchical::Release(h);
        Drop(&held);
        Fail(who, "outOfMemory", "%s could not allocate its scratch.", call.core);
      }
      nnz = forms::ListPatternCount(ndof, nitems, start, all, Align(scratch));
      std::free(scratch);
    }
    entries = start[nitems];
    std::free(all);
    std::free(raw);
    hierarchical::Release(h);
    Drop(&held);
  }
  for (int k = 0; k < coefficients.count; ++k) {
    form.c[k] = ReadCoefficient(who, coefficients.name[k], prhs[l.extra + 2 + k], form.kind,
                                rdim, nqn, nodes);
  }
  const int C = form.kind == forms::Kind::Elasticity ? rdim
                : form.kind == forms::Kind::Load     ? form.c[0].components
                                                     : 1;
  const std::size_t n = ndof * static_cast<std::size_t>(C);
  const std::size_t bound = vector ? 0 : nnz * static_cast<std::size_t>(C) * static_cast<std::size_t>(C);
  CheckResultSize(who, vector, n, bound);

  // The output first: the host may end the call while making it, and nothing of ours is live.
  Outputs made(nlhs, plhs);
  const Result out = MakeResult(&made, plhs, vector, n, bound);

  Held held;
  if (!Hold(who, prhs, l, header.options, &held)) {
    Fail(who, "outOfMemory", "%s could not allocate its scratch.", call.core);
  }
  for (int k = 0; k < held.npatch; ++k) held.rq[k].mesh.wanted = need;
  hierarchical::Hierarchy* h = Make(who, &held, RefinementOf(prhs[l.refined]), "refined");
  const std::size_t nel = hierarchical::Elements(*h);
  const std::size_t nchosen = faces.count > 0 ? 0 : ReadElements(chosen, nel, nullptr);
  const std::size_t rows = static_cast<std::size_t>(hierarchical::MaxFunctions(*h));
  const int want = evaluators::ThreadsFor(work);
  const std::size_t nruns_bound = nitems + 1;
  std::size_t extraBytes = 0;
  for (int k = 0; k < held.npatch; ++k) {
    mesh::Mesh m = hierarchical::PatchMesh(*h, k);
    extraBytes = std::max(extraBytes, forms::ElementBytes(form, m, functions));
  }
  const std::size_t workBytes = hierarchical::WorkspaceBytes(*h, need) + 64;
  Carver c;
  const std::size_t oChosen = c.Take((nchosen + 1) * sizeof(std::size_t));
  const std::size_t oItems = c.Take((nitems + 1) * sizeof(Item));
  const std::size_t oStart = c.Take((nitems + 1) * sizeof(std::size_t));
  // Every item's functions: as many as the first pass found (the same hierarchy), and room for
  // the last item's whole count.
  const std::size_t oRows = c.Take((entries + rows + 1) * sizeof(std::size_t));
  const std::size_t oLo = c.Take((nitems + 1) * sizeof(std::size_t));
  const std::size_t oHi = c.Take((nitems + 1) * sizeof(std::size_t));
  const std::size_t oRuns = c.Take(nruns_bound * sizeof(Run));
  const std::size_t oRunHooks = c.Take(nruns_bound * sizeof(RunHook));
  const std::size_t oPieces = c.Take(nruns_bound * sizeof(forms::Piece));
  const std::size_t oPointers = c.Take(3 * 64 * sizeof(void*));
  const std::size_t oThreads = c.Take(static_cast<std::size_t>(want) * (workBytes + extraBytes + 128));
  char* raw = static_cast<char*>(std::malloc(c.at + 64));
  if (raw == nullptr) {
    hierarchical::Release(h);
    Drop(&held);
    Fail(who, "outOfMemory", "%s could not allocate its scratch.", call.core);
  }
  c.base = static_cast<char*>(Align(raw));
  std::size_t* list = c.At<std::size_t>(oChosen);
  ReadElements(chosen, nel, faces.count > 0 ? nullptr : list);
  Item* items = c.At<Item>(oItems);
  Items(*h, faces, list, nchosen, items);
  void** pointers = c.At<void*>(oPointers);
  hierarchical::Workspace** workspace = reinterpret_cast<hierarchical::Workspace**>(pointers);
  void** extra = pointers + 64;
  mesh::Scratch** scratch = reinterpret_cast<mesh::Scratch**>(pointers + 128);
  for (int t = 0; t < want; ++t) {
    char* at = c.At<char>(oThreads) + static_cast<std::size_t>(t) * (workBytes + extraBytes + 128);
    workspace[t] = hierarchical::MakeWorkspace(*h, need, Align(at));
    extra[t] = Align(at + workBytes + 64);
    scratch[t] = nullptr;
  }
  std::size_t* start = c.At<std::size_t>(oStart);
  std::size_t* all = c.At<std::size_t>(oRows);
  std::size_t* lo = c.At<std::size_t>(oLo);
  std::size_t* hi = c.At<std::size_t>(oHi);
  start[0] = 0;
  for (std::size_t k = 0; k < nitems; ++k) {
    const int m = hierarchical::ElementFunctions(*h, workspace[0], items[k].element, all + start[k]);
    start[k + 1] = start[k] + static_cast<std::size_t>(m);
    lo[k] = m > 0 ? all[start[k]] : SIZE_MAX;
    hi[k] = m > 0 ? all[start[k] + static_cast<std::size_t>(m) - 1] : 0;
  }
  Run* runs = c.At<Run>(oRuns);
  const std::size_t nruns = Runs(*h, items, nitems, runs);
  Hook hook{h, workspace, items, runs, lo, hi};
  RunHook* runHooks = c.At<RunHook>(oRunHooks);
  forms::Piece* pieces = c.At<forms::Piece>(oPieces);
  std::size_t before = 0;
  for (std::size_t r = 0; r < nruns; ++r) {
    runHooks[r] = {&hook, r};
    runs[r].rows = {functions, &runHooks[r], Touches, Evaluate};
    forms::Form piece = form;
    for (int k = 0; k < coefficients.count; ++k) {
      if (!piece.c[k].constant) piece.c[k].v += before * static_cast<std::size_t>(piece.c[k].components);
    }
    before += static_cast<std::size_t>(mesh::Nodes(runs[r].mesh)) * runs[r].count;
    new (&pieces[r]) forms::Piece{&runs[r].mesh, piece, nullptr, scratch, extra, &runs[r].rows};
  }
  bool ok = true;
  if (vector) {
    forms::AssembleDomainVector(pieces, static_cast<int>(nruns), ndof, want, out.pr);
  } else {
    void* p = std::malloc(forms::ListPatternBytes(ndof, nitems, start) + 64);
    ok = p != nullptr;
    if (ok) {
      const std::size_t got = forms::ListPattern(C, ndof, nitems, start, all, Align(p), out.jc, out.ir);
      std::free(p);
      std::memset(out.pr, 0, got * sizeof(double));
      forms::AssembleDomain(pieces, static_cast<int>(nruns), ndof, want,
                            static_cast<const mwIndex*>(out.jc), static_cast<const mwIndex*>(out.ir),
                            out.pr);
      forms::DropZeros(n, out.jc, out.ir, out.pr);
    }
  }
  std::free(raw);
  hierarchical::Release(h);
  Drop(&held);
  if (!ok) Fail(who, "outOfMemory", "%s could not allocate its scratch.", call.core);
}

namespace {

struct MeshShare {
  const hierarchical::Hierarchy* h;
  hierarchical::Workspace* const* workspace;
  const Item* items;
  const Run* runs;
  const std::size_t* runOf;  // each item's run
  mesh::Fields base;
  std::size_t nqn, nsh, d, r;
};

void RunMeshShare(void* context, int t, std::size_t begin, std::size_t end) {
  const MeshShare* s = static_cast<const MeshShare*>(context);
  for (std::size_t k = begin; k < end; ++k) {
    if (evaluators::Stopping()) return;
    const auto at = [k](double* p, std::size_t length) { return p ? p + k * length : nullptr; };
    mesh::Fields f;
    f.nodes = at(s->base.nodes, s->d * s->nqn);
    f.weights = at(s->base.weights, s->nqn);
    f.x = at(s->base.x, s->r * s->nqn);
    f.jacobian = at(s->base.jacobian, s->r * s->d * s->nqn);
    f.jacdet = at(s->base.jacdet, s->nqn);
    f.normal = at(s->base.normal, s->r * s->nqn);
    f.size = at(s->base.size, 1);
    f.connectivity = at(s->base.connectivity, s->nsh);
    f.R = at(s->base.R, s->nqn * s->nsh);
    f.gradient = at(s->base.gradient, s->r * s->nqn * s->nsh);
    f.hessian = at(s->base.hessian, s->r * s->r * s->nqn * s->nsh);
    f.laplacian = at(s->base.laplacian, s->nqn * s->nsh);
    const Item& item = s->items[k];
    hierarchical::EvaluateElement(*s->h, s->workspace[t], item.element, item.side, f);
  }
}

}  // namespace

void RunHierarchicalMeshEval(int nlhs, mxArray* plhs[], int, const mxArray* prhs[]) {
  using namespace mesh_output;
  const char* who = "MeshEval";
  if (nlhs > kOutputs) {
    Fail(who, "tooManyOutputs", "%d outputs were requested; MeshEvalCore has at most %d.", nlhs,
         static_cast<int>(kOutputs));
  }
  const Header header = ReadHeader(who, prhs[0], 4);
  const Layout l = LayoutOf(prhs);
  CheckInputs(who, prhs, l);
  const MeshRequest first = ReadMesh(who, prhs + 1);
  const int d = first.mesh.d;
  const FullArray faces = ReadFaces(who, prhs[l.extra], l.npatch, d);
  if (faces.count > 2) Fail(who, "optionValue", "MeshEval takes one face at a time, found %zu.", faces.count / 2);
  const FullArray chosen = ReadFullArray(who, prhs[l.extra + 1], "elements");
  const int side = faces.count > 0 ? static_cast<int>(faces.v[1]) : 0;

  std::size_t nitems = 0, nqn = 0, nsh = 0, ndof = 0, dofs = 0;
  int r = first.mesh.rdim;
  bool normal = false;
  for (int pass = 0; pass < 2; ++pass) {
    double* out[kOutputs] = {};
    Outputs made(nlhs, plhs);
    if (pass == 1) {
      const std::size_t dd = side ? static_cast<std::size_t>(d) : static_cast<std::size_t>(d);
      const std::size_t ru = static_cast<std::size_t>(r);
      std::size_t rows[kOutputs] = {dd * nqn,  nqn, ru * nqn, ru * static_cast<std::size_t>(d) * nqn,
                                    nqn,       1,   normal ? ru * nqn : 0, nsh, nqn * nsh,
                                    first.mesh.wanted.gradient ? ru * nqn * nsh : 0,
                                    first.mesh.wanted.hessian ? ru * ru * nqn * nsh : 0,
                                    first.mesh.wanted.laplacian ? nqn * nsh : 0,
                                    side ? std::size_t{1} : 0, 0, 1};
      const std::size_t most = MaxOutputElements();
      for (int o = 0; o < kOutputs; ++o) {
        const std::size_t cols = o == kDofs ? dofs : o == kCounts ? 5 : nitems;
        if (rows[o] > static_cast<std::size_t>(INT_MAX) ||
            (cols != 0 && rows[o] > most / cols)) {
          Fail(who, "tooManyPoints",
               "an output would have %zu x %zu elements, more than this host holds; evaluate "
               "fewer elements a call.",
               rows[o], cols);
        }
      }
      for (int o = 0; o < kOutputs; ++o) {
        const std::size_t cols = o == kDofs ? dofs : o == kCounts ? 5 : rows[o] ? nitems : 0;
        const bool zeros = o == kConnectivity || o == kShapeFunctions || o == kGradients ||
                           o == kHessians || o == kLaplacians;
        out[o] = made.Matrix(o, rows[o], cols, zeros ? Outputs::Fill::Zeros : Outputs::Fill::Caller);
        if (rows[o] * cols == 0) out[o] = nullptr;
      }
      if (out[kCounts]) {
        const double counts[5] = {static_cast<double>(side ? d - 1 : d), static_cast<double>(r),
                                  static_cast<double>(nqn), static_cast<double>(nsh),
                                  static_cast<double>(ndof)};
        for (int k = 0; k < 5; ++k) out[kCounts][k] = counts[k];
      }
    }
    Held held;
    if (!Hold(who, prhs, l, header.options, &held)) {
      Fail(who, "outOfMemory", "MeshEval could not allocate its scratch.");
    }
    hierarchical::Hierarchy* h = Make(who, &held, RefinementOf(prhs[l.refined]), "refined");
    ndof = hierarchical::Functions(*h);
    const std::size_t nel = hierarchical::Elements(*h);
    const std::size_t nchosen = faces.count > 0 ? 0 : ReadElements(chosen, nel, nullptr);
    if (nchosen == SIZE_MAX) {
      hierarchical::Release(h);
      Drop(&held);
      BadElement(who, chosen, nel);
    }
    nitems = faces.count > 0 ? Items(*h, faces, nullptr, 0, nullptr) : nchosen;
    const std::size_t rows = static_cast<std::size_t>(hierarchical::MaxFunctions(*h));
    const mesh::Wanted wanted = first.mesh.wanted;
    const int threads = pass == 0 ? 1 : std::max(1, evaluators::ThreadsFor(
                                                        static_cast<double>(nitems) * 2000.0));
    const std::size_t workBytes = hierarchical::WorkspaceBytes(*h, wanted) + 64;
    Carver c;
    const std::size_t oChosen = c.Take((nchosen + 1) * sizeof(std::size_t));
    const std::size_t oItems = c.Take((nitems + 1) * sizeof(Item));
    const std::size_t oRunOf = c.Take((nitems + 1) * sizeof(std::size_t));
    const std::size_t oRuns = c.Take((nitems + 1) * sizeof(Run));
    // A face's functions of every item (then sorted and made unique), or one item's at a time.
    const std::size_t oRows = c.Take(((side ? nitems : 0) * rows + rows + 1) * sizeof(std::size_t));
    const std::size_t oWork = c.Take(static_cast<std::size_t>(threads) * workBytes + 64 * sizeof(void*));
    char* raw = static_cast<char*>(std::malloc(c.at + 64));
    if (raw == nullptr) {
      hierarchical::Release(h);
      Drop(&held);
      Fail(who, "outOfMemory", "MeshEval could not allocate its scratch.");
    }
    c.base = static_cast<char*>(Align(raw));
    std::size_t* list = c.At<std::size_t>(oChosen);
    ReadElements(chosen, nel, faces.count > 0 ? nullptr : list);
    Item* items = c.At<Item>(oItems);
    Items(*h, faces, list, nchosen, items);
    Run* runs = c.At<Run>(oRuns);
    const std::size_t nruns = Runs(*h, items, nitems, runs);
    std::size_t* runOf = c.At<std::size_t>(oRunOf);
    for (std::size_t k = 0; k < nruns; ++k) {
      for (std::size_t i = 0; i < runs[k].count; ++i) runOf[runs[k].first + i] = k;
    }
    hierarchical::Workspace** workspace = c.At<hierarchical::Workspace*>(oWork);
    for (int t = 0; t < threads; ++t) {
      workspace[t] = hierarchical::MakeWorkspace(
          *h, wanted, Align(c.At<char>(oWork) + 64 * sizeof(void*) + static_cast<std::size_t>(t) * workBytes));
    }
    std::size_t* all = c.At<std::size_t>(oRows);
    bool same = true;
    nsh = 0;
    dofs = 0;
    std::size_t at = 0;
    for (std::size_t k = 0; k < nitems; ++k) {
      const std::size_t q = static_cast<std::size_t>(mesh::Nodes(runs[runOf[k]].mesh));
      same = same && (k == 0 || q == nqn);
      nqn = q;
      const int m = side ? hierarchical::SideFunctions(*h, workspace[0], items[k].element, side, all + at)
                         : hierarchical::ElementFunctions(*h, workspace[0], items[k].element, all);
      if (side) at += static_cast<std::size_t>(m);
      nsh = std::max(nsh, static_cast<std::size_t>(side ? hierarchical::ElementFunctions(*h, workspace[0], items[k].element, all + at) : m));
    }
    if (nitems == 0) nqn = 0;
    if (side) {
      std::sort(all, all + at);
      dofs = static_cast<std::size_t>(std::unique(all, all + at) - all);
      if (out[kDofs]) {
        for (std::size_t k = 0; k < dofs; ++k) out[kDofs][k] = static_cast<double>(all[k] + 1);
      }
    }
    r = first.mesh.rdim;
    normal = side != 0 || (d == 2 && r == 3);
    if (!same) {
      std::free(raw);
      hierarchical::Release(h);
      Drop(&held);
      Fail(who, "dimensions",
           "every evaluated element must have as many nodes: give the patches the same "
           "quadrature, or evaluate one patch at a time.");
    }
    if (pass == 1 && nitems > 0) {
      MeshShare share{};
      share.h = h;
      share.workspace = workspace;
      share.items = items;
      share.runs = runs;
      share.runOf = runOf;
      share.nqn = nqn;
      share.nsh = nsh;
      share.d = static_cast<std::size_t>(d);
      share.r = static_cast<std::size_t>(r);
      share.base = FieldsOfOutputs(out);
      evaluators::Shares(nitems, threads, 256 * 1024, RunMeshShare, &share);
    }
    std::free(raw);
    hierarchical::Release(h);
    Drop(&held);
  }
  if (evaluators::Interrupted()) Interrupt();
}

void RunHierarchicalSpace(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (!IsHierarchicalCall(nrhs, prhs, 2)) {
    mexErrMsgTxt(
        "HierarchicalSpaceCore(header, 15 mesh inputs a patch, refined, interfaces, A, B) with "
        "header [0 subdivision truncated npatch admissibility mode]; see help "
        "HierarchicalSpaceCore");
  }
  const double mode = mxGetPr(prhs[0])[mxGetNumberOfElements(prhs[0]) > 5 ? 5 : 0];
  const char* who = ModeName(Whole(mode, 0, 5) ? static_cast<int>(mode) : 0);
  if (!Whole(mode, 0, 5)) Fail(who, "optionValue", "mode must be 0 to 5, found %g.", mode);
  const Header header = ReadHeader(who, prhs[0], 8);
  const Layout l = LayoutOf(prhs);
  CheckInputs(who, prhs, l);
  switch (header.mode) {
    case 3:
      RunProlong(who, header, nlhs, plhs, prhs, l);
      break;
    case 4:
      RunCoefficients(who, header, nlhs, plhs, prhs, l);
      break;
    case 5:
      RunPoints(who, header, nlhs, plhs, prhs, l);
      break;
    default:
      RunTables(who, header, nlhs, plhs, prhs, l);
  }
  if (evaluators::Interrupted()) Interrupt();
}

}  // namespace gateway
