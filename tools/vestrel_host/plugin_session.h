#pragma once
// Vestrel.plu loaded as the trade application loads it: the exported PluginControl, the call
// handler, parameter blocks over the host's own argument record, and an event sink of the
// tool's own. Members are called by their English names where the tool chooses the name:
// those are ASCII, so they reach the plug-in intact whatever the system's code page.
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "automation.h"
#include "host_output.h"
#include "vestrel/plugin.h"

namespace vestrel_host {

// What the sink does with a card: called on the plug-in's polling thread.
struct CardEvent {
  std::string Source, Id, Code;
};

class HostEventSink final : public IHostEventSink {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++FReferences; }
  ULONG STDMETHODCALLTYPE Release() override { return --FReferences; }
  void VESTREL_HOST_REGISTER ExternalEvent(BSTR Source, BSTR DeviceIdText, const GUID*, BSTR Data) override;
  // Array objects come from the plug-in itself when the host has none to offer.
  void VESTREL_HOST_REGISTER CreateArrayObject(VARIANT*) override {}

  void SetHandler(std::function<void(const CardEvent&)> handler);
  int Events() const { return FEvents.load(); }

private:
  std::atomic<ULONG> FReferences{1};
  std::atomic<int> FEvents{0};
  std::mutex FLock;
  std::function<void(const CardEvent&)> FHandler;
};

// The outcome of one call: the error fields of the block and every value the plug-in wrote
// back (the result, then the arguments).
struct CallOutcome {
  bool Failed = false;
  int32_t Code = 0;
  std::string ErrorText;
  Value Result;
  std::vector<Value> Arguments;
  int32_t IntResult() const;
};

class Plugin {
public:
  Plugin() = default;
  ~Plugin() { Close(); }
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // Loads the library and reaches its driver; on failure the message for the user.
  bool Open(const std::string& path, std::string& error);
  // Switches every device off, takes the event sink back and unloads the library.
  void Close();

  const std::string& Path() const { return FPath; }
  IBaseDllObj* Driver() const { return FDriver; }
  HostEventSink& Sink() { return FSink; }

  CallOutcome Call(const std::string& name, int32_t access, std::vector<Value> arguments = {});
  CallOutcome Method(const std::string& name, std::vector<Value> arguments = {}) {
    return Call(name, vestrel::kCallMethod, std::move(arguments));
  }
  Value Property(const std::string& name) { return Call(name, vestrel::kCallPropertyGet).Result; }
  // The driver's own lookups for a name (false when it has none).
  bool IsMethod(const std::string& name) { return AskMembers(name, false); }
  bool IsProperty(const std::string& name) { return AskMembers(name, true); }

  // A built-in member: the block's name alone, without an argument record.
  void Builtin(const char* name);
  // The built-in "__@@Statistics": what the devices' readers have seen; nullopt when the
  // plug-in answers no text.
  std::optional<std::string> Statistics();

private:
  bool AskMembers(const std::string& name, bool property);
  void RunBlock(const std::string& name, DISPPARAMS* record, CallOutcome& outcome);

  std::string FPath;
  DynamicLibrary FLibrary;
  IPluginControl* FControl = nullptr;
  TCallHandler FEntry = nullptr;
  IBaseDllObj* FDriver = nullptr;
  HostEventSink FSink;
};

// The plug-in call in progress on any thread: its member and how long it has run (ms);
// nullopt when none runs. For a stop that finds a call stuck.
struct CallInProgress {
  std::string Member;
  int64_t Milliseconds = 0;
};
std::optional<CallInProgress> CurrentCall();

// A value as the user reads it: texts and numbers as they are, an XML node as its XML, an
// array object as its rows, any other object as "<object>".
std::string ValueDisplay(const Value& value);
// The same for JSON: texts stay texts, an array object becomes an array of rows.
nlohmann::json ValueJson(const Value& value);

}  // namespace vestrel_host
