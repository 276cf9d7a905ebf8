#ifndef NURBS_TESTS_PLUGINS_BITS_H_
#define NURBS_TESTS_PLUGINS_BITS_H_

#include <cstdint>
#include <cstring>
#include <vector>

// Doubles as their bit patterns, so that equality means bit-identical (NaN and -0.0 included).
inline std::vector<uint64_t> Bits(const std::vector<double>& v) {
  std::vector<uint64_t> bits(v.size());
  if (!v.empty()) std::memcpy(bits.data(), v.data(), v.size() * sizeof(double));
  return bits;
}

#endif  // NURBS_TESTS_PLUGINS_BITS_H_
