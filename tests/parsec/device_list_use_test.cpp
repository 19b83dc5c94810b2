// The devices list as a host and an integrator use it: deleting, writing values and loading
// configurations through the call entry, IDeviceItem and IModelPluItem.
#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>

#include "automation/safe_array.h"
#include "base/errors.h"
#include "devices/config_source.h"
#include "devices/model_list.h"
#include "parsec/vestrel_settings_form.h"
#include "platform/desktop.h"
#include "platform/structured_exception.h"
#include "scanner_driver_fixture.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

constexpr char kThirdId[] = "{C0000000-0000-0000-0000-000000000003}";

std::string IdAndName(const char* id, const char* name) {
  return std::string("Код=\"") + id + "\" Наименование=\"" + name + "\"";
}

// The text of error 20029 for a caption, in the user's language.
std::string PropertyTypeText(const char* caption) {
  return Utf8FromAnsi(FormatText(AnsiFromWide(ErrorMessageText(ERR_PROPERTY_TYPE)), {AnsiFromUtf8(caption)}));
}

class DeviceListUse : public ScannerDriver {
protected:
  ComPtr<IModelPluItem> Model() {
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(Driver->BaseDllObjInterface()->GetModel(0, unknown.Put()), S_OK);
    ComPtr<IModelPluItem> model;
    if (unknown) unknown->QueryInterface(IID_IModelPluItem, model.PutVoid());
    return model;
  }
  // The host's hold on a device: its IDeviceItem, found by its description document.
  ComPtr<IDeviceItem> HoldDevice(const char* id) {
    const OleVariant document = ParamOf(*Call("ПолучитьНастройкиXML", vestrel::kCallMethod, {Text(id), OleVariant()}), 4);
    ComPtr<IDeviceItem> device;
    EXPECT_EQ(Model()->FindDevice(&document, device.Put()), S_OK);
    return device;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (int32_t i = 0; i < Driver->Devices().Count(); ++i) names.push_back(Utf8FromAnsi(Driver->Devices().GetItem(i)->DeviceName()));
    return names;
  }
  std::string Param(int32_t index, const char* name) {
    return Utf8FromAnsi(Driver->Devices().GetItem(index)->GetParamValue(AnsiFromUtf8(name)));
  }
  TParamsPtr Set(const char* name, OleVariant value) { return Call(name, vestrel::kCallPropertySet, {value}); }
};

// ---- Deleting ----

using DeletingDevices = DeviceListUse;

TEST_F(DeletingDevices, TheNumberNamesTheDeviceEvenWhenIdentifiersRepeat) {
  Configure();
  OleVariant copy = Text(DeviceXml(IdAndName(kFirstId, "Копия")));
  EXPECT_EQ(Method("ДобавитьУстройствоРасш", {copy}), 0);
  ASSERT_EQ(Names(), (std::vector<std::string>{"Вход", "Выход", "Копия"}));
  EXPECT_EQ(Method("УдалитьУстройство", {OleVariant(3)}), 0);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Вход", "Выход"}));
}

TEST_F(DeletingDevices, TheSelectionStaysOnItsDeviceAndGoesWithIt) {
  ASSERT_EQ(Method("НастроитьУстройства", {Text(Configuration(DeviceXml(IdAndName(kFirstId, "Вход")) +
                                                              DeviceXml(IdAndName(kSecondId, "Выход")) +
                                                              DeviceXml(IdAndName(kThirdId, "Склад"))))}),
            0);
  EXPECT_EQ(Method("ВыбратьУстройство", {OleVariant(3)}), 0);
  EXPECT_EQ(Method("УдалитьУстройство", {OleVariant(1)}), 0);
  EXPECT_EQ(GetInt("НомерУстройства"), 2);
  EXPECT_EQ(TextParam(*Call("ИмяУстройства", vestrel::kCallPropertyGet), 0), "Склад");

  const OleVariant inserted = Text(DeviceXml("Наименование=\"Первый\""));
  ComPtr<IDeviceItem> first;
  ASSERT_EQ(Model()->InsertDevice(&inserted, first.Put()), S_OK);
  EXPECT_EQ(GetInt("НомерУстройства"), 3);
  EXPECT_EQ(TextParam(*Call("ИмяУстройства", vestrel::kCallPropertyGet), 0), "Склад");

  LONG detached = -1;
  EXPECT_EQ(Model()->DetachDevice(StrToGlobalId(std::string_view(kThirdId)), &detached), S_OK);
  EXPECT_EQ(detached, 0);
  EXPECT_EQ(GetInt("НомерУстройства"), 0) << "the current device went";
  EXPECT_EQ(Call("Включить", vestrel::kCallMethod, {OleVariant()})->ErrorCode, 3) << "no other reader is switched";
}

TEST_F(DeletingDevices, ADeviceLeavingTheListIsSwitchedOffThoughTheHostHoldsIt) {
  Configure();
  ComPtr<IDeviceItem> held = HoldDevice(kFirstId);
  ASSERT_TRUE(held);
  EXPECT_EQ(Method("ВыбратьУстройство", {OleVariant(1)}), 0);
  EXPECT_EQ(Method("Включить", {OleVariant()}), 0);
  EXPECT_EQ(Method("ВыбратьУстройство", {OleVariant(2)}), 0);
  EXPECT_EQ(Method("УдалитьУстройство", {OleVariant(1)}), 0);
  VARIANT_BOOL on = VARIANT_TRUE;
  EXPECT_EQ(held->IsOn(&on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
  EXPECT_FALSE(Simulator.IsReaderOpen(0));
  EXPECT_EQ(Method("Включить", {OleVariant()}), 0) << "the reader is free for the other device";

  // Emptying the list switches off too.
  ComPtr<IDeviceItem> second = HoldDevice(kSecondId);
  Simulator.RunClock();
  Call("__FRee", 0);
  EXPECT_EQ(second->IsOn(&on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
  EXPECT_FALSE(Simulator.IsReaderOpen(0));
}

// A host whose Release fails in its own language's way.
class TFailingReleaseSink : public RecordingSink {
public:
  bool Failing = false;
  ULONG STDMETHODCALLTYPE Release() override {
#if defined(_WIN32)
    if (Failing) RaiseException(platform::kHostLanguageExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
#else
    if (Failing) throw std::runtime_error("the host fails in Release");
#endif
    return RecordingSink::Release();
  }
};

TEST_F(DeletingDevices, FreeEmptiesTheListWhateverTheHostsReleaseDoes) {
  static TFailingReleaseSink sink;  // outlives whatever may still hold it
  ASSERT_EQ(Driver->BaseDllObjInterface()->SetEventSink(&sink), S_OK);
  Configure();
  sink.Failing = true;
  TParamsPtr free = Call("__FRee", 0);
  sink.Failing = false;
  EXPECT_FALSE(free->HasError) << ErrorTextOf(*free);
  EXPECT_EQ(Driver->Devices().Count(), 0);
  EXPECT_EQ(Driver->Devices().EventSink(), nullptr);
}

// ---- Writing values ----

using WritingValues = DeviceListUse;

TEST_F(WritingValues, ANumberParameterTakesNumbersOnlyOnEveryPath) {
  Configure();
  EXPECT_EQ(Method("ВыбратьУстройство", {OleVariant(1)}), 0);
  const char* refused[][3] = {{"ИнтервалПовтора", "abc", "Мин. интервал повтора"},
                              {"Использовать", "2.5", "Использовать"},
                              {"СтарыйФорматДанных", "да", "Старый формат данных"}};
  for (const auto& [name, value, caption] : refused) {
    TParamsPtr write = Set(name, Text(value));
    EXPECT_EQ(write->ErrorCode, ERR_PROPERTY_TYPE) << name;
    EXPECT_EQ(ErrorTextOf(*write), PropertyTypeText(caption));
  }
  EXPECT_EQ(GetInt("ИнтервалПовтора"), 1500);
  EXPECT_EQ(Param(0, "Использовать"), "1");

  // A property table the host changed: the parameter's own type decides, and nothing of it
  // is applied.
  const OleVariant tableObject = ParamOf(*Call("ПолучитьСвойства", vestrel::kCallMethod, {OleVariant()}), 3);
  ComPtr<ISafeArray> table;
  ASSERT_TRUE(V_VT(&tableObject) == VT_DISPATCH && V_DISPATCH(&tableObject)) << "the properties are readable";
  ASSERT_EQ(V_UNKNOWN(&tableObject)->QueryInterface(IID_ISafeArray, table.PutVoid()), S_OK);
  table->SetValue(1, 4, OleVariant(0));           // "Использовать"
  table->SetValue(3, 3, Text("Строка"));           // "ИнтервалПовтора"
  table->SetValue(3, 4, Text("abc"));
  EXPECT_EQ(Call("УстановитьСвойства", vestrel::kCallMethod, {tableObject})->ErrorCode, ERR_PROPERTY_TYPE);
  EXPECT_EQ(Param(0, "Использовать"), "1");
  EXPECT_EQ(GetInt("ИнтервалПовтора"), 1500);

  // The device's cards keep coming, and its export loads again.
  EXPECT_EQ(Method("Включить", {OleVariant()}), 0);
  EXPECT_EQ(Set("СтарыйФорматДанных", Text("нет"))->ErrorCode, ERR_PROPERTY_TYPE);
  Simulator.TapCard(0, 0x00A1B2C3);
  WaitForEvents(1);
  EXPECT_EQ(Sink.Events().at(0).Data, "0000A1B2C3");
  EXPECT_EQ(Method("Выключить", {OleVariant()}), 0);
  const OleVariant all = ParamOf(*Call("ПолучитьНастройкиXML", vestrel::kCallMethod, {OleVariant(0), OleVariant()}), 4);
  EXPECT_EQ(Method("НастроитьУстройства", {all}), 0);
  EXPECT_EQ(Driver->Devices().Count(), 2);
}

TEST_F(WritingValues, BeepsOutsideZeroToTenSecondsAreRefused) {
  platform::ResetDesktopRecord();
  for (int32_t duration : {-1, 10001, INT32_MIN}) {
    TParamsPtr beep = Call("Гудок", vestrel::kCallMethod, {OleVariant(440), OleVariant(duration)});
    EXPECT_EQ(beep->ErrorCode, 5) << duration;
    EXPECT_EQ(ErrorTextOf(*beep), "Недопустимое значение параметра");
  }
  EXPECT_TRUE(platform::RecordedDesktopActivity().Beeps.empty());
  EXPECT_EQ(Method("Beep", {OleVariant(440), OleVariant(0)}), 0);
#ifndef _WIN32
  EXPECT_EQ(Method("Beep", {OleVariant(440), OleVariant(10000)}), 0);
  EXPECT_EQ(platform::RecordedDesktopActivity().Beeps.size(), 2u);
#endif
}

TEST_F(WritingValues, EditingAndAddingThroughTheDriver) {
  Configure();
  int shown = 0;
  int32_t answer = platform::kModalOk;
  SetSettingsPresenter([&](TfmVestrelSettings& form) {
    ++shown;
    form.SetIntervalText("2500");
    form.SetDeviceNameText(AnsiFromUtf8("Касса"));
    return answer;
  });
  // A malformed identifier changes nothing, not even the devices the settings hold.
  TParamsPtr malformed = Call("ИзменитьУстройствоРасш", vestrel::kCallMethod,
                              {Text("не код"), Text(Configuration(DeviceXml(IdAndName(kThirdId, "Третий"))))});
  EXPECT_EQ(ErrorTextOf(*malformed), "Значение не является идентификатором объекта.");
  EXPECT_EQ(Driver->Devices().Count(), 2);
  EXPECT_EQ(shown, 0);

  TParamsPtr edit = Call("ИзменитьУстройствоРасш", vestrel::kCallMethod,
                         {Text(kSecondId), Text(DeviceXml(IdAndName(kSecondId, "Выход"), ParameterXml("ИнтервалПовтора", "1800")))});
  ASSERT_FALSE(edit->HasError) << ErrorTextOf(*edit);
  EXPECT_NE(TextParam(*edit, 4).find("Наименование=\"Касса\""), std::string::npos) << TextParam(*edit, 4);
  EXPECT_NE(TextParam(*edit, 4).find("Зна4ение=\"2500\""), std::string::npos);

  // Adding with the dialog (plain form) and without it (extended form).
  TParamsPtr added = Call("ДобавитьУстройство", vestrel::kCallMethod, {Text(DeviceXml("Наименование=\"Новый\""))});
  ASSERT_FALSE(added->HasError) << ErrorTextOf(*added);
  EXPECT_EQ(TextParam(*added, 3).rfind("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Устройство", 0), 0u);
  TParamsPtr addedEx = Call("ДобавитьУстройствоРасш", vestrel::kCallMethod, {Text(DeviceXml(IdAndName(kThirdId, "Третий")))});
  EXPECT_NE(TextParam(*addedEx, 3).find(kThirdId), std::string::npos);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Вход", "Касса", "Касса", "Третий"}));
  EXPECT_EQ(shown, 2);

  answer = platform::kModalCancel;
  EXPECT_EQ(Call("ДобавитьУстройство", vestrel::kCallMethod, {Text(DeviceXml(""))})->ErrorCode, 8);
  EXPECT_EQ(Call("ИзменитьУстройствоРасш", vestrel::kCallMethod, {Text(kFirstId), Text("")})->ErrorCode, 8);
  EXPECT_EQ(Driver->Devices().Count(), 4);
  SetSettingsPresenter(nullptr);
}

TEST_F(WritingValues, SwitchOffSwitchesEveryDeviceOff) {
  Configure();
  EXPECT_EQ(Method("ВыбратьУстройство", {OleVariant(1)}), 0);
  EXPECT_EQ(Method("Включить", {OleVariant()}), 0);
  Simulator.RunClock();
  EXPECT_FALSE(Call("__@@SwitchOff", 0)->HasError);
  EXPECT_EQ(GetInt("УстройствоВключено"), 0);
  EXPECT_FALSE(Simulator.IsReaderOpen(0));
  EXPECT_EQ(Method("ВыбратьУстройство", {OleVariant(2)}), 0);
  EXPECT_EQ(Method("Включить", {OleVariant()}), 0);
}

// ---- Loading ----

using LoadingDevices = DeviceListUse;

// Devices with and without identifiers come back as they were, in order, after an export and
// a re-import.
TEST_F(LoadingDevices, ExportAndReimportKeepEveryDevice) {
  ASSERT_EQ(Method("НастроитьУстройства",
                   {Text(Configuration(DeviceXml(IdAndName(kFirstId, "Вход"), ParameterXml("ИнтервалПовтора", "1500")) +
                                       DeviceXml("Наименование=\"Без кода\"", ParameterXml("Использовать", "0")) +
                                       DeviceXml("Код=\"\" Наименование=\"Пустой код\"") +
                                       DeviceXml("Код=\"{00000000-0000-0000-0000-000000000000}\" Наименование=\"Нулевой\"")))}),
            0);
  ASSERT_EQ(Names(), (std::vector<std::string>{"Вход", "Без кода", "Пустой код", "Нулевой"}));
  auto state = [&] {
    std::vector<std::string> devices;
    for (int32_t i = 0; i < Driver->Devices().Count(); ++i)
      devices.push_back(Utf8FromWide(XmlText(Driver->Devices().GetItem(i)->GetParametersXml())));
    return devices;
  };
  const std::vector<std::string> before = state();
  const OleVariant all = ParamOf(*Call("ПолучитьНастройкиXML", vestrel::kCallMethod, {OleVariant(0), OleVariant()}), 4);
  const OleVariant text(XmlText(all));
  Call("__FRee", 0);
  ASSERT_EQ(Method("НастроитьУстройства", {text}), 0);
  EXPECT_EQ(state(), before);
  ASSERT_EQ(Method("НастроитьУстройства", {all}), 0);
  EXPECT_EQ(state(), before) << "a second import reloads the same devices";
}

// A device takes the values of its own description only: not those of a parameter without a
// name, nor those of a description nested inside it.
TEST_F(LoadingDevices, ADeviceTakesOnlyItsOwnDescription) {
  ASSERT_EQ(Method("НастроитьУстройства", {Text(Configuration(DeviceXml(IdAndName(kThirdId, "Склад"),
                                                                        "<Параметр Значение=\"0\"/>")))}),
            0);
  EXPECT_EQ(Param(0, "Использовать"), "1");
  EXPECT_EQ(Driver->Devices().GetItem(0)->PropsSnapshot().size(), 4u);

  auto legacy = [](const char* id, const char* name, const char* item, const char* value) {
    return std::string("<Устройство Код=\"") + id + "\" Описание=\"" + name + "\"><Параметры><Дополнительно><Item Имя=\"" +
           item + "\" Значение=\"" + value + "\"/></Дополнительно></Параметры>";
  };
  ASSERT_EQ(Method("НастроитьУстройства",
                   {Text("<Оборудование>" + legacy(kFirstId, "Старый", "СтарыйФорматДанных", "0") +
                         legacy(kSecondId, "Вложенный", "ИнтервалПовтора", "4000") + "</Устройство></Устройство>" +
                         "<Устройство " + IdAndName("{C0000000-0000-0000-0000-000000000004}", "Новый") + ">" +
                         legacy("{C0000000-0000-0000-0000-000000000005}", "Внутри", "ИнтервалПовтора", "3000") +
                         "</Устройство></Устройство></Оборудование>")}),
            0);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Склад", "Старый", "Вложенный", "Новый", "Внутри"}));
  EXPECT_EQ(Param(1, "СтарыйФорматДанных"), "0");
  EXPECT_EQ(Param(1, "ИнтервалПовтора"), "2000") << "not the nested device's";
  EXPECT_EQ(Param(2, "ИнтервалПовтора"), "4000");
  EXPECT_EQ(Param(3, "ИнтервалПовтора"), "2000") << "a current description stays current";
  EXPECT_EQ(Param(4, "ИнтервалПовтора"), "3000");
}

TEST_F(LoadingDevices, DerivedModelsWithoutACodeOrWithABadDefaultAreRefusedWhole) {
  const std::string library = Utf8FromWide(PluginModuleFileName());
  auto model = [&](const std::string& id, const char* key, const std::string& parameter) {
    return "<Модель " + id + " Идентификатор=\"" + key + "\" Наименование=\"" + key + "\" Библиотека=\"" + library +
           "\"><Параметры><Параметр Идентификатор=\"" + parameter + "/></Параметры></Модель>";
  };
  auto add = [&](const std::string& models) {
    return Call("ДобавитьУстройствоРасш", vestrel::kCallMethod,
                {Text("<Система><КлассыОборудования><КлассОборудования Идентификатор=\"Сканер\">" + models +
                      "</КлассОборудования></КлассыОборудования><Оборудование>" + DeviceXml(IdAndName(kFirstId, "Вход")) +
                      "</Оборудование></Система>")});
  };
  const std::string second = model("Код=\"{D0000000-0000-0000-0000-000000000002}\"", "Вторая", "P2\" Тип=\"String\"");
  TParamsPtr added = add(model("", "Без_кода", "P1\" Тип=\"String\"") + second);
  EXPECT_EQ(added->ErrorCode, ERR_TEXT);
  EXPECT_EQ(ErrorTextOf(*added), "Модель оборудования [Без_кода] не имеет кода: атрибут \"Код\" отсутствует или равен "
                                 "нулевому идентификатору. Модели конфигурации не загружены.");
  added = add(second + model("Код=\"{D0000000-0000-0000-0000-000000000003}\"", "Третья",
                             "P3\" Наименование=\"Счётчик\" Тип=\"Integer\" ЗначениеПоУмолчанию=\"x\""));
  EXPECT_EQ(added->ErrorCode, ERR_PROPERTY_TYPE);
  EXPECT_EQ(ErrorTextOf(*added), PropertyTypeText("Счётчик"));
  EXPECT_EQ(Driver->Devices().Models().Count(), 1);
  EXPECT_EQ(Driver->Devices().Count(), 0);
}

TEST_F(LoadingDevices, ACatalogueFromPluginInformationTypesTheParametersOfItsModel) {
  const std::string modelId = "{D0000000-0000-0000-0000-000000000005}";
  std::vector<OleVariant> information(13);
  information[7] = Text("<Система><КлассыОборудования><КлассОборудования Идентификатор=\"Сканер\"><Модель Код=\"" +
                        modelId + "\" Идентификатор=\"Весы\" Библиотека=\"" + Utf8FromWide(PluginModuleFileName()) +
                        "\"><Параметры><Параметр Идентификатор=\"Вес\" Наименование=\"Вес товара\" Тип=\"Число\"/>"
                        "</Параметры></Модель></КлассОборудования></КлассыОборудования></Система>");
  ASSERT_FALSE(Call("ИнформацияОПлагине", vestrel::kCallMethod, information)->HasError);
  auto add = [&](const char* weight) {
    return Call("ДобавитьУстройствоРасш", vestrel::kCallMethod,
                {Text(DeviceXml("КодМодели=\"" + modelId + "\"", ParameterXml("Вес", weight)))});
  };
  TParamsPtr bad = add("abc");
  EXPECT_EQ(bad->ErrorCode, ERR_PROPERTY_TYPE);
  EXPECT_EQ(ErrorTextOf(*bad), PropertyTypeText("Вес товара"));
  EXPECT_FALSE(add("2,5")->HasError);
  ASSERT_EQ(Driver->Devices().Count(), 1);
  EXPECT_EQ(Driver->Devices().GetItem(0)->WithProps([](TPropList& props) { return props.FindProp(AnsiFromUtf8("Вес"))->Caption; }),
            AnsiFromUtf8("Вес товара"));
}

}  // namespace
