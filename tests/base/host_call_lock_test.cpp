// Host calls from several threads: one at a time, re-entrant on the holding thread, and given up
// while a call waits for another thread that calls in itself.
#include <gtest/gtest.h>

#include <atomic>

#include "base/host_call_lock.h"
#include "platform/sync.h"

TEST(HostCallLock, ASecondThreadWaitsForTheCallAndTheHolderMayEnterAgain) {
  std::atomic<bool> secondInside{false};
  platform::ManualResetEvent secondStarted;
  platform::Thread second;
  {
    THostCallScope outer;
    {
      THostCallScope inner;  // a call from inside an event on the same thread
      EXPECT_TRUE(HostCallLockHeldByThisThread());
    }
    second.Start([&] {
      secondStarted.Set();
      THostCallScope call;
      secondInside = true;
    });
    ASSERT_TRUE(secondStarted.Wait(30000));
    platform::SleepMilliseconds(50);
    EXPECT_FALSE(secondInside.load()) << "the outer level still holds the lock";
  }
  second.Join();
  EXPECT_TRUE(secondInside.load());
  EXPECT_FALSE(HostCallLockHeldByThisThread());
}

// The shape of a switch-off from the host's thread while the polling thread, inside the card
// event, calls into the plug-in: without giving the lock up, the two would wait for each other.
TEST(HostCallLock, AWaitingCallGivesEveryLevelUpAndTakesThemBack) {
  THostCallScope outer;
  THostCallScope inner;
  std::atomic<bool> calledIn{false};
  platform::Thread pollingThread([&] {
    THostCallScope eventCall;
    calledIn = true;
  });
  {
    THostCallLockReleased waiting;
    EXPECT_FALSE(HostCallLockHeldByThisThread());
    pollingThread.Join();
  }
  EXPECT_TRUE(calledIn.load());
  EXPECT_TRUE(HostCallLockHeldByThisThread());
  // Both levels came back: after one is left, another thread still cannot enter.
  std::atomic<bool> otherInside{false};
  platform::Thread other([&] {
    THostCallScope call;
    otherInside = true;
  });
  platform::SleepMilliseconds(50);
  EXPECT_FALSE(otherInside.load());
  {
    THostCallLockReleased waiting;
    other.Join();
  }
  EXPECT_TRUE(otherInside.load());
}

TEST(HostCallLock, GivingUpALockNotHeldChangesNothing) {
  { THostCallLockReleased nothingHeld; }
  EXPECT_FALSE(HostCallLockHeldByThisThread());
}
