#pragma once
// The driver instance variable: the library's one driver object, and the call handler that runs
// a host's chain on it. The module start fills the variable, the module stop empties it, and the
// control object hands the driver out through its address.

#include "platform/ole_automation.h"
#include "vestrel/plugin_abi.h"

class TBaseDllObj;

// The library's one driver object, or null (before start, after a failed construction, after
// stop).
TBaseDllObj*& DriverInstance() noexcept;

// The call handler that the driver installs: runs the chain on the driver instance's
// dispatcher (a failure raises, for the call entry to record).
BOOL WINAPI DispatchToDriverInstance(TParams* params, IUnknown* context);
