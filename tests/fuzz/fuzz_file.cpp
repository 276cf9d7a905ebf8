// Fuzzes a core of PETSc's binary files (NURBS_FUZZ_TARGET, linked in) through the stand-in host.
// ReadPETScCore: the input's bytes are a file (most of the time after a valid header, sizes and
// row lengths drawn from the input, so that the checks past the header are reached), read with
// 1 to 3 outputs. WritePETScCore: a small sparse matrix and vector made from the input, written,
// then read back by ReadPETScCore and compared. Every call must return or raise an error with
// the core's identifier; a read of what was written must give it back (less its zeros); no array
// may be left alive. The file is this process's own, in the temporary folder.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

void Expect(const standin::Result& r, const char* who) {
  if (r.failed && r.id.rfind(std::string(who) + ":", 0) != 0 && !r.id.empty()) {
    Fault("raised an identifier of another call:", r.id + " " + r.message);
  }
  if (r.overrun || r.foreign) Fault("wrote outside its slots or stored a foreign array");
}

}  // namespace

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
      const standin::Result r = plugin.Call(static_cast<int>(bytes.size() % 3) + 1, {name.get()});
      Expect(r, "ReadPETSc");
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
      if (w.failed) Fault("a valid write failed:", w.id + " " + w.message);
    }
  }
  std::remove(Path().c_str());
  if (standin::LiveArrays() != live) Fault("left arrays alive");
  return 0;
}
