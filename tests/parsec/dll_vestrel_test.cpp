// The scanner driver's tables and handlers, driven as a host drives them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "automation/safe_array.h"
#include "base/diagnostic_log.h"
#include "base/errors.h"
#include "base/global_id.h"
#include "base/host_call_lock.h"
#include "devices/model_list.h"
#include "parsec/reader_library.h"
#include "platform/desktop.h"
#include "platform/named_mutex.h"
#include "platform/sync.h"
#include "scanner_driver_fixture.h"
#include "support/host_call.h"

namespace {

// A host's sink that calls back into the plug-in from inside the event.
class CallingSink : public IHostEventSink {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  void VESTREL_HOST_REGISTER ExternalEvent(BSTR, BSTR, const GUID*, BSTR) override {
    if (OnEvent && !Called.exchange(true)) OnEvent();
  }
  void VESTREL_HOST_REGISTER CreateArrayObject(VARIANT*) override {}
  std::function<void()> OnEvent;
  std::atomic<bool> Called{false};
};

TEST_F(ScannerDriver, TablesHoldEveryMemberInOrderWithBothNames) {
  EXPECT_EQ(TDllVestrel::MethodsA().Count, 1);
  EXPECT_EQ(TDllVestrel::MethodsB().Count, 17);
  EXPECT_EQ(TDllVestrel::Properties().Count, 7);
  EXPECT_EQ(Driver->FindMethod(AnsiFromUtf8("выбратьустройство")), 0);
  EXPECT_EQ(Driver->FindMethod("GETPLGINFO"), 10007);
  EXPECT_EQ(Driver->FindMethod(AnsiFromUtf8("ОтобразитьСтраницуСвойств")), 10016);
  EXPECT_EQ(Driver->FindProperty("release"), 100006);
  EXPECT_EQ(Driver->FindProperty(AnsiFromUtf8("Использовать")), 200000) << "scanner parameters come first";
  EXPECT_EQ(Driver->FindProperty(AnsiFromUtf8("ИнтервалПовтора")), 300000 + 2);
}

TEST_F(ScannerDriver, ConfigurationSelectionAndReadOnlyProperties) {
  Configure();
  EXPECT_EQ(GetInt("DevicesQuantity"), 2);
  EXPECT_EQ(IntParam(*Call("Результат", vestrel::kCallPropertyGet), 0), 3) << "no device current yet";
  EXPECT_EQ(TextParam(*Call("ИмяУстройства", vestrel::kCallPropertyGet), 0), "");
  EXPECT_EQ(Method("ВыбратьУстройство", {Text("Выход")}), 0);
  EXPECT_EQ(GetInt("НомерУстройства"), 2);
  EXPECT_EQ(TextParam(*Call("DeviceName", vestrel::kCallPropertyGet), 0), "Выход");
  TParamsPtr missing = Call("ChoiceDevice", vestrel::kCallMethod, {Text("Нет такого")});
  EXPECT_TRUE(missing->HasError);
  EXPECT_EQ(missing->ErrorCode, 3);
  EXPECT_EQ(ErrorTextOf(*missing), "Устройство не обнаружено");

  for (const char* name : {"Релиз", "Результат", "ИмяУстройства", "КоличествоУстройств"}) {
    TParamsPtr write = Call(name, vestrel::kCallPropertySet, {OleVariant(5)});
    EXPECT_TRUE(write->HasError) << name;
    EXPECT_EQ(ErrorTextOf(*write), std::string("Свойство [") + name + "] доступно только для чтения");
  }
  const OleVariant release = Get("Release");
  EXPECT_EQ(V_VT(&release), VT_UI2);

  // Deleting outside 1..count changes nothing.
  for (int32_t number : {0, 3}) {
    TParamsPtr block = Call("DeleteDevice", vestrel::kCallMethod, {OleVariant(number)});
    EXPECT_EQ(block->ErrorCode, 3) << number;
  }
  EXPECT_EQ(Driver->Devices().Count(), 2);
  EXPECT_EQ(Method("УдалитьУстройство", {OleVariant(1)}), 0);
  ASSERT_EQ(Driver->Devices().Count(), 1);
  EXPECT_EQ(Driver->Devices().GetItem(0)->DeviceName(), AnsiFromUtf8("Выход"));
}

TEST_F(ScannerDriver, WrongParameterTypesGive4AndDoNothing) {
  Configure();
  platform::ResetDesktopRecord();
  const std::vector<std::pair<const char*, std::vector<OleVariant>>> calls = {
      {"Гудок", {Text("440"), OleVariant(100)}},
      {"ОписаниеОшибки", {Text("10")}},
      {"НастроитьУстройства", {OleVariant(7)}},
      {"ПолучитьНастройкиXML", {OleVariant(1.5), OleVariant()}},
  };
  for (const auto& [name, arguments] : calls) {
    TParamsPtr block = Call(name, vestrel::kCallMethod, arguments);
    EXPECT_TRUE(block->HasError) << name;
    EXPECT_EQ(block->ErrorCode, 4) << name;
    EXPECT_EQ(ErrorTextOf(*block), "Неверный тип параметра") << name;
  }
  EXPECT_TRUE(platform::RecordedDesktopActivity().Beeps.empty()) << "no sound for a text parameter";
  EXPECT_EQ(Driver->Devices().Count(), 2);
  EXPECT_EQ(Method("Beep", {OleVariant(440), OleVariant(120)}), 0);
#ifndef _WIN32
  ASSERT_EQ(platform::RecordedDesktopActivity().Beeps.size(), 1u);
  EXPECT_EQ(platform::RecordedDesktopActivity().Beeps[0], (std::pair<uint32_t, uint32_t>(440, 120)));
#endif
  TParamsPtr text = Call("ResultDescription", vestrel::kCallMethod, {OleVariant(11.0)});
  EXPECT_EQ(TextParam(*text, 0).rfind("Устройство PR-x08 уже используется", 0), 0u);
  for (const char* name : {"СохранитьНастройки", "ЗагрузитьНастройки"}) EXPECT_EQ(Method(name), 0);
  EXPECT_EQ(Method("ShowPropertyPage", {OleVariant(1)}), 0);
  EXPECT_EQ(Driver->Devices().Count(), 2);
}

TEST_F(ScannerDriver, PluginInformationWritesTwelveParametersBack) {
  std::vector<OleVariant> arguments(13);
  TParamsPtr block = Call("ИнформацияОПлагине", vestrel::kCallMethod, arguments);
  ASSERT_FALSE(block->HasError) << ErrorTextOf(*block);
  const TModelPluItem* model = Driver->Devices().Models().Items(0);
  EXPECT_EQ(TextParam(*block, 3), Utf8FromWide(GlobalIdToStr(model->ClassId)));
  EXPECT_EQ(TextParam(*block, 4), Utf8FromWide(model->DisplayName));
  EXPECT_NE(TextParam(*block, 10).find("ИнтервалПовтора"), std::string::npos) << "parameter definitions as XML";
  EXPECT_EQ(TextParam(*block, 11), Utf8FromWide(model->ModelKey));
  EXPECT_EQ(TextParam(*block, 12), Utf8FromWide(model->EquipmentClass));
  EXPECT_EQ(TextParam(*block, 13), Utf8FromWide(model->ClassDescription));
  EXPECT_EQ(IntParam(*block, 14 + 0), static_cast<int32_t>(reinterpret_cast<intptr_t>(&Driver->Devices())));
  EXPECT_EQ(TypeOf(*block, 15), VT_EMPTY) << "parameter 13 is not used";
}

TEST_F(ScannerDriver, DeviceParametersAndPropertyTablesReachTheCurrentDevice) {
  Configure();
  TParamsPtr none = Call("ИнтервалПовтора", vestrel::kCallPropertyGet);
  EXPECT_EQ(TypeOf(*none, 0), VT_EMPTY) << "no device: nothing read";
  EXPECT_EQ(Method("ChoiceDevice", {OleVariant(1)}), 0);
  const OleVariant interval = Get("ИнтервалПовтора");
  ASSERT_EQ(V_VT(&interval), VT_I4);
  EXPECT_EQ(V_I4(&interval), 1500);
  EXPECT_FALSE(Call("Использовать", vestrel::kCallPropertySet, {Text("0")})->HasError);
  EXPECT_EQ(Driver->Devices().GetItem(0)->GetParamValue(AnsiFromUtf8("Использовать")), "0");
  EXPECT_EQ(Driver->Devices().GetItem(1)->GetParamValue(AnsiFromUtf8("Использовать")), "1");

  TParamsPtr props = Call("GetProps", vestrel::kCallMethod, {OleVariant()});
  ASSERT_FALSE(props->HasError) << ErrorTextOf(*props);
  OleVariant table = ParamOf(*props, 3);
  ASSERT_TRUE(V_VT(&table) == VT_DISPATCH || V_VT(&table) == VT_UNKNOWN);
  EXPECT_EQ(Method("SetProps", {table}), 0);

  EXPECT_EQ(Method("ChoiceDevice", {OleVariant(2)}), 0);
  TParamsPtr settings = Call("ПолучитьНастройкиXML", vestrel::kCallMethod, {Text(kSecondId), OleVariant()});
  ASSERT_FALSE(settings->HasError) << ErrorTextOf(*settings);
  EXPECT_NE(TypeOf(*settings, 4), VT_EMPTY) << "the document is written back";
  TParamsPtr unknown = Call("GetSettingsXML", vestrel::kCallMethod,
                            {Text("{D0000000-0000-0000-0000-000000000009}"), OleVariant()});
  EXPECT_EQ(unknown->ErrorCode, 3);

  TParamsPtr created = Call("СоздатьПараметры", vestrel::kCallMethod, {OleVariant(3), Text("x")});
  ASSERT_FALSE(created->HasError) << ErrorTextOf(*created);
  OleVariant object = ParamOf(*created, 0);
  ComPtr<ISafeArray> array;
  ASSERT_EQ(V_UNKNOWN(&object)->QueryInterface(IID_ISafeArray, array.PutVoid()), S_OK);
  LONG rows = -1, columns = -1;
  array->GetBounds(&rows, &columns);
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(columns, 0) << "a non-numeric parameter counts as 0";
}

TEST_F(ScannerDriver, SwitchingReportsTheDeviceCodeAndCardsArriveAsEvents) {
  Configure();
  EXPECT_EQ(Method("ChoiceDevice", {OleVariant(1)}), 0);
  Simulator.SetReaderCount(0);
  TParamsPtr missing = Call("Включить", vestrel::kCallMethod, {OleVariant()});
  EXPECT_TRUE(missing->HasError);
  EXPECT_EQ(missing->ErrorCode, 10);
  EXPECT_EQ(ErrorTextOf(*missing), "Устройство PR-x08 не найдено или драйвера устройства не установлены корректно");
  EXPECT_EQ(GetInt("DeviceIsOn"), 0);
  EXPECT_EQ(GetInt("Result"), 10);

  Simulator.SetReaderCount(1);
  Simulator.RunClock();
  EXPECT_EQ(Method("SwitchOn", {OleVariant()}), 0);
  EXPECT_EQ(GetInt("УстройствоВключено"), 1);
  Simulator.TapCard(0, 0x00A1B2C3);
  WaitForEvents(1);
  const ReceivedEvent event = Sink.Events().at(0);
  EXPECT_EQ(event.Source, "Сканер");
  EXPECT_EQ(event.DeviceIdText, kFirstId);
  EXPECT_EQ(event.Data, "0000A1B2C3");
  EXPECT_EQ(Method("Выключить", {OleVariant()}), 0);
  EXPECT_EQ(GetInt("DeviceIsOn"), 0);
  EXPECT_FALSE(Simulator.IsReaderOpen(0));

  // The switch property works until the host takes the events; then it is read-only.
  EXPECT_FALSE(Call("DeviceIsOn", vestrel::kCallPropertySet, {OleVariant(1)})->HasError);
  EXPECT_EQ(GetInt("DeviceIsOn"), 1);
  TParamsPtr support = Call("__@@EventSupport", 0);
  EXPECT_TRUE(Call("DeviceIsOn", vestrel::kCallPropertySet, {OleVariant(0)})->HasError);
  EXPECT_EQ(Method("SwitchOff", {OleVariant()}), 0);

  Driver->Devices().SetCurrent(0);
  TParamsPtr nothing = Call("SwitchOn", vestrel::kCallMethod, {OleVariant()});
  EXPECT_TRUE(nothing->HasError) << "no device: an orderly failure";
  EXPECT_EQ(nothing->ErrorCode, 3);
}

TEST_F(ScannerDriver, ACallFromInsideAnEventRunsWhileTheHostSwitchesOff) {
  static CallingSink calling;  // the devices keep it until the fixture frees them
  ASSERT_EQ(Driver->BaseDllObjInterface()->SetEventSink(&calling), S_OK);
  Configure();
  EXPECT_EQ(Method("ChoiceDevice", {OleVariant(1)}), 0);
  Simulator.RunClock();
  EXPECT_EQ(Method("SwitchOn", {OleVariant()}), 0);

  platform::ManualResetEvent inEvent{false}, switchingOff{false};
  int32_t countSeenInEvent = -1;
  calling.OnEvent = [&] {
    inEvent.Set();
    switchingOff.Wait(30000);
    platform::SleepMilliseconds(100);  // the host's thread is inside "Выключить" by now
    test_support::THostCall count("КоличествоУстройств", vestrel::kCallPropertyGet);
    count.Run();
    countSeenInEvent = count.IntValue(0);
  };
  Simulator.TapCard(0, 0x00A1B2C3);
  ASSERT_TRUE(inEvent.Wait(60000));
  test_support::EndsWithin(60, [&] {
    switchingOff.Set();
    test_support::THostCall off("Выключить", vestrel::kCallMethod, {OleVariant()});
    EXPECT_TRUE(off.Run()) << off.ErrorText();
  });
  EXPECT_EQ(countSeenInEvent, 2);
  calling.OnEvent = nullptr;
}

TEST_F(ScannerDriver, TheReaderHeldElsewhereGives11AndASecondDeviceToo) {
  Configure();
  EXPECT_EQ(Method("ChoiceDevice", {OleVariant(1)}), 0);
  EXPECT_EQ(Method("SwitchOn", {OleVariant()}), 0);
  EXPECT_EQ(Method("ChoiceDevice", {OleVariant(2)}), 0);
  TParamsPtr second = Call("SwitchOn", vestrel::kCallMethod, {OleVariant()});
  EXPECT_EQ(second->ErrorCode, 11);
  EXPECT_EQ(ErrorTextOf(*second).rfind("Устройство PR-x08 уже используется", 0), 0u);
  EXPECT_EQ(Method("ChoiceDevice", {OleVariant(1)}), 0);
  EXPECT_EQ(Method("SwitchOff", {OleVariant()}), 0);
}

TEST_F(ScannerDriver, HostTasksReachTheDeviceTheyNameAndUnknownOnesNone) {
  Configure();
  EXPECT_EQ(Method("ChoiceDevice", {OleVariant(1)}), 0);
  TFakeHostTask task("TTaskThread", StrToGlobalId(std::string_view(kSecondId)));
  TParamsPtr name = Call("DeviceName", vestrel::kCallPropertyGet, {}, task.Object());
  EXPECT_EQ(TextParam(*name, 0), "Выход") << "the task's device, not the current one";
  EXPECT_EQ(task.DriverSlot(), Driver.get());
  EXPECT_EQ(Driver->Devices().GetItem(1)->CallContext(), nullptr) << "cleared after the call";
  EXPECT_FALSE(Call("ИнтервалПовтора", vestrel::kCallPropertySet, {Text("4000")}, task.Object())->HasError);
  EXPECT_EQ(Driver->Devices().GetItem(1)->GetParamValue(RepeatIntervalParamName()), "4000");
  EXPECT_EQ(Driver->Devices().GetItem(0)->GetParamValue(RepeatIntervalParamName()), "1500");

  TFakeHostTask stranger("TInternalTask", StrToGlobalId(std::string_view("{E0000000-0000-0000-0000-000000000000}")));
  EXPECT_EQ(IntParam(*Call("Result", vestrel::kCallPropertyGet, {}, stranger.Object()), 0), 3);
  EXPECT_EQ(TextParam(*Call("DeviceName", vestrel::kCallPropertyGet, {}, stranger.Object()), 0), "");
  EXPECT_EQ(Call("GetProps", vestrel::kCallMethod, {OleVariant()}, stranger.Object())->ErrorCode, 3);
}

TEST_F(ScannerDriver, FreeReleasesTheSinkAndDevicesMadeLaterHaveNoCopy) {
  Configure();
  EXPECT_EQ(Driver->Devices().GetItem(0)->EventSink(), static_cast<IUnknown*>(&Sink));
  Call("__FRee", 0);
  EXPECT_EQ(Driver->Devices().Count(), 0);
  EXPECT_EQ(Driver->Devices().EventSink(), nullptr);
  Configure();
  EXPECT_EQ(Driver->Devices().GetItem(0)->EventSink(), nullptr) << "a device takes its copy at creation";
}

// The host's event handler sends "__FRee" while it handles a card: the devices go, the
// polling thread ends after the event and lets the reader go, and the host can start over.
TEST_F(ScannerDriver, FreeFromInsideTheCardEventEndsThePollingThreadAfterTheEvent) {
  Configure();
  EXPECT_EQ(Method("ChoiceDevice", {OleVariant(1)}), 0);
  EXPECT_EQ(Method("SwitchOn", {OleVariant()}), 0);
  std::string failure;
  std::atomic<bool> handled{false};
  Sink.OnEvent([&] {
    Sink.OnEvent(nullptr);
    THostCallScope call;
    TParamsPtr block = Call("__FRee", 0);
    failure = block->HasError ? ErrorTextOf(*block) : "";
    handled = true;
  });
  THangWatch watch("__FRee from inside the event", 60);
  Simulator.TapCard(0, 0x00A1B2C3);
  WaitForEvents(1);
  ASSERT_TRUE(WaitUntil([&] { return handled.load(); }));
  EXPECT_EQ(failure, "");
  ASSERT_TRUE(WaitForPollingThreadsToEnd(60000));
  EXPECT_EQ(Driver->Devices().Count(), 0);
  EXPECT_FALSE(platform::NamedMutexExists(kReaderLibraryMutexName));
  EXPECT_FALSE(Simulator.IsReaderOpen(0));

  ASSERT_EQ(Driver->BaseDllObjInterface()->SetEventSink(&Sink), S_OK);
  Configure();
  EXPECT_EQ(Method("ChoiceDevice", {OleVariant(1)}), 0);
  EXPECT_EQ(Method("SwitchOn", {OleVariant()}), 0);
  EXPECT_EQ(Method("SwitchOff", {OleVariant()}), 0);
}


// The log's lines without their time and thread ("09.12.2026 12:03:10.250 [4321] ").
std::vector<std::string> LoggedTexts(const std::string& file) {
  std::ifstream input(file, std::ios::binary);
  std::vector<std::string> texts;
  std::string line;
  while (std::getline(input, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t thread = line.find("] ");
    texts.push_back(thread == std::string::npos ? line : line.substr(thread + 2));
  }
  return texts;
}

// The index of the first text at or after `from` that starts with `start` and holds `part`;
// the texts' size when there is none.
size_t Find(const std::vector<std::string>& texts, const std::string& start, const std::string& part = "",
            size_t from = 0) {
  for (size_t index = from; index < texts.size(); ++index) {
    if (texts[index].rfind(start, 0) == 0 && texts[index].find(part) != std::string::npos) return index;
  }
  return texts.size();
}

// What an integrator reads after a run with a failing open, reads that fail and recover, a
// host whose sink throws and (Windows) a reader library that faults: every step, in order per
// reader, and the host's calls with their outcome.
TEST_F(ScannerDriver, TheLogTellsWhatTheReadersAndTheHostDid) {
  const std::string file = TestScratchFolder() + "driver.log";
  std::filesystem::remove(file);
  TDiagnosticLogSettings settings;
  settings.FileName = file;
  ASSERT_TRUE(StartDiagnosticLog(settings));
  struct StopLog {
    ~StopLog() { StopDiagnosticLog(); }
  } stopLog;

  Configure();
  Simulator.SetReaderCount(2);
  Simulator.SetFault("OpenReader", 1, SimulatorControl::FaultKind::Answer, -5, 1);
  Simulator.SetFault("ReadCardNumber", 0, SimulatorControl::FaultKind::Answer, -1, 3);
#ifdef _WIN32
  Simulator.SetFault("BeepBlink", 0, SimulatorControl::FaultKind::AccessViolation, 0, 1);
#endif
  Sink.Misbehave(RecordingSink::Behaviour::Throw, 1);
  EXPECT_EQ(Method("ChoiceDevice", {OleVariant(1)}), 0);
  EXPECT_EQ(Method("SwitchOn", {OleVariant()}), 0);
  WaitForTurns(0, 5);
  Simulator.TapCard(0, 0x00A1B2C3);
  WaitForEvents(1);
  WaitForTurns(0);
  Simulator.TapCard(0, 0x00A1B2C4);
  WaitForEvents(2);
  WaitForTurns(0);
  EXPECT_EQ(Method("SwitchOff", {OleVariant()}), 0);
  TParamsPtr unknown = Call("НетТакогоМетода", vestrel::kCallMethod);
  ASSERT_TRUE(FlushDiagnosticLog(10000));

  const std::vector<std::string> texts = LoggedTexts(file);
  std::string all;
  for (const std::string& text : texts) all += text + "\n";
  SCOPED_TRACE(all);
  EXPECT_LT(Find(texts, "reader library bound: "), texts.size());
  EXPECT_LT(Find(texts, "Enumerate answers 2: 2 readers to open"), texts.size());
  EXPECT_LT(Find(texts, "reader 0: OpenReader answers 0"), texts.size());
  EXPECT_LT(Find(texts, "reader 1: OpenReader answers -5"), texts.size());
  // Reader 0's reads: failing, then answering "no card", then the cards; each change once.
  const size_t failing = Find(texts, "reader 0: ReadCardNumber answers -1 since ");
  const size_t recovered = Find(texts, "reader 0: ReadCardNumber answers 1 since ", "; before: -1 since ", failing);
  ASSERT_LT(recovered, texts.size());
  EXPECT_NE(texts[recovered].find(", 3 times"), std::string::npos) << "the three failed reads";
  const size_t first = Find(texts, "reader 0: card ****B2C3 accepted", "", recovered);
  const size_t sink = Find(texts, "reader 0: the host's event sink failed: ", "the host refuses the event", first);
  const size_t second = Find(texts, "reader 0: card ****B2C4 accepted", "", sink);
  EXPECT_LT(second, texts.size()) << "the card, the sink's failure, the next card";
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [](const std::string& text) { return text.rfind("reader 1: ReadCardNumber answers -1", 0) == 0; }),
            1)
      << "a reader that keeps failing is one line, not one per poll";
#ifdef _WIN32
  EXPECT_LT(Find(texts, "Structured exception 0xC0000005 ", "caught by the guard in "), texts.size())
      << "the access violation in BeepBlink";
#endif
  EXPECT_LT(Find(texts, "device {C0000000-0000-0000-0000-000000000001} \"Вход\": switched on, code 0 (Операция выполнена успешно), repeat interval 1500 ms"),
            texts.size());
  EXPECT_LT(Find(texts, "host call SwitchOn, kind 1: true, result 0, ", " ms"), texts.size());
  EXPECT_LT(Find(texts, "device {C0000000-0000-0000-0000-000000000001} \"Вход\": switched off, code 0"), texts.size());
  EXPECT_LT(Find(texts, "host call НетТакогоМетода, kind 1: error "), texts.size());

  // The same run as the built-in statistics call reports it: parameter 0 of the host's record.
  TParamsPtr statistics = Call("__@@Statistics", 0);
  ASSERT_FALSE(statistics->HasError);
  const OleVariant answer = ParamOf(*statistics, 0);
  ASSERT_EQ(V_VT(&answer), VT_BSTR);
  const std::string text = Utf8FromWide(WideStringView(V_BSTR(&answer), SysStringLen(V_BSTR(&answer))));
  EXPECT_EQ(text.rfind("device=1;on=0;id={C0000000-0000-0000-0000-000000000001};name=Вход\r\nenumerate=2\r\n", 0), 0u) << text;
  EXPECT_NE(text.find("reader=1;open=-5;"), std::string::npos) << text;
  EXPECT_NE(text.find(";cards=2;repeats=0;sinkFailures=1;"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\ndevice=2;on=0;id={C0000000-0000-0000-0000-000000000002};name=Выход\r\n"), std::string::npos)
      << "a device never switched on has no reader lines: " << text;
}

}  // namespace
