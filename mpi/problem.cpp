#include "problem.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>

#include "domain.h"
#include "petsc_binary.h"

namespace problem {
namespace {

bool Fail(std::string* id, std::string* message, const char* mnemonic, const char* format, ...) {
  char text[600];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  *id = std::string("SolvePETSc:") + mnemonic;
  *message = text;
  return false;
}

bool Whole(double v, double low, double high) {
  return v >= low && v <= high && v == std::trunc(v);
}

// The file's objects one after another, each a vector.
struct Objects {
  petsc_binary::File file;
  std::uint64_t offset = 0;
  int read = 0;
  bool Next(std::vector<double>* out, const char* what, std::string* id, std::string* message) {
    petsc_binary::Object o{};
    ++read;
    petsc_binary::Status s = petsc_binary::ReadHeader(file, offset, &o);
    if (s.fault == petsc_binary::Fault::None && o.classId != petsc_binary::kVectorClass) {
      return Fail(id, message, "badProblem", "object %d of the problem (%s) must be a vector.",
                  read, what);
    }
    if (s.fault == petsc_binary::Fault::None) {
      out->assign(static_cast<std::size_t>(o.entries), 0.0);
      s = petsc_binary::ReadVector(file, o, out->data());
    }
    if (s.fault != petsc_binary::Fault::None) {
      return Fail(id, message, "badProblem",
                  "object %d of the problem (%s) could not be read: fault %d at %lld (%lld).", read,
                  what, static_cast<int>(s.fault), static_cast<long long>(s.at),
                  static_cast<long long>(s.value));
    }
    offset += o.bytes;
    return true;
  }
};

// The shape the mesh reader expects of input k, from a flat vector.
mesh::Input Shape(int k, const std::vector<double>& v) {
  const std::size_t n = v.size();
  mesh::Input in{v.data(), n, 1, n};
  if (k == 0) {  // coefs: 4 x ng
    in.rows = 4;
    in.cols = n / 4;
  } else if (k >= 10 && k <= 12 && n != 1 && n != 0) {  // a rule [nodes; weights]
    in.rows = n % 2 == 0 ? 2 : 0;
    in.cols = n / 2;
  }
  return in;
}

}  // namespace

bool Read(std::FILE* f, Problem* pb, std::string* id, std::string* message) {
  Objects objects;
  objects.file.f = f;
  if (fseeko(f, 0, SEEK_END) != 0)
    return Fail(id, message, "badProblem", "the problem cannot be read.");
  objects.file.size = static_cast<std::uint64_t>(ftello(f));
  std::vector<double> header;
  if (!objects.Next(&header, "the header", id, message)) return false;
  if (header.size() != 4 || header[0] != 1 || !Whole(header[1], 1, 4) ||
      !Whole(header[2], 1, 1 << 20) || !Whole(header[3], 1, 2147483647.0)) {
    return Fail(id, message, "badProblem",
                "the problem's header must be [1, form 1..4, patches, ndof]; found %zu values.",
                header.size());
  }
  pb->form = static_cast<FormKind>(static_cast<int>(header[1]));
  const int npatch = static_cast<int>(header[2]);
  pb->ndof = static_cast<std::size_t>(header[3]);
  const int coefficients =
      pb->form == FormKind::Elasticity || pb->form == FormKind::StiffnessMass ? 2 : 1;
  switch (pb->form) {
    case FormKind::Stiffness:
      pb->parts = 1;
      pb->kinds[0] = forms::Kind::Stiffness;
      break;
    case FormKind::Mass:
      pb->parts = 1;
      pb->kinds[0] = forms::Kind::Mass;
      break;
    case FormKind::Elasticity:
      pb->parts = 1;
      pb->kinds[0] = forms::Kind::Elasticity;
      break;
    default:
      pb->parts = 2;
      pb->kinds[0] = forms::Kind::Stiffness;
      pb->kinds[1] = forms::Kind::Mass;
  }
  pb->patches.clear();
  pb->patches.resize(static_cast<std::size_t>(npatch));
  static const double kEvery = 0;
  for (int p = 0; p < npatch; ++p) {
    Patch& patch = pb->patches[static_cast<std::size_t>(p)];
    char what[64];
    for (int k = 0; k < mesh::kInputs; ++k) {
      std::snprintf(what, sizeof what, "patch %d, mesh input %d", p + 1, k + 1);
      if (!objects.Next(&patch.input[k], what, id, message)) return false;
    }
    mesh::Input in[mesh::kInputs];
    for (int k = 0; k < mesh::kInputs; ++k) in[k] = Shape(k, patch.input[k]);
    in[13] = {&kEvery, 1, 1, 1};
    const std::vector<double>& options = patch.input[14];
    const double flags[5] = {0, 0, 0, 0, options.size() == 5 ? options[4] : -1};
    in[14] = {flags, 5, 1, 5};
    std::size_t controlPoints = 0;
    mesh::Error e;
    if (!mesh::ReadInputs(in, &patch.mesh, &controlPoints, &e)) {
      return Fail(id, message, e.mnemonic, "patch %d: %s", p + 1, e.message);
    }
    mesh::Mesh& m = patch.mesh;
    if (p > 0 && (m.d != pb->patches[0].mesh.d || m.rdim != pb->patches[0].mesh.rdim)) {
      return Fail(id, message, "dimensions",
                  "patch %d: every patch must have the first's parametric and physical "
                  "dimensions.",
                  p + 1);
    }
    patch.weights.resize(controlPoints);
    for (std::size_t a = 0; a < controlPoints; ++a) patch.weights[a] = m.coefs[3 + 4 * a];
    m.geometry.weights = patch.weights.data();
    if (m.isoparametric) m.space.weights = patch.weights.data();
    patch.spans.resize(mesh::SpanInts(m));
    mesh::Spans(&m, patch.spans.data());
    patch.functions = domain::PatchFunctions(m);
    std::snprintf(what, sizeof what, "patch %d, gnum", p + 1);
    if (!objects.Next(&patch.gnum, what, id, message)) return false;
    if (patch.gnum.size() != patch.functions) {
      return Fail(id, message, "numbering",
                  "patch %d: gnum must hold one global index a function, %zu; found %zu.", p + 1,
                  patch.functions, patch.gnum.size());
    }
    for (std::size_t a = 0; a < patch.functions; ++a) {
      if (!Whole(patch.gnum[a], 1, static_cast<double>(pb->ndof))) {
        return Fail(id, message, "numbering",
                    "patch %d: gnum(%zu) must be a global index from 1 to %zu, found %g.", p + 1,
                    a + 1, pb->ndof, patch.gnum[a]);
      }
    }
    const std::size_t nodes = static_cast<std::size_t>(mesh::Nodes(m)) * mesh::MeshElements(m);
    for (int c = 0; c < coefficients; ++c) {
      std::snprintf(what, sizeof what, "patch %d, coefficient %d", p + 1, c + 1);
      if (!objects.Next(&patch.coefficient[c], what, id, message)) return false;
      const std::size_t n = patch.coefficient[c].size();
      if (n != 1 && n != nodes) {
        return Fail(id, message, "coefficientSize",
                    "patch %d: coefficient %d must be one value or one a node of every element, "
                    "%zu; found %zu.",
                    p + 1, c + 1, nodes, n);
      }
    }
  }
  pb->components = pb->form == FormKind::Elasticity ? pb->patches[0].mesh.rdim : 1;
  pb->unknowns = pb->ndof * static_cast<std::size_t>(pb->components);
  return true;
}

forms::Form PartForm(const Problem& pb, int part, const Patch& patch,
                     const std::vector<double>& elements, std::vector<double> values[2]) {
  forms::Form form{};
  form.kind = pb.kinds[part];
  form.method = forms::Method::Auto;
  const int first = pb.form == FormKind::StiffnessMass ? part : 0;
  form.coefficients = pb.form == FormKind::Elasticity ? 2 : 1;
  const std::size_t nqn = static_cast<std::size_t>(mesh::Nodes(patch.mesh));
  for (int c = 0; c < form.coefficients; ++c) {
    const std::vector<double>& all = patch.coefficient[first + c];
    if (all.size() == 1) {
      form.c[c] = {all.data(), 1, true};
      continue;
    }
    values[c].resize(nqn * elements.size());
    for (std::size_t k = 0; k < elements.size(); ++k) {
      const std::size_t e = static_cast<std::size_t>(elements[k]) - 1;
      for (std::size_t q = 0; q < nqn; ++q) values[c][q + nqn * k] = all[q + nqn * e];
    }
    form.c[c] = {values[c].data(), 1, false};
  }
  return form;
}

Partition SplitElements(const Problem& pb, int parts) {
  Partition out;
  std::vector<double> cost;
  std::size_t total = 0;
  for (const Patch& patch : pb.patches) {
    out.patchStart.push_back(total);
    const double f = mesh::Functions(patch.mesh);
    cost.push_back(mesh::Nodes(patch.mesh) * f * f);
    total += mesh::MeshElements(patch.mesh);
  }
  out.patchStart.push_back(total);
  double sum = 0;
  for (std::size_t p = 0; p < pb.patches.size(); ++p) {
    sum += cost[p] * static_cast<double>(out.patchStart[p + 1] - out.patchStart[p]);
  }
  out.first.assign(static_cast<std::size_t>(parts) + 1, 0);
  out.work.assign(static_cast<std::size_t>(parts), 0.0);
  // Shares are contiguous: the owner of the middle of each element's work only grows.
  std::vector<std::size_t> count(static_cast<std::size_t>(parts), 0);
  double end = 0;
  for (std::size_t p = 0; p < pb.patches.size(); ++p) {
    for (std::size_t j = out.patchStart[p]; j < out.patchStart[p + 1]; ++j) {
      end += cost[p];
      std::size_t owner = static_cast<std::size_t>(std::floor((end - cost[p] / 2) / sum * parts));
      if (owner >= static_cast<std::size_t>(parts)) owner = static_cast<std::size_t>(parts) - 1;
      ++count[owner];
      out.work[owner] += cost[p];
    }
  }
  for (int k = 0; k < parts; ++k) out.first[k + 1] = out.first[k] + count[k];
  return out;
}

std::vector<std::size_t> SplitUnknowns(const Problem& pb, const Partition& partition) {
  const std::size_t parts = partition.work.size();
  double total = 0;
  for (double w : partition.work) total += w;
  std::vector<std::size_t> begin(parts + 1, 0);
  double before = 0;
  for (std::size_t k = 1; k < parts; ++k) {
    before += partition.work[k - 1];
    const double at = std::round(static_cast<double>(pb.unknowns) * before / total);
    begin[k] = std::max(begin[k - 1], static_cast<std::size_t>(at));
  }
  begin[parts] = pb.unknowns;
  return begin;
}

std::vector<double> PatchElements(const Partition& partition, const Problem&, int p,
                                  std::size_t from, std::size_t to) {
  const std::size_t a = std::max(from, partition.patchStart[p]);
  const std::size_t b = std::min(to, partition.patchStart[p + 1]);
  std::vector<double> list;
  for (std::size_t j = a; j < b; ++j) {
    list.push_back(static_cast<double>(j - partition.patchStart[p] + 1));
  }
  return list;
}

std::vector<double> TouchingElements(const Problem& pb, int p, std::size_t begin, std::size_t end) {
  const Patch& patch = pb.patches[static_cast<std::size_t>(p)];
  const mesh::Mesh& m = patch.mesh;
  std::vector<double> list;
  const std::size_t nel = mesh::MeshElements(m);
  const int n0 = m.space.axis[0].n, n1 = m.d > 1 ? m.space.axis[1].n : 1;
  for (std::size_t e = 0; e < nel; ++e) {
    int first[3] = {0, 0, 0}, last[3] = {0, 0, 0};
    mesh::ElementBox(m, e, first, last);
    bool touches = false;
    for (int i2 = first[2]; i2 <= last[2] && !touches; ++i2) {
      for (int i1 = first[1]; i1 <= last[1] && !touches; ++i1) {
        for (int i0 = first[0]; i0 <= last[0] && !touches; ++i0) {
          const std::size_t a = static_cast<std::size_t>(i0) +
                                static_cast<std::size_t>(n0) * (static_cast<std::size_t>(i1) +
                                                                static_cast<std::size_t>(n1) * i2);
          const std::size_t g = static_cast<std::size_t>(patch.gnum[a]) - 1;
          for (int k = 0; k < pb.components && !touches; ++k) {
            const std::size_t u = g + pb.ndof * static_cast<std::size_t>(k);
            touches = u >= begin && u < end;
          }
        }
      }
    }
    if (touches) list.push_back(static_cast<double>(e + 1));
  }
  return list;
}

}  // namespace problem
