// A stand-in for the Parsec PR-x08 reader library prx08.dll: the eleven entry points the plug-in
// binds, driven by a control interface of its own (Sim* functions) and by timed scripts.
// Nothing here belongs to the plug-in; it links nothing of it. See README.md.
#include <algorithm>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

// The entry points and the control functions use the Windows API convention: stdcall on
// 32-bit x86, the native convention elsewhere. Windows exports undecorated names through the
// generated .def file; elsewhere only these functions are visible.
#if defined(__i386__)
#define SIM_CALL __attribute__((stdcall))
#else
#define SIM_CALL
#endif
#if defined(_WIN32)
#define SIM_EXPORT extern "C"
#else
#define SIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr int kMaxReaders = 16;
constexpr uint16_t kExpectedRawLength = 99;
// The code of the structured exception an entry point raises when told to (Windows).
constexpr uint32_t kRaisedExceptionCode = 0xE0505238u;

const char* const kEntryPoints[] = {"Enumerate",         "GetFirstReader", "GetNextReader",    "OpenReader",
                                    "CloseReader",       "ReadCardNumberRaw", "ReadCardNumber", "SetBeepBlinkMode",
                                    "BeepBlink",         "GetReaderInfo",  "SetWiegand26"};

bool IsEntryPoint(const char* name) {
  return name && std::any_of(std::begin(kEntryPoints), std::end(kEntryPoints),
                             [name](const char* known) { return std::strcmp(known, name) == 0; });
}

struct Reader {
  bool Open = false;
  bool Unplugged = false;  // its calls fail until it is plugged back; it is closed then
  bool CardPresent = false;
  bool TapOnly = false;  // the card leaves after one delivery
  uint32_t Card = 0;
  int32_t Polls = 0;  // ReadCardNumber calls on this reader
};

// What an unplugged reader's calls answer.
constexpr int16_t kUnpluggedAnswer = -3;

enum class FaultKind : int32_t { None = 0, Answer = 1, Raise = 2, AccessViolation = 3, Window = 4 };
constexpr int32_t kLastFaultKind = 4;

struct Fault {
  FaultKind Kind = FaultKind::None;
  int32_t Reader = -1;  // -1: every reader
  int32_t Answer = 0;
  int32_t Times = 0;    // calls still affected; -1 without end
};

enum class Action { Readers, Present, Tap, Remove, SetFault, Delay, Unplug, Plug };

struct ScriptEvent {
  uint32_t AtMilliseconds = 0;
  Action What = Action::Readers;
  int Reader = 0;
  uint32_t Value = 0;       // reader count, card, or delay (-1: block)
  std::string EntryPoint;   // fault and delay
  Fault Injected;           // fault
};

// The system's millisecond count as 32 bits, the same clock the plug-in reads by default.
uint32_t SystemTicks() {
#if defined(_WIN32)
  return GetTickCount();
#else
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u);
#endif
}

// The simulator's time. Running, it follows the system's count plus an offset; frozen, it only
// moves when told to, or by a fixed step at every poll pass (the raw read of reader 0).
struct Clock {
  bool Frozen = false;
  uint32_t FrozenAt = 0;
  uint32_t Offset = 0;
  uint32_t StepPerPass = 0;
  uint32_t Now() const { return Frozen ? FrozenAt : SystemTicks() + Offset; }
};

struct Simulator {
  std::mutex Lock;
  std::condition_variable DelayChanged;
  int ReaderCount = 1;
  Reader Readers[kMaxReaders];
  std::vector<std::string> Log;
  std::map<std::string, int32_t> Counts;
  std::map<std::string, int32_t> Delays;  // milliseconds; -1 blocks until released
  std::map<std::string, Fault> Faults;
  std::vector<ScriptEvent> Script;
  size_t ScriptNext = 0;
  uint32_t ScriptStart = 0;
  Clock Time;
  std::FILE* LogFile = nullptr;
  std::string ScriptError;  // why the last script was not loaded; empty when it was
#if defined(_WIN32)
  std::map<DWORD, HWND> Windows;  // the windows of the threads that took a window fault
#endif
};

Simulator& State() {
  static Simulator simulator;
  return simulator;
}

bool ValidReader(const Simulator& s, int reader) {
  return reader >= 0 && reader < kMaxReaders && reader < s.ReaderCount;
}

void Note(Simulator& s, const std::string& line) {
  s.Log.push_back(line);
  if (s.LogFile) {
    std::fprintf(s.LogFile, "%s\n", line.c_str());
    std::fflush(s.LogFile);
  }
}

std::string Text(const char* format, long a = 0, long b = 0, long c = 0) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, format, a, b, c);
  return buffer;
}

// Unplugging closes the reader and takes its card away; plugged back, it must be opened again.
void SetPlugged(Simulator& s, int reader, bool plugged) {
  Reader& state = s.Readers[reader];
  if (state.Unplugged == !plugged) return;
  state.Unplugged = !plugged;
  state.Open = false;
  state.CardPresent = false;
  Note(s, Text(plugged ? "plug %ld" : "unplug %ld", reader));
}

void Apply(Simulator& s, const ScriptEvent& event) {
  switch (event.What) {
    case Action::Readers:
      s.ReaderCount = static_cast<int>(static_cast<int32_t>(event.Value));
      break;
    case Action::Present:
    case Action::Tap:
      s.Readers[event.Reader].CardPresent = true;
      s.Readers[event.Reader].TapOnly = event.What == Action::Tap;
      s.Readers[event.Reader].Card = event.Value;
      break;
    case Action::Remove:
      s.Readers[event.Reader].CardPresent = false;
      break;
    case Action::SetFault:
      s.Faults[event.EntryPoint] = event.Injected;
      break;
    case Action::Delay:
      s.Delays[event.EntryPoint] = static_cast<int32_t>(event.Value);
      s.DelayChanged.notify_all();
      break;
    case Action::Unplug:
      SetPlugged(s, event.Reader, false);
      break;
    case Action::Plug:
      SetPlugged(s, event.Reader, true);
      break;
  }
}

// Applies every script event whose time has come on the simulator's clock; every call into the
// library runs this first.
void Advance(Simulator& s) {
  uint32_t elapsed = s.Time.Now() - s.ScriptStart;
  while (s.ScriptNext < s.Script.size() && s.Script[s.ScriptNext].AtMilliseconds <= elapsed) {
    Apply(s, s.Script[s.ScriptNext++]);
  }
}

// A bad script line: its number and what is wrong with it.
struct ScriptProblem {
  int Line = 0;
  std::string What;
};

const char* const kFaultKindNames[] = {"none", "answer", "raise", "access-violation", "window"};

bool ParseInteger(const std::string& word, long minimum, long maximum, long& value) {
  if (word.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtol(word.c_str(), &end, 10);
  return *end == '\0' && errno == 0 && value >= minimum && value <= maximum;
}

// Reads one line's action into event; the text of what is wrong otherwise.
std::string ParseAction(const std::string& action, std::istringstream& words, ScriptEvent& event) {
  std::string word;
  long number = 0;
  auto readReader = [&]() -> std::string {
    if (!(words >> word)) return action + ": the reader number is missing";
    if (!ParseInteger(word, 0, kMaxReaders - 1, number)) return "reader '" + word + "' is not 0..15";
    event.Reader = static_cast<int>(number);
    return {};
  };
  auto readEntryPoint = [&]() -> std::string {
    if (!(words >> event.EntryPoint)) return action + ": the entry point is missing";
    if (!IsEntryPoint(event.EntryPoint.c_str())) return "'" + event.EntryPoint + "' is no entry point of the library";
    return {};
  };
  if (action == "readers") {
    event.What = Action::Readers;
    if (!(words >> word)) return "readers: the count is missing";
    if (!ParseInteger(word, -32768, kMaxReaders, number)) return "readers: '" + word + "' is not -32768..16";
    event.Value = static_cast<uint32_t>(number);
  } else if (action == "present" || action == "tap") {
    event.What = action == "tap" ? Action::Tap : Action::Present;
    if (std::string problem = readReader(); !problem.empty()) return problem;
    if (!(words >> word)) return action + ": the card code is missing";
    char* end = nullptr;
    event.Value = static_cast<uint32_t>(std::strtoul(word.c_str(), &end, 16));
    if (word.size() > 8 || *end != '\0' || word[0] == '-' || word[0] == '+')
      return "card code '" + word + "' is not 1..8 hexadecimal digits";
  } else if (action == "remove" || action == "unplug" || action == "plug") {
    event.What = action == "remove" ? Action::Remove : action == "unplug" ? Action::Unplug : Action::Plug;
    if (std::string problem = readReader(); !problem.empty()) return problem;
  } else if (action == "delay" || action == "block" || action == "release") {
    event.What = Action::Delay;
    if (std::string problem = readEntryPoint(); !problem.empty()) return problem;
    event.Value = action == "block" ? static_cast<uint32_t>(-1) : 0;
    if (action == "delay") {
      if (!(words >> word)) return "delay: the milliseconds are missing";
      if (!ParseInteger(word, 0, 0x7FFFFFFF, number)) return "delay: '" + word + "' is not 0..2147483647 ms";
      event.Value = static_cast<uint32_t>(number);
    }
  } else if (action == "fault") {
    event.What = Action::SetFault;
    if (std::string problem = readEntryPoint(); !problem.empty()) return problem;
    if (!(words >> word)) return "fault: the reader (0..15 or all) is missing";
    if (word == "all") {
      event.Injected.Reader = -1;
    } else if (ParseInteger(word, 0, kMaxReaders - 1, number)) {
      event.Injected.Reader = static_cast<int32_t>(number);
    } else {
      return "fault: reader '" + word + "' is not 0..15 or all";
    }
    if (!(words >> word)) return "fault: the kind is missing";
    auto kind = std::find(std::begin(kFaultKindNames), std::end(kFaultKindNames), word);
    if (kind == std::end(kFaultKindNames))
      return "fault kind '" + word + "' is not none, answer, raise, access-violation or window";
    event.Injected.Kind = static_cast<FaultKind>(kind - std::begin(kFaultKindNames));
    if (event.Injected.Kind == FaultKind::Answer) {
      if (!(words >> word)) return "fault answer: the answer is missing";
      if (!ParseInteger(word, -32768, 32767, number)) return "fault answer: '" + word + "' is not -32768..32767";
      event.Injected.Answer = static_cast<int32_t>(number);
    }
    event.Injected.Times = event.Injected.Kind == FaultKind::None ? 0 : -1;
    if (event.Injected.Kind != FaultKind::None && words >> word) {
      if (!ParseInteger(word, 1, 0x7FFFFFFF, number)) return "fault: the number of calls '" + word + "' is not 1 or more";
      event.Injected.Times = static_cast<int32_t>(number);
    }
  } else {
    return "unknown action '" + action + "'";
  }
  if (words >> word) return "'" + word + "' is one word too many";
  return {};
}

// Parses a script: the number of events, or -1 with the first bad line in problem.
int ParseScript(std::istream& input, std::vector<ScriptEvent>& events, ScriptProblem& problem) {
  std::string line;
  int number = 0;
  while (std::getline(input, line)) {
    ++number;
    if (auto comment = line.find('#'); comment != std::string::npos) line.erase(comment);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string time, action;
    if (!(words >> time)) continue;  // blank line
    long at = 0;
    if (!ParseInteger(time, 0, 0x7FFFFFFF, at)) {
      problem = {number, "the time '" + time + "' is not 0..2147483647 ms"};
      return -1;
    }
    if (!(words >> action)) {
      problem = {number, "an action must follow the time"};
      return -1;
    }
    ScriptEvent event;
    event.AtMilliseconds = static_cast<uint32_t>(at);
    if (std::string what = ParseAction(action, words, event); !what.empty()) {
      problem = {number, what};
      return -1;
    }
    events.push_back(event);
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const ScriptEvent& a, const ScriptEvent& b) { return a.AtMilliseconds < b.AtMilliseconds; });
  return static_cast<int>(events.size());
}

// Loads and starts a script named `name` (a file, or "(text)"): the number of events, or minus
// the number of the first bad line, whose problem is recorded (and, for a file, printed).
int32_t StartScript(Simulator& s, std::istream& input, const std::string& name, bool printProblem) {
  std::vector<ScriptEvent> events;
  ScriptProblem problem;
  int result = ParseScript(input, events, problem);
  if (result < 0) {
    s.ScriptError = name + ":" + std::to_string(problem.Line) + ": " + problem.What;
    if (printProblem) std::fprintf(stderr, "prx08 simulator: %s\n", s.ScriptError.c_str());
    return -problem.Line;
  }
  s.ScriptError.clear();
  s.Script = std::move(events);
  s.ScriptNext = 0;
  s.ScriptStart = s.Time.Now();
  Advance(s);
  return result;
}

// A script file that cannot be read: recorded and printed.
void ScriptFileUnreadable(Simulator& s, const std::string& path) {
  s.ScriptError = path + ": the file cannot be read";
  std::fprintf(stderr, "prx08 simulator: %s\n", s.ScriptError.c_str());
}

void OpenLogFile(Simulator& s, const char* path) {
  if (s.LogFile) std::fclose(s.LogFile);
  s.LogFile = path && *path ? std::fopen(path, "a") : nullptr;
}

void ResetState(Simulator& s) {
  s.ReaderCount = 1;
  for (Reader& reader : s.Readers) reader = Reader{};
  s.Log.clear();
  s.Counts.clear();
  s.Delays.clear();
  s.Faults.clear();
  s.Script.clear();
  s.ScriptNext = 0;
  s.Time = Clock{};
  s.ScriptError.clear();
  s.DelayChanged.notify_all();
}

// The window fault: a message posted to a window of the calling thread, whose window
// procedure raises when the thread dispatches it, as a vendor library's own window might.
#if defined(_WIN32)
constexpr UINT kFaultMessage = WM_APP + 0x508;
constexpr wchar_t kFaultWindowClass[] = L"Prx08SimulatorFaultWindow";

HINSTANCE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&OwnModule), &module);
  return module;
}

LRESULT CALLBACK FaultWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kFaultMessage) RaiseException(kRaisedExceptionCode, 0, 0, nullptr);
  return DefWindowProcW(window, message, wParam, lParam);
}

void PostWindowFault(Simulator& s) {
  static const ATOM registered = [] {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = FaultWindowProcedure;
    windowClass.hInstance = OwnModule();
    windowClass.lpszClassName = kFaultWindowClass;
    return RegisterClassW(&windowClass);
  }();
  if (!registered) return;
  HWND& window = s.Windows[GetCurrentThreadId()];
  if (!window) window = CreateWindowExW(0, kFaultWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, OwnModule(), nullptr);
  if (window) PostMessageW(window, kFaultMessage, 0, 0);
}

// A thread's window must go before the library does: CloseReader takes it away.
void DestroyThreadWindow(Simulator& s) {
  auto found = s.Windows.find(GetCurrentThreadId());
  if (found == s.Windows.end()) return;
  DestroyWindow(found->second);
  s.Windows.erase(found);
}

void UnregisterFaultWindowClass() { UnregisterClassW(kFaultWindowClass, OwnModule()); }
#else
void PostWindowFault(Simulator&) {}
void DestroyThreadWindow(Simulator&) {}
void UnregisterFaultWindowClass() {}
#endif

// A demo can drive the simulator without calling it: PRX08_SIM_READERS sets the reader count,
// PRX08_SIM_SCRIPT names a script that starts when the library is loaded (a file that cannot
// be read or a bad line is printed to stderr and recorded for SimGetScriptError), and
// PRX08_SIM_LOG names a file that receives every line of the call log.
struct StartFromEnvironment {
  StartFromEnvironment() {
    Simulator& s = State();
    if (const char* readers = std::getenv("PRX08_SIM_READERS")) {
      s.ReaderCount = std::clamp(std::atoi(readers), -32768, kMaxReaders);
    }
    if (const char* log = std::getenv("PRX08_SIM_LOG")) OpenLogFile(s, log);
    if (const char* script = std::getenv("PRX08_SIM_SCRIPT"); script && *script) {
      std::ifstream file(script);
      if (file) {
        StartScript(s, file, script, true);
      } else {
        ScriptFileUnreadable(s, script);
      }
    }
  }
  ~StartFromEnvironment() {
    OpenLogFile(State(), nullptr);
    UnregisterFaultWindowClass();
  }
} startFromEnvironment;

[[noreturn]] void RaiseFault(FaultKind kind, const char* name) {
#if defined(_WIN32)
  if (kind == FaultKind::AccessViolation) {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
  }
  RaiseException(kRaisedExceptionCode, 0, 0, nullptr);
#endif
  (void)kind;
  throw std::runtime_error(std::string("prx08 simulator: fault injected into ") + name);
}

// Opens a call: locks the state, advances the script, counts the call (and the poll of a
// reader), waits out a delay that is set for the entry point, and picks up an injected fault.
class Call {
public:
  explicit Call(const char* name, int reader = -1)
      : FGuard(State().Lock), S(State()), FName(name), FReader(reader) {
    if (S.Time.Frozen && S.Time.StepPerPass != 0 && reader == 0 && std::strcmp(name, "ReadCardNumberRaw") == 0) {
      S.Time.FrozenAt += S.Time.StepPerPass;
    }
    Advance(S);
    ++S.Counts[name];
    if (std::strcmp(name, "ReadCardNumber") == 0 && reader >= 0 && reader < kMaxReaders) ++S.Readers[reader].Polls;
    WaitOutDelay();
    TakeFault();
    if (FFault.Kind == FaultKind::Window) {
      Note(S, FName + Text(" %ld fault window", FReader));
      PostWindowFault(S);
      FFault = Fault{};  // the call itself answers as usual
    }
  }

  // An unplugged reader's call: logged (except the polling ones) and answered with -3.
  bool Unplugged() {
    if (FReader < 0 || FReader >= kMaxReaders || !S.Readers[FReader].Unplugged) return false;
    if (FName != "ReadCardNumberRaw" && FName != "ReadCardNumber") Note(S, FName + Text(" %ld unplugged", FReader));
    return true;
  }

  bool Faulty() const { return FFault.Kind != FaultKind::None; }

  // What a faulty call answers; raising faults leave the lock first, as the raise skips
  // every destructor on the way out on some systems.
  int16_t FaultAnswer() {
    std::string line = FName + Text(" %ld fault ", FReader);
    if (FFault.Kind == FaultKind::Answer) {
      Note(S, line + Text("answer=%ld", FFault.Answer));
      return static_cast<int16_t>(FFault.Answer);
    }
    Note(S, line + (FFault.Kind == FaultKind::Raise ? "raise" : "access-violation"));
    FGuard.unlock();
    RaiseFault(FFault.Kind, FName.c_str());
  }

private:
  void WaitOutDelay() {
    auto found = S.Delays.find(FName);
    if (found == S.Delays.end() || found->second == 0) return;
    int32_t delay = found->second;
    auto unchanged = [&] {
      auto now = S.Delays.find(FName);
      return now != S.Delays.end() && now->second == delay;
    };
    if (delay < 0) {
      S.DelayChanged.wait(FGuard, [&] { return !unchanged(); });
    } else {
      S.DelayChanged.wait_for(FGuard, std::chrono::milliseconds(delay), [&] { return !unchanged(); });
    }
    Advance(S);
  }

  void TakeFault() {
    auto found = S.Faults.find(FName);
    if (found == S.Faults.end()) return;
    Fault& fault = found->second;
    if (fault.Kind == FaultKind::None || fault.Times == 0) return;
    if (fault.Reader >= 0 && fault.Reader != FReader) return;
    FFault = fault;
    if (fault.Times > 0) --fault.Times;
  }

  std::unique_lock<std::mutex> FGuard;

public:
  Simulator& S;

private:
  std::string FName;
  int FReader;
  Fault FFault;
};

}  // namespace

// ---- The reader library's entry points ----

#ifndef PRX08_OMIT_Enumerate
SIM_EXPORT int16_t SIM_CALL Enumerate() {
  Call call("Enumerate");
  if (call.Faulty()) return call.FaultAnswer();
  Note(call.S, Text("Enumerate -> %ld", call.S.ReaderCount));
  return static_cast<int16_t>(call.S.ReaderCount);
}
#endif

#ifndef PRX08_OMIT_GetFirstReader
SIM_EXPORT int16_t SIM_CALL GetFirstReader() {
  Call call("GetFirstReader");
  if (call.Faulty()) return call.FaultAnswer();
  Note(call.S, "GetFirstReader");
  return call.S.ReaderCount > 0 ? 0 : -1;
}
#endif

#ifndef PRX08_OMIT_GetNextReader
SIM_EXPORT int16_t SIM_CALL GetNextReader() {
  Call call("GetNextReader");
  if (call.Faulty()) return call.FaultAnswer();
  Note(call.S, "GetNextReader");
  return -1;
}
#endif

#ifndef PRX08_OMIT_OpenReader
SIM_EXPORT int16_t SIM_CALL OpenReader(int16_t reader) {
  Call call("OpenReader", reader);
  if (call.Faulty()) return call.FaultAnswer();
  if (call.Unplugged()) return kUnpluggedAnswer;
  Note(call.S, Text("OpenReader %ld", reader));
  if (!ValidReader(call.S, reader)) return -1;
  call.S.Readers[reader].Open = true;
  return 0;
}
#endif

#ifndef PRX08_OMIT_CloseReader
SIM_EXPORT int16_t SIM_CALL CloseReader(int16_t reader) {
  Call call("CloseReader", reader);
  if (call.Faulty()) return call.FaultAnswer();
  DestroyThreadWindow(call.S);
  if (call.Unplugged()) return kUnpluggedAnswer;
  Note(call.S, Text("CloseReader %ld", reader));
  if (reader < 0 || reader >= kMaxReaders || !call.S.Readers[reader].Open) return -1;
  call.S.Readers[reader].Open = false;
  return 0;
}
#endif

#ifndef PRX08_OMIT_ReadCardNumberRaw
SIM_EXPORT int16_t SIM_CALL ReadCardNumberRaw(int16_t reader, uint16_t* value, uint8_t* buffer, uint16_t* bufferLength) {
  Call call("ReadCardNumberRaw", reader);
  if (call.Faulty()) return call.FaultAnswer();
  if (call.Unplugged()) return kUnpluggedAnswer;
  if (!value || !buffer || !bufferLength || *bufferLength != kExpectedRawLength) {
    Note(call.S, Text("ReadCardNumberRaw %ld bad-arguments length=%ld", reader, bufferLength ? *bufferLength : -1));
    return -2;
  }
  if (!ValidReader(call.S, reader) || !call.S.Readers[reader].Open) return -1;
  const Reader& state = call.S.Readers[reader];
  *value = 0;
  if (!state.CardPresent) {
    *bufferLength = 0;
    return 1;
  }
  // The raw form: the card number's four bytes, most significant first.
  for (int i = 0; i < 4; ++i) buffer[i] = static_cast<uint8_t>(state.Card >> (24 - 8 * i));
  *bufferLength = 4;
  *value = 4;
  return 0;
}
#endif

#ifndef PRX08_OMIT_ReadCardNumber
SIM_EXPORT int16_t SIM_CALL ReadCardNumber(int16_t reader, uint32_t* cardNumber) {
  Call call("ReadCardNumber", reader);
  if (call.Faulty()) return call.FaultAnswer();
  if (call.Unplugged()) return kUnpluggedAnswer;
  if (!cardNumber) {
    Note(call.S, Text("ReadCardNumber %ld bad-arguments", reader));
    return -2;
  }
  if (!ValidReader(call.S, reader) || !call.S.Readers[reader].Open) {
    Note(call.S, Text("ReadCardNumber %ld not-open", reader));
    return -1;
  }
  Reader& state = call.S.Readers[reader];
  if (!state.CardPresent) return 1;
  *cardNumber = state.Card;
  ++call.S.Counts["CardsDelivered"];
  if (state.TapOnly) state.CardPresent = false;
  return 0;
}
#endif

#ifndef PRX08_OMIT_SetBeepBlinkMode
SIM_EXPORT int16_t SIM_CALL SetBeepBlinkMode(int16_t reader, int16_t beepMode, int16_t blinkMode) {
  Call call("SetBeepBlinkMode", reader);
  if (call.Faulty()) return call.FaultAnswer();
  if (call.Unplugged()) return kUnpluggedAnswer;
  Note(call.S, Text("SetBeepBlinkMode %ld %ld %ld", reader, beepMode, blinkMode));
  return ValidReader(call.S, reader) ? 0 : -1;
}
#endif

#ifndef PRX08_OMIT_BeepBlink
SIM_EXPORT int16_t SIM_CALL BeepBlink(int16_t reader) {
  Call call("BeepBlink", reader);
  if (call.Faulty()) return call.FaultAnswer();
  if (call.Unplugged()) return kUnpluggedAnswer;
  Note(call.S, Text("BeepBlink %ld", reader));
  return ValidReader(call.S, reader) ? 0 : -1;
}
#endif

#ifndef PRX08_OMIT_GetReaderInfo
SIM_EXPORT int16_t SIM_CALL GetReaderInfo(int16_t reader, char* info, int16_t infoSize) {
  Call call("GetReaderInfo", reader);
  if (call.Faulty()) return call.FaultAnswer();
  if (call.Unplugged()) return kUnpluggedAnswer;
  Note(call.S, Text("GetReaderInfo %ld", reader));
  if (!ValidReader(call.S, reader) || !info || infoSize <= 0) return -1;
  std::snprintf(info, static_cast<size_t>(infoSize), "PR-x08 simulator, reader %d", reader);
  return 0;
}
#endif

#ifndef PRX08_OMIT_SetWiegand26
SIM_EXPORT int16_t SIM_CALL SetWiegand26(int32_t enabled) {
  Call call("SetWiegand26");
  if (call.Faulty()) return call.FaultAnswer();
  Note(call.S, Text("SetWiegand26 %ld", enabled));
  return 0;
}
#endif

// ---- The control interface for tests and demos ----

SIM_EXPORT int32_t SIM_CALL SimReset() {
  std::lock_guard guard(State().Lock);
  ResetState(State());
  return 0;
}

SIM_EXPORT int32_t SIM_CALL SimSetReaderCount(int32_t count) {
  if (count < -32768 || count > kMaxReaders) return -1;
  std::lock_guard guard(State().Lock);
  State().ReaderCount = count;
  return 0;
}

static int32_t PutCard(int32_t reader, uint32_t code, bool tapOnly) {
  if (reader < 0 || reader >= kMaxReaders) return -1;
  std::lock_guard guard(State().Lock);
  Reader& state = State().Readers[reader];
  state.CardPresent = true;
  state.TapOnly = tapOnly;
  state.Card = code;
  return 0;
}

SIM_EXPORT int32_t SIM_CALL SimPresentCard(int32_t reader, uint32_t code) { return PutCard(reader, code, false); }

SIM_EXPORT int32_t SIM_CALL SimTapCard(int32_t reader, uint32_t code) { return PutCard(reader, code, true); }

SIM_EXPORT int32_t SIM_CALL SimRemoveCard(int32_t reader) {
  if (reader < 0 || reader >= kMaxReaders) return -1;
  std::lock_guard guard(State().Lock);
  State().Readers[reader].CardPresent = false;
  return 0;
}

SIM_EXPORT int32_t SIM_CALL SimIsReaderOpen(int32_t reader) {
  if (reader < 0 || reader >= kMaxReaders) return 0;
  std::lock_guard guard(State().Lock);
  return State().Readers[reader].Open ? 1 : 0;
}

SIM_EXPORT int32_t SIM_CALL SimLoadScript(const char* path) {
  if (!path) return -1;
  std::ifstream file(path);
  std::lock_guard guard(State().Lock);
  if (!file) {
    ScriptFileUnreadable(State(), path);
    return -1;
  }
  return StartScript(State(), file, path, true);
}

SIM_EXPORT int32_t SIM_CALL SimLoadScriptText(const char* text) {
  if (!text) return -1;
  std::istringstream input(text);
  std::lock_guard guard(State().Lock);
  return StartScript(State(), input, "(text)", false);
}

// Copies text into the caller's buffer, zero-terminated and cut to size-1; its full length.
static int32_t CopyOut(const std::string& text, char* buffer, int32_t size) {
  if (buffer && size > 0) {
    size_t count = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
  }
  return static_cast<int32_t>(text.size());
}

SIM_EXPORT int32_t SIM_CALL SimGetScriptError(char* buffer, int32_t size) {
  std::lock_guard guard(State().Lock);
  return CopyOut(State().ScriptError, buffer, size);
}

static int32_t Plug(int32_t reader, bool plugged) {
  if (reader < 0 || reader >= kMaxReaders) return -1;
  std::lock_guard guard(State().Lock);
  SetPlugged(State(), reader, plugged);
  return 0;
}

SIM_EXPORT int32_t SIM_CALL SimUnplugReader(int32_t reader) { return Plug(reader, false); }

SIM_EXPORT int32_t SIM_CALL SimPlugReader(int32_t reader) { return Plug(reader, true); }

SIM_EXPORT int32_t SIM_CALL SimGetCallLog(char* buffer, int32_t size) {
  std::lock_guard guard(State().Lock);
  std::string text;
  for (const auto& line : State().Log) text.append(line).push_back('\n');
  return CopyOut(text, buffer, size);
}

SIM_EXPORT int32_t SIM_CALL SimGetCallCount(const char* name) {
  if (!name) return -1;
  std::lock_guard guard(State().Lock);
  auto found = State().Counts.find(name);
  return found == State().Counts.end() ? 0 : found->second;
}

SIM_EXPORT int32_t SIM_CALL SimResetLog() {
  std::lock_guard guard(State().Lock);
  State().Log.clear();
  State().Counts.clear();
  for (Reader& reader : State().Readers) reader.Polls = 0;
  return 0;
}

SIM_EXPORT int32_t SIM_CALL SimGetPollCount(int32_t reader) {
  if (reader < 0 || reader >= kMaxReaders) return -1;
  std::lock_guard guard(State().Lock);
  return State().Readers[reader].Polls;
}

SIM_EXPORT uint32_t SIM_CALL SimGetTickCount() {
  std::lock_guard guard(State().Lock);
  return State().Time.Now();
}

SIM_EXPORT int32_t SIM_CALL SimSetClock(uint32_t now) {
  std::lock_guard guard(State().Lock);
  State().Time.Frozen = true;
  State().Time.FrozenAt = now;
  return 0;
}

SIM_EXPORT int32_t SIM_CALL SimAdvanceClock(uint32_t milliseconds) {
  std::lock_guard guard(State().Lock);
  Clock& time = State().Time;
  if (time.Frozen) {
    time.FrozenAt += milliseconds;
  } else {
    time.Offset += milliseconds;
  }
  return 0;
}

SIM_EXPORT int32_t SIM_CALL SimSetClockStep(uint32_t milliseconds) {
  std::lock_guard guard(State().Lock);
  State().Time.StepPerPass = milliseconds;
  return 0;
}

SIM_EXPORT int32_t SIM_CALL SimRunClock() {
  std::lock_guard guard(State().Lock);
  Clock& time = State().Time;
  if (time.Frozen) {
    time.Offset = time.FrozenAt - SystemTicks();
    time.Frozen = false;
  }
  return 0;
}

SIM_EXPORT int32_t SIM_CALL SimSetDelay(const char* name, int32_t milliseconds) {
  if (!IsEntryPoint(name) || milliseconds < -1) return -1;
  std::lock_guard guard(State().Lock);
  State().Delays[name] = milliseconds;
  State().DelayChanged.notify_all();
  return 0;
}

SIM_EXPORT int32_t SIM_CALL SimRelease(const char* name) { return SimSetDelay(name, 0); }

SIM_EXPORT int32_t SIM_CALL SimSetFault(const char* name, int32_t reader, int32_t kind, int32_t answer, int32_t times) {
  if (!IsEntryPoint(name) || kind < 0 || kind > kLastFaultKind || reader < -1 || reader >= kMaxReaders || times < -1) return -1;
  std::lock_guard guard(State().Lock);
  State().Faults[name] = Fault{static_cast<FaultKind>(kind), reader, answer, times};
  return 0;
}

SIM_EXPORT int32_t SIM_CALL SimSetLogFile(const char* path) {
  std::lock_guard guard(State().Lock);
  OpenLogFile(State(), path);
  return path && *path && !State().LogFile ? -1 : 0;
}
