#pragma once
// The reader simulator's control interface, reached by loading its prx08.dll beside the plug-in
// (the same file, so the same loaded instance the binding uses).
#include <cstdint>
#include <string>

#include "platform/call_convention.h"
#include "platform/dynamic_library.h"
#include "platform/sync.h"

class SimulatorControl {
public:
  SimulatorControl();
  // The simulator loaded from another file (a copy beside a plug-in under test).
  explicit SimulatorControl(const std::string& path);
  bool IsLoaded() const { return FLibrary.IsLoaded(); }

  void Reset();
  void SetReaderCount(int32_t count);
  void PresentCard(int32_t reader, uint32_t code);
  void TapCard(int32_t reader, uint32_t code);
  void RemoveCard(int32_t reader);
  bool IsReaderOpen(int32_t reader);
  int32_t LoadScriptText(const std::string& script);
  int32_t LoadScript(const std::string& path);
  std::string CallLog();
  int32_t CallCount(const std::string& name);
  void ResetLog();
  int32_t PollCount(int32_t reader);

  // The simulator's clock (also the plug-in's tick count once TickSource() is installed).
  uint32_t TickCount();
  platform::TickCountSource TickSource() const;
  void FreezeClock(uint32_t now);
  void AdvanceClock(uint32_t milliseconds);
  void SetClockStep(uint32_t milliseconds);
  void RunClock();

  // Delays (milliseconds; kBlock blocks until Release), injected faults, the log file.
  static constexpr int32_t kBlock = -1;
  void SetDelay(const std::string& entryPoint, int32_t milliseconds);
  void Release(const std::string& entryPoint);
  enum class FaultKind : int32_t { None = 0, Answer = 1, Raise = 2, AccessViolation = 3, Window = 4 };
  static constexpr int32_t kEveryReader = -1, kAlways = -1;
  void SetFault(const std::string& entryPoint, int32_t reader, FaultKind kind, int32_t answer, int32_t times);
  bool SetLogFile(const std::string& path);
  std::string ScriptError();
  void Unplug(int32_t reader);
  void Plug(int32_t reader);

private:
  template <class Function>
  Function Get(const char* name) const {
    return FLibrary.ResolveAs<Function>(name);
  }
  platform::DynamicLibrary FLibrary;
};
