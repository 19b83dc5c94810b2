#include "platform/process_info.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

std::string ComputerName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

// There are no terminal-services sessions here.
std::optional<uint32_t> ProcessSessionId() { return std::nullopt; }

}  // namespace platform

namespace platform {

std::optional<std::string> EnvironmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? std::optional<std::string>(value) : std::nullopt;
}

bool PutEnvironmentVariable(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

}  // namespace platform
