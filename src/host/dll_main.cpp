// The library's entry: module start and stop, and the two exports. Built into Vestrel.plu only.
#include "driver/module_driver.h"
#include "host/plugin_entry.h"
#include "vestrel/plugin_abi.h"

// The driver the library makes at start. A test build of the library names a failing one.
#ifndef VESTREL_MODULE_DRIVER_FACTORY
#define VESTREL_MODULE_DRIVER_FACTORY CreateModuleDriver
#endif
std::unique_ptr<TBaseDllObj> VESTREL_MODULE_DRIVER_FACTORY();

extern "C" {

// Stores the published control interface in the caller's result slot (EAX on 32-bit x86).
__attribute__((visibility("default"))) void VESTREL_REGISTER_CALL PluginControl(IUnknown** result) {
  StorePublishedControl(result);
}

__attribute__((visibility("default"))) int32_t Query() { return vestrel::kQueryValue; }

}  // extern "C"

#ifdef _WIN32
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) ModuleStart(&VESTREL_MODULE_DRIVER_FACTORY);
  if (reason == DLL_PROCESS_DETACH) ModuleStop();
  return TRUE;
}
#else
// This object is linked after every other one of the library, so these run after all static
// objects are constructed and before any is destroyed.
__attribute__((constructor)) static void VestrelModuleLoaded() { ModuleStart(&VESTREL_MODULE_DRIVER_FACTORY); }
__attribute__((destructor)) static void VestrelModuleUnloaded() { ModuleStop(); }
#endif
