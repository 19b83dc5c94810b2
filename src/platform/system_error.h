#pragma once
// The calling thread's last system error, as the failing system call left it.
#include <cstdint>
#include <string>

namespace platform {

// Windows: GetLastError(). POSIX: errno.
uint32_t LastSystemError();
void SetLastSystemError(uint32_t code);

// The system's text for an error code (FormatMessage / strerror), without trailing line breaks,
// in the host code page.
std::string SystemErrorText(uint32_t code);

}  // namespace platform
