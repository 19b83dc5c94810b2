// Ownership of a loaded library, the same on every platform; loading, resolving and freeing
// are in the win32/ and posix/ sources.
#include "platform/dynamic_library.h"

#include <utility>

namespace platform {

DynamicLibrary::~DynamicLibrary() { Free(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : FHandle(std::exchange(other.FHandle, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Free();
    FHandle = std::exchange(other.FHandle, nullptr);
  }
  return *this;
}

}  // namespace platform
