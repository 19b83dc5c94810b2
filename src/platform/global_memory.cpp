// Ownership of a global-heap block, the same on every platform; allocation and release are
// in the win32/ and posix/ sources.
#include "platform/global_memory.h"

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

}  // namespace platform
