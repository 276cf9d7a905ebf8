// Fuzzes a core of PETSc's binary files (NURBS_FUZZ_TARGET, linked in) through the stand-in host.
// ReadPETScCore: the input's bytes are a file (most of the time after a valid header, sizes and
// row lengths drawn from the input, so that the checks past the header are reached), read with
// 1 to 3 outputs. WritePETScCore: a small full matrix and vector made from the input, written,
// and the file compared byte for byte with the format's encoding of them, made here (a full
// matrix as the sparse one of its entries that are not 0, row by row; a row or a column as a
// vector). Every call must return or raise an error with the core's identifier; no array may be
// left alive. NURBS_FUZZ_STATS=1 prints how the calls ended. The file is this process's own, in
// the temporary folder.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "standin.h"

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

namespace {

[[noreturn]] void Fault(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "%s: %s %s\n", NURBS_FUZZ_TARGET, what, detail.c_str());
  std::abort();
}

const std::string& Path() {
  static const std::string path = "/tmp/nurbs_fuzz_petsc_" + std::to_string(getpid()) + ".dat";
  return path;
}

standin::Array Name() {
  std::vector<double> codes;
  for (unsigned char c : Path()) codes.push_back(c);
  return standin::Row(codes);
}

void Put32(std::vector<unsigned char>* b, std::int64_t v) {
  const std::uint32_t u = static_cast<std::uint32_t>(v);
  for (int k = 3; k >= 0; --k) b->push_back(static_cast<unsigned char>(u >> (8 * k)));
}

void PutDouble(std::vector<unsigned char>* b, double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  for (int k = 7; k >= 0; --k) b->push_back(static_cast<unsigned char>(u >> (8 * k)));
}

// The file's bytes for a full m x n matrix (column-major) and then a vector.
std::vector<unsigned char> Encoded(std::size_t m, std::size_t n, const std::vector<double>& full,
                                   const std::vector<double>& x) {
  std::vector<unsigned char> b;
  if (m == 1 || n == 1 || m * n == 0) {
    Put32(&b, 1211214);
    Put32(&b, static_cast<std::int64_t>(m * n));
    for (double v : full) PutDouble(&b, v);
  } else {
    std::vector<std::int64_t> lengths(m, 0);
    std::int64_t nnz = 0;
    for (std::size_t i = 0; i < m; ++i) {
      for (std::size_t j = 0; j < n; ++j) lengths[i] += full[i + m * j] != 0.0;
      nnz += lengths[i];
    }
    Put32(&b, 1211216);
    Put32(&b, static_cast<std::int64_t>(m));
    Put32(&b, static_cast<std::int64_t>(n));
    Put32(&b, nnz);
    for (std::int64_t l : lengths) Put32(&b, l);
    for (std::size_t i = 0; i < m; ++i) {
      for (std::size_t j = 0; j < n; ++j) {
        if (full[i + m * j] != 0.0) Put32(&b, static_cast<std::int64_t>(j));
      }
    }
    for (std::size_t i = 0; i < m; ++i) {
      for (std::size_t j = 0; j < n; ++j) {
        if (full[i + m * j] != 0.0) PutDouble(&b, full[i + m * j]);
      }
    }
  }
  Put32(&b, 1211214);
  Put32(&b, static_cast<std::int64_t>(x.size()));
  for (double v : x) PutDouble(&b, v);
  return b;
}

std::vector<unsigned char> Written() {
  std::vector<unsigned char> bytes;
  std::FILE* f = std::fopen(Path().c_str(), "rb");
  if (f == nullptr) Fault("wrote no file", Path());
  unsigned char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  std::fclose(f);
  return bytes;
}

std::map<std::string, long>& Outcomes() {
  static auto* outcomes = new std::map<std::string, long>;
  return *outcomes;
}

void PrintOutcomes() {
  for (const auto& [outcome, count] : Outcomes())
    std::fprintf(stderr, "%8ld %s\n", count, outcome.c_str());
}

void Count(const standin::Result& r) {
  ++Outcomes()[r.failed ? (r.id.empty() ? "usage" : r.id) : "result"];
}

std::int64_t Get32(const std::vector<unsigned char>& b, std::size_t at) {
  std::uint32_t u = 0;
  for (std::size_t k = 0; k < 4; ++k) u = u << 8 | b[at + k];
  return static_cast<std::int32_t>(u);
}

// Whether the first `objects` objects the file declares make outputs of at most 256 MB in all:
// a file of a few bytes may declare a matrix of 2^31 - 1 columns, which every host makes as it
// is told (the reader asks the system first), beyond the fuzzer's allocation limit.
bool SmallOutputs(const std::vector<unsigned char>& b, int objects) {
  constexpr std::uint64_t kBudget = std::uint64_t{256} << 20;
  std::uint64_t at = 0, total = 0;
  for (int k = 0; k < objects && at + 8 <= b.size(); ++k) {
    const std::int64_t id = Get32(b, at), m = Get32(b, at + 4);
    if (m < 0) return true;  // refused before anything is made
    if (id == 1211214) {
      total += 8 * static_cast<std::uint64_t>(m);
      at += 8 + 8 * static_cast<std::uint64_t>(m);
    } else if (id == 1211216 && at + 16 <= b.size()) {
      const std::int64_t n = Get32(b, at + 8), nnz = Get32(b, at + 12);
      if (n < 0 || nnz < 0) return true;
      total += 8 * (static_cast<std::uint64_t>(n) + 1) + 16 * static_cast<std::uint64_t>(nnz);
      at += 16 + 4 * static_cast<std::uint64_t>(m) + 12 * static_cast<std::uint64_t>(nnz);
    } else {
      return true;
    }
    if (total > kBudget) return false;
  }
  return true;
}

void Expect(const standin::Result& r, const char* who) {
  if (r.failed && r.id.rfind(std::string(who) + ":", 0) != 0 && !r.id.empty()) {
    Fault("raised an identifier of another call:", r.id + " " + r.message);
  }
  if (r.overrun || r.foreign) Fault("wrote outside its slots or stored a foreign array");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::getenv("NURBS_FUZZ_STATS") != nullptr) std::atexit(PrintOutcomes);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const standin::Plugin plugin(&mexFunction);
  FuzzedDataProvider in(data, size);
  const long live = standin::LiveArrays();
  const bool reading = std::string(NURBS_FUZZ_TARGET) == "ReadPETScCore";
  {
    const standin::Array name = Name();
    if (reading) {
      std::vector<unsigned char> bytes;
      if (in.ConsumeBool()) {
        // A header that passes, then anything.
        const bool matrix = in.ConsumeBool();
        Put32(&bytes, matrix ? 1211216 : 1211214);
        const int m = in.ConsumeIntegralInRange(0, 6);
        Put32(&bytes, m);
        if (matrix) {
          Put32(&bytes, in.ConsumeIntegralInRange(0, 6));
          Put32(&bytes, in.ConsumeIntegralInRange(0, 12));
          for (int i = 0; i < m; ++i) Put32(&bytes, in.ConsumeIntegralInRange(-1, 4));
        }
      }
      const std::vector<unsigned char> rest = in.ConsumeRemainingBytes<unsigned char>();
      bytes.insert(bytes.end(), rest.begin(), rest.end());
      std::FILE* f = std::fopen(Path().c_str(), "wb");
      if (f == nullptr) Fault("cannot write", Path());
      if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
      const int outputs = static_cast<int>(bytes.size() % 3) + 1;
      if (!SmallOutputs(bytes, outputs)) {
        std::remove(Path().c_str());
        return 0;
      }
      const standin::Result r = plugin.Call(outputs, {name.get()});
      Expect(r, "ReadPETSc");
      Count(r);
    } else {
      const size_t m = in.ConsumeIntegralInRange<size_t>(0, 8),
                   n = in.ConsumeIntegralInRange<size_t>(0, 8);
      std::vector<double> full(m * n, 0.0);
      for (double& v : full) {
        if (in.ConsumeIntegralInRange(0, 2) == 0) v = in.ConsumeFloatingPointInRange(-4.0, 4.0);
      }
      const standin::Array dense = standin::Matrix({m, n}, full);
      std::vector<double> x(in.ConsumeIntegralInRange<size_t>(0, 9));
      for (double& v : x) v = in.ConsumeFloatingPoint<double>();
      const standin::Array vector = standin::Matrix({x.size(), 1}, x);
      const standin::Result w = plugin.Call(0, {name.get(), dense.get(), vector.get()});
      Expect(w, "WritePETSc");
      Count(w);
      if (w.failed) Fault("a valid write failed:", w.id + " " + w.message);
      if (Written() != Encoded(m, n, full, x)) Fault("wrote other bytes than the format's");
    }
  }
  std::remove(Path().c_str());
  if (standin::LiveArrays() != live) Fault("left arrays alive");
  return 0;
}
