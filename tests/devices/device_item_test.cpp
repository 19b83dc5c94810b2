#include "devices/device_item.h"

#include <atomic>
#include <thread>

#include "automation/safe_array.h"
#include "devices_test_support.h"
#include "platform/structured_exception.h"

namespace {

constexpr GUID kDeviceA = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
constexpr char kDeviceAText[] = "{11111111-2222-3333-4444-555555555555}";

// A host event sink that hands out our own array objects and records external events.
class TFakeSink : public IHostEventSink {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++Refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --Refs; }
  void VESTREL_HOST_REGISTER ExternalEvent(BSTR Source, BSTR DeviceIdText, const GUID* DeviceIdPtr, BSTR Data) override {
    LastEvent = U(OleString(Source).Text()) + "|" + U(OleString(DeviceIdText).Text()) + "|" + U(OleString(Data).Text());
    LastId = *DeviceIdPtr;
  }
  void VESTREL_HOST_REGISTER CreateArrayObject(VARIANT* Result) override {
    ++ArraysMade;
    Made = CreateSafeArray();
    *Result = OleVariant(static_cast<IDispatch*>(Made.Get())).Detach();
  }
  ULONG Refs = 1;
  int ArraysMade = 0;
  ComPtr<ISafeArray> Made;
  std::string LastEvent;
  GUID LastId{};
};

OleVariant Cell(ISafeArray* table, LONG row, LONG column) {
  OleVariant value;
  EXPECT_EQ(table->GetValue(row, column, value.Put()), S_OK);
  return value;
}
std::string CellText(ISafeArray* table, LONG row, LONG column) { return U(VariantText(Cell(table, row, column))); }

ComPtr<ISafeArray> TableOf(const OleVariant& value) {
  ComPtr<ISafeArray> table;
  EXPECT_EQ(value.vt, VT_DISPATCH);
  if (value.vt == VT_DISPATCH) value.pdispVal->QueryInterface(IID_ISafeArray, table.PutVoid());
  return table;
}

using DeviceItem = DevicesTest;

TEST_F(DeviceItem, SwitchesThroughOpenAndCloseAndKeepsItsCode) {
  TTestDevicesList list;
  TDeviceItem* device = list.NewDevice();
  EXPECT_EQ(device->SetActive(1), DEVICE_OK);
  EXPECT_TRUE(device->Active());
  device->SetErrorCode(5);
  EXPECT_EQ(device->SetActive(1), DEVICE_OK);  // already on: nothing opens again, the code is cleared
  EXPECT_EQ(TTestDevice::OpenCalls, 1);
  EXPECT_EQ(device->ErrorCode(), DEVICE_OK);
  EXPECT_EQ(device->SetActive(0), DEVICE_OK);
  EXPECT_EQ(device->CheckActive(), DEVICE_NOT_ACTIVE);

  TTestDevice::OpenResult = false;
  EXPECT_EQ(device->SetActive(1), DEVICE_READER_MISSING);
  EXPECT_FALSE(device->Active());
  EXPECT_EQ(U(device->GetErrorText(device->ErrorCode())), "Ошибка. Код №10");

  EXPECT_NO_THROW(device->SetErrorCode(-7));
  EXPECT_EQ(device->ErrorCode(), -7);
}

TEST_F(DeviceItem, InterfaceCountsFromOneAndDetachesOnce) {
  TTestDevicesList list;
  TDeviceItem* device = list.NewDevice();
  EXPECT_EQ(device->RefCount(), 1);
  ComPtr<IDeviceItem> item;
  ASSERT_EQ(device->QueryInterface(IID_IDeviceItem, item.PutVoid()), S_OK);
  EXPECT_EQ(device->RefCount(), 2);

  VARIANT_BOOL on = 1;
  EXPECT_EQ(item->IsOn(&on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
  device->SetActive(1);
  EXPECT_EQ(item->IsOn(&on), S_OK);
  EXPECT_EQ(on, VARIANT_TRUE);
  LONG code = 0;
  TTestDevice::SettingsResult = DEVICE_CANCELLED;
  EXPECT_EQ(item->ShowSettings(&code), S_OK);
  EXPECT_EQ(code, DEVICE_CANCELLED);

  LONG result = 5;
  EXPECT_EQ(item->Detach(&result), S_OK);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(device->RefCount(), 1);  // only ours is left
  EXPECT_EQ(item->Detach(&result), S_OK);
  EXPECT_EQ(device->RefCount(), 1);  // the second detach released nothing
}

TEST_F(DeviceItem, NewDevicesStartFromTheListsDefinitionsAndSink) {
  TFakeSink sink;  // outlives the list, whose devices hold it
  TTestDevicesList list;
  TDeviceItem* first = list.NewDevice();
  list.SetEventSink(&sink);
  TDeviceItem* second = list.NewDevice();
  EXPECT_EQ(first->Number(), 1);
  EXPECT_EQ(second->Number(), 2);
  EXPECT_EQ(U(first->DeviceName()), "1");  // no model registered: an empty prefix
  EXPECT_EQ(U(second->DeviceName()), "2");
  EXPECT_FALSE(SameGlobalId(first->DeviceId(), second->DeviceId()));
  EXPECT_EQ(first->EventSink(), nullptr);
  EXPECT_EQ(second->EventSink(), &sink);
  EXPECT_EQ(U(second->GetParamValue(A("Использовать"))), "1");
  EXPECT_EQ(U(second->GetParamValue(A("Неразделяемое"))), "0");
}

TEST_F(DeviceItem, ParameterTextsKeepLineBreaksEscaped) {
  TTestDevicesList list;
  TDeviceItem* device = list.NewDevice();
  device->SetParamValue(A("Описание"), "a\r\nb");
  EXPECT_EQ(device->WithProps([](TPropList& props) { return props.GetValueText(A("Описание")); }), "a\\nb");
  EXPECT_EQ(device->GetParamValue(A("Описание")), "a\r\nb");
  device->SetParamValue(A("Путь"), "C:\\new\\next");
  EXPECT_EQ(device->GetParamValue(A("Путь")), "C:\\new\\next");

  EXPECT_EQ(device->GetIntParam(A("Нет такого")), 0);
  device->SetIntParam(A("ИнтервалПовтора"), 2500);
  EXPECT_EQ(device->GetIntParam(A("ИнтервалПовтора")), 2500);
  device->SetParamValue(A("ИнтервалПовтора"), "x");
  EXPECT_THROW(device->GetIntParam(A("ИнтервалПовтора")), EConvertError);
}

TEST_F(DeviceItem, DescriptionInTheCurrentFormat) {
  TTestDevicesList list;
  TDeviceItem* device = list.NewDevice();
  device->SetDeviceId(kDeviceA);
  device->SetDeviceName(A("Касса"));
  EXPECT_EQ(XmlOf(device->GetParametersXml()),
            std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Устройство Код=\"") + kDeviceAText +
                "\" КодМодели=\"{00000000-0000-0000-0000-000000000000}\" Наименование=\"Касса\" КодТо4киДоступа=\"\">"
                "<Параметры><Параметр Идентификатор=\"Использовать\" Зна4ение=\"1\"/>"
                "<Параметр Идентификатор=\"Неразделяемое\" Зна4ение=\"0\"/></Параметры></Устройство>\r\n");
}

TEST_F(DeviceItem, LoadsCurrentAndLegacyDescriptions) {
  TTestDevicesList list;
  TDeviceItem* device = list.NewDevice();
  // Host text: standard spellings, line breaks, the device below an "Оборудование" root.
  EXPECT_EQ(device->LoadFromXml(Text("<Оборудование>\r\n<Устройство Код=\"{11111111-2222-3333-4444-555555555555}\" "
                                     "Наименование=\"Первый\">\r\n<Параметры>"
                                     "<Параметр Идентификатор=\"Использовать\" Значение=\"0\"/>\r\n"
                                     "<Параметр Идентификатор=\"Новый\" Значение=\"x\\ny\"/>"
                                     "</Параметры></Устройство></Оборудование>")),
            0);
  EXPECT_TRUE(SameGlobalId(device->DeviceId(), kDeviceA));
  EXPECT_EQ(U(device->DeviceName()), "Первый");
  EXPECT_EQ(U(device->GetParamValue(A("Использовать"))), "0");
  EXPECT_EQ(device->GetParamValue(A("Новый")), "x\r\ny");
  EXPECT_EQ(device->WithProps([](TPropList& props) { return props.FindProp(A("Новый"))->TypeName; }), "");

  TDeviceItem* legacy = list.NewDevice();
  legacy->LoadFromXml(Text("<Устройство Код=\"{11111111-2222-3333-4444-555555555556}\" Описание=\"Старый\" "
                           "ИдентификаторКласса=\"x\" ТочкаСобытий=\"y\"><Параметры>"
                           "<ComPort><Item Имя=\"Порт\" Значение=\"COM1\"/></ComPort>"
                           "<Дополнительно><Item Имя=\"ИнтервалПовтора\" Значение=\"3000\"/></Дополнительно>"
                           "</Параметры></Устройство>"));
  EXPECT_EQ(U(legacy->DeviceName()), "Старый");
  EXPECT_EQ(legacy->GetIntParam(A("ИнтервалПовтора")), 3000);
  const auto props = legacy->PropsSnapshot();
  ASSERT_EQ(props.size(), 3u);  // the two definitions and the one additional item
  EXPECT_EQ(U(props[2].Name), "ИнтервалПовтора");
}

TEST_F(DeviceItem, DescriptionsThatCannotBeTakenLeaveTheDeviceAsItWas) {
  TTestDevicesList list;
  TDeviceItem* device = list.NewDevice();
  device->SetDeviceName(A("Прежний"));
  const TGlobalId id = device->DeviceId();
  auto unchanged = [&] {
    EXPECT_TRUE(SameGlobalId(device->DeviceId(), id));
    EXPECT_EQ(U(device->DeviceName()), "Прежний");
    EXPECT_EQ(U(device->GetParamValue(A("Использовать"))), "1");
    EXPECT_EQ(device->PropsSnapshot().size(), 2u);
  };
  try {
    device->LoadFromXml(Text("<Устройство Код=\"{нет}\" Наименование=\"Новый\"/>"));
    ADD_FAILURE() << "a bad identifier was taken";
  } catch (const Exception& error) {
    EXPECT_EQ(U(error.Message()), "Значение не является идентификатором объекта.");
  }
  unchanged();
  EXPECT_EQ(ErrorCodeOf([&] {
              device->LoadFromXml(Text("<Устройство Наименование=\"Новый\"><Параметры>"
                                       "<Параметр Идентификатор=\"Другой\" Значение=\"1\"/>"
                                       "<Параметр Идентификатор=\"Использовать\" Значение=\"abc\"/>"
                                       "</Параметры></Устройство>"));
            }),
            ERR_PROPERTY_TYPE);
  unchanged();
  EXPECT_EQ(ErrorCodeOf([&] { device->LoadFromXml(Text("<Устройство Код=")); }), ERR_TEXT);
  unchanged();
  EXPECT_EQ(device->LoadFromXml(OleVariant(42)), 0);
  unchanged();
}

TEST_F(DeviceItem, PropertyTableDescribesTheDeviceAndComesFromTheSink) {
  TFakeSink sink;
  TTestDevicesList list;
  list.SetEventSink(&sink);
  TDeviceItem* device = list.NewDevice();
  device->SetDeviceName(A("Касса"));
  device->WithProps([](TPropList& props) {
    for (const char* value : {"2.5", "2,5"}) {
      TPropItem* item = props.Add();
      item->Name = A(value);
      item->TypeName = "Double";
      item->Value = value;
    }
  });
  OleVariant value;
  ASSERT_EQ(device->GetPropertyTable(value), 0);
  EXPECT_EQ(sink.ArraysMade, 1);
  ComPtr<ISafeArray> table = TableOf(value);
  ASSERT_TRUE(table);
  EXPECT_EQ(table.Get(), sink.Made.Get());
  LONG rows = 0, columns = 0;
  table->GetBounds(&rows, &columns);
  EXPECT_EQ(rows, 5);
  EXPECT_EQ(columns, 7);
  const char* header[] = {"ИмяУстройства", "Имя устройства", "Имя устройства", "Строка", "Касса", "1", ""};
  for (LONG column = 0; column < 7; ++column) EXPECT_EQ(CellText(table.Get(), 0, column), header[column]) << column;
  EXPECT_EQ(CellText(table.Get(), 1, 0), "Использовать");
  EXPECT_EQ(CellText(table.Get(), 1, 3), "Число");
  EXPECT_EQ(Cell(table.Get(), 1, 4).vt, VT_I4);
  EXPECT_EQ(Cell(table.Get(), 1, 4).lVal, 1);
  for (LONG row : {3, 4}) {  // "2.5" and "2,5" of type Double are both two and a half
    EXPECT_EQ(Cell(table.Get(), row, 4).vt, VT_R8);
    EXPECT_DOUBLE_EQ(Cell(table.Get(), row, 4).dblVal, 2.5);
  }
}

// A table is applied whole or not at all, and a value must fit its parameter's own type
// whatever type the host's table gives the row.
TEST_F(DeviceItem, PropertyTableAppliesEveryRowOrNone) {
  TTestDevicesList list;
  TDeviceItem* device = list.NewDevice();
  device->SetDeviceName(A("Касса"));
  ComPtr<ISafeArray> table = CreateSafeArray();
  table->SetBounds(4, 7);
  auto row = [&](LONG x, const char* name, const char* caption, const char* type, OleVariant value) {
    table->SetValue(x, 0, Text(name));
    table->SetValue(x, 1, Text(caption));
    table->SetValue(x, 3, Text(type));
    table->SetValue(x, 4, value);
    table->SetValue(x, 5, OleVariant(0));
  };
  row(0, "имяустройства", "Имя", "Строка", Text("Другое"));
  row(1, "Описание", "Описание", "Строка", Text("a\r\nb"));
  row(2, "Использовать", "Признак", "Число", Text("abc"));
  row(3, "Неразделяемое", "Общее", "Число", OleVariant(1));
  const OleVariant argument(static_cast<IDispatch*>(table.Get()));
  auto refused = [&](const char* caption) {
    std::string message;
    EXPECT_EQ(ErrorCodeOf([&] { device->ApplyPropertyTable(argument); }, &message), ERR_PROPERTY_TYPE);
    EXPECT_EQ(message, U(FormatText(AnsiFromWide(ErrorMessageText(ERR_PROPERTY_TYPE)), {A(caption)})));
    EXPECT_EQ(U(device->GetParamValue(A("Описание"))), "") << "no row is applied";
    EXPECT_EQ(U(device->GetParamValue(A("Использовать"))), "1");
    EXPECT_EQ(U(device->GetParamValue(A("Неразделяемое"))), "0");
  };
  refused("Признак");
  table->SetValue(2, 4, Text("2.5"));  // a number, but "Использовать" takes whole numbers
  refused("Признак");
  table->SetValue(2, 3, Text("Строка"));  // the table's type does not decide
  table->SetValue(2, 4, Text("да"));
  refused("Признак");

  table->SetValue(2, 4, Text("0"));
  EXPECT_EQ(device->ApplyPropertyTable(argument), 0);
  EXPECT_EQ(U(device->DeviceName()), "Касса");  // the name row renames nothing
  EXPECT_EQ(device->GetParamValue(A("Описание")), "a\r\nb");
  EXPECT_EQ(U(device->GetParamValue(A("Использовать"))), "0");
  EXPECT_EQ(U(device->GetParamValue(A("Неразделяемое"))), "1");
}

#ifdef _WIN32
// A host whose array factory raises its own language's exception: the call out is guarded, so
// the property table fails with a C++ exception the caller can catch.
class TRaisingSink : public TFakeSink {
public:
  void VESTREL_HOST_REGISTER CreateArrayObject(VARIANT*) override {
    RaiseException(platform::kHostLanguageExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  }
};

TEST_F(DeviceItem, StructuredExceptionOfTheHostsArrayFactoryIsCaught) {
  TRaisingSink sink;
  TTestDevicesList list;
  list.SetEventSink(&sink);
  TDeviceItem* device = list.NewDevice();
  OleVariant table;
  try {
    device->GetPropertyTable(table);
    ADD_FAILURE() << "the host's exception was lost";
  } catch (const platform::StructuredException& error) {
    EXPECT_EQ(error.Code(), platform::kHostLanguageExceptionCode);
  }
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_EQ(U(device->GetParamValue(A("Использовать"))), "1");
}
#endif

// The sink's two operations sit at positions 7 and 23 with the host's convention: calling
// the raw table entries as plain functions reaches the overrides with every argument intact.
TEST_F(DeviceItem, EventSinkOperationsSitAtTheirPositions) {
  TFakeSink sink;
  using EventEntry = void(VESTREL_HOST_REGISTER*)(IHostEventSink*, BSTR, BSTR, const GUID*, BSTR);
  using ArrayEntry = void(VESTREL_HOST_REGISTER*)(IHostEventSink*, VARIANT*);
  void** table = *reinterpret_cast<void***>(static_cast<IHostEventSink*>(&sink));
  OleString source(W("Сканер").c_str()), id(W(kDeviceAText).c_str()), data(W("00ABCDEF").c_str());
  reinterpret_cast<EventEntry>(table[kEventSinkExternalEventPosition])(&sink, source.Get(), id.Get(), &kDeviceA,
                                                                       data.Get());
  EXPECT_EQ(sink.LastEvent, std::string("Сканер|") + kDeviceAText + "|00ABCDEF");
  EXPECT_TRUE(SameGlobalId(sink.LastId, kDeviceA));
  OleVariant created;
  reinterpret_cast<ArrayEntry>(table[kEventSinkCreateArrayPosition])(&sink, created.Put());
  EXPECT_EQ(sink.ArraysMade, 1);
  EXPECT_TRUE(IsSafeArray(created));
}

// A polling thread reads two parameters and the identifier while the host's thread rewrites
// them: every read sees one of the values written, never a torn or freed one.
TEST_F(DeviceItem, ParametersAreReadSafelyFromAnotherThread) {
  TTestDevicesList list;
  TDeviceItem* device = list.NewDevice();
  device->SetIntParam(A("ИнтервалПовтора"), 1000);
  device->SetIntParam(A("СтарыйФорматДанных"), 1);
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0}, wrong{0};
  std::thread poller([&] {
    while (!stop.load()) {
      const int32_t interval = device->GetIntParam(A("ИнтервалПовтора"));
      const int32_t oldFormat = device->GetIntParam(A("СтарыйФорматДанных"));
      if ((interval != 1000 && interval != 2000) || (oldFormat != 0 && oldFormat != 1)) ++wrong;
      (void)device->DeviceId();
      ++reads;
    }
  });
  const AnsiString description = A("<Устройство Код=\"{11111111-2222-3333-4444-555555555555}\"><Параметры>"
                                   "<Параметр Идентификатор=\"ИнтервалПовтора\" Значение=\"2000\"/>"
                                   "</Параметры></Устройство>");
  for (int i = 0; i < 400 || reads.load() < 10; ++i) {
    device->SetIntParam(A("ИнтервалПовтора"), i % 2 ? 1000 : 2000);
    device->SetIntParam(A("СтарыйФорматДанных"), i % 2);
    if (i % 40 == 0) device->LoadFromXml(OleVariant(WideFromAnsi(description)));
  }
  stop = true;
  poller.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
