// The process-wide record of desktop calls, kept on every platform.
#include <mutex>

#include "platform/desktop.h"
#include "platform/desktop_record.h"
#include "platform/never_freed.h"

namespace platform {
namespace {

std::mutex& RecordLock() {
  static std::mutex lock;
  return lock;
}

// Never destroyed: the module's stop routine records its key-up (the tuning flags' keyboard
// state) while the C runtime runs the module's exit handlers, and the order of those against
// a static record's destructor is not the module's to choose.
DesktopRecord& Record() {
  static DesktopRecord& record = NeverFreed(new DesktopRecord);
  return record;
}

}  // namespace

namespace detail {

void RecordMessagePoll(bool dispatched) {
  std::lock_guard guard(RecordLock());
  ++Record().MessagePolls;
  if (dispatched) ++Record().MessagesDispatched;
}

void RecordKeyUp(uint8_t virtualKey) {
  std::lock_guard guard(RecordLock());
  Record().KeyUps.push_back(virtualKey);
}

void RecordBeep(uint32_t frequency, uint32_t durationMilliseconds) {
  std::lock_guard guard(RecordLock());
  Record().Beeps.emplace_back(frequency, durationMilliseconds);
}

}  // namespace detail

DesktopRecord RecordedDesktopActivity() {
  std::lock_guard guard(RecordLock());
  return Record();
}

void ResetDesktopRecord() {
  std::lock_guard guard(RecordLock());
  Record() = DesktopRecord{};
}

}  // namespace platform
