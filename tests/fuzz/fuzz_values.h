// What the domain and hierarchical fuzzers draw inputs from: special values, and any array at
// all in place of an input.
#ifndef NURBS_TESTS_FUZZ_FUZZ_VALUES_H_
#define NURBS_TESTS_FUZZ_FUZZ_VALUES_H_

#include <fuzzer/FuzzedDataProvider.h>

#include <limits>
#include <vector>

#include "standin.h"

namespace fuzz {

inline double Special(FuzzedDataProvider& in) {
  static const double kValues[] = {0.0,
                                   -0.0,
                                   1.0,
                                   2.0,
                                   0.5,
                                   -1.0,
                                   3.0,
                                   19.0,
                                   65.0,
                                   1e300,
                                   -1e300,
                                   5e-324,
                                   1e-15,
                                   2.5,
                                   std::numeric_limits<double>::quiet_NaN(),
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity()};
  return in.PickValueInArray(kValues);
}

inline standin::Array Anything(FuzzedDataProvider& in) {
  using standin::Class;
  static const Class kClasses[] = {Class::Double, Class::Double, Class::Double,
                                   Class::Single, Class::Int32,  Class::Logical,
                                   Class::Char,   Class::Cell,   Class::Struct};
  const Class cls = in.PickValueInArray(kClasses);
  std::vector<size_t> dims(in.ConsumeIntegralInRange(1, 3));
  for (size_t& d : dims) d = in.ConsumeIntegralInRange<size_t>(0, 5);
  const bool complex = in.ConsumeIntegralInRange(0, 7) == 7;
  const bool sparse = in.ConsumeIntegralInRange(0, 7) == 7;
  if (cls == Class::Double && !complex && !sparse) {
    size_t n = 1;
    for (size_t d : dims) n *= d;
    std::vector<double> v(n);
    for (double& x : v)
      x = in.ConsumeBool() ? Special(in) : in.ConsumeFloatingPointInRange(-1.0, 3.0);
    return standin::Matrix(dims, v);
  }
  return standin::Make(cls, dims, complex, sparse);
}

}  // namespace fuzz

#endif  // NURBS_TESTS_FUZZ_FUZZ_VALUES_H_
