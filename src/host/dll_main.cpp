// The library's entry: module start and stop, and the two exports. Built into Vestrel.plu only
// (as one of its own objects, so that the linker takes the plug-in's code in before the POSIX
// start routine of dll_start_posix.cpp, which goes last).
#include "host/module_driver.h"
#include "host/plugin_entry.h"
#include "vestrel/plugin_abi.h"

// The driver the library makes at start. A test build of the library names a failing one.
#ifndef VESTREL_MODULE_DRIVER_FACTORY
#define VESTREL_MODULE_DRIVER_FACTORY CreateModuleDriver
#endif
std::unique_ptr<TBaseDllObj> VESTREL_MODULE_DRIVER_FACTORY();

// PluginControl's convention: its one argument in EAX on 32-bit x86. With every argument in a
// register, the host's convention is regparm(3) alone (nothing on the stack to pop), which also
// keeps the symbol free of a stdcall size suffix.
#if defined(__i386__)
#define VESTREL_EXPORT_REGISTER __attribute__((regparm(3)))
#else
#define VESTREL_EXPORT_REGISTER
#endif

#ifdef _WIN32
#define VESTREL_EXPORT
#else
#define VESTREL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// Stores the published control interface in the caller's result slot.
VESTREL_EXPORT void VESTREL_EXPORT_REGISTER PluginControl(IUnknown** result) {
  StorePublishedControl(result);
}

VESTREL_EXPORT int32_t Query() { return vestrel::kQueryValue; }

}  // extern "C"

// The factory the start routine hands to ModuleStart.
extern const TDriverFactory gModuleDriverFactory;
const TDriverFactory gModuleDriverFactory = &VESTREL_MODULE_DRIVER_FACTORY;

#ifdef _WIN32
#include <windows.h>

#include "platform/sync.h"

// The C runtime constructs the library's static objects before this runs at attach and
// destroys them after it runs at detach.
//
// Detach comes in two ways. A host's FreeLibrary: every polling thread holds a reference to
// this library (platform::Thread) and drops it only as it ends, so a library unloaded with a
// device on stays loaded, the device running on, until that device's thread has ended; when
// the detach does come, no thread of the library runs and the stop waits for none (it runs
// under the loader lock, which a thread needs to end). The process's end: the system has
// already ended every other thread wherever it stood; if a polling thread was among them,
// its locks and objects are in an unknown state and nothing of the plug-in is taken down (the
// system closes the reader library, the marker and everything else with the process).
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) ModuleStart(gModuleDriverFactory);
  if (reason == DLL_PROCESS_DETACH) {
    const bool processEnds = reserved != nullptr;
    if (!processEnds || platform::RunningThreadCount() == 0) ModuleStop();
  }
  return TRUE;
}
#endif
