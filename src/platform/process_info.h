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
// What the running process holds, for long runs that must stay flat.
struct ProcessResources {
  uint64_t Handles = 0;       // Windows: GetProcessHandleCount; POSIX: open file descriptors
  uint64_t PrivateBytes = 0;  // Windows: PrivateUsage; POSIX: private pages of /proc/self/smaps_rollup
  uint32_t Threads = 0;       // the process's threads
};
ProcessResources CurrentProcessResources();

std::optional<std::string> EnvironmentVariable(const std::string& name);
bool PutEnvironmentVariable(const std::string& name, const std::string& value);

}  // namespace platform
