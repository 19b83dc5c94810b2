#pragma once
// The diagnostic log: what an integrator switches on to find out why a reader misbehaves.
// Off by default; every layer above the platform writes to it.
//
// A line: the local date and time to the millisecond, the writing thread's id in brackets, the
// text, CR LF ("08.12.2026 12:03:10.250 [4321] reader 0: ..."). The file is UTF-8 and starts
// with a byte-order mark, so that every Notepad shows it right. Texts are given in UTF-8; line
// breaks inside a text become blanks, other control characters '?', and a text longer than
// kMaxDiagnosticLineBytes is cut at a character boundary and ends with "…".
//
// Nothing that writes a line waits for the file: lines go into a bounded queue, which a writer
// thread empties every kDiagnosticWriterPeriodMilliseconds (at once when the queue is half
// full). A line that finds the queue full is dropped and counted; the next line that gets in
// says how many were dropped before it. A file that cannot be opened or written costs the
// lines and nothing else: they are counted, and once the file can be written again its next
// line says how many were lost. At kMaxFileBytes the file is renamed to its rotated name
// ("Vestrel.log" becomes "Vestrel.old.log", replacing the older one) and a new one begins:
// two files at most, each at most that size (unless a single line is larger).
//
// With the log off, a call of DIAGNOSTIC_LOG costs one relaxed atomic load: its arguments are
// not even evaluated. DiagnosticLogWith(compose) does the same for a line that takes work to
// build. WriteDiagnosticLine and WriteDiagnosticLineF check again and may be called any time.
//
// Start and stop: StopDiagnosticLog may run in the module's stop routine, also under the
// system's loader lock (DllMain): it asks the writer to write what is queued and return, waits
// for that at most kDiagnosticLogStopWaitMilliseconds, and never joins the writer (see
// platform/unload_safe_thread.h). At process exit, where the system has ended the writer
// already, it writes what is left itself. Start and stop are meant for the module's start and
// stop (and tools and tests); lines may be written from any thread at any time.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/local_time.h"

struct TDiagnosticLogSettings {
  std::string FileName;  // the file's full path; empty: no log
  uint64_t MaxFileBytes = 1024 * 1024;
  bool FullCardNumbers = false;  // card numbers in full rather than their last four digits
  uint32_t QueueLines = 4096;    // the queue's bound, in lines
};

inline constexpr size_t kMaxDiagnosticLineBytes = 2048;
inline constexpr uint32_t kDiagnosticWriterPeriodMilliseconds = 100;
inline constexpr uint32_t kDiagnosticLogStopWaitMilliseconds = 2000;
// The smallest size at which a file rotates (a smaller setting is raised to it).
inline constexpr uint64_t kMinDiagnosticFileBytes = 16 * 1024;

namespace diagnostic_log_detail {
extern constinit std::atomic<bool> gOn;
}

inline bool DiagnosticLogOn() noexcept { return diagnostic_log_detail::gOn.load(std::memory_order_relaxed); }

// Starts the log with these settings (a running log is stopped first). False when the settings
// name no file or the writer thread cannot be started; the log is off then. A file that cannot
// be opened does not make it fail: the log runs and counts what it loses.
bool StartDiagnosticLog(const TDiagnosticLogSettings& settings);
// Stops the log: bounded, safe in the module's stop routine (see above). Nothing when it is off.
void StopDiagnosticLog() noexcept;
// Waits at most timeoutMilliseconds until every line queued before the call has been written
// (or counted as lost). True when that happened; also true when the log is off.
bool FlushDiagnosticLog(uint32_t timeoutMilliseconds);

// For tests and benchmarks: while held, the writer takes nothing from the queue (so that the
// queue fills as behind a file system that does not keep up). Released by a start or a stop.
void HoldDiagnosticLogWriter(bool hold);

// One line (UTF-8). Nothing when the log is off.
void WriteDiagnosticLine(std::string_view text) noexcept;
// One line from a printf format (UTF-8). Nothing when the log is off.
void WriteDiagnosticLineF(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));

#define DIAGNOSTIC_LOG(...)                                      \
  do {                                                           \
    if (DiagnosticLogOn()) WriteDiagnosticLineF(__VA_ARGS__);    \
  } while (false)

// compose() runs only when the log is on; it returns the line's text (UTF-8).
template <class TCompose>
void DiagnosticLogWith(TCompose&& compose) {
  if (DiagnosticLogOn()) WriteDiagnosticLine(compose());
}

// A card number as the log writes it: all but its last four characters replaced by '*'
// ("00A1B2C3" gives "****B2C3"; four or fewer characters are all masked), or in full when the
// settings say so. Card numbers are access credentials.
std::string LoggedCardNumber(std::string_view code);

// What the log has done since it was started (kept after it stopped, cleared by a start).
struct TDiagnosticLogCounters {
  uint64_t Written = 0;  // lines in the file
  uint64_t Dropped = 0;  // lines that found the queue full
  uint64_t Lost = 0;     // lines the file could not take
};
TDiagnosticLogCounters DiagnosticLogCounters();

// The file the running log writes (empty when it is off), and the name it rotates to:
// the extension kept, ".old" before it ("Vestrel.log" → "Vestrel.old.log", "log" → "log.old").
std::string DiagnosticLogFileName();
std::string RotatedDiagnosticLogFileName(std::string_view fileName);

// Times as the log writes them: "dd.MM.yyyy hh:mm:ss.zzz" and "hh:mm:ss.zzz".
std::string DiagnosticDateTimeText(const platform::LocalDateTime& time);
std::string DiagnosticTimeOfDayText(const platform::LocalDateTime& time);
// A count with blanks between groups of three digits ("1 412", "1 000 000").
std::string DiagnosticCountText(uint64_t count);
