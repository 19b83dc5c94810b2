// The process-wide rendezvous on Windows: an application-global window class (CS_GLOBALCLASS),
// registered for this module, whose window-procedure field carries the address. Every module of
// the process finds such a class by name; no window of it is ever created.
#include "platform/process_rendezvous.h"

#include <windows.h>

namespace platform {
namespace {

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<const char*>(&ThisModule), &module);
  return module;
}

}  // namespace

bool RegisterRendezvous(const std::string& name, const void* address) {
  WNDCLASSA windowClass{};
  windowClass.style = CS_GLOBALCLASS;
  windowClass.lpfnWndProc = reinterpret_cast<WNDPROC>(const_cast<void*>(address));
  windowClass.hInstance = ThisModule();
  windowClass.lpszClassName = name.c_str();
  return RegisterClassA(&windowClass) != 0;
}

const void* LookupRendezvous(const std::string& name) {
  WNDCLASSA windowClass{};
  if (!GetClassInfoA(ThisModule(), name.c_str(), &windowClass)) return nullptr;
  return reinterpret_cast<const void*>(windowClass.lpfnWndProc);
}

bool UnregisterRendezvous(const std::string& name) { return UnregisterClassA(name.c_str(), ThisModule()) != 0; }

}  // namespace platform
