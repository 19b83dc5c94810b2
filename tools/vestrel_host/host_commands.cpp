#include "host_commands.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <map>
#include <regex>
#include <thread>

#include "configuration.h"
#include "host_messages.h"
#include "host_system.h"
#include "member_catalogue.h"
#include "reader_check.h"

namespace vestrel_host {
namespace {

std::atomic<bool> gStop{false};

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

// What an integrator should do about a device's error code.
std::string Advice(int32_t code) {
  switch (code) {
    case 2: return Say(Msg::Advice2);
    case 9: return Say(Msg::Advice9);
    case 10: return Say(Msg::Advice10);
    case 11: return Say(Msg::Advice11);
    default: return Say(Msg::AdviceOther);
  }
}

// Selects device `number` and switches it on or off.
CallOutcome Switch(Plugin& plugin, int32_t number, bool on) {
  CallOutcome chosen = plugin.Method("ChoiceDevice", {Value::Integer(number)});
  if (chosen.Failed) return chosen;
  return plugin.Method(on ? "SwitchOn" : "SwitchOff", {Value()});
}

// One device with the default settings, when the integrator names no configuration.
constexpr char kCheckConfiguration[] =
    "<Система><Оборудование><Устройство Код=\"{5E57C4EC-0000-4000-8000-000000000001}\" "
    "Наименование=\"Проверка\"/></Оборудование></Система>";

// Waits `seconds`, or less when a stop is asked for; false when it was.
bool Pause(double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
  while (std::chrono::steady_clock::now() < end) {
    if (gStop) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return !gStop;
}

// The device's statistics, as the plug-in reports them now.
std::optional<DeviceReport> DeviceStatistics(Plugin& plugin, int number) {
  const std::optional<std::string> text = plugin.Statistics();
  if (!text) return std::nullopt;
  const std::vector<DeviceReport> reports = ParseStatistics(*text);
  const DeviceReport* device = FindDevice(reports, number);
  return device ? std::optional<DeviceReport>(*device) : std::nullopt;
}

// A reader's reads by answer as a JSON object ({"1": 80, "-5": 3}).
json ReadsJson(const ReaderReport& reader) {
  json reads = json::object();
  for (const auto& [result, count] : reader.ByResult) reads[std::to_string(result)] = count;
  return reads;
}

// One object or line per reader of every device, when a run stops.
void ReportRunStatistics(Plugin& plugin) {
  const std::optional<std::string> text = plugin.Statistics();
  if (!text) return;
  for (const DeviceReport& device : ParseStatistics(*text)) {
    for (const ReaderReport& reader : device.Readers) {
      Output::Report({{"event", "statistics"}, {"device", device.Name}, {"id", device.Id}, {"reader", reader.Reader + 1},
                      {"open", reader.Open ? json(*reader.Open) : json()}, {"cards", reader.Cards},
                      {"repeats", reader.Repeats}, {"reads", reader.Reads}, {"readsByResult", ReadsJson(reader)},
                      {"otherResults", reader.OtherResults}, {"sinkFailures", reader.SinkFailures},
                      {"lastCard", reader.LastCard}},
                     Say(Msg::RunReaderStatistics,
                         {device.Name, std::to_string(reader.Reader + 1), std::to_string(reader.Cards),
                          std::to_string(reader.Repeats), std::to_string(reader.Reads), ReadsText(reader),
                          std::to_string(reader.SinkFailures), reader.LastCard.empty() ? Say(Msg::Nothing) : reader.LastCard}));
    }
  }
}

// The check's pause for reads: long enough for some 80 polls of every reader.
constexpr double kCheckReadSeconds = 2.0;

// Asks for a card at each reader in turn; the faults of the readers that stayed silent.
std::vector<std::string> AskForCards(Plugin& plugin, const ConfiguredDevice& device, const DeviceReport& before,
                                     double seconds) {
  std::vector<std::string> faults;
  std::mutex lock;
  std::string lastCode;
  plugin.Sink().SetHandler([&](const CardEvent& event) {
    std::lock_guard<std::mutex> guard(lock);
    lastCode = event.Code;
  });
  const std::string window = SecondsText(seconds);
  for (const ReaderReport& reader : before.Readers) {
    const std::string number = std::to_string(reader.Reader + 1);
    Output::Report({{"check", "present-card"}, {"reader", reader.Reader + 1}, {"seconds", seconds}},
                   Say(Msg::CheckPresentCard, {number, window}));
    const uint64_t cardsBefore = [&] {
      const std::optional<DeviceReport> now = DeviceStatistics(plugin, device.Number);
      for (const ReaderReport& r : now ? now->Readers : std::vector<ReaderReport>{})
        if (r.Reader == reader.Reader) return r.Cards;
      return reader.Cards;
    }();
    bool read = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
    while (!read && !gStop && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (const std::optional<DeviceReport> now = DeviceStatistics(plugin, device.Number))
        for (const ReaderReport& r : now->Readers)
          if (r.Reader == reader.Reader && r.Cards > cardsBefore) read = true;
    }
    if (!read) {
      faults.push_back(Say(Msg::CheckCardMissing, {number, window}));
      continue;
    }
    // The plug-in beeps the reader when it accepts a card; the code is the event's.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::lock_guard<std::mutex> guard(lock);
    Output::Report({{"check", "card"}, {"reader", reader.Reader + 1}, {"code", lastCode}},
                   Say(Msg::CheckCardRead, {number, lastCode}));
  }
  plugin.Sink().SetHandler(nullptr);
  return faults;
}

}  // namespace

void RequestStop() { gStop = true; }
bool StopRequested() { return gStop; }

int InfoCommand(Plugin& plugin) {
  CallOutcome info = plugin.Method("GetPlgInfo", std::vector<Value>(13));
  if (info.Failed) return Output::Fail(kExitDevice, "GetPlgInfo: " + info.ErrorText, {{"code", info.Code}});
  BSTR versionText = nullptr;
  uint16_t build = 0;
  plugin.Driver()->GetVersionText(&versionText);
  plugin.Driver()->GetVersionNumber(&build);
  const std::string version = Utf8OfBstr(versionText);
  SysFreeString(versionText);
  const int32_t release = plugin.Call("Release", vestrel::kCallPropertyGet).IntResult();
  const auto argument = [&](size_t k) { return ValueDisplay(info.Arguments.at(k)); };
  const json object = {{"version", version},          {"build", build},
                       {"release", release},          {"classId", argument(0)},
                       {"model", argument(1)},        {"modelKey", argument(8)},
                       {"equipmentClass", argument(9)}, {"classDescription", argument(10)},
                       {"parameters", argument(7)},   {"plugin", plugin.Path()}};
  Output::Report(object, Say(Msg::InfoText, {version, std::to_string(release), argument(1), argument(0), argument(8),
                                            argument(9), argument(10), argument(7), plugin.Path()}));
  return kExitOk;
}

int RunCommand(Plugin& plugin, const std::string& path, double seconds) {
  Configuration configuration;
  if (const int status = configuration.Load(plugin, path); status != kExitOk) return status;
  std::map<std::string, std::string> names;
  for (const ConfiguredDevice& device : configuration.Devices()) names[device.Id] = device.Name;
  plugin.Sink().SetHandler([names](const CardEvent& event) {
    const auto found = names.find(event.Id);
    const std::string name = found == names.end() ? std::string() : found->second;
    Output::Report({{"event", "card"}, {"time", NowText()}, {"source", event.Source}, {"device", name}, {"id", event.Id},
                    {"code", event.Code}},
                   NowText() + "  " + (name.empty() ? "?" : name) + "  " + event.Id + "  " + event.Code);
  });

  int status = kExitOk;
  const ConfiguredDevice* holder = nullptr;  // the device of this run that holds the reader
  int used = 0;
  for (const ConfiguredDevice& device : configuration.Devices()) {
    // A device the configuration marks as not to be used stays off, as in the trade application.
    if (!device.Used) {
      Output::Report({{"event", "skipped"}, {"device", device.Name}, {"id", device.Id}}, Say(Msg::RunSkipped, {device.Label()}));
      continue;
    }
    ++used;
    CallOutcome on = Switch(plugin, device.Number, true);
    if (!on.Failed) {
      if (holder == nullptr) holder = &device;
      Output::Report({{"event", "on"}, {"device", device.Name}, {"id", device.Id}, {"code", 0}, {"text", ""}},
                     Say(Msg::RunOn, {device.Label()}));
      continue;
    }
    status = kExitDevice;
    std::string message = configuration.Explain(plugin, &device, on);
    std::string advice = Advice(on.Code);
    if (on.Code == 11 && holder != nullptr) advice = Say(Msg::RunOneDeviceOnly, {holder->Label()});
    if (Output::Json()) {
      Output::Report({{"event", "switch-on-failed"}, {"device", device.Name}, {"id", device.Id}, {"code", on.Code},
                      {"text", on.ErrorText}, {"message", message}, {"advice", advice}},
                     "");
    } else {
      Output::Fail(kExitDevice, message + "\n" + advice);
    }
  }
  if (used == 0) return Output::Fail(kExitConfiguration, path + ": " + Say(Msg::RunNothingToUse));

  if (holder != nullptr) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
    while (!gStop && (seconds <= 0 || std::chrono::steady_clock::now() < end))
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  for (const ConfiguredDevice& device : configuration.Devices()) Switch(plugin, device.Number, false);
  plugin.Sink().SetHandler(nullptr);
  // The readers' statistics stay with each device until its next switch-on.
  ReportRunStatistics(plugin);
  Output::Report({{"event", "stopped"}, {"cards", plugin.Sink().Events()}},
                 Say(Msg::RunStopped, {std::to_string(plugin.Sink().Events())}));
  return status;
}

int CheckCommand(Plugin& plugin, const std::string& path, std::optional<double> cardSeconds) {
  Configuration configuration;
  const int status = path.empty() ? configuration.LoadText(plugin, Say(Msg::CheckBuiltinName), Utf16FromUtf8(kCheckConfiguration))
                                  : configuration.Load(plugin, path);
  if (status != kExitOk) return status;
  const ConfiguredDevice* chosen = nullptr;
  for (const ConfiguredDevice& device : configuration.Devices())
    if (device.Used && chosen == nullptr) chosen = &device;
  if (chosen == nullptr) return Output::Fail(kExitConfiguration, configuration.Path() + ": " + Say(Msg::RunNothingToUse));

  // What is being checked: the plug-in and the reader library beside it.
  BSTR versionText = nullptr;
  plugin.Driver()->GetVersionText(&versionText);
  const std::string version = Utf8OfBstr(versionText);
  SysFreeString(versionText);
  std::string library = JoinPath(FolderOf(plugin.Path()), "prx08.dll");
  const std::string libraryVersion = FileVersionOf(library);
  Output::Report({{"check", "versions"}, {"plugin", plugin.Path()}, {"pluginVersion", version}, {"readerLibrary", library},
                  {"readerLibraryVersion", libraryVersion}},
                 Say(Msg::CheckVersions, {plugin.Path(), version, library + (libraryVersion.empty() ? "" : " (" + libraryVersion + ")")}));

  CallOutcome on = Switch(plugin, chosen->Number, true);
  if (on.Failed) {
    const std::string message = path.empty() ? on.ErrorText : configuration.Explain(plugin, chosen, on);
    Output::Report({{"check", "failed"}, {"device", chosen->Name}, {"id", chosen->Id}, {"code", on.Code},
                    {"text", on.ErrorText}, {"advice", Advice(on.Code)}, {"status", kExitDevice}},
                   Say(Msg::CheckFailed, {std::to_string(on.Code), message}) + "\n" + Advice(on.Code));
    return kExitDevice;
  }

  // The readers must open and read: a switch-on alone proves neither.
  Pause(kCheckReadSeconds);
  std::vector<std::string> faults;
  const std::optional<DeviceReport> report = DeviceStatistics(plugin, chosen->Number);
  if (!report) {
    faults.push_back(Say(Msg::CheckNoStatistics));
  } else {
    Output::Report({{"check", "enumerate"}, {"readers", report->Enumerate ? json(*report->Enumerate) : json()}},
                   Say(Msg::CheckEnumerated, {report->Enumerate ? std::to_string(*report->Enumerate) : "?"}));
    const std::string window = SecondsText(kCheckReadSeconds);
    for (const ReaderReport& reader : report->Readers) {
      Output::Report({{"check", "reader"}, {"reader", reader.Reader + 1}, {"open", reader.Open ? json(*reader.Open) : json()},
                      {"reads", reader.Reads}, {"readsByResult", ReadsJson(reader)}},
                     Say(Msg::CheckReaderLine, {std::to_string(reader.Reader + 1), reader.Open ? std::to_string(*reader.Open) : "?",
                                                window, ReadsText(reader)}));
    }
    faults = ReaderFaults(*report, kCheckReadSeconds);
    if (faults.empty() && cardSeconds) faults = AskForCards(plugin, *chosen, *report, *cardSeconds);
  }

  CallOutcome off = Switch(plugin, chosen->Number, false);
  if (!faults.empty()) {
    std::string text = Say(Msg::CheckReadersFailed);
    for (const std::string& fault : faults) text += "\n  " + fault;
    text += "\n" + Say(Msg::CheckReaderAdvice);
    Output::Report({{"check", "failed"}, {"device", chosen->Name}, {"id", chosen->Id}, {"faults", faults},
                    {"advice", Say(Msg::CheckReaderAdvice)}, {"status", kExitDevice}},
                   text);
    return kExitDevice;
  }
  if (off.Failed)
    return Output::Fail(kExitDevice, Say(Msg::CheckSwitchOffFailed, {configuration.Explain(plugin, chosen, off)}),
                        {{"code", off.Code}});
  Output::Report({{"check", "ok"}, {"code", 0}, {"device", chosen->Name}, {"id", chosen->Id}}, Say(Msg::CheckReadersOk));
  return kExitOk;
}

int MembersCommand(Plugin& plugin) {
  for (const Member& member : Members()) {
    const bool builtin = member.Kind == MemberKind::Builtin;
    const std::string lookup = builtin ? member.Russian : member.English;
    // Built-in members are names of the block itself: the tables do not answer them.
    const bool answered = builtin || (member.Kind == MemberKind::Method ? plugin.IsMethod(lookup) : plugin.IsProperty(lookup));
    const char* kind = member.Kind == MemberKind::Method ? "method"
                       : member.Kind == MemberKind::Property ? "property"
                       : member.Kind == MemberKind::ReadOnlyProperty ? "read-only property"
                                                                     : "built-in";
    const Msg kindText = member.Kind == MemberKind::Method ? Msg::KindMethod
                         : member.Kind == MemberKind::Property ? Msg::KindProperty
                         : member.Kind == MemberKind::ReadOnlyProperty ? Msg::KindReadOnlyProperty
                                                                       : Msg::KindBuiltin;
    char line[256];
    std::snprintf(line, sizeof line, "%-10s %3s  ", Say(kindText).c_str(),
                  member.Kind == MemberKind::Method ? std::to_string(member.Arguments).c_str() : "-");
    Output::Report({{"member", member.Russian}, {"english", member.English}, {"kind", kind},
                    {"arguments", member.Arguments}, {"answered", answered}},
                   std::string(line) + member.Russian + (builtin ? "" : std::string(" / ") + member.English) +
                       (answered ? "" : "  " + Say(Msg::MemberNotAnswered)));
  }
  // The device parameters are the plug-in's own definitions.
  CallOutcome info = plugin.Method("GetPlgInfo", std::vector<Value>(13));
  if (info.Failed || info.Arguments.size() < 8) return kExitOk;
  const Automation definitions = LoadXmlDocument(info.Arguments[7].AsText());
  if (!definitions) return kExitOk;
  for (const Automation& parameter : definitions.Select("//Параметр")) {
    const std::string name = Utf8FromUtf16(parameter.Attribute("Идентификатор"));
    const std::string type = Utf8FromUtf16(parameter.Attribute("Тип"));
    const std::string byDefault = Utf8FromUtf16(parameter.Attribute("Зна4ениеПоУмол4анию"));
    char line[64];
    std::snprintf(line, sizeof line, "%-10s %3s  ", Say(Msg::KindParameter).c_str(), "-");
    Output::Report({{"member", name}, {"english", ""}, {"kind", "device parameter"}, {"arguments", 0}, {"type", type},
                    {"default", byDefault}, {"answered", plugin.IsProperty(name)}},
                   std::string(line) + name + "  (" + type + ", " + Say(Msg::DefaultIs, {byDefault}) + ")");
  }
  return kExitOk;
}

bool SplitCalls(const std::vector<std::string>& tokens, std::vector<CallRequest>& calls) {
  calls.clear();
  calls.emplace_back();
  for (const std::string& token : tokens) {
    if (token == "+") {
      calls.emplace_back();
    } else if (calls.back().Member.empty()) {
      calls.back().Member = token;
    } else {
      calls.back().Arguments.push_back(token);
    }
  }
  for (const CallRequest& call : calls)
    if (call.Member.empty()) return false;
  return true;
}

namespace {

// A command-line argument as the value a host would pass: a whole number, a decimal number or
// a text.
Value ArgumentValue(const std::string& text) {
  static const std::regex whole("-?[0-9]{1,9}"), decimal("-?[0-9]+[.,][0-9]+");
  if (std::regex_match(text, whole)) return Value::Integer(std::stoi(text));
  if (std::regex_match(text, decimal)) {
    std::string point = text;
    for (char& c : point)
      if (c == ',') c = '.';
    return Value::Double(std::stod(point));
  }
  return Value::Text(text);
}

int OneCall(Plugin& plugin, const CallRequest& request) {
  const Member* member = FindMember(request.Member);
  std::vector<Value> arguments;
  for (const std::string& text : request.Arguments) arguments.push_back(ArgumentValue(text));
  CallOutcome outcome;
  std::string name = request.Member;
  if (member != nullptr && member->Kind == MemberKind::Builtin) {
    plugin.Builtin(member->Russian);
    Output::Report({{"member", member->Russian}, {"result", ""}, {"arguments", json::array()}}, Say(Msg::CallBuiltinDone, {member->Russian}));
    return kExitOk;
  }
  if (member != nullptr) {
    // The English name is ASCII: it reaches the plug-in whatever the system's code page.
    name = member->English;
    if (member->Kind == MemberKind::Method) {
      while (arguments.size() < static_cast<size_t>(member->Arguments)) arguments.emplace_back();
      outcome = plugin.Method(name, std::move(arguments));
    } else {
      outcome = plugin.Call(name, arguments.empty() ? vestrel::kCallPropertyGet : vestrel::kCallPropertySet, std::move(arguments));
    }
  } else {
    int32_t access = vestrel::kCallMethod;
    if (!plugin.IsMethod(name) && plugin.IsProperty(name))
      access = arguments.empty() ? vestrel::kCallPropertyGet : vestrel::kCallPropertySet;
    outcome = plugin.Call(name, access, std::move(arguments));
  }
  if (outcome.Failed)
    return Output::Fail(kExitDevice, request.Member + ": " + outcome.ErrorText + " (" + Say(Msg::PluginCode, {std::to_string(outcome.Code)}) + ")",
                        {{"member", request.Member}, {"code", outcome.Code}});
  json written = json::array();
  std::string text = request.Member + " = " + ValueDisplay(outcome.Result);
  for (size_t k = 0; k < outcome.Arguments.size(); ++k) {
    written.push_back(ValueJson(outcome.Arguments[k]));
    // An argument left empty says nothing: the values a member wrote back are what counts.
    if (!outcome.Arguments[k].IsEmpty()) text += "\n  " + std::to_string(k + 1) + ": " + ValueDisplay(outcome.Arguments[k]);
  }
  Output::Report({{"member", request.Member}, {"result", ValueJson(outcome.Result)}, {"arguments", written}}, text);
  return kExitOk;
}

}  // namespace

int CallCommand(Plugin& plugin, const std::string& path, const std::vector<CallRequest>& calls) {
  Configuration configuration;
  if (!path.empty())
    if (const int status = configuration.Load(plugin, path); status != kExitOk) return status;
  for (const CallRequest& call : calls)
    if (const int status = OneCall(plugin, call); status != kExitOk) return status;
  return kExitOk;
}

}  // namespace vestrel_host
