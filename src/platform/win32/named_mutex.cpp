#include "platform/named_mutex.h"

#include <windows.h>

#include <utility>

#include "platform/security.h"

namespace platform {

namespace {
constexpr DWORD kQueryStateAccess = 1;  // MUTANT_QUERY_STATE
}

NamedMutex::~NamedMutex() { Close(); }

NamedMutex::NamedMutex(NamedMutex&& other) noexcept
    : FHandle(std::exchange(other.FHandle, nullptr)),
      FAlreadyExisted(std::exchange(other.FAlreadyExisted, false)) {}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
  if (this != &other) {
    Close();
    FHandle = std::exchange(other.FHandle, nullptr);
    FAlreadyExisted = std::exchange(other.FAlreadyExisted, false);
  }
  return *this;
}

NamedMutex NamedMutex::Create(const std::string& name, bool initialOwner, const SecurityAttributes* security) {
  NamedMutex mutex;
  SetLastError(ERROR_SUCCESS);
  auto* attributes = security ? static_cast<SECURITY_ATTRIBUTES*>(security->Native()) : nullptr;
  HANDLE handle = CreateMutexA(attributes, initialOwner ? TRUE : FALSE, name.c_str());
  if (!handle) return mutex;
  mutex.FHandle = handle;
  mutex.FAlreadyExisted = GetLastError() == ERROR_ALREADY_EXISTS;
  return mutex;
}

bool NamedMutex::IsOpen() const noexcept { return FHandle != nullptr; }

bool NamedMutex::Close() noexcept {
  FAlreadyExisted = false;
  if (!FHandle) return true;
  return CloseHandle(std::exchange(FHandle, nullptr)) != 0;
}

bool NamedMutexExists(const std::string& name) {
  HANDLE handle = OpenMutexA(kQueryStateAccess, FALSE, name.c_str());
  if (handle) {
    CloseHandle(handle);
    return true;
  }
  DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
}

std::string NamedObjectFolder() { return {}; }

}  // namespace platform
