#include "platform/process_info.h"

#include <windows.h>

namespace platform {

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = sizeof name;
  if (!GetComputerNameA(name, &length)) return {};
  return std::string(name, length);
}

std::optional<uint32_t> ProcessSessionId() {
  using SessionFunction = BOOL(WINAPI*)(DWORD, DWORD*);
  static const SessionFunction function = [] {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? reinterpret_cast<SessionFunction>(reinterpret_cast<void*>(GetProcAddress(kernel, "ProcessIdToSessionId")))
                  : nullptr;
  }();
  DWORD session = 0;
  if (!function || !function(GetCurrentProcessId(), &session)) return std::nullopt;
  return session;
}

}  // namespace platform

namespace platform {

std::optional<std::string> EnvironmentVariable(const std::string& name) {
  SetLastError(ERROR_SUCCESS);
  DWORD size = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
  if (size == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  std::string value(size, '\0');
  DWORD length = GetEnvironmentVariableA(name.c_str(), value.data(), size);
  value.resize(length < size ? length : 0);
  return value;
}

bool PutEnvironmentVariable(const std::string& name, const std::string& value) {
  return SetEnvironmentVariableA(name.c_str(), value.c_str()) != 0;
}

}  // namespace platform
