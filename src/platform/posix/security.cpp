// POSIX: named objects here are files in a private folder; there is no descriptor to apply.
#include "platform/security.h"

namespace platform {

struct SecurityAttributes::Records {};

SecurityAttributes::SecurityAttributes() : FRecords(nullptr) {}
SecurityAttributes::~SecurityAttributes() = default;

std::optional<SecurityAttributes::Failure> SecurityAttributes::Prepare() {
  FPrepared = true;
  return std::nullopt;
}

void* SecurityAttributes::Native() const noexcept { return nullptr; }

bool IsNtPlatform() { return true; }

}  // namespace platform
