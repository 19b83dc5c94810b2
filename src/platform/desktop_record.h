#pragma once
// Internal: how the platform sources add to the desktop record of platform/desktop.h.
#include <cstdint>

namespace platform::detail {

void RecordMessagePoll(bool dispatched);
void RecordKeyUp(uint8_t virtualKey);
void RecordBeep(uint32_t frequency, uint32_t durationMilliseconds);

}  // namespace platform::detail
