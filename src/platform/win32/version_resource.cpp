#include "platform/version_resource.h"

#include <windows.h>

namespace platform {

FileVersionInfo::FileVersionInfo(const std::string& path) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  FSizeHandle = handle;
  if (size == 0) return;
  FBlock.resize(size);
  FValid = GetFileVersionInfoA(path.c_str(), handle, size, FBlock.data()) != 0;
  if (!FValid) FBlock.clear();
}

std::optional<FixedFileVersion> FileVersionInfo::Fixed() const {
  if (!FValid) return std::nullopt;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(FBlock.data(), "\\", &value, &length) || !value || length < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
  return FixedFileVersion{info->dwFileVersionMS, info->dwFileVersionLS, info->dwProductVersionMS,
                          info->dwProductVersionLS};
}

std::vector<uint32_t> FileVersionInfo::Translations() const {
  std::vector<uint32_t> result;
  if (!FValid) return result;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(FBlock.data(), "\\VarFileInfo\\Translation", &value, &length) || !value) return result;
  const auto* pairs = static_cast<const DWORD*>(value);
  for (UINT i = 0; i < length / sizeof(DWORD); ++i) result.push_back(pairs[i]);
  return result;
}

std::optional<std::string> FileVersionInfo::StringValue(std::string_view translation, std::string_view name) const {
  if (!FValid) return std::nullopt;
  std::string path = "\\StringFileInfo\\";
  path.append(translation).append("\\").append(name);
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(FBlock.data(), path.c_str(), &value, &length) || !value) return std::nullopt;
  const char* text = static_cast<const char*>(value);
  // The length counts characters, the closing zero included when there is one.
  std::string result(text, length);
  while (!result.empty() && result.back() == '\0') result.pop_back();
  return result;
}

}  // namespace platform
