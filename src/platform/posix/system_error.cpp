#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

namespace platform {

uint32_t LastSystemError() { return static_cast<uint32_t>(errno); }

void SetLastSystemError(uint32_t code) { errno = static_cast<int>(code); }

std::string SystemErrorText(uint32_t code) {
  char buffer[256] = {};
  // The GNU strerror_r returns the text (possibly not in the buffer).
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  return text ? std::string(text) : std::string();
}

}  // namespace platform
