// vestrel-host settings CONFIG.xml [DEVICE]: a device's settings changed in a terminal and
// written back into the configuration file.
//
// The plug-in shows its settings form through a presenter that only code inside the plug-in
// can install (its library exports nothing else), so the tool presents the same form itself
// and hands the result to the plug-in as the device's new description ("SettingDevices"
// reloads a device of the same identifier). Only after the plug-in took the values does the
// file change, and then only in the values the user changed; everything else in the file stays
// as it was, in its own encoding and line ends.
#include <algorithm>
#include <cstdio>

#include "configuration.h"
#include "host_commands.h"
#include "host_messages.h"
#include "settings_presenter.h"

namespace vestrel_host {
namespace {

constexpr char kIntervalParameter[] = "ИнтервалПовтора";
constexpr char kOldFormatParameter[] = "СтарыйФорматДанных";

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The changes the user made, applied to every element of the device in a document.
struct SettingsChange {
  std::optional<std::string> Name, Interval, OldFormat;
  bool Empty() const { return !Name && !Interval && !OldFormat; }
};

void SetParameter(const Automation& document, const Automation& device, const std::string& name, const std::string& value) {
  for (const Automation& parameter : device.Select("./Параметры/Параметр")) {
    if (Utf8FromUtf16(parameter.Attribute("Идентификатор")) != name) continue;
    bool legacy = false;
    const Value existing = parameter.Call("getAttribute", {Value::Text("Зна4ение")}, &legacy);
    parameter.SetAttribute(legacy && !existing.IsEmpty() ? "Зна4ение" : "Значение", Utf16FromUtf8(value));
    return;
  }
  Automation list = device.Select("./Параметры").empty() ? Automation() : device.Select("./Параметры").front();
  if (!list) {
    list = Automation(document.Call("createElement", {Value::Text("Параметры")}).Dispatch());
    device.Call("appendChild", {Value::Object(list.Object())});
  }
  Automation parameter(document.Call("createElement", {Value::Text("Параметр")}).Dispatch());
  parameter.SetAttribute("Идентификатор", Utf16FromUtf8(name));
  parameter.SetAttribute("Значение", Utf16FromUtf8(value));
  list.Call("appendChild", {Value::Object(parameter.Object())});
}

void ApplyChange(const Automation& document, const std::string& id, const SettingsChange& change) {
  for (const Automation& device : document.Select("//Устройство")) {
    if (Upper(Utf8FromUtf16(device.Attribute("Код"))) != Upper(id)) continue;
    if (change.Name) device.SetAttribute("Наименование", Utf16FromUtf8(*change.Name));
    if (change.Interval) SetParameter(document, device, kIntervalParameter, *change.Interval);
    if (change.OldFormat) SetParameter(document, device, kOldFormatParameter, *change.OldFormat);
  }
}

// The file's text with the change: the declaration and line ends as they were.
bool ChangedFileText(const ConfigurationText& file, const std::string& id, const SettingsChange& change, OleText& text) {
  const OleText lineFeed = Utf16FromUtf8("\n"), crLf = Utf16FromUtf8("\r\n");
  const OleText original = ReplaceAll(file.Text, crLf, lineFeed);
  const OleText declaration = XmlDeclaration(original);
  const Automation document = LoadXmlDocument(original.substr(declaration.size()));
  if (!document) return false;
  ApplyChange(document, id, change);
  OleText body = ReplaceAll(document.Text("xml"), crLf, lineFeed);
  while (!body.empty() && body.back() == '\n') body.pop_back();
  // White space before the first node is no node of the document: it is put back as it stood.
  const OleText rest = original.substr(declaration.size());
  const OleText gap = rest.substr(0, std::min(rest.find_first_not_of(Utf16FromUtf8(" \t\n")), rest.size()));
  text = declaration + (body.compare(0, gap.size(), gap) == 0 ? OleText() : gap) + body;
  if (!original.empty() && original.back() == '\n') text += lineFeed;
  if (file.CrLf) text = ReplaceAll(text, lineFeed, crLf);
  return true;
}

bool ReadTerminalLine(std::string& line) { return ReadInputLine(line); }

void WriteTerminal(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

int SettingsCommand(Plugin& plugin, const std::string& path, const std::string& wanted, const SettingsAnswers& answers) {
  Configuration configuration;
  if (const int status = configuration.Load(plugin, path); status != kExitOk) return status;
  const ConfiguredDevice* device = wanted.empty() ? &configuration.Devices().front() : configuration.FindDevice(wanted);
  if (device == nullptr) {
    std::string list;
    for (const ConfiguredDevice& each : configuration.Devices()) list += "\n  " + std::to_string(each.Number) + "  " + each.Label();
    return Output::Fail(kExitUsage, Say(Msg::SettingsNoSuchDevice, {path, wanted}) + list);
  }

  // The form starts from the device as the plug-in holds it; the name as the file spells it.
  SettingsForm form;
  form.Name = device->Name;
  {
    const Automation description = PluginDeviceDescription(plugin, Value::Text(device->Id));
    for (const Automation& parameter : description.Select("//Параметр")) {
      const std::string name = Utf8FromUtf16(parameter.Attribute("Идентификатор"));
      const std::string value = Utf8FromUtf16(parameter.Attribute("Зна4ение"));
      if (name == kIntervalParameter) form.Interval = value;
      if (name == kOldFormatParameter) form.OldFormat = value == "1";
    }
  }
  const SettingsForm before = form;
  Output::Text(Say(Msg::SettingsOf, {device->Label(), path}));
  if (answers.Given()) {
    std::string error;
    if (!ApplySettingsAnswers(form, answers, error)) return Output::Fail(kExitUsage, error);
  } else if (PresentSettingsForm(form, ReadTerminalLine, WriteTerminal) == FormResult::Cancel) {
    Output::Report({{"settings", "cancelled"}, {"device", device->Name}, {"id", device->Id}}, Say(Msg::SettingsCancelled));
    return kExitOk;
  }

  SettingsChange change;
  if (form.Name != before.Name) change.Name = form.Name;
  if (form.Interval != before.Interval) change.Interval = form.Interval;
  if (form.OldFormat != before.OldFormat) change.OldFormat = form.OldFormat ? "1" : "0";
  const json values = {{"name", form.Name}, {"interval", form.Interval}, {"oldFormat", form.OldFormat ? 1 : 0}};
  if (change.Empty()) {
    Output::Report({{"settings", "unchanged"}, {"device", device->Name}, {"id", device->Id}, {"values", values}},
                   Say(Msg::SettingsUnchanged));
    return kExitOk;
  }

  // The plug-in takes the new description first: what it refuses never reaches the file.
  CallOutcome failure;
  const Automation description = PluginDeviceDescription(plugin, Value::Text(device->Id), &failure);
  if (!description) return Output::Fail(kExitDevice, configuration.Explain(plugin, device, failure), {{"code", failure.Code}});
  ApplyChange(description, device->Id, change);
  CallOutcome taken = plugin.Method("SettingDevices", {Value::Object(description.Object())});
  if (taken.Failed) return Output::Fail(kExitDevice, configuration.Explain(plugin, device, taken), {{"code", taken.Code}});

  OleText text;
  std::string bytes;
  if (!ChangedFileText(configuration.File(), device->Id, change, text))
    return Output::Fail(kExitConfiguration, path + ": " + Say(Msg::ConfigParserRefused));
  if (!EncodeConfigurationText(text, configuration.File().Encoding, bytes))
    return Output::Fail(kExitConfiguration, Say(Msg::SettingsNotEncodable, {path, configuration.File().Encoding.Name}));
  if (!ReplaceFileContents(path, bytes)) return Output::Fail(kExitConfiguration, Say(Msg::SettingsNotWritten, {path}));
  Output::Report({{"settings", "saved"}, {"file", path}, {"device", form.Name}, {"id", device->Id}, {"values", values}},
                 Say(Msg::SettingsSaved, {path, form.Name, form.Interval, Say(form.OldFormat ? Msg::FormYes : Msg::FormNo)}));
  return kExitOk;
}

}  // namespace vestrel_host
