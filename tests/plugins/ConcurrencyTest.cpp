// The kernel and the gateway hold no shared state: plug-ins called from several threads at once
// give each thread the results they give alone. Under ThreadSanitizer this is the race check.
#include <gtest/gtest.h>

#include <thread>

#include "plugin_test.h"

namespace {

using standin::Array;
using standin::Row;
using standin::Scalar;

TEST(Concurrency, PluginsFromSeveralThreadsAtOnce) {
  const standin::Plugin curve(PluginPath("RatCurveShapeHess"));
  const standin::Plugin surface(PluginPath("RatSurfShapeHess"));
  const standin::Plugin volume(PluginPath("RatVolShapeGradAtSpan"));
  const standin::Plugin single(PluginPath("RatSingleShape"));
  const long live = standin::LiveArrays();

  // One call of each plug-in at a thread-dependent point, and the same call made again: the
  // second must match the first bit for bit while the other threads run.
  const auto work = [&](int thread, std::vector<std::string>* failures) {
    std::mt19937 rng(thread);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const Array U = Row({0, 0, 0, 0.25, 0.5, 0.75, 1, 1, 1}), p = Scalar(2),
                w = Row({1, 2, 3, 4, 5, 6});
    const Array w2 = Row(std::vector<double>(36, 1.5)), w3 = Row(std::vector<double>(216, 0.5));
    const Array spans = Row({2, 3, 4});
    for (int t = 0; t < 300; ++t) {
      const Array x = Row({unit(rng), unit(rng), unit(rng)}), i = Scalar(1 + t % 6);
      const std::vector<std::pair<const standin::Plugin*, std::vector<const mxArray*>>> calls = {
          {&curve, {x.get(), p.get(), U.get(), w.get()}},
          {&surface, {x.get(), p.get(), p.get(), U.get(), U.get(), w2.get()}},
          {&volume,
           {x.get(), p.get(), p.get(), p.get(), U.get(), U.get(), U.get(), w3.get(), spans.get()}},
          {&single, {i.get(), p.get(), x.get(), U.get(), w.get()}},
      };
      for (const auto& [plugin, in] : calls) {
        const standin::Result a = plugin->Call(2, in), b = plugin->Call(2, in);
        if (a.failed || b.failed) {
          failures->push_back(a.message + b.message);
          continue;
        }
        for (int o = 0; o < 2; ++o) {
          if (Bits(standin::Values(a.outputs[o].get())) !=
              Bits(standin::Values(b.outputs[o].get()))) {
            failures->push_back("thread " + std::to_string(thread) + ": results differ");
          }
        }
      }
    }
  };
  constexpr int kThreads = 4;
  std::vector<std::vector<std::string>> failures(kThreads);
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) threads.emplace_back(work, k, &failures[k]);
  for (std::thread& t : threads) t.join();
  for (const auto& f : failures) EXPECT_TRUE(f.empty()) << f.front();
  EXPECT_EQ(standin::LiveArrays(), live);
}

}  // namespace
