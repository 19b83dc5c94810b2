#include "platform/global_memory.h"

#include <windows.h>

#include <new>
#include <utility>

namespace platform {

void GlobalMemoryBlock::Resize(std::size_t size) {
  if (size == 0) {
    Release();
    return;
  }
  if (FHandle == nullptr) {
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, size);
    if (handle == nullptr) throw std::bad_alloc();
    void* data = GlobalLock(handle);
    if (data == nullptr) {
      GlobalFree(handle);
      throw std::bad_alloc();
    }
    FHandle = handle;
    FData = static_cast<std::byte*>(data);
    FSize = size;
    return;
  }
  // A movable block can only move while it is unlocked; a refused resize keeps the old one.
  GlobalUnlock(FHandle);
  HGLOBAL resized = GlobalReAlloc(FHandle, size, GMEM_MOVEABLE);
  if (resized != nullptr) FHandle = resized;
  FData = static_cast<std::byte*>(GlobalLock(FHandle));
  if (FData == nullptr) {
    GlobalFree(FHandle);
    FHandle = nullptr;
    FSize = 0;
    throw std::bad_alloc();
  }
  if (resized == nullptr) throw std::bad_alloc();
  FSize = size;
}

void GlobalMemoryBlock::Release() noexcept {
  if (FHandle != nullptr) {
    GlobalUnlock(FHandle);
    GlobalFree(FHandle);
  }
  FHandle = nullptr;
  FData = nullptr;
  FSize = 0;
}

std::filesystem::path DefaultDumpFolder() { return std::filesystem::path("C:\\"); }

}  // namespace platform
