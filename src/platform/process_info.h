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

// The process's environment variables (Windows: GetEnvironmentVariableA / SetEnvironmentVariableA;
// POSIX: getenv / setenv). Child processes inherit what is set here.
std::optional<std::string> EnvironmentVariable(const std::string& name);
bool PutEnvironmentVariable(const std::string& name, const std::string& value);

}  // namespace platform
