// A stand-in for the Parsec PR-x08 reader library prx08.dll: the eleven entry points the plug-in
// binds, driven by a control interface of its own (Sim* functions) and by timed scripts.
// Nothing here belongs to the plug-in; it links nothing of it. See README.md.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

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

struct Reader {
  bool Open = false;
  bool CardPresent = false;
  bool TapOnly = false;  // the card leaves after one delivery
  uint32_t Card = 0;
};

enum class Action { Readers, Present, Tap, Remove };

struct ScriptEvent {
  uint32_t AtMilliseconds;
  Action What;
  int Reader;
  uint32_t Value;
};

struct Simulator {
  std::mutex Lock;
  int ReaderCount = 1;
  Reader Readers[kMaxReaders];
  std::vector<std::string> Log;
  std::map<std::string, int32_t> Counts;
  std::vector<ScriptEvent> Script;
  size_t ScriptNext = 0;
  std::chrono::steady_clock::time_point ScriptStart;
};

Simulator& State() {
  static Simulator simulator;
  return simulator;
}

bool ValidReader(const Simulator& s, int reader) {
  return reader >= 0 && reader < kMaxReaders && reader < s.ReaderCount;
}

void Note(Simulator& s, const std::string& line) { s.Log.push_back(line); }

std::string Text(const char* format, long a = 0, long b = 0, long c = 0) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, format, a, b, c);
  return buffer;
}

void Apply(Simulator& s, const ScriptEvent& event) {
  switch (event.What) {
    case Action::Readers:
      s.ReaderCount = static_cast<int>(event.Value);
      break;
    case Action::Present:
    case Action::Tap:
      if (event.Reader >= 0 && event.Reader < kMaxReaders) {
        s.Readers[event.Reader].CardPresent = true;
        s.Readers[event.Reader].TapOnly = event.What == Action::Tap;
        s.Readers[event.Reader].Card = event.Value;
      }
      break;
    case Action::Remove:
      if (event.Reader >= 0 && event.Reader < kMaxReaders) s.Readers[event.Reader].CardPresent = false;
      break;
  }
}

// Applies every script event whose time has come; every call into the library runs this first.
void Advance(Simulator& s) {
  if (s.ScriptNext >= s.Script.size()) return;
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - s.ScriptStart);
  while (s.ScriptNext < s.Script.size() && s.Script[s.ScriptNext].AtMilliseconds <= elapsed.count()) {
    Apply(s, s.Script[s.ScriptNext++]);
  }
}

// Parses a script; the line number of the first bad line (negative) on failure.
int ParseScript(std::istream& input, std::vector<ScriptEvent>& events) {
  std::string line;
  int number = 0;
  while (std::getline(input, line)) {
    ++number;
    if (auto comment = line.find('#'); comment != std::string::npos) line.erase(comment);
    std::istringstream words(line);
    std::string time, action;
    if (!(words >> time)) continue;  // blank line
    ScriptEvent event{};
    char* end = nullptr;
    event.AtMilliseconds = static_cast<uint32_t>(std::strtoul(time.c_str(), &end, 10));
    if (*end != '\0' || !(words >> action)) return -number;
    std::string extra;
    if (action == "readers") {
      long count = 0;
      if (!(words >> count) || count < -32768 || count > kMaxReaders) return -number;
      event.What = Action::Readers;
      event.Value = static_cast<uint32_t>(count);
    } else if (action == "present" || action == "tap") {
      std::string code;
      if (!(words >> event.Reader >> code) || event.Reader < 0 || event.Reader >= kMaxReaders) return -number;
      event.Value = static_cast<uint32_t>(std::strtoul(code.c_str(), &end, 16));
      if (code.empty() || code.size() > 8 || *end != '\0') return -number;
      event.What = action == "tap" ? Action::Tap : Action::Present;
    } else if (action == "remove") {
      if (!(words >> event.Reader) || event.Reader < 0 || event.Reader >= kMaxReaders) return -number;
      event.What = Action::Remove;
    } else {
      return -number;
    }
    if (words >> extra) return -number;
    events.push_back(event);
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const ScriptEvent& a, const ScriptEvent& b) { return a.AtMilliseconds < b.AtMilliseconds; });
  return static_cast<int>(events.size());
}

int32_t StartScript(Simulator& s, std::istream& input) {
  std::vector<ScriptEvent> events;
  int result = ParseScript(input, events);
  if (result < 0) return result;
  s.Script = std::move(events);
  s.ScriptNext = 0;
  s.ScriptStart = std::chrono::steady_clock::now();
  Advance(s);
  return result;
}

void ResetState(Simulator& s) {
  s.ReaderCount = 1;
  for (Reader& reader : s.Readers) reader = Reader{};
  s.Log.clear();
  s.Counts.clear();
  s.Script.clear();
  s.ScriptNext = 0;
}

// A demo can drive the simulator without calling it: PRX08_SIM_READERS sets the reader count and
// PRX08_SIM_SCRIPT names a script that starts when the library is loaded.
struct StartFromEnvironment {
  StartFromEnvironment() {
    Simulator& s = State();
    if (const char* readers = std::getenv("PRX08_SIM_READERS")) {
      s.ReaderCount = std::clamp(std::atoi(readers), -32768, kMaxReaders);
    }
    if (const char* script = std::getenv("PRX08_SIM_SCRIPT")) {
      std::ifstream file(script);
      if (file) StartScript(s, file);
    }
  }
} startFromEnvironment;

// Opens a call: locks the state, advances the script and counts the call.
struct Call {
  explicit Call(const char* name) : Guard(State().Lock), S(State()) {
    Advance(S);
    ++S.Counts[name];
  }
  std::lock_guard<std::mutex> Guard;
  Simulator& S;
};

}  // namespace

// ---- The reader library's entry points ----

#ifndef PRX08_OMIT_Enumerate
SIM_EXPORT int16_t SIM_CALL Enumerate() {
  Call call("Enumerate");
  Note(call.S, Text("Enumerate -> %ld", call.S.ReaderCount));
  return static_cast<int16_t>(call.S.ReaderCount);
}
#endif

#ifndef PRX08_OMIT_GetFirstReader
SIM_EXPORT int16_t SIM_CALL GetFirstReader() {
  Call call("GetFirstReader");
  Note(call.S, "GetFirstReader");
  return call.S.ReaderCount > 0 ? 0 : -1;
}
#endif

#ifndef PRX08_OMIT_GetNextReader
SIM_EXPORT int16_t SIM_CALL GetNextReader() {
  Call call("GetNextReader");
  Note(call.S, "GetNextReader");
  return -1;
}
#endif

#ifndef PRX08_OMIT_OpenReader
SIM_EXPORT int16_t SIM_CALL OpenReader(int16_t reader) {
  Call call("OpenReader");
  Note(call.S, Text("OpenReader %ld", reader));
  if (!ValidReader(call.S, reader)) return -1;
  call.S.Readers[reader].Open = true;
  return 0;
}
#endif

#ifndef PRX08_OMIT_CloseReader
SIM_EXPORT int16_t SIM_CALL CloseReader(int16_t reader) {
  Call call("CloseReader");
  Note(call.S, Text("CloseReader %ld", reader));
  if (reader < 0 || reader >= kMaxReaders || !call.S.Readers[reader].Open) return -1;
  call.S.Readers[reader].Open = false;
  return 0;
}
#endif

#ifndef PRX08_OMIT_ReadCardNumberRaw
SIM_EXPORT int16_t SIM_CALL ReadCardNumberRaw(int16_t reader, uint16_t* value, uint8_t* buffer, uint16_t* bufferLength) {
  Call call("ReadCardNumberRaw");
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
  Call call("ReadCardNumber");
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
  Call call("SetBeepBlinkMode");
  Note(call.S, Text("SetBeepBlinkMode %ld %ld %ld", reader, beepMode, blinkMode));
  return ValidReader(call.S, reader) ? 0 : -1;
}
#endif

#ifndef PRX08_OMIT_BeepBlink
SIM_EXPORT int16_t SIM_CALL BeepBlink(int16_t reader) {
  Call call("BeepBlink");
  Note(call.S, Text("BeepBlink %ld", reader));
  return ValidReader(call.S, reader) ? 0 : -1;
}
#endif

#ifndef PRX08_OMIT_GetReaderInfo
SIM_EXPORT int16_t SIM_CALL GetReaderInfo(int16_t reader, char* info, int16_t infoSize) {
  Call call("GetReaderInfo");
  Note(call.S, Text("GetReaderInfo %ld", reader));
  if (!ValidReader(call.S, reader) || !info || infoSize <= 0) return -1;
  std::snprintf(info, static_cast<size_t>(infoSize), "PR-x08 simulator, reader %d", reader);
  return 0;
}
#endif

#ifndef PRX08_OMIT_SetWiegand26
SIM_EXPORT int16_t SIM_CALL SetWiegand26(int32_t enabled) {
  Call call("SetWiegand26");
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
  if (!file) return -1;
  std::lock_guard guard(State().Lock);
  return StartScript(State(), file);
}

SIM_EXPORT int32_t SIM_CALL SimLoadScriptText(const char* text) {
  if (!text) return -1;
  std::istringstream input(text);
  std::lock_guard guard(State().Lock);
  return StartScript(State(), input);
}

SIM_EXPORT int32_t SIM_CALL SimGetCallLog(char* buffer, int32_t size) {
  std::lock_guard guard(State().Lock);
  std::string text;
  for (const auto& line : State().Log) text.append(line).push_back('\n');
  if (buffer && size > 0) {
    size_t count = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
  }
  return static_cast<int32_t>(text.size());
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
  return 0;
}
