#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <utility>

namespace platform {
namespace {
thread_local std::string lastLoadError;
}

DynamicLibrary DynamicLibrary::Load(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_LOCAL | RTLD_NOW);
  if (!handle) {
    const char* error = dlerror();
    lastLoadError = error ? error : "dlopen failed";
    return DynamicLibrary();
  }
  lastLoadError.clear();
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

}  // namespace platform
