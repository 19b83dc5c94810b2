#include "config/named_mutexes.h"

#include "base/errors.h"
#include "platform/system_error.h"

void RaiseLastSystemError() {
  const uint32_t code = platform::LastSystemError();
  throw Exception("System Error.  Code: " + std::to_string(code) + ".\r\n" + platform::SystemErrorText(code));
}

platform::NamedMutex CreateNamedMutex(const platform::SecurityAttributes* SecurityAttributes, bool InitialOwner,
                                      const std::string& Name) {
  platform::SetLastSystemError(0);
  platform::NamedMutex mutex = platform::NamedMutex::Create(Name, InitialOwner, SecurityAttributes);
  if (!mutex.IsOpen())
    RaiseLastSystemError();
  return mutex;
}

bool CloseNamedMutex(platform::NamedMutex& Handle) {
  if (!Handle.Close())
    RaiseLastSystemError();
  return true;
}

bool MutexExists(const std::string& Name) { return platform::NamedMutexExists(Name); }
