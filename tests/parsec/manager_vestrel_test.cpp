// The Parsec device, its list and its polling thread, against the reader simulator: what the
// host receives for each card, what the readers are told, and how start-up and stop fail.
#include "parsec/manager_vestrel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/execution_mode.h"
#include "base/global_id.h"
#include "base/host_call_lock.h"
#include "config/locale_formats.h"
#include "devices/model_list.h"
#include "parsec/reader_library.h"
#include "parsec/vestrel_settings_form.h"
#include "parsec_test_support.h"
#include "platform/child_process.h"
#include "platform/desktop.h"
#include "platform/file_system.h"
#include "platform/named_mutex.h"
#include "platform/process_info.h"
#include "platform/text_codec.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

using Fault = SimulatorControl::FaultKind;

constexpr uint32_t kCard = 0x1234ABCDu;
constexpr uint32_t kOtherCard = 0x00A1B2C3u;

bool MarkerExists() { return platform::NamedMutexExists(kReaderLibraryMutexName); }

std::string Utf8(const AnsiString& text) { return Utf8FromAnsi(text); }
std::string Utf8(const WideString& text) { return Utf8FromWide(text); }

// ---- The list: model, parameter definitions, error texts ----

TEST(ManagerVestrelList, RegistersTheParsecModelWithItsParametersAndErrorTexts) {
  TManagerVestrelList list(ItemClassOf<TManagerVestrel>());
  const TModelPluItem* model = list.Models().Current();
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(list.Models().CurrentIndex(), 0);
  EXPECT_EQ(Utf8(GlobalIdToStr(model->ClassId)), "{4F739246-8166-4CE3-8977-8CA2E7D36E62}");
  EXPECT_EQ(Utf8(model->DisplayName), "Считыватель проксимити карт Parsec");
  EXPECT_EQ(Utf8(model->NamePrefix), "Считыватель проксимити карт Parsec №");
  EXPECT_EQ(Utf8(model->ModelKey), "Проксимити_Parsec");
  EXPECT_EQ(Utf8(model->EquipmentClass), "Сканер");
  EXPECT_EQ(Utf8(model->ClassDescription), "Сканер штрихкодов / считыватель карт");
  EXPECT_EQ((std::vector<int32_t>{model->Flag1, model->Flag2, model->Flag3, model->Flag4, model->UsesHost}),
            (std::vector<int32_t>{1, 1, 1, 1, 0}));
  EXPECT_FALSE(list.Flag1());
  EXPECT_FALSE(list.Flag2());

  struct Expected {
    const char *Name, *Caption, *Type, *Default, *Description;
  };
  const Expected definitions[] = {
      {"ИнтервалПовтора", "Мин. интервал повтора", "Integer", "2000", "Мин. интервал повтора кода"},
      {"СтарыйФорматДанных", "Старый формат данных", "Integer", "1",
       "Выдача разультата в старом формате (для совместимости со ПО прошлых версий)"},
  };
  for (const Expected& expected : definitions) {
    SCOPED_TRACE(expected.Name);
    const TPropItem* definition = list.ParamDefinitions().FindProp(AnsiFromUtf8(expected.Name));
    ASSERT_NE(definition, nullptr);
    EXPECT_EQ(Utf8(definition->Caption), expected.Caption);
    EXPECT_EQ(Utf8(definition->TypeName), expected.Type);
    EXPECT_EQ(Utf8(definition->Default), expected.Default);
    EXPECT_EQ(Utf8(definition->Value), expected.Default);
    EXPECT_EQ(Utf8(definition->Description), expected.Description);
    EXPECT_EQ(definition->ReadOnly, 0);
  }
  const TPropItem* unshared = list.ParamDefinitions().FindProp(AnsiFromUtf8("Неразделяемое"));
  ASSERT_NE(unshared, nullptr);
  EXPECT_EQ(unshared->Value, "1");
  EXPECT_EQ(unshared->Default, "1");
  EXPECT_EQ(unshared->ReadOnly, 0);

  // A new device starts from every definition at its default, named after the model.
  TDeviceItem* device = list.NewDevice();
  EXPECT_EQ(device->GetParamValue(RepeatIntervalParamName()), "2000");
  EXPECT_EQ(device->GetParamValue(OldDataFormatParamName()), "1");
  EXPECT_EQ(device->GetParamValue(AnsiFromUtf8("Неразделяемое")), "1");
  EXPECT_EQ(Utf8(device->DeviceName()), "Считыватель проксимити карт Parsec №1");

  const char* texts[] = {
      "Операция выполнена успешно", "Порт недоступен", "Нет связи", "Устройство не обнаружено",
      "Неверный тип параметра", "Недопустимое значение параметра", "Ошибка в данных", "Внутренняя ошибка",
      "Отмена действия", "Ошибка загрузки библиотеки prx08.dll",
      "Устройство PR-x08 не найдено или драйвера устройства не установлены корректно",
      "Устройство PR-x08 уже используется. Допускается использование только одного экземпляра оборудования "
      "данной модели на одном ПК."};
  for (int32_t code = 0; code < 12; ++code) EXPECT_EQ(Utf8(list.GetErrorText(code)), texts[code]) << code;
  EXPECT_EQ(Utf8(list.GetErrorText(12)), "Ошибка. Код №12");
  EXPECT_EQ(Utf8(list.GetErrorText(-1)), "Ошибка. Код №-1");
  EXPECT_EQ(Utf8(device->GetErrorText(11)), texts[11]) << "the device answers with its list's texts";
}

// ---- Code text and repeat rule ----

TEST(CardCode, EightUpperCaseDigitsAndTheRepeatRuleAcrossTheWrap) {
  EXPECT_EQ(CardCodeText(0x00A1B2C3u), "00A1B2C3");
  EXPECT_EQ(CardCodeText(0xFFFFFFFFu), "FFFFFFFF");
  EXPECT_EQ(CardCodeText(0u), "00000000");

  const TReaderCode last{"1234ABCD", 0xFFFFFC18u};  // accepted 1000 ms before the wrap
  EXPECT_TRUE(IsRepeatedCode(last, "1234ABCD", 2000, 0x000001F4u)) << "1500 ms later, across the wrap";
  EXPECT_FALSE(IsRepeatedCode(last, "1234ABCD", 2000, 0x000003E8u)) << "exactly the interval later";
  EXPECT_FALSE(IsRepeatedCode(last, "00A1B2C3", 2000, 0xFFFFFC19u)) << "another code is new at once";
  EXPECT_FALSE(IsRepeatedCode(TReaderCode{"", 0}, "00000000", 2000, 0)) << "the first code after open";
  // Shown again more than 2^31 ms (24.9 days) after its acceptance: new, not a repeat.
  EXPECT_FALSE(IsRepeatedCode(TReaderCode{"1234ABCD", 0}, "1234ABCD", 2000, 0x80000001u));
  EXPECT_FALSE(IsRepeatedCode(TReaderCode{"1234ABCD", 0x10u}, "1234ABCD", 2000, 0xC0000000u));
}

// ---- The settings seam ----

TEST(ManagerVestrelSettings, CancelledUnlessADialogConfirmsThenStoresItsValues) {
  TManagerVestrelList list(ItemClassOf<TManagerVestrel>());
  auto* device = static_cast<TManagerVestrel*>(list.NewDevice());
  SetSettingsPresenter([](TfmVestrelSettings&) { return platform::kModalCancel; });
  EXPECT_EQ(device->ShowSettings(), 8);
  EXPECT_EQ(device->GetParamValue(RepeatIntervalParamName()), "2000") << "a cancel stores nothing";

  SetSettingsPresenter([](TfmVestrelSettings& shown) {
    shown.SetIntervalText(IntToText(shown.GetRepeatInterval() + 500));
    shown.SetOldFormatChecked(false);
    shown.SetDeviceNameText("Kassa 2");
    return platform::kModalOk;
  });
  EXPECT_EQ(device->ShowSettings(), 0);
  SetSettingsPresenter(nullptr);
  EXPECT_EQ(device->GetParamValue(RepeatIntervalParamName()), "2500");
  EXPECT_EQ(device->GetParamValue(OldDataFormatParamName()), "0");
  EXPECT_EQ(device->DeviceName(), "Kassa 2");
}

// ---- Cards and events ----

TEST_F(ParsecDeviceTest, ACardBecomesOneEventInTheChosenFormatAndABeep) {
  for (const char* oldFormat : {"0", "1"}) {
    SCOPED_TRACE(oldFormat);
    Simulator.Reset();
    Sink.Misbehave(RecordingSink::Behaviour::Accept, 0);
    TManagerVestrel* device = NewDevice();
    SetParam(device, "СтарыйФорматДанных", oldFormat);
    ASSERT_EQ(SwitchOn(device), 0);
    EXPECT_TRUE(device->Active());
    const size_t before = Sink.Count();
    Simulator.TapCard(0, kCard);
    WaitForEvents(before + 1);
    WaitForTurns(0);
    std::vector<ReceivedEvent> events = Sink.Events();
    ASSERT_EQ(events.size(), before + 1);
    const ReceivedEvent& event = events.back();
    EXPECT_EQ(event.Data, std::string(oldFormat) == "1" ? "001234ABCD" : "1234ABCD");
    EXPECT_EQ(event.Source, "Сканер");
    EXPECT_EQ(event.DeviceIdText, Utf8(GlobalIdToStr(device->DeviceId())));
    EXPECT_EQ(event.DeviceIdText.size(), 38u);
    EXPECT_TRUE(SameGlobalId(event.DeviceId, device->DeviceId()));
    EXPECT_EQ(event.DeviceIdPointer, device->CardEventDeviceId()) << "the device's own storage, not a copy";
    EXPECT_TRUE(SameGlobalId(*event.DeviceIdPointer, device->DeviceId())) << "still readable after the event";
    EXPECT_NE(Sink.LastThreadId(), platform::CurrentThreadId()) << "sent from the polling thread";
    EXPECT_EQ(Simulator.CallLog(), "Enumerate -> 1\nOpenReader 0\nSetBeepBlinkMode 0 0 1\nSetWiegand26 " +
                                       std::string(oldFormat) + "\nBeepBlink 0\n");
    SwitchOff(device);
    EXPECT_FALSE(device->Active());
    EXPECT_EQ(Simulator.CallLog().substr(Simulator.CallLog().size() - 14), "CloseReader 0\n");
    EXPECT_FALSE(MarkerExists()) << "the library is unloaded at stop";
  }
}

TEST_F(ParsecDeviceTest, RepeatsWithinTheIntervalAreDroppedAndOtherCardsAcceptedAtOnce) {
  TManagerVestrel* device = NewDevice();
  ASSERT_EQ(SwitchOn(device), 0);
  EXPECT_EQ(device->RepeatInterval(), 2000);
  Simulator.FreezeClock(0xFFFFFB00u);  // the wrap falls inside the test
  Simulator.PresentCard(0, kCard);
  WaitForEvents(1);
  WaitForTurns(0);
  Simulator.AdvanceClock(500);
  WaitForTurns(0);
  Simulator.AdvanceClock(1499);
  WaitForTurns(0);
  EXPECT_EQ(Sink.Count(), 1u) << "a card held for 1999 ms is one event";
  EXPECT_EQ(Simulator.CallCount("BeepBlink"), 1) << "and one beep";
  Simulator.AdvanceClock(1);
  WaitForEvents(2);
  WaitForTurns(0);
  EXPECT_EQ(Simulator.CallCount("BeepBlink"), 2);

  Simulator.PresentCard(0, kOtherCard);
  WaitForEvents(3);
  Simulator.PresentCard(0, kCard);
  WaitForEvents(4);
  WaitForTurns(0);
  EXPECT_EQ(Sink.Data(), (std::vector<std::string>{"001234ABCD", "001234ABCD", "0000A1B2C3", "001234ABCD"}))
      << "the second card is new at once, and so is the first after it";
}

TEST_F(ParsecDeviceTest, TheRepeatIntervalIsRaisedTo100) {
  TManagerVestrel* device = NewDevice();
  for (auto [value, expected] : {std::pair<const char*, int32_t>{"50", 100}, {"", 100}, {"2500", 2500}}) {
    SetParam(device, "ИнтервалПовтора", value);
    ASSERT_EQ(SwitchOn(device), 0);
    EXPECT_EQ(device->RepeatInterval(), expected) << value;
    SwitchOff(device);
  }
  SetParam(device, "ИнтервалПовтора", "50");
  ASSERT_EQ(SwitchOn(device), 0);
  Simulator.FreezeClock(1000);
  Simulator.PresentCard(0, kCard);
  WaitForEvents(1);
  Simulator.AdvanceClock(99);
  WaitForTurns(0);
  EXPECT_EQ(Sink.Count(), 1u);
  Simulator.AdvanceClock(1);
  WaitForEvents(2);
}

TEST_F(ParsecDeviceTest, TwoReadersKeepTheirOwnCodesAndTimes) {
  Simulator.SetReaderCount(2);
  TManagerVestrel* device = NewDevice();
  ASSERT_EQ(SwitchOn(device), 0);
  EXPECT_EQ(Simulator.CallLog(),
            "Enumerate -> 2\nOpenReader 0\nSetBeepBlinkMode 0 0 1\nSetWiegand26 1\n"
            "OpenReader 1\nSetBeepBlinkMode 1 0 1\nSetWiegand26 1\n");
  Simulator.FreezeClock(5000);
  // Both at once: a script's events of one time are applied together.
  ASSERT_EQ(Simulator.LoadScriptText("0 present 0 1234ABCD\n0 present 1 1234ABCD\n"), 2);
  WaitForEvents(2);
  EXPECT_EQ(Sink.Data(), (std::vector<std::string>{"001234ABCD", "001234ABCD"})) << "the same card on both";
  Simulator.AdvanceClock(1000);
  Simulator.PresentCard(1, kOtherCard);
  WaitForEvents(3);
  WaitForTurns(0);
  WaitForTurns(1);
  Simulator.AdvanceClock(1000);  // reader 0's card is 2000 ms old, reader 1's only 1000 ms
  Simulator.PresentCard(1, kOtherCard);
  WaitForEvents(4);
  WaitForTurns(0);
  WaitForTurns(1);
  EXPECT_EQ(Sink.Data(), (std::vector<std::string>{"001234ABCD", "001234ABCD", "0000A1B2C3", "001234ABCD"}));
  EXPECT_EQ(Simulator.CallCount("BeepBlink"), 4);
  // The pass that first sees the script may already be past reader 0, so the first two beeps
  // come in either order; then reader 1's other card, then reader 0's card once its interval is over.
  const std::string log = Simulator.CallLog();
  const std::string later = "BeepBlink 1\nBeepBlink 0\n";
  EXPECT_TRUE(log.find("BeepBlink 0\nBeepBlink 1\n" + later) != std::string::npos ||
              log.find("BeepBlink 1\nBeepBlink 0\n" + later) != std::string::npos)
      << log;
}

TEST_F(ParsecDeviceTest, ComponentModesReadFilterAndBeepButSendNothing) {
  for (uint8_t mode : {EXECUTION_MODE_V7, EXECUTION_MODE_V8}) {
    SCOPED_TRACE(static_cast<int>(mode));
    Simulator.Reset();
    SetExecutionMode(mode);
    TManagerVestrel* device = NewDevice();
    ASSERT_EQ(SwitchOn(device), 0);
    Simulator.FreezeClock(100);
    Simulator.PresentCard(0, kCard);
    WaitForTurns(0, 3);
    Simulator.PresentCard(0, kOtherCard);
    WaitForTurns(0, 3);
    EXPECT_EQ(Sink.Count(), 0u);
    EXPECT_EQ(Simulator.CallCount("BeepBlink"), 2) << "both cards beeped once, the held one filtered";
    SwitchOff(device);
  }
}

TEST_F(ParsecDeviceTest, AChangedOldFormatAppliesToTheNextCodeButWiegandOnlyAtTheNextOpen) {
  TManagerVestrel* device = NewDevice();
  ASSERT_EQ(SwitchOn(device), 0);
  Simulator.TapCard(0, kCard);
  WaitForEvents(1);
  SetParam(device, "СтарыйФорматДанных", "0");
  Simulator.TapCard(0, kOtherCard);
  WaitForEvents(2);
  EXPECT_EQ(Sink.Data(), (std::vector<std::string>{"001234ABCD", "00A1B2C3"}));
  EXPECT_EQ(Simulator.CallCount("SetWiegand26"), 1);
  EXPECT_NE(Simulator.CallLog().find("SetWiegand26 1\n"), std::string::npos);
  SwitchOff(device);
  ASSERT_EQ(SwitchOn(device), 0);
  EXPECT_NE(Simulator.CallLog().find("SetWiegand26 0\n"), std::string::npos);
}

// The host's thread rewrites the parameters while the polling thread reads them for every
// code: every event is whole in one format or the other, and the last setting holds.
TEST_F(ParsecDeviceTest, ParameterChangesWhilePollingAreSafe) {
  Simulator.SetReaderCount(2);
  TManagerVestrel* device = NewDevice();
  ASSERT_EQ(SwitchOn(device), 0);
  std::atomic<bool> done{false};
  std::thread cards([&] {
    for (uint32_t card = 1; card <= 40; ++card) {
      Simulator.TapCard(static_cast<int32_t>(card % 2), card);
      WaitForTurns(static_cast<int32_t>(card % 2));
    }
    done = true;
  });
  for (int round = 0; !done; ++round) {
    SetParam(device, "СтарыйФорматДанных", round % 2 ? "1" : "0");
    SetParam(device, "ИнтервалПовтора", std::to_string(100 + round % 50));
    device->SetDeviceName("Kassa " + std::to_string(round));
    device->GetParamValue(OldDataFormatParamName());
  }
  cards.join();
  std::vector<std::string> data = Sink.Data();
  ASSERT_EQ(data.size(), 40u);
  for (size_t i = 0; i < data.size(); ++i) {
    const std::string digits = CardCodeText(static_cast<uint32_t>(i + 1));
    EXPECT_TRUE(data[i] == digits || data[i] == "00" + digits) << data[i];
  }
  SetParam(device, "СтарыйФорматДанных", "0");
  Simulator.TapCard(0, kCard);
  WaitForEvents(41);
  EXPECT_EQ(Sink.Data().back(), "1234ABCD");
}

// ---- Failures at start-up ----

TEST_F(ParsecDeviceTest, MissingLibraryAndMissingReadersFailWithTheirCodes) {
  TManagerVestrel* device = NewDevice();
  const std::string empty = TestScratchFolder() + "no_library";
  std::filesystem::create_directories(empty);
  SetReaderLibraryFolder(empty);
  EXPECT_EQ(SwitchOn(device), 9);
  EXPECT_FALSE(device->Active());
  EXPECT_EQ(ErrorText(device->ErrorCode()), "Ошибка загрузки библиотеки prx08.dll");

  SetReaderLibraryFolder(std::string(PRX08_SIMULATOR_FOLDER) + "without_GetReaderInfo");
  EXPECT_EQ(SwitchOn(device), 9) << "a library lacking an entry point";
  EXPECT_FALSE(MarkerExists());

  SetReaderLibraryFolder(PRX08_SIMULATOR_FOLDER);
  Simulator.SetReaderCount(0);
  EXPECT_EQ(SwitchOn(device), 10);
  EXPECT_FALSE(device->Active());
  EXPECT_FALSE(MarkerExists()) << "the failed start-up's own library is unloaded again";
  EXPECT_EQ(Simulator.CallLog(), "Enumerate -> 0\n");
  Simulator.SetReaderCount(1);
  EXPECT_EQ(SwitchOn(device), 0) << "nothing is left bound";
  platform::ChangeCurrentDirectory(OriginalDirectory);
}

TEST_F(ParsecDeviceTest, ASecondDeviceFailsWith11AndLeavesTheFirstRunning) {
  TManagerVestrel* first = NewDevice();
  TManagerVestrel* second = NewDevice();
  ASSERT_EQ(SwitchOn(first), 0);
  EXPECT_EQ(SwitchOn(second), 11);
  EXPECT_FALSE(second->Active());
  EXPECT_EQ(ErrorText(second->ErrorCode()).rfind("Устройство PR-x08 уже используется.", 0), 0u);
  EXPECT_TRUE(first->Active());
  EXPECT_TRUE(MarkerExists()) << "the second device's stop left the library alone";
  Simulator.TapCard(0, kCard);
  WaitForEvents(1);
  EXPECT_EQ(Sink.Events().back().DeviceIdText, Utf8(GlobalIdToStr(first->DeviceId())));
  EXPECT_EQ(Simulator.CallCount("Enumerate"), 1) << "the second device opened no reader";
}

// The second process: a copy of this test program that switches a device of its own on and off
// (see SecondProcess below), its simulator writing its call log to a file.
int RunSecondProcess(const std::string& simulatorLog) {
  platform::ChildProcess child = platform::ChildProcess::Start(
      platform::ExecutableFileName(), {"--gtest_filter=SecondProcess.SwitchesADeviceOnAndOff"},
      {"VESTREL_PARSEC_SECOND_PROCESS=1", "PRX08_SIM_LOG=" + simulatorLog});
  if (!child.IsStarted()) return -1;
  return child.Wait(120000).value_or(-2);
}

std::string FileText(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

TEST_F(ParsecDeviceTest, ADeviceInAnotherProcessFailsWith11AndLeavesTheFirstRunning) {
  TManagerVestrel* device = NewDevice();
  ASSERT_EQ(SwitchOn(device), 0);
  const std::string childLog = TestScratchFolder() + "second_process.log";
  std::filesystem::remove(childLog);
  EXPECT_EQ(RunSecondProcess(childLog), 42) << "the second process saw code 11";
  EXPECT_EQ(FileText(childLog), "") << "the second process never loaded its reader library";
  Simulator.TapCard(0, kCard);
  WaitForEvents(1);
  EXPECT_TRUE(device->Active());

  SwitchOff(device);
  EXPECT_EQ(RunSecondProcess(childLog), 43) << "with the first device off, the second process opens";
  EXPECT_EQ(FileText(childLog), "Enumerate -> 1\nOpenReader 0\nSetBeepBlinkMode 0 0 1\nSetWiegand26 1\nCloseReader 0\n")
      << "the simulator of a separate process logs to the file it was given";
  std::filesystem::remove(childLog);
}

// Exit code 42: the device failed with 11; 43: it switched on (and off again); 1: otherwise.
TEST(SecondProcess, SwitchesADeviceOnAndOff) {
  if (!platform::EnvironmentVariable("VESTREL_PARSEC_SECOND_PROCESS")) GTEST_SKIP() << "run by the test above";
  InitializeReaderLibraryBinding();
  SetReaderLibraryFolder(PRX08_SIMULATOR_FOLDER);
  int outcome = 1;
  {
    TManagerVestrelList list(ItemClassOf<TManagerVestrel>());
    auto* device = static_cast<TManagerVestrel*>(list.NewDevice());
    device->SetActive(1);
    if (device->ErrorCode() == 11 && !device->Active()) outcome = 42;
    if (device->ErrorCode() == 0 && device->Active()) outcome = 43;
    device->SetActive(0);
  }
  std::_Exit(outcome);
}

// A reader-library call that never returns: every wait for the stuck thread ends, the device
// reports 2, the stuck thread keeps the library (later switch-ons answer 2, not 11), and once
// the call returns it cleans up and the reader works again.
TEST_F(ParsecDeviceTest, ACallThatNeverReturnsIsAbandonedAndEveryWaitEnds) {
  SetPollingThreadWaits(1000, 1000);
  TManagerVestrel* device = NewDevice();
  TManagerVestrel* other = NewDevice();
  Simulator.SetDelay("Enumerate", SimulatorControl::kBlock);
  {
    THangWatch watch("a switch-on with Enumerate blocked", 60);
    EXPECT_EQ(SwitchOn(device), 2);
    EXPECT_EQ(ErrorText(device->ErrorCode()), "Нет связи");
    EXPECT_FALSE(device->Active());
    EXPECT_TRUE(MarkerExists()) << "the stuck thread keeps the library bound";
    EXPECT_EQ(SwitchOn(device), 2) << "while the call is stuck, not 11";
    EXPECT_EQ(SwitchOn(other), 2);
    SwitchOff(device);
    EXPECT_EQ(device->ErrorCode(), 0);
  }
  EXPECT_EQ(Simulator.CallCount("Enumerate"), 1) << "nothing else called into the stuck library";
  Simulator.Release("Enumerate");
  ASSERT_TRUE(WaitForPollingThreadsToEnd(60000));
  EXPECT_FALSE(MarkerExists()) << "the thread released the library when its call returned";
  // The abandoned thread no longer reads its device (it may be gone): Wiegand 26 is not asked for.
  EXPECT_EQ(Simulator.CallLog(), "Enumerate -> 1\nOpenReader 0\nSetBeepBlinkMode 0 0 1\nSetWiegand26 0\nCloseReader 0\n");
  ASSERT_EQ(SwitchOn(device), 0);

  // Stuck while polling: the switch-off ends, reports 2, and the device is off.
  WaitForTurns(0, 1);
  Simulator.SetDelay("ReadCardNumber", SimulatorControl::kBlock);
  WaitForTurns(0, 1);
  {
    THangWatch watch("a switch-off with ReadCardNumber blocked", 60);
    Simulator.RunClock();
    EXPECT_EQ(device->SetActive(0), 2);
    EXPECT_FALSE(device->Active());
    EXPECT_EQ(SwitchOn(other), 2);
    other->ReleaseItem();  // deleting a device that is off
  }
  Simulator.Release("ReadCardNumber");
  ASSERT_TRUE(WaitForPollingThreadsToEnd(60000));
  EXPECT_FALSE(MarkerExists());
  EXPECT_EQ(SwitchOn(device), 0);
}

TEST_F(ParsecDeviceTest, AStartUpThatRaisesReleasesWhatItBoundAndReportsTheFailure) {
  TManagerVestrel* device = NewDevice();
  // The device refuses such a value; it is put in place behind its back.
  device->WithProps([](TPropList& props) { props.SetValueText(OldDataFormatParamName(), "abc"); });
  EXPECT_EQ(SwitchOn(device), 5);
  EXPECT_EQ(ErrorText(device->ErrorCode()), "Недопустимое значение параметра");
  EXPECT_FALSE(MarkerExists()) << "the library went with the failed start-up";
  EXPECT_EQ(Simulator.CallLog(), "Enumerate -> 1\nOpenReader 0\nSetBeepBlinkMode 0 0 1\nCloseReader 0\n");

  Simulator.ResetLog();
  Simulator.SetFault("OpenReader", 0, Fault::Raise, 0, 1);
  SetParam(device, "СтарыйФорматДанных", "1");
  EXPECT_EQ(SwitchOn(device), 7) << "a reader library that raises at open";
  EXPECT_FALSE(MarkerExists());
  EXPECT_EQ(SwitchOn(device), 0) << "later opens work: nothing was left bound";
}

// ---- Stop ----

TEST_F(ParsecDeviceTest, SwitchingOffWaitsForThePollInProgress) {
  TManagerVestrel* device = NewDevice();
  ASSERT_EQ(SwitchOn(device), 0);
  WaitForTurns(0, 1);
  Simulator.SetDelay("ReadCardNumber", SimulatorControl::kBlock);
  const int32_t polls = Simulator.PollCount(0);
  WaitForTurns(0, 1);  // the thread is inside the blocked read now
  ASSERT_EQ(Simulator.PollCount(0), polls + 1);
  std::atomic<bool> off{false};
  std::thread closer([&] {
    SwitchOff(device);
    off = true;
  });
  platform::SleepMilliseconds(200);
  EXPECT_FALSE(off) << "the stop waits for the thread";
  EXPECT_EQ(Simulator.CallLog().find("CloseReader"), std::string::npos);
  Simulator.Release("ReadCardNumber");
  closer.join();
  EXPECT_TRUE(off);
  const std::string log = Simulator.CallLog();
  EXPECT_EQ(log.substr(log.size() - 14), "CloseReader 0\n");
  EXPECT_FALSE(MarkerExists());
}

// ---- Faults while polling ----

TEST_F(ParsecDeviceTest, FaultsOfTheReaderLibraryAndTheHostCostOneTurnOnly) {
  Simulator.SetReaderCount(2);
  TManagerVestrel* device = NewDevice();
  ASSERT_EQ(SwitchOn(device), 0);

  // Reader 0 raises on every read, and answers nonsense on the raw read: reader 1 goes on.
  Simulator.SetFault("ReadCardNumber", 0, Fault::Raise, 0, SimulatorControl::kAlways);
  Simulator.SetFault("ReadCardNumberRaw", 0, Fault::Answer, -7, SimulatorControl::kAlways);
  Simulator.PresentCard(0, kOtherCard);
  Simulator.TapCard(1, 1);
  WaitForEvents(1);
  WaitForTurns(0);
  Simulator.SetFault("ReadCardNumber", 0, Fault::None, 0, 0);
  WaitForEvents(2);
  EXPECT_EQ(Sink.Data(), (std::vector<std::string>{"0000000001", "0000A1B2C3"})) << "reader 0 works again";
  Simulator.RemoveCard(0);

  // A reader whose read answers "no card" otherwise than with a number sends nothing.
  Simulator.SetFault("ReadCardNumber", 1, Fault::Answer, -5, 2);
  Simulator.TapCard(1, 2);
  WaitForEvents(3);
  EXPECT_EQ(Sink.Data().back(), "0000000002") << "the tapped card waited through the faults";

  // The host throws: the code counts as taken (no beep), polling goes on.
  const int32_t beeps = Simulator.CallCount("BeepBlink");
  Sink.Misbehave(RecordingSink::Behaviour::Throw, 1);
  Simulator.TapCard(0, 3);
  WaitForEvents(4);
  WaitForTurns(0);
  EXPECT_EQ(Simulator.CallCount("BeepBlink"), beeps);
  Simulator.TapCard(0, 4);
  WaitForEvents(5);
  WaitForTurns(0);
  EXPECT_EQ(Simulator.CallCount("BeepBlink"), beeps + 1);

  // A beep that raises ends the turn after the event.
  Simulator.SetFault("BeepBlink", 1, Fault::Raise, 0, 1);
  Simulator.TapCard(1, 5);
  WaitForEvents(6);
  Simulator.TapCard(1, 6);
  WaitForEvents(7);
  EXPECT_EQ(Sink.Data().back(), "0000000006");
  EXPECT_TRUE(device->Active());
}

#if defined(_WIN32)
// Structured exceptions as a host written in another language and a faulty library raise them:
// the process lives on and the next card arrives.
TEST_F(ParsecDeviceTest, StructuredExceptionsOfTheHostAndTheLibraryAreSurvived) {
  TManagerVestrel* device = NewDevice();
  ASSERT_EQ(SwitchOn(device), 0);
  Sink.Misbehave(RecordingSink::Behaviour::Raise, 1);
  Simulator.TapCard(0, 1);
  WaitForEvents(1);
  Simulator.TapCard(0, 2);
  WaitForEvents(2);
  Simulator.SetFault("ReadCardNumber", 0, Fault::AccessViolation, 0, 1);
  Simulator.SetFault("BeepBlink", 0, Fault::Raise, 0, 1);
  Simulator.TapCard(0, 3);
  WaitForEvents(3);
  Simulator.TapCard(0, 4);
  WaitForEvents(4);
  EXPECT_EQ(Sink.Data(), (std::vector<std::string>{"0000000001", "0000000002", "0000000003", "0000000004"}));
  EXPECT_TRUE(device->Active());
}
#endif

// While "Включить" waits for the start-up, another host thread's call deletes the device: the
// switch-on ends on a device that is still alive and only then lets it go.
TEST_F(ParsecDeviceTest, ADeviceDeletedWhileItSwitchesOnStaysAliveUntilTheSwitchEnds) {
  SetPollingThreadWaits(1000, 1000);
  TManagerVestrel* device = NewDevice();
  Simulator.SetDelay("Enumerate", SimulatorControl::kBlock);
  std::thread task([&] {
    while (Simulator.CallCount("Enumerate") == 0) platform::SleepMilliseconds(2);
    THostCallScope call;  // given up by the waiting switch-on
    device->ReleaseItem();
  });
  {
    THostCallScope call;
    EXPECT_EQ(device->SetActive(1), 2);
  }
  task.join();
  EXPECT_EQ(List->Count(), 0);
  Simulator.Release("Enumerate");
}

// ---- The host's sink acts from inside the event ----

// A host's event handler switches the device off or deletes it while it handles the card: the
// device is off at once, the thread ends by itself after the event, and switching on again
// right away finds the reader free.
TEST_F(ParsecDeviceTest, SwitchingOffOrDeletingFromInsideTheEventEndsTheThreadAfterIt) {
  for (bool deleteIt : {false, true}) {
    SCOPED_TRACE(deleteIt ? "deleted" : "switched off");
    TManagerVestrel* device = NewDevice();
    ASSERT_EQ(SwitchOn(device), 0);
    std::atomic<int> activeInside{-1};
    std::atomic<bool> handled{false};
    Sink.OnEvent([&] {
      THostCallScope call;
      Sink.OnEvent(nullptr);
      if (deleteIt) {
        device->ReleaseItem();
      } else {
        device->SetActive(0);
        activeInside = device->Active() ? 1 : 0;
      }
      handled = true;
    });
    const size_t before = Sink.Count();
    THangWatch watch("a stop from inside the event", 60);
    Simulator.TapCard(0, kCard);
    ASSERT_TRUE(WaitUntil([&] { return handled.load(); }));
    TManagerVestrel* next = nullptr;
    {
      THostCallScope call;
      next = deleteIt ? NewDevice() : device;
      EXPECT_EQ(SwitchOn(next), 0) << "the stopped thread let the reader go first";
    }
    if (!deleteIt) {
      EXPECT_EQ(activeInside.load(), 0) << "off at once, inside the event";
    }
    Simulator.TapCard(0, kOtherCard);
    WaitForEvents(before + 2);
    SwitchOff(next);
    EXPECT_FALSE(MarkerExists());
    if (deleteIt) {
      EXPECT_EQ(List->Count(), 1);
    }
    next->ReleaseItem();
  }
}

// Two host threads switch two devices on at the same moment: the library is bound once, by one
// of them; the other answers 11; nobody unloads what another bound.
TEST_F(ParsecDeviceTest, TwoSwitchOnsAtOnceBindTheLibraryOnce) {
  TManagerVestrel* devices[2] = {NewDevice(), NewDevice()};
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    std::atomic<int> ready{0};
    int32_t codes[2] = {-1, -1};
    std::thread first([&] {
      ++ready;
      while (ready < 2) std::this_thread::yield();
      codes[0] = SwitchOn(devices[0]);
    });
    ++ready;
    while (ready < 2) std::this_thread::yield();
    codes[1] = SwitchOn(devices[1]);
    first.join();
    ASSERT_EQ(std::min(codes[0], codes[1]), 0);
    ASSERT_EQ(std::max(codes[0], codes[1]), 11);
    const size_t before = Sink.Count();
    Simulator.TapCard(0, static_cast<uint32_t>(round + 1));
    WaitForEvents(before + 1);
    EXPECT_EQ(Sink.Events().back().DeviceIdText, Utf8(GlobalIdToStr(devices[codes[0] == 0 ? 0 : 1]->DeviceId())));
    SwitchOff(devices[0]);
    SwitchOff(devices[1]);
    ASSERT_FALSE(MarkerExists());
  }
}

// ---- What the library answers, and how the thread spends its time ----

TEST_F(ParsecDeviceTest, AReaderCountBeyond16OpensTheFirst16) {
  Simulator.SetFault("Enumerate", SimulatorControl::kEveryReader, Fault::Answer, 32767, 1);
  TManagerVestrel* device = NewDevice();
  ASSERT_EQ(SwitchOn(device), 0);
  EXPECT_EQ(Simulator.CallCount("OpenReader"), 16);
  WaitForTurns(15, 1);
  EXPECT_EQ(Simulator.PollCount(16), -1) << "no reader index beyond 15 is used";
  SwitchOff(device);
  EXPECT_EQ(Simulator.CallCount("CloseReader"), 16);
}

// The 100 ms of message dispatch at the end sleeps until a message comes, instead of asking
// the queue over and over.
TEST_F(ParsecDeviceTest, TheStopWaitsForMessagesInsteadOfPollingTheQueue) {
  TManagerVestrel* device = NewDevice();
  ASSERT_EQ(SwitchOn(device), 0);
  WaitForTurns(0, 1);
  platform::ResetDesktopRecord();
  SwitchOff(device);
  EXPECT_LT(platform::RecordedDesktopActivity().MessagePolls, 50u);
}

// A reader pulled out: its calls fail, the device stays on and polls on without events; plugged
// back, it stays closed (nothing opens it again by itself).
TEST_F(ParsecDeviceTest, AnUnpluggedReaderFailsQuietlyAndStaysClosedWhenPluggedBack) {
  Simulator.SetReaderCount(2);
  TManagerVestrel* device = NewDevice();
  ASSERT_EQ(SwitchOn(device), 0);
  ASSERT_EQ(Simulator.LoadScriptText("0 unplug 0\n"), 1);
  Simulator.PresentCard(0, kCard);
  Simulator.TapCard(1, kOtherCard);
  WaitForEvents(1);
  WaitForTurns(0, 3);
  Simulator.Plug(0);
  Simulator.PresentCard(0, kCard);
  WaitForTurns(0, 3);
  EXPECT_EQ(Sink.Data(), (std::vector<std::string>{"0000A1B2C3"})) << "only the reader still plugged in";
  EXPECT_TRUE(device->Active());
  EXPECT_FALSE(Simulator.IsReaderOpen(0));
  SwitchOff(device);
  const std::string log = Simulator.CallLog();
  EXPECT_NE(log.find("unplug 0\n"), std::string::npos) << log;
  EXPECT_NE(log.find("plug 0\n"), std::string::npos) << log;
}

#if defined(_WIN32)
// The host's sink hands the card to its window thread and waits for it (a sent message) while
// that window thread, from inside its own message loop, switches the device off: the stop
// lets the sent message through instead of deadlocking.
constexpr UINT kCardMessage = WM_APP + 1, kSwitchOffMessage = WM_APP + 2;
TManagerVestrel* gWindowThreadDevice = nullptr;
std::atomic<bool> gSwitchingOff{false};
int gCardsSeen = 0;

// The host's window: it takes cards, and switches the device off from its message loop.
LRESULT CALLBACK HostWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kCardMessage) ++gCardsSeen;
  if (message == kSwitchOffMessage) {
    THostCallScope call;
    gSwitchingOff = true;
    gWindowThreadDevice->SetActive(0);
    PostQuitMessage(0);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(ParsecDeviceTest, ASinkThatWaitsForTheWindowThreadDoesNotDeadlockItsStop) {
  TManagerVestrel* device = gWindowThreadDevice = NewDevice();
  gSwitchingOff = false;
  gCardsSeen = 0;
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = HostWindowProcedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"VestrelTestHostWindow";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(SwitchOn(device), 0);
  Sink.OnEvent([window] {
    PostMessageW(window, kSwitchOffMessage, 0, 0);
    while (!gSwitchingOff) platform::SleepMilliseconds(1);
    platform::SleepMilliseconds(50);  // the window thread is inside the switch-off by now
    SendMessageW(window, kCardMessage, 0, 0);
  });
  THangWatch watch("a switch-off whose sink waits for the window thread", 60);
  Simulator.TapCard(0, kCard);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  EXPECT_FALSE(device->Active());
  EXPECT_EQ(device->ErrorCode(), 0) << "the thread ended within the bound";
  EXPECT_EQ(gCardsSeen, 1);
  DestroyWindow(window);
  UnregisterClassW(windowClass.lpszClassName, windowClass.hInstance);
}

// A window procedure of the reader library faults while the polling thread dispatches its
// messages: the thread lives on and the next card arrives.
TEST_F(ParsecDeviceTest, AFaultInAWindowProcedureOfTheLibraryCostsThatMessageOnly) {
  TManagerVestrel* device = NewDevice();
  ASSERT_EQ(SwitchOn(device), 0);
  Simulator.SetFault("ReadCardNumber", 0, Fault::Window, 0, 1);
  WaitForTurns(0, 3);
  EXPECT_NE(Simulator.CallLog().find("ReadCardNumber 0 fault window\n"), std::string::npos);
  Simulator.TapCard(0, kCard);
  WaitForEvents(1);
  EXPECT_TRUE(device->Active());
  SwitchOff(device);
}
#endif

}  // namespace
