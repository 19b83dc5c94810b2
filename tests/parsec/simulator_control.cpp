#include "simulator_control.h"

#include <vector>

namespace {
using NoArguments = int32_t(PLATFORM_STDCALL*)();
using OneInteger = int32_t(PLATFORM_STDCALL*)(int32_t);
using ReaderAndCode = int32_t(PLATFORM_STDCALL*)(int32_t, uint32_t);
using OneText = int32_t(PLATFORM_STDCALL*)(const char*);
using TextBuffer = int32_t(PLATFORM_STDCALL*)(char*, int32_t);
using OneUnsigned = int32_t(PLATFORM_STDCALL*)(uint32_t);
using TextAndInteger = int32_t(PLATFORM_STDCALL*)(const char*, int32_t);
using FaultSetting = int32_t(PLATFORM_STDCALL*)(const char*, int32_t, int32_t, int32_t, int32_t);
}  // namespace

SimulatorControl::SimulatorControl() : SimulatorControl(PRX08_SIMULATOR_FILE) {}
SimulatorControl::SimulatorControl(const std::string& path) : FLibrary(platform::DynamicLibrary::Load(path)) {}

void SimulatorControl::Reset() { Get<NoArguments>("SimReset")(); }
void SimulatorControl::SetReaderCount(int32_t count) { Get<OneInteger>("SimSetReaderCount")(count); }
void SimulatorControl::PresentCard(int32_t reader, uint32_t code) { Get<ReaderAndCode>("SimPresentCard")(reader, code); }
void SimulatorControl::TapCard(int32_t reader, uint32_t code) { Get<ReaderAndCode>("SimTapCard")(reader, code); }
void SimulatorControl::RemoveCard(int32_t reader) { Get<OneInteger>("SimRemoveCard")(reader); }
bool SimulatorControl::IsReaderOpen(int32_t reader) { return Get<OneInteger>("SimIsReaderOpen")(reader) != 0; }
int32_t SimulatorControl::LoadScriptText(const std::string& script) {
  return Get<OneText>("SimLoadScriptText")(script.c_str());
}
int32_t SimulatorControl::LoadScript(const std::string& path) { return Get<OneText>("SimLoadScript")(path.c_str()); }
int32_t SimulatorControl::CallCount(const std::string& name) { return Get<OneText>("SimGetCallCount")(name.c_str()); }
void SimulatorControl::ResetLog() { Get<NoArguments>("SimResetLog")(); }
int32_t SimulatorControl::PollCount(int32_t reader) { return Get<OneInteger>("SimGetPollCount")(reader); }

uint32_t SimulatorControl::TickCount() { return TickSource()(); }
platform::TickCountSource SimulatorControl::TickSource() const {
  return Get<platform::TickCountSource>("SimGetTickCount");
}
void SimulatorControl::FreezeClock(uint32_t now) { Get<OneUnsigned>("SimSetClock")(now); }
void SimulatorControl::AdvanceClock(uint32_t milliseconds) { Get<OneUnsigned>("SimAdvanceClock")(milliseconds); }
void SimulatorControl::SetClockStep(uint32_t milliseconds) { Get<OneUnsigned>("SimSetClockStep")(milliseconds); }
void SimulatorControl::RunClock() { Get<NoArguments>("SimRunClock")(); }

void SimulatorControl::SetDelay(const std::string& entryPoint, int32_t milliseconds) {
  Get<TextAndInteger>("SimSetDelay")(entryPoint.c_str(), milliseconds);
}
void SimulatorControl::Release(const std::string& entryPoint) { Get<OneText>("SimRelease")(entryPoint.c_str()); }
void SimulatorControl::SetFault(const std::string& entryPoint, int32_t reader, FaultKind kind, int32_t answer,
                                int32_t times) {
  Get<FaultSetting>("SimSetFault")(entryPoint.c_str(), reader, static_cast<int32_t>(kind), answer, times);
}
bool SimulatorControl::SetLogFile(const std::string& path) {
  return Get<OneText>("SimSetLogFile")(path.c_str()) == 0;
}

void SimulatorControl::Unplug(int32_t reader) { Get<OneInteger>("SimUnplugReader")(reader); }
void SimulatorControl::Plug(int32_t reader) { Get<OneInteger>("SimPlugReader")(reader); }

namespace {
std::string TextOf(TextBuffer getText) {
  int32_t length = getText(nullptr, 0);
  std::vector<char> buffer(static_cast<size_t>(length) + 1);
  getText(buffer.data(), static_cast<int32_t>(buffer.size()));
  return std::string(buffer.data());
}
}  // namespace

std::string SimulatorControl::CallLog() { return TextOf(Get<TextBuffer>("SimGetCallLog")); }
std::string SimulatorControl::ScriptError() { return TextOf(Get<TextBuffer>("SimGetScriptError")); }
