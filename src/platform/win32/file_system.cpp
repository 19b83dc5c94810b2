#include "platform/file_system.h"

#include <windows.h>

#include <vector>

namespace platform {

std::string CurrentDirectory() {
  DWORD size = GetCurrentDirectoryA(0, nullptr);
  if (size == 0) return {};
  std::string path(size, '\0');
  DWORD length = GetCurrentDirectoryA(size, path.data());
  path.resize(length < size ? length : 0);
  return path;
}

bool ChangeCurrentDirectory(const std::string& path) { return SetCurrentDirectoryA(path.c_str()) != 0; }

namespace {

std::string FileNameOf(HMODULE module) {
  char buffer[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameA(module, buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return {};
  return std::string(buffer, length);
}

}  // namespace

std::string ModuleFileName(const void* addressInModule) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<const char*>(addressInModule), &module)) {
    return {};
  }
  return FileNameOf(module);
}

std::string ExecutableFileName() { return FileNameOf(nullptr); }

std::string LongPathName(const std::string& path) {
  char buffer[MAX_PATH + 1] = {};
  DWORD length = GetLongPathNameA(path.c_str(), buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return path;
  return std::string(buffer, length);
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string TempDirectory() {
  char buffer[MAX_PATH + 2] = {};
  DWORD length = GetTempPathA(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH + 1) return ".\\";
  std::string result(buffer, length);
  if (!IsPathDelimiter(result.back())) result += '\\';
  return result;
}

std::optional<uint32_t> FileDosDateTime(const std::string& path) {
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return std::nullopt;
  FindClose(search);
  FILETIME local{};
  WORD date = 0, time = 0;
  if (!FileTimeToLocalFileTime(&found.ftLastWriteTime, &local) || !FileTimeToDosDateTime(&local, &date, &time)) {
    return std::nullopt;
  }
  return (static_cast<uint32_t>(date) << 16) | time;
}

}  // namespace platform
