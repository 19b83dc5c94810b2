#pragma once
// A growable memory block from the global heap, as the memory stream keeps its data.
//
// On Windows this is a movable global-heap block (GlobalAlloc with GMEM_MOVEABLE, resized
// with GlobalReAlloc), kept locked while the object holds it so that its address stays
// usable; elsewhere it is plain heap memory with the same observable behaviour.

#include <cstddef>
#include <filesystem>

namespace platform {

class GlobalMemoryBlock {
public:
  GlobalMemoryBlock() = default;
  ~GlobalMemoryBlock();
  GlobalMemoryBlock(const GlobalMemoryBlock&) = delete;
  GlobalMemoryBlock& operator=(const GlobalMemoryBlock&) = delete;
  GlobalMemoryBlock(GlobalMemoryBlock&& other) noexcept;
  GlobalMemoryBlock& operator=(GlobalMemoryBlock&& other) noexcept;

  // Allocates the block (first time) or resizes it, keeping the first min(old, new) bytes.
  // A size of 0 releases the block. Throws std::bad_alloc when the heap refuses; the old
  // block is then unchanged.
  void Resize(std::size_t size);
  void Release() noexcept;

  // The locked data address, or null without a block.
  std::byte* Data() const noexcept { return FData; }
  std::size_t Size() const noexcept { return FSize; }

private:
  void* FHandle = nullptr;  // the heap handle (Windows) or the allocation itself
  std::byte* FData = nullptr;
  std::size_t FSize = 0;
};

// The folder that diagnostic dumps of memory streams go to: the root of drive C: on
// Windows, the temporary folder elsewhere.
std::filesystem::path DefaultDumpFolder();

}  // namespace platform
