#pragma once
// A process-wide meeting point between modules: one module registers an address under a name,
// every other module of the process (also another copy of the same library) can look it up.
//
// Windows: an application-global window class (style CS_GLOBALCLASS) registered for the calling
// module, whose window-procedure field carries the address; looked up with GetClassInfoA. No
// window of the class is ever created.
// POSIX: a registry in the process's heap, found through the environment (see the source).
#include <string>

namespace platform {

// False when the name is already registered in the process (or the system refused).
bool RegisterRendezvous(const std::string& name, const void* address);
// The address registered under the name (names compared without regard to ASCII case), or
// nullptr when none is.
const void* LookupRendezvous(const std::string& name);
// Withdraws the name; false when it was not registered (Windows: by this module).
bool UnregisterRendezvous(const std::string& name);

}  // namespace platform
