#include "platform/global_memory.h"

#include <cstdlib>
#include <new>
#include <system_error>
#include <utility>

namespace platform {

GlobalMemoryBlock::~GlobalMemoryBlock() { Release(); }

GlobalMemoryBlock::GlobalMemoryBlock(GlobalMemoryBlock&& other) noexcept
    : FHandle(std::exchange(other.FHandle, nullptr)),
      FData(std::exchange(other.FData, nullptr)),
      FSize(std::exchange(other.FSize, 0)) {}

GlobalMemoryBlock& GlobalMemoryBlock::operator=(GlobalMemoryBlock&& other) noexcept {
  if (this != &other) {
    Release();
    FHandle = std::exchange(other.FHandle, nullptr);
    FData = std::exchange(other.FData, nullptr);
    FSize = std::exchange(other.FSize, 0);
  }
  return *this;
}

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
