#include "platform/file_system.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace platform {

std::string CurrentDirectory() {
  std::unique_ptr<char, decltype(&std::free)> path(getcwd(nullptr, 0), &std::free);
  return path ? std::string(path.get()) : std::string();
}

bool ChangeCurrentDirectory(const std::string& path) { return chdir(path.c_str()) == 0; }

std::string ModuleFileName(const void* addressInModule) {
  Dl_info info{};
  if (dladdr(addressInModule, &info) == 0 || !info.dli_fname || !*info.dli_fname) return {};
  std::string name = info.dli_fname;
  // The main program is reported by the name it was started with, which may be relative.
  if (name.find('/') == std::string::npos) return ExecutableFileName();
  if (name.front() != '/') return LongPathName(name);
  return name;
}

std::string ExecutableFileName() {
  char buffer[PATH_MAX + 1];
  ssize_t length = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (length <= 0) return {};
  return std::string(buffer, static_cast<size_t>(length));
}

std::string LongPathName(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : path;
}

bool FileExists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string TempDirectory() {
  const char* folder = std::getenv("TMPDIR");
  std::string result = (folder && *folder) ? folder : "/tmp";
  if (result.back() != '/') result += '/';
  return result;
}

std::optional<uint32_t> FileDosDateTime(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return std::nullopt;
  tm local{};
  if (!localtime_r(&status.st_mtime, &local)) return std::nullopt;
  if (local.tm_year < 80) return (1u << 16) | (1u << 5) | 0u;  // the form starts in 1980
  uint32_t date = static_cast<uint32_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  uint32_t time = static_cast<uint32_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  return (date << 16) | time;
}

}  // namespace platform
