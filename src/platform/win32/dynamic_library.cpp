#include "platform/dynamic_library.h"

#include <windows.h>

#include <utility>

#include "platform/system_error.h"

namespace platform {
namespace {
// A plain buffer: a thread-local object with a destructor would make the runtime hold the
// library for every thread that touched it (MinGW's runtime and glibc both do), keeping it
// loaded by accident after its host let it go.
constexpr size_t kLoadErrorCapacity = 512;
thread_local char lastLoadError[kLoadErrorCapacity];

void RememberLoadError(const std::string& text) {
  const size_t length = text.size() < kLoadErrorCapacity - 1 ? text.size() : kLoadErrorCapacity - 1;
  text.copy(lastLoadError, length);
  lastLoadError[length] = '\0';
}
}

DynamicLibrary DynamicLibrary::Load(const std::string& path) {
  HMODULE handle = LoadLibraryA(path.c_str());
  if (!handle) {
    DWORD error = GetLastError();
    RememberLoadError(SystemErrorText(error));
    SetLastError(error);
    return DynamicLibrary();
  }
  lastLoadError[0] = '\0';
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

bool LibraryIsLoaded(const std::string& path) { return GetModuleHandleA(path.c_str()) != nullptr; }

}  // namespace platform
