#include "base/host_call_lock.h"

#include <mutex>

#include "platform/never_freed.h"
#include "platform/sync.h"

namespace {

// A waiter that missed the release still looks again after this long.
constexpr uint32_t kWaitSliceMilliseconds = 1000;

struct TLockState {
  std::mutex Guard;
  uint32_t Owner = 0;    // the holding thread's identifier, while Levels > 0
  uint32_t Levels = 0;   // how often the owner entered
  uint32_t Waiters = 0;  // threads waiting to take the lock
  // A waiter resets it (under Guard) before it waits, and the last release sets it (under
  // Guard) when someone waits, so no release goes unseen. A call that finds the lock free
  // touches nothing but Guard.
  platform::ManualResetEvent Free{false};
};

// Never destroyed: a host call or a module stop at the process's exit may still need it.
TLockState& State() {
  static TLockState& state = platform::NeverFreed(new TLockState);
  return state;
}

void Take(uint32_t levels) {
  TLockState& state = State();
  const uint32_t self = platform::CurrentThreadId();
  bool waited = false;
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(state.Guard);
      if (waited) --state.Waiters;
      if (state.Levels == 0 || state.Owner == self) {
        state.Owner = self;
        state.Levels += levels;
        return;
      }
      ++state.Waiters;
      state.Free.Reset();
    }
    state.Free.WaitLettingSentMessagesThrough(kWaitSliceMilliseconds);
    waited = true;
  }
}

// Gives up `levels` of this thread's levels (all of them when levels is 0); returns how many.
uint32_t Give(uint32_t levels) {
  TLockState& state = State();
  std::lock_guard<std::mutex> guard(state.Guard);
  if (state.Levels == 0 || state.Owner != platform::CurrentThreadId()) return 0;
  const uint32_t given = levels == 0 || levels > state.Levels ? state.Levels : levels;
  state.Levels -= given;
  if (state.Levels == 0) {
    state.Owner = 0;
    if (state.Waiters != 0) state.Free.Set();
  }
  return given;
}

}  // namespace

THostCallScope::THostCallScope() { Take(1); }
THostCallScope::~THostCallScope() { Give(1); }

THostCallLockReleased::THostCallLockReleased() : FLevels(Give(0)) {}
THostCallLockReleased::~THostCallLockReleased() {
  if (FLevels != 0) Take(FLevels);
}

bool HostCallLockHeldByThisThread() {
  TLockState& state = State();
  std::lock_guard<std::mutex> guard(state.Guard);
  return state.Levels != 0 && state.Owner == platform::CurrentThreadId();
}
