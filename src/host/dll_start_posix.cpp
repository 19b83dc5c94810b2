// The shared object's start and stop routines (POSIX). This object is linked after every other
// object of the library, so its constructor runs after all static objects of the library are
// constructed, and its destructor before any of them is destroyed.
#include "host/plugin_entry.h"

extern const TDriverFactory gModuleDriverFactory;

__attribute__((constructor)) static void VestrelModuleLoaded() { ModuleStart(gModuleDriverFactory); }
__attribute__((destructor)) static void VestrelModuleUnloaded() { ModuleStop(); }
