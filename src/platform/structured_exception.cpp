#include "platform/structured_exception.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>

namespace platform {

namespace {
std::atomic<StructuredExceptionObserver> gObserver{nullptr};
}

void SetStructuredExceptionObserver(StructuredExceptionObserver observer) noexcept {
  gObserver.store(observer, std::memory_order_release);
}

StructuredExceptionObserver CurrentStructuredExceptionObserver() noexcept {
  return gObserver.load(std::memory_order_acquire);
}

StructuredException::StructuredException(uint32_t code, const void* address, bool isWrite,
                                         const void* faultAddress) noexcept
    : FCode(code), FAddress(address), FIsWrite(isWrite), FFaultAddress(faultAddress) {
  const auto codeAddress = reinterpret_cast<uintptr_t>(address);
  if (IsAccessViolation()) {
    std::snprintf(FText, sizeof(FText), "Structured exception 0x%08" PRIX32 " at 0x%0*" PRIXPTR
                  ": access violation %s address 0x%0*" PRIXPTR,
                  code, static_cast<int>(sizeof(void*) * 2), codeAddress, isWrite ? "writing" : "reading",
                  static_cast<int>(sizeof(void*) * 2), reinterpret_cast<uintptr_t>(faultAddress));
  } else {
    std::snprintf(FText, sizeof(FText), "Structured exception 0x%08" PRIX32 " at 0x%0*" PRIXPTR, code,
                  static_cast<int>(sizeof(void*) * 2), codeAddress);
  }
}

}  // namespace platform
