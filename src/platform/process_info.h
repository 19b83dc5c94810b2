#pragma once
// Facts about the running process and machine.
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

uint32_t CurrentProcessId();

// The computer's name (Windows: GetComputerNameA; POSIX: the host name), empty when unknown.
std::string ComputerName();

// The terminal-services session of the current process (Windows: ProcessIdToSessionId of
// kernel32.dll, resolved by name at the first call). Nothing when it cannot be told, which is
// always the case on POSIX.
std::optional<uint32_t> ProcessSessionId();

}  // namespace platform
