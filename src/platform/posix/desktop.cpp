// POSIX has no message queue, keyboard or speaker for the plug-in: the calls are only recorded.
#include "platform/desktop.h"
#include "platform/desktop_record.h"
#include "platform/sync.h"

namespace platform {

bool DispatchOneMessage() {
  detail::RecordMessagePoll(false);
  return false;
}

bool WaitForMessage(uint32_t timeoutMilliseconds) {
  SleepMilliseconds(timeoutMilliseconds);
  return false;
}

void InjectKeyUp(uint8_t virtualKey) { detail::RecordKeyUp(virtualKey); }

bool SpeakerBeep(uint32_t frequency, uint32_t durationMilliseconds) {
  detail::RecordBeep(frequency, durationMilliseconds);
  return true;
}

}  // namespace platform
