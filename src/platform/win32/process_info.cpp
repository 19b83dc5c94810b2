#include "platform/process_info.h"

#include <windows.h>
// windows.h first
#include <psapi.h>
#include <tlhelp32.h>

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

ProcessResources CurrentProcessResources() {
  ProcessResources figures;
  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles)) figures.Handles = handles;
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory))
    figures.PrivateBytes = memory.PrivateUsage;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
      if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++figures.Threads;
    CloseHandle(snapshot);
  }
  return figures;
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
