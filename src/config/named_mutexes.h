#pragma once
// Named mutexes as markers between processes, raising the system's error on failure.

#include <string>

#include "platform/named_mutex.h"
#include "platform/security.h"

// Creates the named mutex or opens the existing one (AlreadyExisted() tells which). The
// thread's last error is cleared first; a mutex that cannot be had raises the system error.
platform::NamedMutex CreateNamedMutex(const platform::SecurityAttributes* SecurityAttributes, bool InitialOwner,
                                      const std::string& Name);
// Closes the mutex; a refusal of the system raises its error. True otherwise.
bool CloseNamedMutex(platform::NamedMutex& Handle);
// Whether some process holds a mutex of that name (also when access to it is denied).
bool MutexExists(const std::string& Name);

// Raises a plain Exception "System Error.  Code: <code>.\r\n<system text>" for the thread's
// last system error.
[[noreturn]] void RaiseLastSystemError();
