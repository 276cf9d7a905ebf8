// Calls one plug-in of a toolbox CALLS times with the in-process benchmark's inputs, releasing
// the outputs after each call as a host does: run under callgrind at two call counts, the
// difference of the instruction counts is the cost of CALLS calls, free of loading and set-up.
//   call_count TOOLBOX NAME P N CALLS    NAME at degree P with N functions per direction
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cases.h"
#include "standin.h"

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s TOOLBOX NAME P N CALLS\n", argv[0]);
    return 2;
  }
  const gateway::Signature* sig = nullptr;
  for (const gateway::Signature* s : registry::kAll) {
    if (std::strcmp(s->name, argv[2]) == 0) sig = s;
  }
  if (sig == nullptr) {
    std::fprintf(stderr, "%s: no plug-in %s\n", argv[0], argv[2]);
    return 2;
  }
  const standin::Plugin plugin(std::string(argv[1]) + "/" + argv[2] + standin::kMexSuffix);
  const std::vector<standin::Array> args =
      cases::Inputs(*sig, gateway::Form::Point, std::atoi(argv[3]), std::atoi(argv[4]), 1);
  std::vector<const mxArray*> in;
  for (const standin::Array& a : args) in.push_back(a.get());
  const long calls = std::atol(argv[5]);
  for (long k = 0; k < calls; ++k) {
    if (plugin.Call(2, in).failed) return 1;
  }
  return 0;
}
