#include "base/diagnostic_log.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>
#include <iterator>
#include <vector>

#include "platform/append_file.h"
#include "platform/file_system.h"
#include "platform/never_freed.h"
#include "platform/structured_exception.h"
#include "platform/sync.h"
#include "platform/unload_safe_thread.h"

namespace diagnostic_log_detail {
constinit std::atomic<bool> gOn{false};
}

using diagnostic_log_detail::gOn;

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr char kEllipsis[] = "\xE2\x80\xA6";
constexpr char kLineEnd[] = "\r\n";

// "08.12.2026 12:03:10.250 [4321] ".
std::string LinePrefix() {
  const platform::LocalDateTime now = platform::LocalTimeNow();
  char prefix[64];
  const int length = std::snprintf(prefix, sizeof prefix, "%s [%u] ", DiagnosticDateTimeText(now).c_str(),
                                   static_cast<unsigned>(platform::CurrentThreadId()));
  return std::string(prefix, length > 0 ? static_cast<size_t>(length) : 0);
}

// Appends the text as one line's content: line breaks become one blank each (CR LF one
// blank), other control characters '?', and the text is cut, at a UTF-8 character boundary,
// where it would pass kMaxDiagnosticLineBytes.
void AppendLineText(std::string& line, std::string_view text) {
  size_t length = text.size();
  bool cut = false;
  if (length > kMaxDiagnosticLineBytes) {
    length = kMaxDiagnosticLineBytes;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    cut = true;
  }
  line.reserve(line.size() + length + 8);
  for (size_t index = 0; index < length; ++index) {
    const char c = text[index];
    if (c == '\r' && index + 1 < length && text[index + 1] == '\n') continue;
    if (c == '\r' || c == '\n') {
      line += ' ';
    } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
      line += '?';
    } else {
      line += c;
    }
  }
  if (cut) line += kEllipsis;
}

// A whole line; `prefixLength` receives where its text begins.
std::string MakeLine(std::string_view text, size_t* prefixLength = nullptr) {
  std::string line = LinePrefix();
  if (prefixLength) *prefixLength = line.size();
  AppendLineText(line, text);
  line += kLineEnd;
  return line;
}

// The file side of the log; used by the writer thread only (and by the stop after the writer
// has returned).
class TLogFileSink {
public:
  TLogFileSink(std::string fileName, uint64_t maxBytes)
      : FFileName(std::move(fileName)),
        FRotatedName(RotatedDiagnosticLogFileName(FFileName)),
        FMaxBytes(std::max(maxBytes, kMinDiagnosticFileBytes)) {}

  // Writes the lines; returns how many the file took (the rest are lost and counted).
  uint64_t Write(const std::vector<std::string>& lines) {
    if (lines.empty()) return 0;
    if (!EnsureOpen()) {
      FLostSinceWritten += lines.size();
      return 0;
    }
    FLostInWrite = 0;
    if (FLostSinceWritten > 0) {
      Append(MakeLine(DiagnosticCountText(FLostSinceWritten) + " lines lost: the log file could not be written"), 0);
    }
    for (const std::string& line : lines) Append(line, 1);
    Flush();
    // What this batch lost is told by the next one (if the note above was lost with it, its
    // count goes untold: the file failed twice in a row).
    FLostSinceWritten = FLostInWrite;
    return lines.size() - FLostInWrite;
  }

  void Close() {
    Flush();
    FFile.Close();
  }

private:
  bool EnsureOpen() {
    if (FFile.IsOpen()) return true;
    return Open(false);
  }

  bool Open(bool truncate) {
    if (!FFile.Open(FFileName, truncate)) return false;
    if (FFile.Size() == 0 && !FFile.Write(kByteOrderMark, sizeof kByteOrderMark - 1)) {
      FFile.Close();
      return false;
    }
    return true;
  }

  // Adds the line to the pending block, first writing the block and rotating the file when
  // the line would take the file past its size. `counted` is 1 for a caller's line (which the
  // block's count includes), 0 for a note of the log's own.
  void Append(const std::string& line, uint64_t counted) {
    const uint64_t used = FFile.Size() + FBlock.size();
    if (used + line.size() > FMaxBytes && used > sizeof kByteOrderMark - 1) {
      Flush();
      Rotate();
    }
    if (!FFile.IsOpen()) {
      FLostInWrite += counted;
      return;
    }
    FBlock += line;
    FBlockLines += counted;
  }

  // Writes the pending block; a block the file refuses is lost, and the file is opened again
  // for the next batch.
  void Flush() {
    if (FBlock.empty()) return;
    const uint64_t lines = std::exchange(FBlockLines, 0);
    const bool written = FFile.IsOpen() && FFile.Write(FBlock.data(), FBlock.size());
    FBlock.clear();
    if (written) return;
    FFile.Close();
    FLostInWrite += lines;
  }

  // The current file becomes the rotated one; a new current file begins. Where the rename is
  // refused (someone holds the old file open without sharing its deletion), the current file
  // is emptied instead, so that the size bound holds either way.
  void Rotate() {
    FFile.Close();
    if (platform::RenameFileReplacing(FFileName, FRotatedName) ||
        (platform::RemoveFile(FRotatedName), platform::RenameFileReplacing(FFileName, FRotatedName))) {
      Open(false);
    } else {
      Open(true);
    }
  }

  std::string FFileName;
  std::string FRotatedName;
  uint64_t FMaxBytes;
  platform::AppendFile FFile;
  std::string FBlock;
  uint64_t FBlockLines = 0;
  uint64_t FLostInWrite = 0;       // caller's lines lost by the running Write
  uint64_t FLostSinceWritten = 0;  // lines lost since the file last took a batch whole
};

// One run of the log, from a start to its stop: the file side and the writer thread. A writer
// that a stop had to abandon keeps its session (it is never freed under it).
struct TLogSession {
  TLogSession(const TDiagnosticLogSettings& settings) : Settings(settings), Sink(settings.FileName, settings.MaxFileBytes) {}
  TDiagnosticLogSettings Settings;
  TLogFileSink Sink;
  platform::UnloadSafeThread Writer;
  // The lines the writer has taken from the queue and not yet handed to the file (under the
  // queue's lock). Kept here, not on the writer's stack: at process exit the system may end the
  // writer in the middle of a batch, and the stop then writes the batch itself.
  std::vector<std::string> Batch;
  bool BatchInFlight = false;
};

// What the writing threads and the writer share, for the life of the module.
struct TLogState {
  // The queue's lock. The stop takes it with a bound (TryLockFor), because at process exit the
  // system may have ended a thread that held it.
  std::mutex Lock;
  std::condition_variable Processed;  // a batch was handled
  std::vector<std::string> Queue;
  TLogSession* Session = nullptr;  // the running session; null when the log is off
  uint32_t Capacity = 0;
  bool WriterHeld = false;
  uint64_t DroppedUnreported = 0;
  uint64_t Queued = 0;    // lines queued since the start
  uint64_t Handled = 0;   // lines the writer took from the queue since the start
  TDiagnosticLogCounters Counters;
  platform::ManualResetEvent Wake;  // the writer's wake-up

  std::mutex Control;  // start and stop
  std::atomic<bool> FullCardNumbers{false};
};

// Never destroyed: lines may be written, and the module's stop may run, after the static
// objects are gone (a process that exits without unloading the module runs the stop routines of
// loaded libraries after the C++ runtime has destroyed their static objects).
TLogState& State() {
  static TLogState& state = platform::NeverFreed(new TLogState);
  return state;
}

// Takes the lock within the bound; false when that fails.
bool TryLockFor(std::unique_lock<std::mutex>& lock, uint32_t milliseconds) {
  if (!platform::TryLockWithin(*lock.mutex(), milliseconds)) return false;
  lock = std::unique_lock<std::mutex>(*lock.release(), std::adopt_lock);
  return true;
}

// Adds a ready line to the queue. `prefixLength` is where a drop note goes.
void Enqueue(std::string line, size_t prefixLength) {
  TLogState& state = State();
  bool wake = false;
  {
    std::lock_guard lock(state.Lock);
    if (state.Session == nullptr) return;
    if (state.Queue.size() >= state.Capacity) {
      ++state.DroppedUnreported;
      ++state.Counters.Dropped;
      return;
    }
    if (state.DroppedUnreported > 0) {
      line.insert(prefixLength, "(" + DiagnosticCountText(std::exchange(state.DroppedUnreported, 0)) +
                                    " lines dropped before this one: the log's queue was full) ");
    }
    state.Queue.push_back(std::move(line));
    ++state.Queued;
    wake = state.Queue.size() == (state.Capacity + 1) / 2;  // once, as it reaches half
  }
  if (wake) state.Wake.Set();
}

void WriteLineText(std::string_view text) {
  size_t prefixLength = 0;
  std::string line = MakeLine(text, &prefixLength);
  Enqueue(std::move(line), prefixLength);
}

void WriteBatch(TLogState& state, TLogSession& session, std::vector<std::string>& batch) {
  const uint64_t written = session.Sink.Write(batch);
  {
    std::lock_guard lock(state.Lock);
    if (&batch == &session.Batch) session.BatchInFlight = false;
    state.Handled += batch.size();
    state.Counters.Written += written;
    state.Counters.Lost += batch.size() - written;
  }
  state.Processed.notify_all();
  batch.clear();
}

// The writer: every period (or when woken) it writes what is queued, until its session is no
// longer the running one; what is queued then is written by the stop. It looks first, so that
// a writer that starts after its stop returns at once.
void RunWriter(void* argument) {
  auto& session = *static_cast<TLogSession*>(argument);
  TLogState& state = State();
  std::vector<std::string>& batch = session.Batch;
  for (;;) {
    {
      std::lock_guard lock(state.Lock);
      if (state.Session != &session) return;
      if (!state.WriterHeld) batch.swap(state.Queue);
      session.BatchInFlight = !batch.empty();
    }
    if (!batch.empty()) WriteBatch(state, session, batch);
    state.Wake.Wait(kDiagnosticWriterPeriodMilliseconds);
    state.Wake.Reset();
  }
}

// "host/wire/params.cpp:305": the file as the build named it, without the way to the sources.
std::string SourcePlace(const platform::GuardPlace& where) {
  std::string_view file = where.file_name();
  const size_t source = file.rfind("src/");
  if (source != std::string_view::npos) {
    file.remove_prefix(source + 4);
  } else {
    while (file.substr(0, 3) == "../" || file.substr(0, 2) == "./") file.remove_prefix(file[1] == '.' ? 3 : 2);
  }
  return std::string(file) + ":" + std::to_string(where.line());
}

// Installed while the log runs: every structured exception a guard catches.
void LogStructuredException(const platform::StructuredException& error, const platform::GuardPlace& where) noexcept {
  if (!DiagnosticLogOn()) return;
  try {
    std::string text = error.what();
    text += ", caught by the guard in ";
    text += where.function_name();
    text += " (" + SourcePlace(where) + ")";
    WriteLineText(text);
  } catch (...) {
  }
}

// Ends the running session (under the control lock): the writer returns after the batch it may
// be writing, and what is still queued is written here. Where the queue's lock cannot be had
// within the bound (a thread that the system ended at process exit held it), the log is only
// switched off.
void StopSession(TLogState& state) noexcept {
  TLogSession* session = nullptr;
  {
    std::unique_lock lock(state.Lock, std::defer_lock);
    if (!TryLockFor(lock, kDiagnosticLogStopWaitMilliseconds)) {
      gOn.store(false, std::memory_order_relaxed);
      return;
    }
    session = std::exchange(state.Session, nullptr);
    state.WriterHeld = false;
    if (session == nullptr) return;
    gOn.store(false, std::memory_order_relaxed);
  }
  if (platform::CurrentStructuredExceptionObserver() == &LogStructuredException) {
    platform::SetStructuredExceptionObserver(nullptr);
  }
  state.Wake.Set();
  if (!session->Writer.End(kDiagnosticLogStopWaitMilliseconds)) {
    // The writer is stuck in a file call: it keeps its session, and returns when the call does.
    return;
  }
  // The writer has returned, or the system ended it (process exit): what is still queued, and
  // a count of drops that no later line reported, is written here.
  std::vector<std::string> rest;
  {
    std::unique_lock lock(state.Lock, std::defer_lock);
    if (TryLockFor(lock, kDiagnosticLogStopWaitMilliseconds)) {
      // A batch the system ended the writer in (process exit) comes first: its lines are older.
      if (session->BatchInFlight) rest.swap(session->Batch);
      rest.insert(rest.end(), std::make_move_iterator(state.Queue.begin()), std::make_move_iterator(state.Queue.end()));
      state.Queue.clear();
      state.Queue.shrink_to_fit();
      if (state.DroppedUnreported > 0) {
        rest.push_back(MakeLine(DiagnosticCountText(std::exchange(state.DroppedUnreported, 0)) +
                                " lines dropped at the end: the log's queue was full"));
      }
    }
  }
  try {
    WriteBatch(state, *session, rest);
  } catch (...) {
  }
  session->Sink.Close();
  delete session;
}

}  // namespace

bool StartDiagnosticLog(const TDiagnosticLogSettings& settings) {
  TLogState& state = State();
  std::lock_guard control(state.Control);
  StopSession(state);
  if (settings.FileName.empty()) return false;
  auto session = std::make_unique<TLogSession>(settings);
  {
    std::lock_guard lock(state.Lock);
    state.Queue.clear();
    state.Queue.reserve(std::max<uint32_t>(settings.QueueLines, 1));
    state.Capacity = std::max<uint32_t>(settings.QueueLines, 1);
    state.DroppedUnreported = 0;
    state.WriterHeld = false;
    state.Queued = state.Handled = 0;
    state.Counters = {};
    state.FullCardNumbers.store(settings.FullCardNumbers);
    state.Session = session.get();
  }
  if (!session->Writer.Start(&RunWriter, session.get())) {
    std::lock_guard lock(state.Lock);
    state.Session = nullptr;
    return false;
  }
  session.release();  // the state holds it until the stop
  platform::SetStructuredExceptionObserver(&LogStructuredException);
  gOn.store(true, std::memory_order_relaxed);
  return true;
}

void StopDiagnosticLog() noexcept {
  TLogState& state = State();
  std::unique_lock control(state.Control, std::defer_lock);
  if (!TryLockFor(control, kDiagnosticLogStopWaitMilliseconds)) return;
  StopSession(state);
}

bool FlushDiagnosticLog(uint32_t timeoutMilliseconds) {
  TLogState& state = State();
  std::unique_lock lock(state.Lock);
  if (state.Session == nullptr) return true;
  const uint64_t target = state.Queued;
  state.Wake.Set();
  return state.Processed.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds),
                                  [&] { return state.Handled >= target || state.Session == nullptr; });
}

void HoldDiagnosticLogWriter(bool hold) {
  TLogState& state = State();
  {
    std::lock_guard lock(state.Lock);
    state.WriterHeld = hold;
  }
  state.Wake.Set();
}

void WriteDiagnosticLine(std::string_view text) noexcept {
  if (!DiagnosticLogOn()) return;
  try {
    WriteLineText(text);
  } catch (...) {
    // A line that cannot be built (no memory) is not written.
  }
}

void WriteDiagnosticLineF(const char* format, ...) noexcept {
  if (!DiagnosticLogOn()) return;
  char text[kMaxDiagnosticLineBytes + 1];
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  // A longer text was cut by vsnprintf; one byte past the bound makes AppendLineText mark it.
  WriteDiagnosticLine(std::string_view(text, std::min<size_t>(static_cast<size_t>(length), sizeof text - 1)));
}

std::string LoggedCardNumber(std::string_view code) {
  if (State().FullCardNumbers.load(std::memory_order_relaxed)) return std::string(code);
  std::string masked(code);
  const size_t hidden = masked.size() > 4 ? masked.size() - 4 : masked.size();
  std::fill_n(masked.begin(), hidden, '*');
  return masked;
}

TDiagnosticLogCounters DiagnosticLogCounters() {
  TLogState& state = State();
  std::lock_guard lock(state.Lock);
  return state.Counters;
}

std::string DiagnosticLogFileName() {
  TLogState& state = State();
  std::lock_guard lock(state.Lock);
  return state.Session ? state.Session->Settings.FileName : std::string();
}

std::string RotatedDiagnosticLogFileName(std::string_view fileName) {
  const std::string name = platform::ExtractFileName(fileName);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return std::string(fileName) + ".old";
  const size_t extension = fileName.size() - (name.size() - dot);
  return std::string(fileName.substr(0, extension)) + ".old" + std::string(fileName.substr(extension));
}

std::string DiagnosticDateTimeText(const platform::LocalDateTime& time) {
  char text[40];
  std::snprintf(text, sizeof text, "%02u.%02u.%04u %s", time.Day % 100u, time.Month % 100u, time.Year % 10000u,
                DiagnosticTimeOfDayText(time).c_str());
  return text;
}

std::string DiagnosticTimeOfDayText(const platform::LocalDateTime& time) {
  char text[20];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", time.Hour % 100u, time.Minute % 100u, time.Second % 100u,
                time.Millisecond % 1000u);
  return text;
}

std::string DiagnosticCountText(uint64_t count) {
  const std::string digits = std::to_string(count);
  std::string grouped;
  for (size_t index = 0; index < digits.size(); ++index) {
    if (index > 0 && (digits.size() - index) % 3 == 0) grouped += ' ';
    grouped += digits[index];
  }
  return grouped;
}
