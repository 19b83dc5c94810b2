#pragma once
// The reader simulator's control interface, reached by loading its prx08.dll beside the plug-in
// (the same file, so the same loaded instance the binding uses).
#include <cstdint>
#include <string>

#include "platform/call_convention.h"
#include "platform/dynamic_library.h"

class SimulatorControl {
public:
  SimulatorControl();
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

private:
  template <class Function>
  Function Get(const char* name) const {
    return FLibrary.ResolveAs<Function>(name);
  }
  platform::DynamicLibrary FLibrary;
};
