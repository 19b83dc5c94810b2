#include "platform/dynamic_library.h"

#include <windows.h>

#include <utility>

#include "platform/system_error.h"

namespace platform {
namespace {
thread_local std::string lastLoadError;
}

DynamicLibrary DynamicLibrary::Load(const std::string& path) {
  HMODULE handle = LoadLibraryA(path.c_str());
  if (!handle) {
    DWORD error = GetLastError();
    lastLoadError = SystemErrorText(error);
    SetLastError(error);
    return DynamicLibrary();
  }
  lastLoadError.clear();
  return DynamicLibrary(handle);
}

void* DynamicLibrary::Resolve(const char* name) const noexcept {
  if (!FHandle || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FHandle), name));
}

bool DynamicLibrary::Free() noexcept {
  if (!FHandle) return true;
  return FreeLibrary(static_cast<HMODULE>(std::exchange(FHandle, nullptr))) != 0;
}

std::string LastLoadError() { return lastLoadError; }

}  // namespace platform
