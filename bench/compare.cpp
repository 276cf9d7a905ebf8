// Outputs of two builds of the plug-ins compared bit for bit on random valid cases: what a
// change made for speed must not alter.
//   compare_builds TOOLBOX_A TOOLBOX_B [cases per plug-in]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "NURBS.h"
#include "bits.h"
#include "random_case.h"
#include "standin.h"

namespace {

struct Shape {
  const char* name;
  const char* kinds;  // per input: x point, p degree, k knots, w values, s spans, i index
  int outputs;
};

const Shape kShapes[] = {
    {"RatCurveShapeGrad", "xpkw", 2},       {"RatCurveShapeHess", "xpkw", 3},
    {"RatCurveEval", "xpkww", 2},           {"RatCurveEvalD2", "xpkww", 3},
    {"RatSingleShape", "ipxkw", 2},         {"RatSurfShapeGrad", "xppkkw", 3},
    {"RatSurfGradOnly", "xppkkw", 2},       {"RatSurfShapeGradAtSpan", "xppkkws", 3},
    {"PolySurfShapeGrad", "xppkk", 3},      {"RatSurfShapeHess", "xppkkw", 6},
    {"RatVolShapeGrad", "xpppkkkw", 4},     {"RatVolShapeGradAtSpan", "xpppkkkws", 4},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s TOOLBOX_A TOOLBOX_B [cases]\n", argv[0]);
    return 2;
  }
  const int cases = argc > 3 ? std::atoi(argv[3]) : 2000;
  long compared = 0, differing = 0;
  for (const Shape& shape : kShapes) {
    const standin::Plugin a(std::string(argv[1]) + "/" + shape.name + ".mexa64");
    const standin::Plugin b(std::string(argv[2]) + "/" + shape.name + ".mexa64");
    const std::string kinds = shape.kinds;
    int directions = 0;
    for (char k : kinds) directions += k == 'p';
    std::mt19937 rng(12345);
    long values = 0, bad = 0;
    for (int t = 0; t < cases; ++t) {
      const RandomCase c = MakeRandomCase(rng, directions, 5, 3);
      std::vector<standin::Array> args;
      for (int k = 0, p = 0, knots = 0; k < static_cast<int>(kinds.size()); ++k) {
        switch (kinds[k]) {
          case 'x': args.push_back(standin::Row(std::vector<double>(c.x, c.x + directions))); break;
          case 'p': args.push_back(standin::Scalar(c.p[p++])); break;
          case 'k': args.push_back(standin::Row(c.U[knots++])); break;
          case 'w': args.push_back(standin::Row(c.w)); break;
          case 'i': args.push_back(standin::Scalar(1 + static_cast<int>(rng() % c.n[0]))); break;
          case 's': {
            std::vector<double> spans;
            for (int d = 0; d < directions; ++d) {
              const double last = c.U[d].back(), x = c.x[d];
              const double u = std::fabs(x - last) < 2.220446049250313e-14 ? last - 2.220446049250313e-14 : x;
              spans.push_back(FindSpan(c.n[d] - 1, c.p[d], u, c.U[d].data()));
            }
            args.push_back(standin::Row(spans));
            break;
          }
        }
      }
      std::vector<const mxArray*> in;
      for (const standin::Array& arg : args) in.push_back(arg.get());
      const standin::Result ra = a.Call(shape.outputs, in), rb = b.Call(shape.outputs, in);
      if (ra.failed || rb.failed) {
        std::fprintf(stderr, "%s: case %d failed: %s %s\n", shape.name, t, ra.message.c_str(),
                     rb.message.c_str());
        return 1;
      }
      for (int o = 0; o < shape.outputs; ++o) {
        const std::vector<double> va = standin::Values(ra.outputs[o].get());
        const std::vector<double> vb = standin::Values(rb.outputs[o].get());
        values += static_cast<long>(va.size());
        if (Bits(va) != Bits(vb)) ++bad;
      }
    }
    std::printf("%-24s %6d cases, %8ld values, %ld outputs differ\n", shape.name, cases, values, bad);
    compared += values;
    differing += bad;
  }
  std::printf("%ld values compared bit for bit, %ld outputs differ\n", compared, differing);
  return differing == 0 ? 0 : 1;
}
