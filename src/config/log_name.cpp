#include "config/log_name.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/file_system.h"
#include "platform/named_mutex.h"
#include "platform/process_info.h"
#include "platform/process_rendezvous.h"

namespace {

// The reverse-domain prefix every cooperating module uses.
constexpr char kNamePrefix[] = "_ru.vestrel";
constexpr int32_t kUnknownSession = 9999;

// Per module: the name, the host mutex while this module is the host, and how the name came.
TLogNameBuffer gLogName{};
platform::NamedMutex gHostMutex;
bool gPublished = false;
TLogNameSource gSource = TLogNameSource::None;

void StoreLogName(std::string_view name) {
  gLogName.fill(0);
  const size_t length = std::min(name.size(), kLogNameCapacity - 1);
  std::memcpy(gLogName.data(), name.data(), length);
}

// This module's own file: the binary this code was linked into.
std::string ThisModuleFile() { return platform::ModuleFileName(reinterpret_cast<const void*>(&StoreLogName)); }

}  // namespace

std::string LogHostMutexName(uint32_t ProcessId) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%06X", static_cast<unsigned>(ProcessId));
  return std::string(kNamePrefix) + ".baselog.host_" + digits;
}

std::string LogDataClassName() { return std::string(kNamePrefix) + ".baselog.dataclass"; }

int32_t ProcessSessionId() {
  const std::optional<uint32_t> session = platform::ProcessSessionId();
  return session ? static_cast<int32_t>(*session) : kUnknownSession;
}

AnsiString BuildLogFileName(const std::string& ModuleFile) {
  return platform::ChangeFileExt(ModuleFile, "") + "_" + platform::ComputerName() + "_" +
         std::to_string(ProcessSessionId()) + ".log";
}

void StartLogRendezvous() {
  if (gSource != TLogNameSource::None)
    return;
  platform::NamedMutex mutex =
      platform::NamedMutex::Create(LogHostMutexName(platform::CurrentProcessId()), true);
  const bool host = mutex.IsOpen() && !mutex.AlreadyExisted();
  if (!host) {
    mutex.Close();
    if (const void* hostName = platform::LookupRendezvous(LogDataClassName())) {
      // The host's buffer: always kLogNameCapacity bytes, zero-terminated.
      std::memcpy(gLogName.data(), hostName, kLogNameCapacity);
      gLogName.back() = 0;
      gSource = TLogNameSource::CopiedFromHost;
    } else {
      StoreLogName(BuildLogFileName(platform::ExecutableFileName()));
      gSource = TLogNameSource::FromExecutable;
    }
    return;
  }
  gHostMutex = std::move(mutex);
  StoreLogName(BuildLogFileName(ThisModuleFile()));
  // A failed publication leaves the other modules with the executable-based name; the host
  // process goes on (ending it over a log name would take the host application down).
  gPublished = platform::RegisterRendezvous(LogDataClassName(), gLogName.data());
  gSource = gPublished ? TLogNameSource::Host : TLogNameSource::HostUnpublished;
}

void StopLogRendezvous() {
  if (gHostMutex.IsOpen()) {
    gHostMutex.Close();
    if (gPublished)
      platform::UnregisterRendezvous(LogDataClassName());
  }
  gHostMutex = platform::NamedMutex();
  gPublished = false;
  gSource = TLogNameSource::None;
}

AnsiString LogFileName() { return AnsiString(gLogName.data()); }

TLogNameSource LogNameSource() { return gSource; }
