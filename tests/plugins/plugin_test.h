// A plug-in's MEX file loaded by file name through the stand-in host, as MATLAB loads it, with the
// checks every call must pass: no slot written past the ones given, no array stored that it did
// not create, none created and left unstored, the inputs unchanged, nothing alive afterwards.
#ifndef NURBS_TESTS_PLUGINS_PLUGIN_TEST_H_
#define NURBS_TESTS_PLUGINS_PLUGIN_TEST_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bits.h"
#include "environment.h"
#include "random_case.h"
#include "standin.h"

// The built plug-in of this name, as MATLAB would find it on the path.
inline std::string PluginPath(const std::string& name) {
  return std::string(NURBS_TOOLBOX_DIR) + "/" + name + standin::kMexSuffix;
}

// The arrays of args, borrowed for a call.
inline std::vector<const standin::Array*> Borrow(const std::vector<standin::Array>& args) {
  std::vector<const standin::Array*> borrowed;
  for (const standin::Array& a : args) borrowed.push_back(&a);
  return borrowed;
}

// A result as a dense matrix (a vector as it is), checking that a sparse one is well formed: its
// rows ascending in every column, no stored zero.
inline std::vector<double> Dense(const mxArray* a) {
  const standin::Sparse s = standin::SparseOf(a);
  if (s.jc.empty()) return standin::Values(a);
  std::vector<double> A(s.rows * s.cols, 0.0);
  for (size_t j = 0; j < s.cols; ++j) {
    for (size_t k = s.jc[j]; k < s.jc[j + 1]; ++k) {
      if (k > s.jc[j]) EXPECT_LT(s.ir[k - 1], s.ir[k]) << "rows out of order";
      EXPECT_NE(s.pr[k], 0.0) << "a stored zero";
      A[s.ir[k] + s.rows * j] = s.pr[k];
    }
  }
  return A;
}

// |a - b| / |b|, Euclidean over every entry.
inline double RelativeDifference(const std::vector<double>& a, const std::vector<double>& b) {
  double d = 0.0, n = 0.0;
  for (size_t i = 0; i < a.size(); ++i) {
    d += (a[i] - b[i]) * (a[i] - b[i]);
    n += b[i] * b[i];
  }
  return std::sqrt(d / n);
}

// Calls with nlhs outputs and checks what every call must leave: no slot written past the ones
// given, no array stored that it did not create, none created and left unstored, the inputs
// unchanged. The arguments are borrowed.
inline standin::Result CheckedCall(const standin::Plugin& plugin, int nlhs,
                                   const std::vector<const standin::Array*>& args) {
  std::vector<const mxArray*> in;
  std::vector<std::vector<double>> before;
  for (const standin::Array* a : args) {
    in.push_back(a->get());
    before.push_back(standin::Values(a->get()));
  }
  standin::Result r = plugin.Call(nlhs, in);
  EXPECT_FALSE(r.overrun) << "wrote past its output slots";
  EXPECT_FALSE(r.foreign) << "stored an array it did not create";
  EXPECT_EQ(r.dropped, 0) << "created arrays it did not store";
  for (size_t k = 0; k < args.size(); ++k) {
    EXPECT_EQ(Bits(standin::Values(args[k]->get())), Bits(before[k]))
        << "input " << k + 1 << " changed";
  }
  return r;
}

class PluginTest : public ::testing::Test {
 protected:
  // The plug-in's file name, and the name its error identifiers carry where another (a native
  // core reports as the function that calls it).
  explicit PluginTest(const std::string& name, const std::string& id = "")
      : name_(id.empty() ? name : id), plugin_(PluginPath(name)) {}

  void SetUp() override { live_ = standin::LiveArrays(); }
  void TearDown() override { EXPECT_EQ(standin::LiveArrays(), live_) << "arrays left alive"; }

  // Calls with nlhs outputs; the arguments are borrowed.
  standin::Result Call(int nlhs, const std::vector<const standin::Array*>& args) {
    return CheckedCall(plugin_, nlhs, args);
  }

  // The call must fail with this identifier and leave no output.
  void ExpectError(const std::string& mnemonic, int nlhs,
                   const std::vector<const standin::Array*>& args) {
    const standin::Result r = Call(nlhs, args);
    ASSERT_TRUE(r.failed) << "expected " << mnemonic;
    EXPECT_EQ(r.id, name_ + ":" + mnemonic) << r.message;
    for (const standin::Array& out : r.outputs) EXPECT_EQ(out, nullptr);
  }

  // The valid call `args` with input `at` replaced by `bad` must fail with this identifier.
  void ExpectFault(const std::string& mnemonic, std::vector<const standin::Array*> args, int at,
                   const standin::Array& bad) {
    SCOPED_TRACE(mnemonic + " at input " + std::to_string(at + 1));
    args.at(at) = &bad;
    ExpectError(mnemonic, 1, args);
  }

  // Every input of the valid call `args` in turn of another class, complex, or sparse.
  void ExpectClassFaults(const std::vector<const standin::Array*>& args) {
    using standin::Class;
    for (size_t at = 0; at < args.size(); ++at) {
      for (Class c : {Class::Single, Class::Int32, Class::Uint8, Class::Logical, Class::Char,
                      Class::Cell, Class::Struct}) {
        ExpectFault("notDouble", args, static_cast<int>(at), standin::Make(c, {1, 8}));
      }
      ExpectFault("complex", args, static_cast<int>(at),
                  standin::Make(Class::Double, {1, 8}, true));
      ExpectFault("sparse", args, static_cast<int>(at),
                  standin::Make(Class::Double, {1, 8}, false, true));
    }
  }

  static std::vector<double> Out(const standin::Result& r, int slot) {
    return standin::Values(r.outputs.at(slot).get());
  }

  std::string name_;
  standin::Plugin plugin_;
  long live_ = 0;
};

#endif  // NURBS_TESTS_PLUGINS_PLUGIN_TEST_H_
