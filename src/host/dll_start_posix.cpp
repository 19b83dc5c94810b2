// The shared object's start and stop routines (POSIX). This object is linked after every other
// object of the library, so its constructor runs after all static objects of the library are
// constructed.
//
// The stop is not a destructor of the shared object: a host that ends without dlclose runs the
// exit handlers of every library (the destructors of their static objects among them) before
// the libraries' destructor functions, so a stop there would use what is already destroyed.
// Registered as the library's last exit handler once the start is done, the stop runs first
// instead, both at dlclose (which runs this library's handlers, latest first) and at exit
// (which runs all handlers, latest first): while everything the start set up is alive.
#include "host/plugin_entry.h"

extern const TDriverFactory gModuleDriverFactory;

extern "C" int __cxa_atexit(void (*handler)(void*), void* argument, void* library);
extern "C" void* __dso_handle;

namespace {

bool gStopRegistered = false;

void StopModule(void*) { ModuleStop(); }

}  // namespace

__attribute__((constructor)) static void VestrelModuleLoaded() {
  ModuleStart(gModuleDriverFactory);
  gStopRegistered = __cxa_atexit(&StopModule, nullptr, &__dso_handle) == 0;
}

// Only when the exit handler could not be registered.
__attribute__((destructor)) static void VestrelModuleUnloaded() {
  if (!gStopRegistered) ModuleStop();
}
