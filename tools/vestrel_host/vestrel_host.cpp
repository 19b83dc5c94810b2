// vestrel-host: a command-line host for the Vestrel plug-in. It loads Vestrel.plu the way the
// trade application does (the exported PluginControl, the call handler, parameter blocks),
// installs its own event sink and prints what the plug-in reports:
//
//   vestrel-host info                    the plug-in's version, release, model and parameters
//   vestrel-host run CONFIG.xml          switches the configured devices on and prints cards
//   vestrel-host check [CONFIG.xml]      switches one device on and off, says what is wrong
//   vestrel-host call MEMBER [ARGS...]   one call by member name
//
// It drives the plug-in only through the public headers: no code of the plug-in is linked in.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "host_text.h"
#include "vestrel/plugin.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

namespace {

// Exit statuses.
enum ExitStatus : int {
  kExitOk = 0,
  kExitUsage = 2,         // the command line is wrong
  kExitLoad = 3,          // Vestrel.plu could not be loaded or has no driver
  kExitDevice = 4,        // a device or a call failed
  kExitConfiguration = 5  // the configuration file is missing or malformed
};

using json = nlohmann::json;
using OleText = std::basic_string<OLECHAR>;

bool gJson = false;
std::mutex gOutputLock;

void PrintLine(const std::string& line, FILE* stream = stdout) {
  std::lock_guard<std::mutex> lock(gOutputLock);
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}
void PrintJson(const json& object) { PrintLine(object.dump(-1, ' ', false, json::error_handler_t::replace)); }

// A failure for the user: one line (or one JSON object) and the exit status.
int Fail(int status, const std::string& message, json extra = json::object()) {
  if (gJson) {
    extra["error"] = message;
    extra["status"] = status;
    PrintJson(extra);
  } else {
    PrintLine("vestrel-host: " + message, stderr);
  }
  return status;
}

std::string NowText() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char text[40];
  std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
  char withMillis[48];
  std::snprintf(withMillis, sizeof(withMillis), "%s.%03d", text, static_cast<int>(millis));
  return withMillis;
}

// ---------------------------------------------------------------------------------------------
// The library.

class PluginLibrary {
public:
  ~PluginLibrary() { Unload(); }
  bool Load(const std::string& path, std::string& error) {
#ifdef _WIN32
    const OleText wide = Utf16FromUtf8(path);
    FHandle = LoadLibraryW(reinterpret_cast<const wchar_t*>(wide.c_str()));
    if (FHandle == nullptr) error = "cannot load " + path + " (system error " + std::to_string(GetLastError()) + ")";
#else
    FHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (FHandle == nullptr) error = "cannot load " + path + " (" + dlerror() + ")";
#endif
    return FHandle != nullptr;
  }
  void* Resolve(const char* name) const {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FHandle), name));
#else
    return dlsym(FHandle, name);
#endif
  }
  void Unload() {
    if (FHandle == nullptr) return;
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(FHandle));
#else
    dlclose(FHandle);
#endif
    FHandle = nullptr;
  }

private:
  void* FHandle = nullptr;
};

std::string ExecutableFolder() {
#ifdef _WIN32
  wchar_t buffer[4096];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, 4096);
  std::string path = Utf8FromUtf16(reinterpret_cast<const OLECHAR*>(buffer), length);
  const size_t slash = path.find_last_of("\\/");
#else
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  std::string path(buffer, length > 0 ? static_cast<size_t>(length) : 0);
  const size_t slash = path.find_last_of('/');
#endif
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// ---------------------------------------------------------------------------------------------
// The event sink.

class HostEventSink final : public IHostEventSink {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++FReferences; }
  ULONG STDMETHODCALLTYPE Release() override { return --FReferences; }

  void VESTREL_HOST_REGISTER ExternalEvent(BSTR Source, BSTR DeviceIdText, const GUID*, BSTR Data) override {
    // Called from the plug-in's polling thread: nothing may escape back into it.
    try {
      const std::string id = Utf8OfBstr(DeviceIdText);
      std::string name;
      {
        std::lock_guard<std::mutex> lock(FLock);
        if (auto found = FNames.find(id); found != FNames.end()) name = found->second;
      }
      const std::string time = NowText(), code = Utf8OfBstr(Data), source = Utf8OfBstr(Source);
      if (gJson) {
        PrintJson({{"event", "card"}, {"time", time}, {"source", source}, {"device", name}, {"id", id}, {"code", code}});
      } else {
        PrintLine(time + "  " + (name.empty() ? "?" : name) + "  " + id + "  " + code);
      }
      ++FEvents;
    } catch (...) {
    }
  }
  // Array objects come from the plug-in itself when the host has none to offer.
  void VESTREL_HOST_REGISTER CreateArrayObject(VARIANT*) override {}

  void SetNames(std::map<std::string, std::string> names) {
    std::lock_guard<std::mutex> lock(FLock);
    FNames = std::move(names);
  }
  int Events() const { return FEvents.load(); }

private:
  std::atomic<ULONG> FReferences{1};
  std::atomic<int> FEvents{0};
  std::mutex FLock;
  std::map<std::string, std::string> FNames;
};

HostEventSink gSink;

// ---------------------------------------------------------------------------------------------
// One call: a parameter block over the host's own argument record. Every parameter is passed
// by reference, so the result and every argument the plug-in writes back arrive here.

struct CallOutcome {
  bool Failed = false;
  int32_t Code = 0;
  std::string ErrorText;
  std::vector<VARIANT> Values;  // 0: the result, then the arguments (owned: cleared in the destructor)
  CallOutcome() = default;
  CallOutcome(const CallOutcome&) = delete;
  CallOutcome(CallOutcome&& other) noexcept = default;
  ~CallOutcome() {
    for (VARIANT& value : Values) VariantClear(&value);
  }
  const VARIANT& Result() const { return Values.at(0); }
  const VARIANT& Argument(size_t k) const { return Values.at(k + 3); }  // 0-based
  int32_t IntResult() const {
    VARIANT converted;
    VariantInit(&converted);
    int32_t value = 0;
    if (SUCCEEDED(VariantChangeType(&converted, const_cast<VARIANT*>(&Result()), 0, VT_I4))) value = V_I4(&converted);
    VariantClear(&converted);
    return value;
  }
};

VARIANT TextValue(const std::string& utf8) {
  VARIANT value;
  VariantInit(&value);
  const OleText text = Utf16FromUtf8(utf8);
  V_VT(&value) = VT_BSTR;
  V_BSTR(&value) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return value;
}
VARIANT IntValue(int32_t number) {
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_I4;
  V_I4(&value) = number;
  return value;
}
VARIANT DoubleValue(double number) {
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_R8;
  V_R8(&value) = number;
  return value;
}

class Plugin {
public:
  ~Plugin() { Close(); }

  int Open(const std::string& path) {
    std::string error;
    if (!FLibrary.Load(path, error)) return Fail(kExitLoad, error);
    auto control = reinterpret_cast<TPluginControlExport>(FLibrary.Resolve("PluginControl"));
    if (control == nullptr) return Fail(kExitLoad, path + " has no PluginControl: not a Vestrel plug-in");
    control(&FControl);
    if (FControl == nullptr) return Fail(kExitLoad, path + " could not make its driver object");
    if (FControl->GetCallHandler(&FEntry) != S_OK || FEntry == nullptr)
      return Fail(kExitLoad, path + " gave no call handler");
    if (FControl->GetDllObjectIntf(&FDriver) != S_OK || FDriver == nullptr)
      return Fail(kExitLoad, path + " gave no driver object");
    FDriver->SetEventSink(&gSink);
    return kExitOk;
  }

  // Switches every device off, takes the event sink back and unloads the library.
  void Close() {
    if (FDriver != nullptr) {
      Builtin("__@@SwitchOff");
      FDriver->SetEventSink(nullptr);
      Builtin("__FRee");
    }
    FDriver = nullptr;
    FControl = nullptr;
    FEntry = nullptr;
    FLibrary.Unload();
  }

  IBaseDllObj* Driver() const { return FDriver; }

  CallOutcome Call(const std::string& name, int32_t kind, std::vector<VARIANT> arguments = {}) {
    CallOutcome outcome;
    outcome.Values.reserve(arguments.size() + 3);
    VARIANT empty;
    VariantInit(&empty);
    outcome.Values.push_back(empty);
    outcome.Values.push_back(TextValue(name));
    outcome.Values.push_back(IntValue(kind));
    for (VARIANT& argument : arguments) outcome.Values.push_back(argument);  // ownership moves
    // The record holds references, last parameter first.
    std::vector<VARIANT> references(outcome.Values.size());
    for (size_t i = 0; i < outcome.Values.size(); ++i) {
      VARIANT& reference = references[outcome.Values.size() - 1 - i];
      VariantInit(&reference);
      V_VT(&reference) = VT_BYREF | VT_VARIANT;
      V_VARIANTREF(&reference) = &outcome.Values[i];
    }
    DISPPARAMS record{};
    record.rgvarg = references.data();
    record.cArgs = static_cast<UINT>(references.size());
    RunBlock(name, &record, outcome);
    return outcome;
  }

  // A method call, a property read or a property write, decided by the driver's lookups.
  CallOutcome CallByName(const std::string& name, std::vector<VARIANT> arguments) {
    int32_t kind = vestrel::kCallMethod;
    IDllObjMembers* members = nullptr;
    FDriver->GetMembers(&members);
    if (members != nullptr) {
      const OleText text = Utf16FromUtf8(name);
      BSTR member = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (!members->IsMethod(member) && members->IsProperty(member))
        kind = arguments.empty() ? vestrel::kCallPropertyGet : vestrel::kCallPropertySet;
      SysFreeString(member);
      members->Release();
    }
    return Call(name, kind, std::move(arguments));
  }

private:
  void Builtin(const char* name) {
    CallOutcome ignored;
    RunBlock(name, nullptr, ignored);
  }

  void RunBlock(const std::string& name, DISPPARAMS* record, CallOutcome& outcome) {
    vestrel::HostString hostName(name.c_str());
    TParams block{};
    block.Name = hostName.Get();
    block.Args = record;
    block.OwnsArgs = false;
    block.Sink = &gSink;
    FEntry(&block, nullptr);
    outcome.Failed = block.HasError;
    outcome.Code = block.ErrorCode;
    if (V_VT(&block.ErrorText) == VT_BSTR) outcome.ErrorText = Utf8OfBstr(V_BSTR(&block.ErrorText));
    VariantClear(&block.ErrorText);
    VariantClear(&block.ErrorSource);
  }

  PluginLibrary FLibrary;
  IPluginControl* FControl = nullptr;
  TCallHandler FEntry = nullptr;
  IBaseDllObj* FDriver = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Helpers of the subcommands.

// A command-line argument as the value a host would pass: a whole number, a decimal number or
// a text.
VARIANT ArgumentValue(const std::string& text) {
  static const std::regex whole("-?[0-9]{1,9}"), decimal("-?[0-9]+[.,][0-9]+");
  if (std::regex_match(text, whole)) return IntValue(std::stoi(text));
  if (std::regex_match(text, decimal)) {
    std::string point = text;
    for (char& c : point)
      if (c == ',') c = '.';
    return DoubleValue(std::stod(point));
  }
  return TextValue(text);
}

// Reads a configuration file; an empty result with a message when it cannot be used.
bool ReadConfiguration(const std::string& path, OleText& text, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read the configuration file " + path;
    return false;
  }
  std::ostringstream bytes;
  bytes << file.rdbuf();
  if (bytes.str().size() > 16 * 1024 * 1024) {
    error = "the configuration file " + path + " is too large";
    return false;
  }
  text = DecodeTextFile(bytes.str());
  return true;
}

// A property of an automation object (the XML document the plug-in hands back) as text.
std::string DispatchText(IDispatch* object, const char* property) {
  if (object == nullptr) return {};
  OleText name = Utf16FromUtf8(property);
  LPOLESTR names[] = {name.data()};
  DISPID id = 0;
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id))) return {};
  DISPPARAMS none{};
  VARIANT result;
  VariantInit(&result);
  std::string text;
  if (SUCCEEDED(object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr)))
    text = VariantDisplay(result);
  VariantClear(&result);
  return text;
}

struct DeviceInfo {
  std::string Id, Name;
};

// Identifiers and names of the configured devices, from the plug-in's own description of them.
std::vector<DeviceInfo> ListDevices(Plugin& plugin) {
  std::vector<DeviceInfo> devices;
  CallOutcome settings = plugin.Call("ПолучитьНастройкиXML", vestrel::kCallMethod, {IntValue(0), VARIANT{}});
  if (settings.Failed) return devices;
  const VARIANT& document = settings.Argument(1);
  if ((V_VT(&document) & ~VT_BYREF) != VT_DISPATCH) return devices;
  const std::string xml = DispatchText(V_DISPATCH(&document), "xml");
  static const std::regex tag("<Устройство[ /][^>]*>"), code("Код=\"([^\"]*)\""), name("Наименование=\"([^\"]*)\"");
  for (auto it = std::sregex_iterator(xml.begin(), xml.end(), tag); it != std::sregex_iterator(); ++it) {
    const std::string element = it->str();
    std::smatch found;
    DeviceInfo device;
    if (std::regex_search(element, found, code)) device.Id = found[1];
    if (std::regex_search(element, found, name)) device.Name = found[1];
    devices.push_back(device);
  }
  return devices;
}

// What an integrator should do about a device error code.
std::string Advice(int32_t code) {
  switch (code) {
    case 9:
      return "The reader library prx08.dll could not be loaded. Put prx08.dll from the reader's driver "
             "package into the folder of Vestrel.plu (the same bitness), then check again.";
    case 10:
      return "No PR-x08 reader was found. Plug the reader in, install its driver, make sure the system "
             "lists it, then check again.";
    case 11:
      return "The reader is in use by another program or another copy of the trade application. Close "
             "it (only one holder at a time), then check again.";
    default:
      return "See the plug-in's text above.";
  }
}

std::atomic<bool> gStop{false};
extern "C" void OnStopSignal(int) { gStop = true; }

// ---------------------------------------------------------------------------------------------
// Subcommands.

int Info(Plugin& plugin) {
  std::vector<VARIANT> arguments(13);
  for (VARIANT& argument : arguments) VariantInit(&argument);
  CallOutcome info = plugin.Call("ИнформацияОПлагине", vestrel::kCallMethod, std::move(arguments));
  if (info.Failed) return Fail(kExitDevice, "ИнформацияОПлагине: " + info.ErrorText, {{"code", info.Code}});
  BSTR versionText = nullptr;
  uint16_t versionNumber = 0;
  plugin.Driver()->GetVersionText(&versionText);
  plugin.Driver()->GetVersionNumber(&versionNumber);
  const std::string version = Utf8OfBstr(versionText);
  SysFreeString(versionText);
  CallOutcome release = plugin.Call("Релиз", vestrel::kCallPropertyGet);
  const json object = {{"version", version},
                       {"build", versionNumber},
                       {"release", release.IntResult()},
                       {"classId", VariantDisplay(info.Argument(0))},
                       {"model", VariantDisplay(info.Argument(1))},
                       {"modelKey", VariantDisplay(info.Argument(8))},
                       {"equipmentClass", VariantDisplay(info.Argument(9))},
                       {"classDescription", VariantDisplay(info.Argument(10))},
                       {"parameters", VariantDisplay(info.Argument(7))}};
  if (gJson) {
    PrintJson(object);
  } else {
    PrintLine("Version:           " + version);
    PrintLine("Release:           " + std::to_string(release.IntResult()));
    PrintLine("Model:             " + object["model"].get<std::string>() + " " + object["classId"].get<std::string>());
    PrintLine("Model key:         " + object["modelKey"].get<std::string>());
    PrintLine("Equipment class:   " + object["equipmentClass"].get<std::string>() + " (" +
              object["classDescription"].get<std::string>() + ")");
    PrintLine("Device parameters: " + object["parameters"].get<std::string>());
  }
  return kExitOk;
}

int LoadConfiguration(Plugin& plugin, const std::string& path) {
  OleText text;
  std::string error;
  if (!ReadConfiguration(path, text, error)) return Fail(kExitConfiguration, error);
  VARIANT source;
  VariantInit(&source);
  V_VT(&source) = VT_BSTR;
  V_BSTR(&source) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  CallOutcome loaded = plugin.Call("НастроитьУстройства", vestrel::kCallMethod, {source});
  if (loaded.Failed) return Fail(kExitConfiguration, path + ": " + loaded.ErrorText, {{"code", loaded.Code}});
  if (plugin.Call("КоличествоУстройств", vestrel::kCallPropertyGet).IntResult() < 1)
    return Fail(kExitConfiguration, path + ": the configuration names no device");
  return kExitOk;
}

// Switches device `number` on or off: the outcome of the call.
CallOutcome Switch(Plugin& plugin, int32_t number, bool on) {
  CallOutcome chosen = plugin.Call("ВыбратьУстройство", vestrel::kCallMethod, {IntValue(number)});
  if (chosen.Failed) return chosen;
  VARIANT unused;
  VariantInit(&unused);
  return plugin.Call(on ? "Включить" : "Выключить", vestrel::kCallMethod, {unused});
}

int Run(Plugin& plugin, const std::string& configuration, double seconds) {
  if (const int status = LoadConfiguration(plugin, configuration); status != kExitOk) return status;
  const std::vector<DeviceInfo> devices = ListDevices(plugin);
  std::map<std::string, std::string> names;
  for (const DeviceInfo& device : devices) names[device.Id] = device.Name;
  gSink.SetNames(names);
  const int32_t count = plugin.Call("КоличествоУстройств", vestrel::kCallPropertyGet).IntResult();
  int status = kExitOk, switchedOn = 0;
  for (int32_t number = 1; number <= count; ++number) {
    const DeviceInfo device = number <= static_cast<int32_t>(devices.size()) ? devices[number - 1] : DeviceInfo{};
    // A device the configuration marks as not to be used stays off, as in the trade application.
    plugin.Call("ВыбратьУстройство", vestrel::kCallMethod, {IntValue(number)});
    if (VariantDisplay(plugin.Call("Использовать", vestrel::kCallPropertyGet).Result()) == "0") {
      if (gJson) {
        PrintJson({{"event", "skipped"}, {"device", device.Name}, {"id", device.Id}});
      } else {
        PrintLine("Skipped (Использовать = 0): " + device.Name + " " + device.Id);
      }
      continue;
    }
    CallOutcome on = Switch(plugin, number, true);
    if (gJson) {
      PrintJson({{"event", on.Failed ? "switch-on-failed" : "on"}, {"device", device.Name}, {"id", device.Id},
                 {"code", on.Failed ? on.Code : 0}, {"text", on.ErrorText}});
    } else if (on.Failed) {
      PrintLine("vestrel-host: " + device.Name + " " + device.Id + ": error " + std::to_string(on.Code) + ": " +
                on.ErrorText, stderr);
    } else {
      PrintLine("On: " + device.Name + " " + device.Id);
    }
    if (on.Failed) {
      status = kExitDevice;
    } else {
      ++switchedOn;
    }
  }
  if (switchedOn > 0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
    while (!gStop && (seconds <= 0 || std::chrono::steady_clock::now() < end))
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  for (int32_t number = 1; number <= count; ++number) Switch(plugin, number, false);
  if (gJson) {
    PrintJson({{"event", "stopped"}, {"cards", gSink.Events()}});
  } else {
    PrintLine("Stopped after " + std::to_string(gSink.Events()) + " card event(s).");
  }
  return status;
}

// One device with the default settings, when the integrator names no configuration.
const char kCheckConfiguration[] =
    "<Система><Оборудование><Устройство Код=\"{5E57C4EC-0000-4000-8000-000000000001}\" "
    "Наименование=\"Проверка\"/></Оборудование></Система>";

int Check(Plugin& plugin, const std::string& configuration) {
  if (configuration.empty()) {
    CallOutcome loaded = plugin.Call("НастроитьУстройства", vestrel::kCallMethod, {TextValue(kCheckConfiguration)});
    if (loaded.Failed) return Fail(kExitDevice, loaded.ErrorText, {{"code", loaded.Code}});
  } else if (const int status = LoadConfiguration(plugin, configuration); status != kExitOk) {
    return status;
  }
  CallOutcome on = Switch(plugin, 1, true);
  if (on.Failed) {
    if (gJson) {
      PrintJson({{"check", "failed"}, {"code", on.Code}, {"text", on.ErrorText}, {"advice", Advice(on.Code)},
                 {"status", kExitDevice}});
    } else {
      PrintLine("FAILED: error " + std::to_string(on.Code) + ": " + on.ErrorText);
      PrintLine(Advice(on.Code));
    }
    return kExitDevice;
  }
  CallOutcome off = Switch(plugin, 1, false);
  if (off.Failed) return Fail(kExitDevice, "switching off: " + off.ErrorText, {{"code", off.Code}});
  if (gJson) {
    PrintJson({{"check", "ok"}, {"code", 0}});
  } else {
    PrintLine("OK: the reader was switched on and off (code 0). It is ready for the trade application.");
  }
  return kExitOk;
}

int CallMember(Plugin& plugin, const std::string& member, const std::vector<std::string>& texts) {
  std::vector<VARIANT> arguments;
  for (const std::string& text : texts) arguments.push_back(ArgumentValue(text));
  CallOutcome outcome = plugin.CallByName(member, std::move(arguments));
  if (outcome.Failed) return Fail(kExitDevice, member + ": " + outcome.ErrorText, {{"code", outcome.Code}});
  if (gJson) {
    json written = json::array();
    for (size_t k = 0; k < texts.size(); ++k) written.push_back(VariantDisplay(outcome.Argument(k)));
    PrintJson({{"member", member}, {"result", VariantDisplay(outcome.Result())}, {"arguments", written}});
  } else {
    PrintLine(VariantDisplay(outcome.Result()));
  }
  return kExitOk;
}

int Main(int argc, const char* const* argv) {
  CLI::App app{"vestrel-host: loads Vestrel.plu as the trade application does and drives its readers."};
  app.set_version_flag("--version", std::string("vestrel-host 1.0"));
  std::string pluginPath;
  app.add_flag("--json", gJson, "One JSON object per line");
  app.add_option("--plugin", pluginPath, "Path of Vestrel.plu (default: beside this program)");
  app.require_subcommand(1);
  CLI::App* info = app.add_subcommand("info", "The plug-in's version, release, model and device parameters");
  CLI::App* run = app.add_subcommand("run", "Switch the configured devices on and print every card");
  std::string configuration;
  double seconds = 0;
  run->add_option("CONFIG", configuration, "Host configuration (XML)")->required();
  run->add_option("--seconds", seconds, "Stop after this many seconds (default: Ctrl+C)")->check(CLI::NonNegativeNumber);
  CLI::App* check = app.add_subcommand("check", "Switch a device on and off and say what is wrong");
  check->add_option("CONFIG", configuration, "Host configuration (XML); default: one device with default settings");
  CLI::App* call = app.add_subcommand("call", "One call by member name (Russian or English)");
  std::string member;
  std::vector<std::string> callArguments;
  call->add_option("MEMBER", member, "Member name")->required();
  call->add_option("ARGS", callArguments, "Arguments: whole numbers, decimals or texts");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return Fail(kExitUsage, std::string(e.what()) + " (see vestrel-host --help)");
  }

  if (pluginPath.empty()) pluginPath = ExecutableFolder() + "/Vestrel.plu";
  Plugin plugin;
  if (const int status = plugin.Open(pluginPath); status != kExitOk) return status;
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  if (info->parsed()) return Info(plugin);
  if (run->parsed()) return Run(plugin, configuration, seconds);
  if (check->parsed()) return Check(plugin, configuration);
  return CallMember(plugin, member, callArguments);
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> texts;
  for (int i = 0; i < argc; ++i)
    texts.push_back(Utf8FromUtf16(reinterpret_cast<const OLECHAR*>(argv[i]), wcslen(argv[i])));
  std::vector<const char*> pointers;
  for (const std::string& text : texts) pointers.push_back(text.c_str());
  // The plug-in parses configurations with the system's XML objects: COM on this thread, as in
  // the trade application.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int status = kExitDevice;
  try {
    status = Main(argc, pointers.data());
  } catch (const std::exception& e) {
    status = Fail(kExitDevice, e.what());
  }
  CoUninitialize();
  return status;
}
#else
int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    return Fail(kExitDevice, e.what());
  }
}
#endif
