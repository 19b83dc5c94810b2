#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <utility>

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
  void* handle = dlopen(path.c_str(), RTLD_LOCAL | RTLD_NOW);
  if (!handle) {
    const char* error = dlerror();
    RememberLoadError(error ? error : "dlopen failed");
    return DynamicLibrary();
  }
  lastLoadError[0] = '\0';
  return DynamicLibrary(handle);
}

void* DynamicLibrary::Resolve(const char* name) const noexcept {
  if (!FHandle || !name) return nullptr;
  return dlsym(FHandle, name);
}

bool DynamicLibrary::Free() noexcept {
  if (!FHandle) return true;
  void* handle = std::exchange(FHandle, nullptr);
  return dlclose(handle) == 0;
}

std::string LastLoadError() { return lastLoadError; }

bool LibraryIsLoaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

}  // namespace platform
