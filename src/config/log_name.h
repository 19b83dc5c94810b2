#pragma once
// The log-name rendezvous: every module of one process that takes part agrees on one log
// file name. The first module to start becomes the host: it derives the name from its own
// file name, the computer name and the session, and publishes the name's address under a
// process-wide data-class name; the others copy the host's name. Nothing here writes a log.

#include <array>
#include <cstdint>
#include <string>

#include "platform/text_codec.h"

// The buffer the name lives in: 260 characters and the terminating zero.
inline constexpr size_t kLogNameCapacity = 261;
using TLogNameBuffer = std::array<char, kLogNameCapacity>;

// "_ru.vestrel.baselog.host_" + the process id in upper-case hexadecimal of at least six
// digits (process 6699 gives "..._001A2B").
std::string LogHostMutexName(uint32_t ProcessId);
// "_ru.vestrel.baselog.dataclass": the name under which the host publishes its buffer.
std::string LogDataClassName();

// How this module came by its log name.
enum class TLogNameSource {
  None,        // not started
  Host,        // this module hosts the name and published it
  HostUnpublished,  // this module hosts the name, but publishing it failed
  CopiedFromHost,   // another module of the process hosts it: the name is a copy of its own
  FromExecutable,   // the host exists but has not published yet: built from the program's name
};

// Run once when the module starts / ends. StopLogRendezvous withdraws what Start published.
void StartLogRendezvous();
void StopLogRendezvous();

// The log file name this module settled on (empty before StartLogRendezvous).
AnsiString LogFileName();
TLogNameSource LogNameSource();

// The name a module derives: file name without extension, "_", computer name, "_",
// session id, ".log".
AnsiString BuildLogFileName(const std::string& ModuleFile);

// The terminal-services session of the current process; 9999 when it cannot be told.
int32_t ProcessSessionId();
