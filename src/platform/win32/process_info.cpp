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
