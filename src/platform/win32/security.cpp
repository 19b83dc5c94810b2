#include "platform/security.h"

#include <windows.h>

namespace platform {

struct SecurityAttributes::Records {
  SECURITY_ATTRIBUTES Attributes{};
  SECURITY_DESCRIPTOR Descriptor{};
};

SecurityAttributes::SecurityAttributes() : FRecords(new Records{}) {}

SecurityAttributes::~SecurityAttributes() { delete FRecords; }

std::optional<SecurityAttributes::Failure> SecurityAttributes::Prepare() {
  FRecords->Attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
  FRecords->Attributes.bInheritHandle = FALSE;
  FRecords->Attributes.lpSecurityDescriptor = &FRecords->Descriptor;
  if (!InitializeSecurityDescriptor(&FRecords->Descriptor, SECURITY_DESCRIPTOR_REVISION)) {
    return Failure{"InitializeSecurityDescriptor", GetLastError()};
  }
  // A present but null access list grants everyone access.
  if (!SetSecurityDescriptorDacl(&FRecords->Descriptor, TRUE, nullptr, FALSE)) {
    return Failure{"SetSecurityDescriptorDacl", GetLastError()};
  }
  FPrepared = true;
  return std::nullopt;
}

void* SecurityAttributes::Native() const noexcept { return FPrepared ? &FRecords->Attributes : nullptr; }

bool IsNtPlatform() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&version)) return false;
#pragma GCC diagnostic pop
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

}  // namespace platform
