#include "devices/devices_list.h"

#include <thread>

#include "devices/config_source.h"
#include "devices/form_colors.h"
#include "devices/model_list.h"
#include "devices/scanner_definitions.h"
#include "devices_test_support.h"
#include "host/wire/host_string.h"

namespace {

// A host's configuration: a "Система" root, current-format descriptions, host line breaks.
const char kHostConfiguration[] =
    "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Система>\r\n <Оборудование>\r\n"
    "  <Устройство Код=\"{A0000000-0000-0000-0000-000000000001}\" Наименование=\"Вход\" КодТочкиДоступа=\"\">\r\n"
    "   <Параметры><Параметр Идентификатор=\"ИнтервалПовтора\" Значение=\"1500\"/>"
    "<Параметр Идентификатор=\"Использовать\" Значение=\"1\"/></Параметры>\r\n  </Устройство>\r\n"
    "  <Устройство Код=\"{A0000000-0000-0000-0000-000000000002}\" Наименование=\"Выход\">\r\n"
    "   <Параметры><Параметр Идентификатор=\"Примечание\" Значение=\"Строка1\\nСтрока2\"/></Параметры>\r\n"
    "  </Устройство>\r\n"
    "  <Устройство Код=\"{A0000000-0000-0000-0000-000000000003}\" Наименование=\"Склад\">\r\n"
    "   <Параметры><Параметр Идентификатор=\"Неразделяемое\" Значение=\"1\"/></Параметры>\r\n  </Устройство>\r\n"
    " </Оборудование>\r\n</Система>\r\n";

std::string DeviceText(const char* id, const char* name, const char* parameters = "") {
  return std::string("<Устройство Код=\"") + id + "\" Наименование=\"" + name + "\"><Параметры>" + parameters +
         "</Параметры></Устройство>";
}
OleVariant TextOf(const std::string& utf8) { return OleVariant(WideFromUtf8(utf8)); }

struct TDeviceState {
  std::string Id, Name;
  std::vector<std::pair<std::string, std::string>> Values;
  bool operator==(const TDeviceState&) const = default;
};

std::vector<TDeviceState> StateOf(const TDevicesList& list) {
  std::vector<TDeviceState> state;
  for (int32_t i = 0; i < list.Count(); ++i) {
    TDeviceItem* device = list.GetItem(i);
    TDeviceState one{U(GlobalIdToStr(device->DeviceId())), U(device->DeviceName()), {}};
    for (const TPropFields& prop : device->PropsSnapshot()) one.Values.emplace_back(U(prop.Name), U(prop.Value));
    state.push_back(std::move(one));
  }
  return state;
}

using DevicesList = DevicesTest;

TEST_F(DevicesList, NewListHoldsNoDeviceButTheScannerDefinitions) {
  TTestDevicesList list;
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.CurrentDeviceName(), "");
  EXPECT_EQ(list.SelectDevice(OleVariant(1)), DEVICE_NOT_ACTIVE);
  EXPECT_EQ(list.CurrentDevice(), nullptr);
  const auto definitions = list.ParamDefinitions().Snapshot();
  ASSERT_EQ(definitions.size(), 2u);
  EXPECT_EQ(U(definitions[0].Name), "Использовать");
  EXPECT_EQ(definitions[0].TypeName, "Integer");
  EXPECT_EQ(definitions[0].Value, "1");
  EXPECT_EQ(U(definitions[0].Description),
            "Признак того, что данное устройство может быть использовано (включено выключено и т.д.)\r\n"
            "Допустимые значения: 0 - не может быть использовано, 1 - может");
  EXPECT_EQ(U(definitions[1].Name), "Неразделяемое");
  EXPECT_EQ(definitions[1].Default, "0");
  EXPECT_EQ(U(definitions[1].Description),
            "Поведение оборудования при нескольких запушенных копий продукта на одной машине или в терминальной "
            "сессии\r\nЗначение: 0 – Оборудование создается только на главной сессии;\r\n1 – Каждый экземпляр "
            "точки доступа создает свое локальное оборудование");

  list.SetDefinitionValue(A("неразделяемое"), "1", true);
  list.SetDefinitionValue(A("Неизвестное"), "5", true);
  EXPECT_EQ(list.ParamDefinitions().Count(), 2);
  EXPECT_EQ(list.ParamDefinitions().Items(1)->Default, "1");
  EXPECT_EQ(list.ParamDefinitions().Items(1)->ReadOnly, 1);
  EXPECT_EQ(U(list.NewDevice()->GetParamValue(A("Неразделяемое"))), "1");
}

TEST_F(DevicesList, PropertyItemsCopyDefaultsAndTypeTheirValues) {
  TPropList definitions;
  definitions.AddDefinition(MakePropertyDefinition("Коэффициент", "Factor", "К", "Double", true, "2.5", "Описание"));
  TPropItem* item = definitions.FindProp("factor");
  ASSERT_NE(item, nullptr);
  item->Value = "7";
  TPropList copy;
  copy.Assign(definitions);
  EXPECT_EQ(copy.Items(0)->Value, "2.5");  // the default, not the value
  EXPECT_EQ(copy.Items(0)->Alias, "Factor");
  EXPECT_EQ(copy.Items(0)->ReadOnly, 1);
  for (const char* text : {"2.5", "2,5"}) EXPECT_DOUBLE_EQ(TypedValue("Double", text).dblVal, 2.5) << text;
  EXPECT_DOUBLE_EQ(TypedValue(A("число"), "2.5").dblVal, 2.5);
  EXPECT_EQ(TypedValue("integer", "42").lVal, 42);
  EXPECT_THROW(TypedValue("Integer", "4x"), EConvertError);
  EXPECT_EQ(U(VariantText(TypedValue("String", "a\\nb"))), "a\r\nb");
  EXPECT_EQ(U(TypeDisplayName("boolean")), "Число");
  EXPECT_EQ(U(TypeDisplayName("String")), "Строка");
  EXPECT_EQ(U(TypeDisplayName("Double")), "");
}

TEST_F(DevicesList, SelectsAndNamesDevices) {
  TTestDevicesList list;
  list.Models().RegisterModel(GUID{1, 2, 3, {4}}, W("Модель"), 1, 1, 1, 1, 0, W("X"), W("M"), W("Сканер"), W("C"));
  EXPECT_EQ(list.NewDevice()->DeviceName(), "X1");
  list.NewDevice()->SetDeviceName("X3");
  list.NewDevice()->SetDeviceName(A("Ящик"));
  EXPECT_EQ(list.UniqueDeviceName(""), "X2");
  EXPECT_EQ(list.UniqueDeviceName("x1"), "X1");  // the excepted name counts as free

  EXPECT_EQ(list.SelectDevice(Text("ЯЩИК")), DEVICE_OK);
  EXPECT_EQ(list.Current(), 3);
  EXPECT_EQ(list.SelectDevice(OleVariant(4)), DEVICE_NOT_ACTIVE);
  EXPECT_EQ(list.SelectDevice(Text("Нет такого")), DEVICE_NOT_ACTIVE);
  EXPECT_EQ(list.Current(), 3);
  list.GetItem(1)->SetErrorCode(9);
  EXPECT_EQ(list.SelectDevice(OleVariant(2.0)), DEVICE_OK);
  EXPECT_EQ(list.CurrentDeviceName(), "X3");
  EXPECT_EQ(list.GetItem(1)->ErrorCode(), 0);
  EXPECT_EQ(list.FindByName(A("ящик")), list.GetItem(2));
}

TEST_F(DevicesList, HostConfigurationSurvivesExportAndImport) {
  TTestDevicesList first;
  ASSERT_EQ(first.LoadDevices(Text(kHostConfiguration)), 0);
  ASSERT_EQ(first.Count(), 3);
  EXPECT_EQ(U(first.GetItem(1)->GetParamValue(A("Примечание"))), "Строка1\r\nСтрока2");
  EXPECT_EQ(first.ConfigText().substr(0, 5), "<?xml");

  OleVariant all;
  ASSERT_EQ(first.GetDeviceSettings(OleVariant(0), all), 0);
  const OleVariant root = GetProperty(all, "documentElement");
  EXPECT_EQ(U(XmlNodeName(root)), "EquList");
  EXPECT_EQ(NodeListItems(GetProperty(root, "childNodes")).size(), 3u);

  TTestDevicesList fromNode, fromText;
  ASSERT_EQ(fromNode.LoadDevices(all), 0);
  ASSERT_EQ(fromText.LoadDevices(OleVariant(XmlText(all))), 0);
  const auto expected = StateOf(first);
  EXPECT_EQ(StateOf(fromNode), expected);
  EXPECT_EQ(StateOf(fromText), expected);
  EXPECT_EQ(expected[0].Name, "Вход");
  EXPECT_EQ(expected[2].Id, "{A0000000-0000-0000-0000-000000000003}");
  EXPECT_EQ(expected[0].Values[2], std::make_pair(std::string("ИнтервалПовтора"), std::string("1500")));

  // A known identifier reloads its device instead of adding one.
  first.LoadDevices(TextOf(DeviceText("{A0000000-0000-0000-0000-000000000002}", "Выход 2")));
  EXPECT_EQ(first.Count(), 3);
  EXPECT_EQ(U(first.GetItem(1)->DeviceName()), "Выход 2");
}

// The format of each description is judged below that device: a legacy neighbour neither
// turns a current description into a legacy one nor lends it its items.
TEST_F(DevicesList, LegacyAndCurrentDescriptionsSideBySide) {
  TTestDevicesList list;
  list.LoadDevices(TextOf("<Оборудование><Устройство Код=\"{F0000000-0000-0000-0000-000000000001}\" "
                          "Описание=\"Старый\"><Параметры><Дополнительно><Item Имя=\"ИнтервалПовтора\" "
                          "Значение=\"3000\"/></Дополнительно></Параметры></Устройство>" +
                          DeviceText("{F0000000-0000-0000-0000-000000000002}", "Новый",
                                     "<Параметр Идентификатор=\"Использовать\" Значение=\"0\"/>") +
                          "</Оборудование>"));
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(U(list.GetItem(0)->DeviceName()), "Старый");
  EXPECT_EQ(list.GetItem(0)->GetIntParam(A("ИнтервалПовтора")), 3000);
  EXPECT_EQ(U(list.GetItem(1)->DeviceName()), "Новый");
  EXPECT_EQ(list.GetItem(1)->GetIntParam(A("Использовать")), 0);
  EXPECT_EQ(list.GetItem(1)->PropsSnapshot().size(), 2u);
}

TEST_F(DevicesList, DescriptionsByIdentifierByNameOrAll) {
  TTestDevicesList list;
  list.LoadDevices(Text(kHostConfiguration));
  OleVariant document;
  ASSERT_EQ(list.GetDeviceSettings(Text("{A0000000-0000-0000-0000-000000000003}"), document), 0);
  EXPECT_EQ(U(GetNamedAttribute(GetProperty(document, "documentElement"), ATTR_NAME, OLESTR(""))), "Склад");
  EXPECT_EQ(list.GetDeviceSettings(Text("{A0000000-0000-0000-0000-000000000009}"), document), DEVICE_NOT_ACTIVE);

  THostString name(A("выход"));
  OleVariant byName;
  byName.vt = kVarTypeHostString;
  byName.byref = name.Get();
  ASSERT_EQ(list.GetDeviceSettings(byName, document), 0);
  EXPECT_EQ(U(GetNamedAttribute(GetProperty(document, "documentElement"), ATTR_NAME, OLESTR(""))), "Выход");
  byName.vt = VT_EMPTY;  // the host string stays the owner's

  ASSERT_EQ(list.GetDeviceSettings(Text("Выход"), document), 0);  // an OLE text that is no identifier: all
  EXPECT_EQ(U(XmlNodeName(GetProperty(document, "documentElement"))), "EquList");
}

TEST_F(DevicesList, AddingADeviceWithAndWithoutItsDialog) {
  TTestDevicesList list;
  OleVariant source = TextOf(DeviceText("{B0000000-0000-0000-0000-000000000001}", "Новый"));
  TTestDevice::SettingsResult = DEVICE_CANCELLED;
  EXPECT_EQ(list.AddDevice(source, true), DEVICE_CANCELLED);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(source.vt, VT_BSTR);  // left as it was

  TTestDevice::SettingsResult = 0;
  EXPECT_EQ(list.AddDevice(source, true), 0);
  ASSERT_EQ(list.Count(), 1);
  ASSERT_EQ(source.vt, VT_BSTR);
  EXPECT_EQ(U(VariantText(source)).find("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Устройство Код=\"{B0000000"), 0u);

  OleVariant node = GetProperty(ParseConfigurationText(W("<Устройство Наименование=\"Узел\"/>"), true).Document,
                                "documentElement");
  EXPECT_EQ(list.AddDevice(node, false), 0);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(U(XmlNodeName(GetProperty(node, "documentElement"))), "Устройство");  // now the description document
}

TEST_F(DevicesList, HostileConfigurationsRaiseAndKeepWhatWasWhole) {
  TTestDevicesList list;
  list.LoadDevices(Text(kHostConfiguration));
  const auto before = StateOf(list);
  auto load = [&](const std::string& utf8) { return ErrorCodeOf([&] { list.LoadDevices(TextOf(utf8)); }); };

  EXPECT_EQ(load("<Система><Оборудование><Устройство Код="), ERR_TEXT);
  EXPECT_EQ(load(std::string(3000, ' ') + std::string(20000, '<') + "a"), ERR_TEXT);
  std::string open, close;
  for (int i = 0; i < 5000; ++i) {
    open += "<Параметры>";
    close += "</Параметры>";
  }
  EXPECT_EQ(load("<Система>" + open + DeviceText("{C0000000-0000-0000-0000-000000000001}", "Глубокий") + close +
                 "</Система>"),
            ERR_TEXT);
  std::string message;
  EXPECT_EQ(ErrorCodeOf([&] { list.LoadDevices(OleVariant(WideString(10u * 1024u * 1024u, u'x'))); }, &message),
            ERR_TEXT);
  EXPECT_NE(message.find("слишком велик"), std::string::npos);
  EXPECT_EQ(load("<!DOCTYPE s [<!ENTITY e \"xxxxxxxxxxxxxxxx\">]><Система a=\"&e;&e;&e;\"/>"), ERR_TEXT);
  EXPECT_EQ(StateOf(list), before);

  // Devices before a bad one are loaded whole; the bad one leaves nothing behind.
  TTestDevicesList fresh;
  EXPECT_EQ(ErrorCodeOf([&] {
              fresh.LoadDevices(TextOf("<Оборудование>" + DeviceText("{C0000000-0000-0000-0000-000000000002}", "Целый") +
                                       DeviceText("{C0000000-0000-0000-0000-000000000003}", "Битый",
                                                  "<Параметр Идентификатор=\"Использовать\" Значение=\"да\"/>") +
                                       "</Оборудование>"));
            }),
            ERR_PROPERTY_TYPE);
  ASSERT_EQ(fresh.Count(), 1);
  EXPECT_EQ(U(fresh.GetItem(0)->DeviceName()), "Целый");
  EXPECT_THROW(fresh.LoadDevices(TextOf(DeviceText("не код", "Никакой"))), Exception);
  EXPECT_EQ(fresh.Count(), 1);
  EXPECT_EQ(fresh.LoadDevices(OleVariant(3)), 0);
  EXPECT_EQ(fresh.Count(), 1);
}

TEST_F(DevicesList, DevicesOfAForeignThreadAreDropped) {
  TTestDevicesList list;
  list.NewDevice();
  TDeviceItem* foreign = nullptr;
  std::thread([&] { foreign = list.NewDevice(); }).join();
  ASSERT_NE(foreign->ThreadId(), list.ThreadId());
  const TGlobalId foreignId = foreign->DeviceId();
  list.DropThreadDevices();  // the list's own thread drops nothing
  EXPECT_EQ(list.Count(), 2);
  // Found by its identifier from the list's thread, a foreign device goes.
  OleVariant description = list.GetItem(1)->GetParametersXml();
  EXPECT_FALSE(list.FindDeviceByXml(description));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.FindById(foreignId), nullptr);
  std::thread([&] { list.NewDevice(); list.DropThreadDevices(); }).join();
  EXPECT_EQ(list.Count(), 1);
}

TEST_F(DevicesList, ColoursComeFromTheFirstColorItemOfANode) {
  TTestDevicesList list;
  list.LoadColors(Text("<a><ColorItem ColorForm=\"255\"/></a>"));  // text: not read
  EXPECT_EQ(FormColors().ColorForm, kDesignedColor);
  const auto document = ParseConfigurationText(
      W("<a><ColorItem ColorForm=\"255\" ColorFont=\"abc\" ColorBody=\"16\"/><ColorItem ColorForm=\"1\"/></a>"), true);
  list.LoadColors(document.Document);
  const TFormColors colors = FormColors();
  EXPECT_EQ(colors.ColorForm, 255);
  EXPECT_EQ(colors.ColorBody, 16);
  EXPECT_EQ(colors.ColorFont, kDesignedColor);
  EXPECT_EQ(colors.ColorEdit, kDesignedColor);
  SetFormColors(TFormColors());
}

}  // namespace
