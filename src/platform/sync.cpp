// Ownership of a thread, the same on every platform; starting and joining are in the win32/
// and posix/ sources.
#include "platform/sync.h"

#include <utility>

namespace platform {

Thread::~Thread() { Join(); }

Thread::Thread(Thread&& other) noexcept : FHandle(std::exchange(other.FHandle, nullptr)) {}

Thread& Thread::operator=(Thread&& other) noexcept {
  if (this != &other) {
    Join();
    FHandle = std::exchange(other.FHandle, nullptr);
  }
  return *this;
}

}  // namespace platform
