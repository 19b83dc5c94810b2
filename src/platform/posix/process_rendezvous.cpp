// The process-wide rendezvous on POSIX.
//
// Every module that links the platform layer has its own copy of this code and of its statics:
// two copies of one library loaded with RTLD_LOCAL see nothing of each other's symbols. What all
// modules of a process do share is the process's memory and its environment. So the first module
// that needs the registry maps a block of plain data (no code, no vtables: it stays valid when
// that module is unloaded again) and publishes its address in the environment variable
// VESTREL_RENDEZVOUS as "<pid>:<exec token>:<address>". The others read the variable and use the
// same block, guarded by the mutex inside it. The process id rejects a value inherited through
// fork, the exec token (the kernel's per-exec random bytes, AT_RANDOM) one inherited through
// exec, so a stale address is never followed. The block is never freed: it lives as long as the
// process, as an application-global window class does on Windows.
//
// Creating the block is not itself locked: modules register while they start, and the loader
// runs module start code one module at a time.
#include "platform/process_rendezvous.h"

#include <pthread.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

constexpr char kVariable[] = "VESTREL_RENDEZVOUS";
constexpr uint32_t kMagic = 0x56524456;  // "VDRV"
constexpr uint32_t kLayoutVersion = 1;
constexpr size_t kNameCapacity = 256;
constexpr size_t kEntryCount = 64;

struct Entry {
  char Name[kNameCapacity];
  const void* Address;
  const void* Owner;  // identifies the module copy that registered the name
  uint32_t Used;
};

struct Registry {
  uint32_t Magic;
  uint32_t LayoutVersion;
  uint32_t EntrySize;
  pthread_mutex_t Lock;
  Entry Entries[kEntryCount];
};

// This module copy's own identity: every copy has its own instance of this variable.
Registry* moduleRegistry = nullptr;
const void* ModuleIdentity() { return &moduleRegistry; }

unsigned long long ExecToken() {
  unsigned long long token = 0;
  if (const void* random = reinterpret_cast<const void*>(getauxval(AT_RANDOM))) {
    std::memcpy(&token, random, sizeof token);
  }
  return token;
}

Registry* PublishedRegistry() {
  const char* value = std::getenv(kVariable);
  if (!value) return nullptr;
  long pid = 0;
  unsigned long long token = 0;
  void* address = nullptr;
  if (std::sscanf(value, "%ld:%llx:%p", &pid, &token, &address) != 3) return nullptr;
  if (pid != static_cast<long>(getpid()) || token != ExecToken() || !address) return nullptr;
  auto* registry = static_cast<Registry*>(address);
  if (registry->Magic != kMagic || registry->LayoutVersion != kLayoutVersion ||
      registry->EntrySize != sizeof(Entry)) {
    return nullptr;
  }
  return registry;
}

Registry* CreateRegistry() {
  void* block = mmap(nullptr, sizeof(Registry), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  auto* registry = static_cast<Registry*>(block);  // zero-filled by the system
  pthread_mutex_init(&registry->Lock, nullptr);
  registry->EntrySize = sizeof(Entry);
  registry->LayoutVersion = kLayoutVersion;
  registry->Magic = kMagic;
  char value[96];
  std::snprintf(value, sizeof value, "%ld:%llx:%p", static_cast<long>(getpid()), ExecToken(), block);
  if (setenv(kVariable, value, 1) != 0) {
    munmap(block, sizeof(Registry));
    return nullptr;
  }
  return registry;
}

Registry* TheRegistry(bool create) {
  Registry* published = PublishedRegistry();
  if (!published && create) published = CreateRegistry();
  moduleRegistry = published;
  return published;
}

bool SameName(const char* stored, const std::string& name) {
  return name.size() < kNameCapacity && strncasecmp(stored, name.c_str(), kNameCapacity) == 0;
}

class Locked {
public:
  explicit Locked(Registry* registry) : FRegistry(registry) { pthread_mutex_lock(&FRegistry->Lock); }
  ~Locked() { pthread_mutex_unlock(&FRegistry->Lock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

private:
  Registry* FRegistry;
};

Entry* FindEntry(Registry* registry, const std::string& name) {
  for (Entry& entry : registry->Entries) {
    if (entry.Used && SameName(entry.Name, name)) return &entry;
  }
  return nullptr;
}

}  // namespace

bool RegisterRendezvous(const std::string& name, const void* address) {
  if (name.empty() || name.size() >= kNameCapacity) return false;
  Registry* registry = TheRegistry(true);
  if (!registry) return false;
  Locked guard(registry);
  if (FindEntry(registry, name)) return false;
  for (Entry& entry : registry->Entries) {
    if (entry.Used) continue;
    std::memset(entry.Name, 0, sizeof entry.Name);
    std::memcpy(entry.Name, name.data(), name.size());
    entry.Address = address;
    entry.Owner = ModuleIdentity();
    entry.Used = 1;
    return true;
  }
  return false;
}

const void* LookupRendezvous(const std::string& name) {
  Registry* registry = TheRegistry(false);
  if (!registry) return nullptr;
  Locked guard(registry);
  Entry* entry = FindEntry(registry, name);
  return entry ? entry->Address : nullptr;
}

bool UnregisterRendezvous(const std::string& name) {
  Registry* registry = TheRegistry(false);
  if (!registry) return false;
  Locked guard(registry);
  Entry* entry = FindEntry(registry, name);
  if (!entry || entry->Owner != ModuleIdentity()) return false;
  std::memset(entry, 0, sizeof *entry);
  return true;
}

}  // namespace platform
