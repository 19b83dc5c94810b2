// A small library that the platform tests load, also as two copies under two file names: it
// reaches the rendezvous and the module file name from inside a module of its own.
// (Named .cc so that the test program's own source glob leaves it out.)
#include <cstring>
#include <string>

#include "platform/file_system.h"
#include "platform/process_rendezvous.h"

namespace {
char moduleData[16] = "module data";
}

extern "C" {

int TestModuleRegister(const char* name) { return platform::RegisterRendezvous(name, moduleData) ? 1 : 0; }

const void* TestModuleLookup(const char* name) { return platform::LookupRendezvous(name); }

int TestModuleUnregister(const char* name) { return platform::UnregisterRendezvous(name) ? 1 : 0; }

const void* TestModuleData() { return moduleData; }

// Copies this module's own file name; its length.
int TestModuleFileName(char* buffer, int size) {
  std::string name = platform::ModuleFileName(reinterpret_cast<const void*>(&TestModuleFileName));
  if (buffer && size > 0) {
    std::strncpy(buffer, name.c_str(), static_cast<size_t>(size - 1));
    buffer[size - 1] = '\0';
  }
  return static_cast<int>(name.size());
}

}  // extern "C"
