#include "devices/model_list.h"

#include "config/collection_model.h"
#include "devices/config_source.h"
#include "devices_test_support.h"

namespace {

constexpr char kDerivedId[] = "{D0000000-0000-0000-0000-000000000001}";

// A catalogue with two models; only the first names this module's file in "Библиотека".
std::string Catalogue() {
  const std::string library = U(PluginModuleFileName());
  return std::string("<Система><КлассыОборудования><КлассОборудования Идентификатор=\"Сканер\">"
                     "<Модель Код=\"") + kDerivedId + "\" Идентификатор=\"Модель_1\" Наименование=\"Производная\" "
         "ИспользуетQuen=\"1\" Библиотека=\"" + library + "\"><Параметры>"
         "<Параметр Идентификатор=\"P1\" Наименование=\"Первый\" Тип=\"Integer\" ФлагТолькоЧтение=\"0\" "
         "ЗначениеПоУмолчанию=\"7\" Описание=\"a\\nb\"/>"
         "<Параметр Идентификатор=\"P2\" Наименование=\"Второй\" Тип=\"String\"/>"
         "<Параметр Идентификатор=\"P3\" Наименование=\"Третий\" Тип=\"String\" ФлагТолькоЧтение=\"1\"/>"
         "</Параметры></Модель>"
         "<Модель Код=\"{D0000000-0000-0000-0000-000000000002}\" Идентификатор=\"Чужая\" Наименование=\"Чужая\" "
         "Библиотека=\"other.plu\"/>"
         "</КлассОборудования></КлассыОборудования></Система>";
}

using ModelList = DevicesTest;

TEST_F(ModelList, FreshListHoldsOneUnregisteredBaseModel) {
  TTestDevicesList list;
  TModelPluList& models = list.Models();
  ASSERT_EQ(models.Count(), 1);
  EXPECT_EQ(models.CurrentIndex(), 0);
  EXPECT_TRUE(SameGlobalId(models.Items(0)->ClassId, GUID_NULL));
  EXPECT_EQ(models.FindModel(NewGlobalId()), models.Items(0));
  std::string message;
  EXPECT_EQ(ErrorCodeOf([&] { models.SetCurrent(1); }, &message), ERR_TEXT);
  EXPECT_EQ(message, "Недопустимый индекс модели");

  models.RegisterModel(ParsecModelRecord());
  ASSERT_EQ(models.Count(), 1);
  EXPECT_EQ(U(models.Items(0)->NamePrefix), "Считыватель проксимити карт Parsec №");
  EXPECT_EQ(models.FindModel(NewGlobalId()), nullptr);
  EXPECT_EQ(U(list.NewDevice()->DeviceName()), "Считыватель проксимити карт Parsec №1");
  // A registration that lands on the base model derives nothing.
  EXPECT_FALSE(models.RegisterDerivedModel(ParsecModelRecord().ClassId, W("Другое"), 0, W("p"), W("k")));
  EXPECT_EQ(U(models.Items(0)->DisplayName), "Считыватель проксимити карт Parsec");

  models.Clear();
  EXPECT_EQ(ErrorCodeOf([&] { models.RegisterDerivedModel(NewGlobalId(), W("x"), 0, W("p"), W("k")); }, &message),
            ERR_TEXT);
  EXPECT_EQ(message, "Не зарегистрирована базовая модель");
}

TEST_F(ModelList, CatalogueRegistersTheDerivedModelOfThisModule) {
  TTestDevicesList list;
  list.Models().RegisterModel(ParsecModelRecord());
  list.LoadModelDefinitions(Text(Catalogue().c_str()));
  TModelPluList& models = list.Models();
  ASSERT_EQ(models.Count(), 2);
  EXPECT_EQ(models.CurrentIndex(), 1);
  const TModelPluItem& derived = *models.Items(1);
  EXPECT_EQ(U(GlobalIdToStr(derived.ClassId)), kDerivedId);
  EXPECT_EQ(U(derived.DisplayName), "Производная");
  EXPECT_EQ(U(derived.NamePrefix), "Модель_1 №");
  EXPECT_EQ(derived.UsesHost, 1);
  EXPECT_EQ(derived.Flag3, 1);
  EXPECT_EQ(U(derived.EquipmentClass), "Сканер");

  TDeviceItem* device = list.NewDevice();
  EXPECT_EQ(U(device->DeviceName()), "Модель_1 №1");
  const auto props = device->PropsSnapshot();
  ASSERT_EQ(props.size(), 3u);
  EXPECT_EQ(props[0].Value, "7");
  EXPECT_EQ(props[0].ReadOnly, 0);
  EXPECT_EQ(props[1].ReadOnly, 0);  // no flag: writable
  EXPECT_EQ(props[2].ReadOnly, 1);
  EXPECT_EQ(props[0].Description, "a\\nb");

}

// A catalogue fills in the parameters that a description brings without a type.
TEST_F(ModelList, CatalogueFillsInUntypedParameters) {
  TTestDevicesList list;
  list.LoadModelCatalogue(Text(Catalogue().c_str()));
  ASSERT_NE(list.Catalogue(), nullptr);
  EXPECT_EQ(list.Catalogue()->Count(), 1);  // the other library's model is filtered out
  OleVariant source = Text((std::string("<Устройство КодМодели=\"") + kDerivedId +
                            "\"><Параметры><Параметр Идентификатор=\"P1\" Значение=\"5\"/>"
                            "<Параметр Идентификатор=\"P9\" Значение=\"1\"/></Параметры></Устройство>")
                               .c_str());
  ASSERT_EQ(list.AddDevice(source, false), 0);
  ASSERT_EQ(list.Count(), 1);
  const auto props = list.GetItem(0)->PropsSnapshot();
  ASSERT_EQ(props.size(), 4u);
  EXPECT_EQ(U(props[2].Caption), "Первый");
  EXPECT_EQ(props[2].TypeName, "Integer");
  EXPECT_EQ(props[2].Default, "7");
  EXPECT_EQ(props[2].Value, "5");
  EXPECT_EQ(props[3].TypeName, "");  // P9 is no catalogue parameter
}

TEST_F(ModelList, DefinitionsAsTextAndDocument) {
  TTestDevicesList list;
  list.Models().RegisterModel(ParsecModelRecord());
  const TModelPluItem& model = *list.Models().Current();
  OleVariant parsed = ParseConfigurationText(model.DefinitionsXml(), false).Document;
  const std::string text = XmlOf(parsed);
  EXPECT_EQ(text.find("<Параметры><Параметр Идентификатор=\"Использовать\" Наименование=\"Использовать\" "
                      "Тип=\"Число\" ФлагТолько4тение=\"0\" Зна4ениеПоУмол4анию=\"1\" Описание=\"Признак того"),
            0u);
  EXPECT_NE(text.find("т.д.)\\nДопустимые"), std::string::npos);  // CR LF escaped
  EXPECT_EQ(text.find('\r'), text.size() - 2);                     // only the document's own line end
  EXPECT_EQ(U(VariantText(GetProperty(parsed, "xml"))).find("<?xml"), std::string::npos);  // no header

  OleVariant document = model.DefinitionsDocument();
  EXPECT_EQ(XmlOf(document).find("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Модель><Параметры><Параметр "), 0u);
  EXPECT_EQ(NodeListItems(SelectNamedNodes(document, PATH_ANY_PARAMS, OLESTR(""), OLESTR(""))).size(), 2u);
}

int gDriverMarker = 0;
HRESULT FakeDriver(IUnknown** Driver) {
  *Driver = reinterpret_cast<IUnknown*>(&gDriverMarker);
  return S_OK;
}

TEST_F(ModelList, InterfaceUnderBothIdentifiersInItsSlotOrder) {
  TTestDevicesList list;
  list.Models().RegisterModel(ParsecModelRecord());
  TModelPluItem* item = list.Models().Current();
  ComPtr<IModelPluItem> first, second;
  ASSERT_EQ(item->QueryInterface(IID_IModelPluItem, first.PutVoid()), S_OK);
  ASSERT_EQ(item->QueryInterface(IID_IModelPluItem2, second.PutVoid()), S_OK);
  EXPECT_EQ(first.Get(), second.Get());

  // Slots after the three IUnknown ones: 3 GetClassId ... 14 the reserved -1 ... 19 GetDriver.
  void** table = *reinterpret_cast<void***>(first.Get());
  using LongEntry = HRESULT(STDMETHODCALLTYPE*)(IModelPluItem*, LONG*);
  using GuidEntry = HRESULT(STDMETHODCALLTYPE*)(IModelPluItem*, GUID*);
  GUID id{};
  reinterpret_cast<GuidEntry>(table[3])(first.Get(), &id);
  EXPECT_TRUE(SameGlobalId(id, ParsecModelRecord().ClassId));
  LONG value = 0;
  reinterpret_cast<LongEntry>(table[14])(first.Get(), &value);
  EXPECT_EQ(value, -1);
  reinterpret_cast<LongEntry>(table[12])(first.Get(), &value);
  EXPECT_EQ(value, 0);  // UsesHost
  OleString key;
  ASSERT_EQ(first->GetModelKey(key.Put()), S_OK);
  EXPECT_EQ(U(key.Text()), "Проксимити_Parsec");

  ComPtr<IUnknown> driver;
  EXPECT_EQ(first->GetDriver(driver.Put()), S_OK);
  EXPECT_FALSE(driver);
  SetDriverInterfaceSource(&FakeDriver);
  IUnknown* raw = nullptr;
  EXPECT_EQ(first->GetDriver(&raw), S_OK);
  EXPECT_EQ(raw, reinterpret_cast<IUnknown*>(&gDriverMarker));
  SetDriverInterfaceSource(nullptr);
}

TEST_F(ModelList, DeviceOperationsOfTheInterface) {
  TTestDevicesList list;
  ComPtr<IModelPluItem> model;
  ASSERT_EQ(list.Models().Current()->QueryInterface(IID_IModelPluItem, model.PutVoid()), S_OK);
  TDeviceItem* existing = list.NewDevice();
  OleVariant description = existing->GetParametersXml();

  ComPtr<IDeviceItem> device;
  ASSERT_EQ(model->ObtainDevice(&description, device.Put()), S_OK);
  EXPECT_EQ(device.Get(), static_cast<IDeviceItem*>(existing));  // reused, not added
  EXPECT_EQ(list.Count(), 1);
  ASSERT_EQ(model->FindDevice(&description, device.Put()), S_OK);
  EXPECT_EQ(device.Get(), static_cast<IDeviceItem*>(existing));

  OleVariant other = Text("<Устройство Код=\"{E0000000-0000-0000-0000-000000000001}\" Наименование=\"Вставка\"/>");
  ASSERT_EQ(model->InsertDevice(&other, device.Put()), S_OK);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(U(list.GetItem(0)->DeviceName()), "Вставка");

  LONG result = 5;
  EXPECT_EQ(model->DetachDevice(list.GetItem(0)->DeviceId(), &result), S_OK);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(model->DetachDevice(NewGlobalId(), &result), S_OK);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(list.Count(), 1);

  OleVariant config = Text("<Система/>");
  EXPECT_EQ(model->SetConfigText(&config, &result), S_OK);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(list.ConfigText(), A("<Система/>"));
  OleVariant bad = Text("<Устройство Код=\"плохой\"/>");
  EXPECT_EQ(model->InsertDevice(&bad, device.Put()), E_UNEXPECTED);
  EXPECT_EQ(list.Count(), 1);
}

}  // namespace
