// A long call's interrupt: the host's poll asked from the calling thread only, the stop seen on
// every thread, the calling thread polling while it waits for the others, and nothing left over
// for the next call.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "threads.h"

namespace {

std::atomic<int> g_polls{0};
std::atomic<int> g_answer_after{0};
std::thread::id g_caller;
std::atomic<bool> g_polled_elsewhere{false};

bool Poll() {
  if (std::this_thread::get_id() != g_caller) g_polled_elsewhere = true;
  return ++g_polls > g_answer_after;
}

// Each share spins until the stop is seen, at most some seconds.
void SpinUntilStopped(void* context, int, std::size_t, std::size_t) {
  auto* stopped = static_cast<std::atomic<int>*>(context);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!evaluators::Stopping() && std::chrono::steady_clock::now() < end) {
  }
  if (evaluators::Stopping()) ++*stopped;
}

// Share 0 ends at once; the others wait for the stop, which only the waiting caller can see.
void OthersSpin(void* context, int t, std::size_t begin, std::size_t end) {
  if (t > 0) SpinUntilStopped(context, t, begin, end);
}

TEST(Interrupt, WithoutAPollNothingStops) {
  EXPECT_FALSE(evaluators::Stopping());
  EXPECT_FALSE(evaluators::Interrupted());
}

TEST(Interrupt, ThePollStopsEveryThreadAndIsAskedOnTheCallersThreadOnly) {
  g_caller = std::this_thread::get_id();
  g_polls = 0;
  g_answer_after = 3;
  g_polled_elsewhere = false;
  evaluators::BeginInterruptible(Poll);
  std::atomic<int> stopped{0};
  evaluators::Shares(4, 4, 256 * 1024, SpinUntilStopped, &stopped);
  EXPECT_EQ(stopped, 4);
  EXPECT_TRUE(evaluators::Interrupted());
  EXPECT_FALSE(g_polled_elsewhere);
  evaluators::EndInterruptible();
  EXPECT_FALSE(evaluators::Interrupted());
  EXPECT_FALSE(evaluators::Stopping());  // the next call starts afresh
}

TEST(Interrupt, TheCallerPollsWhileItWaits) {
  g_caller = std::this_thread::get_id();
  g_polls = 0;
  g_answer_after = 5;
  evaluators::BeginInterruptible(Poll);
  std::atomic<int> stopped{0};
  evaluators::Shares(3, 3, 256 * 1024, OthersSpin, &stopped);
  EXPECT_EQ(stopped, 2);
  EXPECT_GT(g_polls, 5);
  evaluators::EndInterruptible();
}

TEST(Interrupt, APollThatNeverAnswersChangesNothing) {
  g_caller = std::this_thread::get_id();
  g_polls = 0;
  g_answer_after = 1 << 30;
  evaluators::BeginInterruptible(Poll);
  EXPECT_FALSE(evaluators::Stopping());
  EXPECT_FALSE(evaluators::Interrupted());
  evaluators::EndInterruptible();
}

}  // namespace
