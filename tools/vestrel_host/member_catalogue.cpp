#include "member_catalogue.h"

#include "host_text.h"

namespace vestrel_host {

const std::vector<Member>& Members() {
  static const std::vector<Member> members = {
      {"ВыбратьУстройство", "ChoiceDevice", MemberKind::Method, 1},
      {"ОписаниеОшибки", "ResultDescription", MemberKind::Method, 1},
      {"НастроитьУстройства", "SettingDevices", MemberKind::Method, 1},
      {"УдалитьУстройство", "DeleteDevice", MemberKind::Method, 1},
      {"ДобавитьУстройствоРасш", "AddDeviceEx", MemberKind::Method, 1},
      {"ДобавитьУстройство", "AddDevice", MemberKind::Method, 1},
      {"ИзменитьУстройствоРасш", "SettingsDeviceEx", MemberKind::Method, 2},
      {"СохранитьНастройки", "SaveSettings", MemberKind::Method, 0},
      {"ИнформацияОПлагине", "GetPlgInfo", MemberKind::Method, 13},
      {"ПолучитьНастройкиXML", "GetSettingsXML", MemberKind::Method, 2},
      {"Включить", "SwitchOn", MemberKind::Method, 1},
      {"Выключить", "SwitchOff", MemberKind::Method, 1},
      {"ПолучитьСвойства", "GetProps", MemberKind::Method, 1},
      {"УстановитьСвойства", "SetProps", MemberKind::Method, 1},
      {"СоздатьПараметры", "CreateComSafeArray", MemberKind::Method, 2},
      {"Гудок", "Beep", MemberKind::Method, 2},
      {"ЗагрузитьНастройки", "LoadSettings", MemberKind::Method, 0},
      {"ОтобразитьСтраницуСвойств", "ShowPropertyPage", MemberKind::Method, 1},
      {"ДоступностьСтраницыСвойств", "PropertyPageEnabled", MemberKind::Property, 0},
      {"НомерУстройства", "DeviceNumber", MemberKind::Property, 0},
      {"ИмяУстройства", "DeviceName", MemberKind::ReadOnlyProperty, 0},
      {"КоличествоУстройств", "DevicesQuantity", MemberKind::ReadOnlyProperty, 0},
      {"УстройствоВключено", "DeviceIsOn", MemberKind::Property, 0},
      {"Результат", "Result", MemberKind::ReadOnlyProperty, 0},
      {"Релиз", "Release", MemberKind::ReadOnlyProperty, 0},
      {"__FRee", "", MemberKind::Builtin, 0},
      {"__Load", "", MemberKind::Builtin, 0},
      {"__@@EventSupport", "", MemberKind::Builtin, 0},
      {"__@@SwitchOff", "", MemberKind::Builtin, 0},
  };
  return members;
}

namespace {

// Lower case for the Latin and the Russian letters.
OleText Folded(const std::string& name) {
  OleText text = Utf16FromUtf8(name);
  for (OLECHAR& c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0x410 && c <= 0x42F)) c = static_cast<OLECHAR>(c + 0x20);
    else if (c == 0x401) c = 0x451;
  }
  return text;
}

}  // namespace

const Member* FindMember(const std::string& name) {
  const OleText wanted = Folded(name);
  for (const Member& member : Members())
    if (Folded(member.Russian) == wanted || (*member.English != '\0' && Folded(member.English) == wanted)) return &member;
  return nullptr;
}

}  // namespace vestrel_host
