#include "configuration.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <regex>

#include "host_messages.h"

namespace vestrel_host {
namespace {

constexpr char kUseParameter[] = "Использовать";

std::string UpperAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// A parameter's value attribute: the legacy spelling the plug-in writes and queries, or the
// standard one.
std::string ParameterValue(const Automation& parameter) {
  bool ok = false;
  const Value legacy = parameter.Call("getAttribute", {Value::Text("Зна4ение")}, &ok);
  if (ok && !legacy.IsEmpty()) return Utf8FromUtf16(legacy.AsText());
  return Utf8FromUtf16(parameter.Attribute("Значение"));
}

std::vector<ConfiguredDevice> DevicesOf(const Automation& document) {
  std::vector<ConfiguredDevice> devices;
  for (const Automation& element : document.Select("//Устройство")) {
    ConfiguredDevice device;
    device.Number = static_cast<int32_t>(devices.size()) + 1;
    device.Id = Utf8FromUtf16(element.Attribute("Код"));
    device.Name = Utf8FromUtf16(element.Attribute("Наименование"));
    for (const Automation& parameter : element.Select("./Параметры/Параметр"))
      device.Parameters.emplace_back(Utf8FromUtf16(parameter.Attribute("Идентификатор")), ParameterValue(parameter));
    if (const std::string* use = device.Parameter(kUseParameter)) device.Used = *use != "0";
    devices.push_back(std::move(device));
  }
  return devices;
}

// Parameter name -> type name, from the plug-in's own definitions.
std::map<std::string, std::string> ParameterTypes(Plugin& plugin) {
  std::map<std::string, std::string> types;
  CallOutcome info = plugin.Method("GetPlgInfo", std::vector<Value>(13));
  if (info.Failed || info.Arguments.size() < 8) return types;
  const Automation definitions = LoadXmlDocument(info.Arguments[7].AsText());
  if (!definitions) return types;
  for (const Automation& parameter : definitions.Select("//Параметр"))
    types[Utf8FromUtf16(parameter.Attribute("Идентификатор"))] = Utf8FromUtf16(parameter.Attribute("Тип"));
  return types;
}

bool FitsType(const std::string& value, const std::string& type) {
  static const std::regex integer("[+-]?[0-9]{1,10}"), number("[+-]?[0-9]+([.,][0-9]+)?");
  const std::string kind = UpperAscii(type);
  if (kind == "INTEGER") {
    if (value.empty()) return true;  // the plug-in counts an empty value as 0
    if (!std::regex_match(value, integer)) return false;
    const long long parsed = std::stoll(value);
    return parsed >= INT32_MIN && parsed <= INT32_MAX;
  }
  if (kind == "DOUBLE" || type == "Число") return std::regex_match(value, number);
  return true;
}

}  // namespace

std::string ConfiguredDevice::Label() const { return Say(Msg::DeviceLabel, {Name, Id}); }

const std::string* ConfiguredDevice::Parameter(const std::string& name) const {
  for (const auto& parameter : Parameters)
    if (parameter.first == name) return &parameter.second;
  return nullptr;
}

Automation PluginDeviceDescription(Plugin& plugin, const Value& key, CallOutcome* failure) {
  CallOutcome settings = plugin.Method("GetSettingsXML", {key, Value()});
  if (settings.Failed || settings.Arguments.size() < 2) {
    if (failure != nullptr) *failure = std::move(settings);
    return Automation();
  }
  return Automation(settings.Arguments[1].Dispatch());
}

int Configuration::Load(Plugin& plugin, const std::string& path) {
  std::string error;
  if (!ReadConfigurationText(path, FFile, error)) return Output::Fail(kExitConfiguration, error);
  return Hand(plugin);
}

int Configuration::LoadText(Plugin& plugin, const std::string& name, const OleText& text) {
  FFile = ConfigurationText{};
  FFile.Path = name;
  FFile.Text = text;
  return Hand(plugin);
}

int Configuration::Hand(Plugin& plugin) {
  FDocument = LoadXmlDocument(TextForPlugin(FFile.Text));
  if (!FDocument) return Output::Fail(kExitConfiguration, FFile.Path + ": " + Say(Msg::ConfigParserRefused));
  FDevices = DevicesOf(FDocument);
  if (FDevices.empty()) return Output::Fail(kExitConfiguration, FFile.Path + ": " + Say(Msg::ConfigNoDevice));
  CallOutcome loaded = plugin.Method("SettingDevices", {Value::Object(FDocument.Object())});
  if (loaded.Failed) return Output::Fail(kExitConfiguration, Explain(plugin, nullptr, loaded), {{"code", loaded.Code}});

  // The plug-in's own list decides numbers and order (a repeated identifier is one device);
  // names and parameters come from the file, in Unicode.
  const std::vector<ConfiguredDevice> fromFile = std::move(FDevices);
  FDevices = DevicesOf(PluginDeviceDescription(plugin, Value::Integer(0)));
  for (ConfiguredDevice& device : FDevices) {
    const auto same = std::find_if(fromFile.begin(), fromFile.end(), [&](const ConfiguredDevice& candidate) {
      return UpperAscii(candidate.Id) == UpperAscii(device.Id);
    });
    if (same == fromFile.end()) continue;
    const int32_t number = device.Number;
    device = *same;
    device.Number = number;
  }
  if (FDevices.empty()) return Output::Fail(kExitConfiguration, FFile.Path + ": " + Say(Msg::ConfigNoDevice));
  return kExitOk;
}

const ConfiguredDevice* Configuration::FindDevice(const std::string& wanted) const {
  for (const ConfiguredDevice& device : FDevices)
    if (std::to_string(device.Number) == wanted || device.Name == wanted || UpperAscii(device.Id) == UpperAscii(wanted))
      return &device;
  return nullptr;
}

std::string Configuration::Explain(Plugin& plugin, const ConfiguredDevice* device, const CallOutcome& failure) const {
  std::string text = failure.ErrorText;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  text += " (" + Say(Msg::PluginCode, {std::to_string(failure.Code)}) + ")";
  // Before the plug-in took the file there is only the file's own list of devices.
  std::vector<ConfiguredDevice> candidates;
  if (device != nullptr) candidates.push_back(*device);
  else candidates = FDocument ? DevicesOf(FDocument) : FDevices;
  const std::map<std::string, std::string> types = ParameterTypes(plugin);
  for (const ConfiguredDevice& candidate : candidates) {
    for (const auto& [name, value] : candidate.Parameters) {
      const auto type = types.find(name);
      if (type != types.end() && !FitsType(value, type->second))
        return Say(Msg::ExplainParameter, {FFile.Path, candidate.Label(), name, value, type->second, text});
    }
  }
  if (device != nullptr) return Say(Msg::ExplainDevice, {FFile.Path, device->Label(), text});
  return FFile.Path + ": " + text;
}

}  // namespace vestrel_host
