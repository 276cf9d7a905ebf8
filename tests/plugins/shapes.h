// What the harnesses that drive every plug-in alike need to know of each: its inputs in order
// and what they are, and its outputs.
#ifndef NURBS_TESTS_PLUGINS_SHAPES_H_
#define NURBS_TESTS_PLUGINS_SHAPES_H_

struct Shape {
  const char* name;
  const char* kinds;  // per input: x point, p degree, k knots, w values, s spans, i index
  int outputs;
  bool scalars;  // 1 x 1 outputs, else 1 x nen rows
};

constexpr Shape kShapes[] = {
    {"RatCurveShapeGrad", "xpkw", 2, false},   {"RatCurveShapeHess", "xpkw", 3, false},
    {"RatCurveEval", "xpkww", 2, true},        {"RatCurveEvalD2", "xpkww", 3, true},
    {"RatSingleShape", "ipxkw", 2, true},      {"RatSurfShapeGrad", "xppkkw", 3, false},
    {"RatSurfGradOnly", "xppkkw", 2, false},   {"RatSurfShapeGradAtSpan", "xppkkws", 3, false},
    {"PolySurfShapeGrad", "xppkk", 3, false},  {"RatSurfShapeHess", "xppkkw", 6, false},
    {"RatVolShapeGrad", "xpppkkkw", 4, false}, {"RatVolShapeGradAtSpan", "xpppkkkws", 4, false},
};

#endif  // NURBS_TESTS_PLUGINS_SHAPES_H_
