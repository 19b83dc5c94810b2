#include "platform/process_info.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace platform {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

std::string ComputerName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

// There are no terminal-services sessions here.
std::optional<uint32_t> ProcessSessionId() { return std::nullopt; }

namespace {

// The sum of the fields of a /proc file whose names begin with prefix, in the file's unit.
uint64_t SumOfFields(const char* path, const std::string& prefix) {
  std::ifstream file(path);
  std::string line;
  uint64_t sum = 0;
  while (std::getline(file, line)) {
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    std::istringstream fields(line.substr(line.find(':') + 1));
    uint64_t value = 0;
    if (fields >> value) sum += value;
  }
  return sum;
}

}  // namespace

ProcessResources CurrentProcessResources() {
  ProcessResources figures;
  std::error_code ignored;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ignored);
       it != std::filesystem::directory_iterator(); it.increment(ignored))
    ++figures.Handles;
  figures.PrivateBytes = SumOfFields("/proc/self/smaps_rollup", "Private_") * 1024;
  figures.Threads = static_cast<uint32_t>(SumOfFields("/proc/self/status", "Threads"));
  return figures;
}

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
