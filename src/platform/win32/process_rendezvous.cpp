// The process-wide rendezvous on Windows: an application-global window class (CS_GLOBALCLASS),
// registered for this module, whose window-procedure field carries the address. Every module of
// the process finds such a class by name; no window of it is ever created.
#include "platform/process_rendezvous.h"

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <cctype>
#include <set>

namespace platform {
namespace {

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<const char*>(&ThisModule), &module);
  return module;
}

// The names this module registered. Some systems let any module unregister a global class; the
// rendezvous keeps the stricter rule that only the registering module withdraws a name.
std::mutex ownNamesLock;
std::set<std::string> ownNames;

std::string Key(const std::string& name) {
  std::string key = name;
  std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return key;
}

}  // namespace

bool RegisterRendezvous(const std::string& name, const void* address) {
  WNDCLASSA windowClass{};
  windowClass.style = CS_GLOBALCLASS;
  windowClass.lpfnWndProc = reinterpret_cast<WNDPROC>(const_cast<void*>(address));
  windowClass.hInstance = ThisModule();
  windowClass.lpszClassName = name.c_str();
  if (!RegisterClassA(&windowClass)) return false;
  std::lock_guard guard(ownNamesLock);
  ownNames.insert(Key(name));
  return true;
}

const void* LookupRendezvous(const std::string& name) {
  WNDCLASSA windowClass{};
  if (!GetClassInfoA(ThisModule(), name.c_str(), &windowClass)) return nullptr;
  return reinterpret_cast<const void*>(windowClass.lpfnWndProc);
}

bool UnregisterRendezvous(const std::string& name) {
  std::lock_guard guard(ownNamesLock);
  auto own = ownNames.find(Key(name));
  if (own == ownNames.end()) return false;
  if (!UnregisterClassA(name.c_str(), ThisModule())) return false;
  ownNames.erase(own);
  return true;
}

}  // namespace platform
