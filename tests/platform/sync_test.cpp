#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>

namespace {

using platform::ManualResetEvent;
using platform::Thread;
using platform::TickCount;

TEST(ManualResetEvent, WaitTimesOutWhenNotSignalled) {
  ManualResetEvent event;
  EXPECT_FALSE(event.IsSet());
  uint32_t start = TickCount();
  EXPECT_FALSE(event.Wait(200));
  // The tick count may be updated in coarse steps (16 ms and more under Wine on a busy machine):
  // the wait must not end far too early, and only that is checked.
  EXPECT_GE(platform::TicksElapsed(start, TickCount()), 100u);
  EXPECT_FALSE(event.Wait(0));
}

TEST(ManualResetEvent, StaysSignalledUntilReset) {
  ManualResetEvent event(true);
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(0)) << "a manual-reset event is not consumed by a wait";
  event.Reset();
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  EXPECT_TRUE(event.IsSet());
}

TEST(ManualResetEvent, ReleasesAWaiterOnAnotherThread) {
  ManualResetEvent started, go;
  std::atomic<bool> released{false};
  Thread waiter([&] {
    started.Set();
    released = go.Wait(platform::kInfiniteWait);
  });
  ASSERT_TRUE(started.Wait(10000));
  platform::SleepMilliseconds(20);
  EXPECT_FALSE(released.load());
  go.Set();
  waiter.Join();
  EXPECT_TRUE(released.load());
}

TEST(Thread, RunsTheBodyAndJoins) {
  std::atomic<int> runs{0};
  std::atomic<uint32_t> bodyThread{0};
  Thread thread;
  EXPECT_FALSE(thread.Joinable());
  ASSERT_TRUE(thread.Start([&] {
    bodyThread = platform::CurrentThreadId();
    ++runs;
  }));
  EXPECT_TRUE(thread.Joinable());
  EXPECT_FALSE(thread.Start([] {})) << "one thread per object";
  thread.Join();
  EXPECT_FALSE(thread.Joinable());
  EXPECT_EQ(runs.load(), 1);
  EXPECT_NE(bodyThread.load(), platform::CurrentThreadId());
  thread.Join();  // joining again does nothing
}

TEST(Thread, SwallowsAnExceptionOfTheBodyAndDestructorJoins) {
  std::atomic<bool> finished{false};
  {
    Thread thrower([] { throw std::runtime_error("lost"); });
    Thread sleeper([&] {
      platform::SleepMilliseconds(30);
      finished = true;
    });
  }
  EXPECT_TRUE(finished.load());
}

TEST(TickCount, AdvancesWithSleep) {
  // Sleeps long against the tick count's update step, so a stale reading at either end cannot
  // make the elapsed count look short.
  uint32_t start = TickCount();
  platform::SleepMilliseconds(200);
  uint32_t elapsed = platform::TicksElapsed(start, TickCount());
  EXPECT_GE(elapsed, 100u);
  EXPECT_LT(elapsed, 10000u);
}

TEST(TickCount, ArithmeticAcrossTheWrap) {
  EXPECT_EQ(platform::TicksElapsed(0xFFFFFF00u, 0x00000100u), 0x200u);
  EXPECT_EQ(platform::TickDifference(0x00000100u, 0xFFFFFF00u), 0x200);
  EXPECT_EQ(platform::TickDifference(0xFFFFFF00u, 0x00000100u), -0x200);
  // Remaining time of an interval started just before the wrap, read just after it.
  uint32_t accepted = 0xFFFFFC18u;  // 1000 ms before the wrap
  EXPECT_EQ(platform::TickDifference(accepted + 2000u, 0x000001F4u), 500);
  EXPECT_EQ(platform::TickDifference(accepted + 2000u, 0x000003E8u), 0);
}

TEST(TickCount, BiasBringsTheWrapNearAndTheCountWraps) {
  uint32_t plain = TickCount();
  platform::SetTickCountBias(0u - plain - 30u);  // the count now reads 30 ms before the wrap
  uint32_t before = TickCount();
  EXPECT_GE(before, 0xFFFFFF00u);
  platform::SleepMilliseconds(200);
  uint32_t after = TickCount();
  platform::SetTickCountBias(0);
  EXPECT_LT(after, 0x10000u) << "the count wrapped to small values";
  EXPECT_GE(platform::TicksElapsed(before, after), 100u);
  EXPECT_GT(platform::TickDifference(after, before), 0);
}

uint32_t PLATFORM_STDCALL FixedClock() { return 0x12345678u; }

TEST(TickCount, ASourceReplacesTheSystemsCountUntilRemoved) {
  platform::SetTickCountBias(1000);
  platform::SetTickCountSource(&FixedClock);
  EXPECT_EQ(TickCount(), 0x12345678u) << "neither the system's count nor the bias";
  platform::SetTickCountSource(nullptr);
  platform::SetTickCountBias(0);
  uint32_t system = TickCount();
  EXPECT_NE(system, 0x12345678u);
  platform::SleepMilliseconds(50);
  EXPECT_GT(platform::TickDifference(TickCount(), system), 0) << "the system's count runs again";
}

}  // namespace

namespace {

// A bounded join gives up on a thread that runs on and keeps it; a thread let go ends by itself.
TEST(Thread, ABoundedJoinKeepsAThreadThatRunsOnAndADetachedOneEndsByItself) {
  ManualResetEvent started, go, asked;
  std::atomic<bool> wasCurrent{false};
  const uint32_t before = platform::RunningThreadCount();
  auto body = std::make_shared<Thread>();
  ASSERT_TRUE(body->Start([&, self = body.get()] {
    started.Wait(platform::kInfiniteWait);  // Start has returned: the object is filled in
    wasCurrent = self->IsCurrent();
    asked.Set();
    go.Wait(platform::kInfiniteWait);
  }));
  started.Set();
  ASSERT_TRUE(asked.Wait(10000));
  EXPECT_TRUE(wasCurrent.load());
  EXPECT_FALSE(body->IsCurrent());
  EXPECT_EQ(platform::RunningThreadCount(), before + 1);
  EXPECT_FALSE(body->JoinLettingSentMessagesThrough(50));
  EXPECT_TRUE(body->Joinable()) << "still held after the bound";
  go.Set();
  EXPECT_TRUE(body->JoinLettingSentMessagesThrough(60000));
  EXPECT_FALSE(body->Joinable());
  EXPECT_TRUE(body->JoinLettingSentMessagesThrough(0)) << "nothing left to wait for";

  ManualResetEvent ended;
  Thread detached([&] { ended.Set(); });
  detached.Detach();
  EXPECT_FALSE(detached.Joinable());
  EXPECT_TRUE(ended.Wait(60000));
  for (int i = 0; i < 6000 && platform::RunningThreadCount() != before; ++i) platform::SleepMilliseconds(10);
  EXPECT_EQ(platform::RunningThreadCount(), before);
}

}  // namespace
