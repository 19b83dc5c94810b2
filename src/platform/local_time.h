#pragma once
// The wall-clock time of the machine in its own time zone, to the millisecond, for texts that
// people read beside other records of the machine (the diagnostic log, the time of a card).
#include <cstdint>

namespace platform {

struct LocalDateTime {
  uint16_t Year = 0;
  uint16_t Month = 0;  // 1..12
  uint16_t Day = 0;    // 1..31
  uint16_t Hour = 0;
  uint16_t Minute = 0;
  uint16_t Second = 0;
  uint16_t Millisecond = 0;
};

// Windows: GetLocalTime. POSIX: CLOCK_REALTIME through localtime_r.
LocalDateTime LocalTimeNow();

}  // namespace platform
