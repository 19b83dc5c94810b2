// A module that takes part in the log-name rendezvous and carries version information. The
// tests load two copies of it (one file under two names) into their process.
#include <cstring>

#include "config/log_name.h"

extern "C" {

void TestModuleStart() { StartLogRendezvous(); }

void TestModuleStop() { StopLogRendezvous(); }

// Copies the module's log name (zero-terminated) into buffer; returns how the name came.
int TestModuleLogName(char* buffer, int capacity) {
  const AnsiString name = LogFileName();
  if (capacity > 0) {
    const size_t length = name.size() < static_cast<size_t>(capacity) ? name.size() : static_cast<size_t>(capacity) - 1;
    std::memcpy(buffer, name.data(), length);
    buffer[length] = 0;
  }
  return static_cast<int>(LogNameSource());
}

}
