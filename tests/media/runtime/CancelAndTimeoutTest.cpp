// The read-timeout rule as a table of cases, and the stop request's parent
// links and wake-ups.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <thread>

#include "media/runtime/CancelToken.h"
#include "media/runtime/ReadTimeout.h"

namespace quorvel {
namespace {

using TVerdict = TReadTimeout::TVerdict;
constexpr int64_t kStart = 5'000'000;  // µs: any point of the monotonic clock

struct TimeoutCase {
  const char* Name;
  int LimitMs;
  bool Begun;          // a call is under way (Begin at kStart with progress 0)
  int64_t ElapsedUs;   // since kStart when Check asks
  bool Stopped;
  int64_t Progress;    // the input's byte count when Check asks
  TVerdict Expected;
};

void PrintTo(const TimeoutCase& c, std::ostream* os) { *os << c.Name; }

class ReadTimeoutRule : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(ReadTimeoutRule, GivesTheVerdictOfTheCase) {
  const TimeoutCase& c = GetParam();
  TReadTimeout rule(c.LimitMs);
  if (c.Begun) rule.Begin(kStart, 0);
  EXPECT_EQ(rule.Check(kStart + c.ElapsedUs, c.Stopped, c.Progress), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadTimeoutRule,
    ::testing::Values(
        TimeoutCase{"within_the_limit", 100, true, 100'000, false, 0, TVerdict::Wait},
        TimeoutCase{"past_the_limit", 100, true, 100'001, false, 0, TVerdict::TimedOut},
        TimeoutCase{"no_limit_never_times_out", 0, true, 3'600'000'000, false, 0, TVerdict::Wait},
        TimeoutCase{"negative_limit_is_no_limit", -5, true, 3'600'000'000, false, 0, TVerdict::Wait},
        TimeoutCase{"no_call_under_way", 100, false, 3'600'000'000, false, 0, TVerdict::Wait},
        TimeoutCase{"stop_within_the_limit", 100, true, 0, true, 0, TVerdict::Cancelled},
        TimeoutCase{"stop_without_a_limit", 0, true, 0, true, 0, TVerdict::Cancelled},
        TimeoutCase{"stop_between_calls", 100, false, 0, true, 0, TVerdict::Cancelled},
        TimeoutCase{"stop_wins_over_the_limit", 100, true, 200'000, true, 0, TVerdict::Cancelled},
        TimeoutCase{"data_arrived_past_the_limit", 100, true, 200'000, false, 4096, TVerdict::Wait}),
    [](const ::testing::TestParamInfo<TimeoutCase>& info) { return std::string(info.param.Name); });

TEST(ReadTimeoutRuleClock, DataRestartsTheClockAndEndForgetsTheCall) {
  TReadTimeout rule(100);
  rule.Begin(kStart, 0);
  // Data at 90 ms: the limit counts from there.
  EXPECT_EQ(rule.Check(kStart + 90'000, false, 512), TVerdict::Wait);
  EXPECT_EQ(rule.Check(kStart + 180'000, false, 512), TVerdict::Wait);
  EXPECT_EQ(rule.Check(kStart + 190'001, false, 512), TVerdict::TimedOut);
  // A new call starts a new clock; a component without a byte count passes none.
  rule.Begin(kStart + 500'000);
  EXPECT_EQ(rule.Check(kStart + 550'000, false), TVerdict::Wait);
  EXPECT_EQ(rule.Check(kStart + 600'001, false), TVerdict::TimedOut);
  rule.End();
  EXPECT_FALSE(rule.Running());
  EXPECT_EQ(rule.Check(kStart + 10'000'000, false), TVerdict::Wait);
  // The limit set meanwhile holds for the call under way.
  rule.Begin(kStart);
  rule.SetLimit(0);
  EXPECT_EQ(rule.Check(kStart + 10'000'000, false), TVerdict::Wait);
}

// A waiter on a token wakes when the token, or its parent, is cancelled;
// the wait's limit only catches a hang.
constexpr auto kHang = std::chrono::seconds(30);

TEST(CancelTokenTest, ParentCancelsItsChildrenAndWakesTheirWaits) {
  TCancelToken batch;
  TCancelToken job1, job2;
  job1.SetParent(&batch);
  job2.SetParent(&batch);
  bool woke = false;
  std::thread waiter([&] { woke = job2.WaitFor(kHang); });
  batch.Cancel();
  waiter.join();
  EXPECT_TRUE(woke);
  EXPECT_TRUE(job1.Cancelled());
  EXPECT_TRUE(job2.Cancelled());
}

TEST(CancelTokenTest, ChildDoesNotCancelItsParentNorItsSiblings) {
  TCancelToken batch;
  TCancelToken job1, job2;
  job1.SetParent(&batch);
  job2.SetParent(&batch);
  job1.Cancel();
  EXPECT_FALSE(batch.Cancelled());
  EXPECT_FALSE(job2.Cancelled());
}

TEST(CancelTokenTest, ChildLinkedToACancelledParentStartsCancelled) {
  TCancelToken batch;
  batch.Cancel();
  TCancelToken job;
  job.SetParent(&batch);
  EXPECT_TRUE(job.Cancelled());
  // A withdrawal cannot undo the parent's request; once the parent's is
  // withdrawn, the child's can be.
  job.Reset();
  EXPECT_TRUE(job.Cancelled());
  batch.Reset();
  job.Reset();
  EXPECT_FALSE(job.Cancelled());
}

TEST(CancelTokenTest, DestroyedChildLeavesTheParentAndParentBeforeChildIsSafe) {
  TCancelToken batch;
  {
    TCancelToken gone;
    gone.SetParent(&batch);
  }
  batch.Cancel();  // must not touch the destroyed child
  auto parent = std::make_unique<TCancelToken>();
  TCancelToken orphan;
  orphan.SetParent(parent.get());
  parent.reset();
  orphan.Reset();  // must not touch the destroyed parent
  EXPECT_FALSE(orphan.Cancelled());
}

}  // namespace
}  // namespace quorvel
