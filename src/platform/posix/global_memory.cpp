#include "platform/global_memory.h"

#include <cstdlib>
#include <new>
#include <system_error>
#include <utility>

namespace platform {

void GlobalMemoryBlock::Resize(std::size_t size) {
  if (size == 0) {
    Release();
    return;
  }
  void* resized = std::realloc(FHandle, size);
  if (resized == nullptr) throw std::bad_alloc();
  FHandle = resized;
  FData = static_cast<std::byte*>(resized);
  FSize = size;
}

void GlobalMemoryBlock::Release() noexcept {
  std::free(FHandle);
  FHandle = nullptr;
  FData = nullptr;
  FSize = 0;
}

std::filesystem::path DefaultDumpFolder() {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  return error ? std::filesystem::path("/tmp") : folder;
}

}  // namespace platform
