#include "parsec/manager_vestrel.h"

#include <array>
#include <cstdio>
#include <utility>

#include "base/errors.h"
#include "base/global_id.h"
#include "config/message_pump.h"
#include "devices/model_list.h"
#include "devices/prop_list.h"
#include "host/execution_mode.h"
#include "parsec/reader_library.h"
#include "parsec/vestrel_settings_form.h"
#include "platform/ole_ptr.h"
#include "platform/structured_exception.h"

namespace {

// Every call into the reader library and out to the host's event sink runs under the guard
// against structured exceptions, so that a faulty library or host becomes a C++ exception.
template <class F>
decltype(auto) Guarded(F&& Body) {
  return platform::CallGuarded(std::forward<F>(Body));
}

// The device parameters the Parsec list adds to the scanner's own. The texts stand exactly as
// hosts know them, the spelling of the second description included.
std::array<TPropertyDefinition, 2> ParsecDeviceDefinitions() {
  return {
      MakePropertyDefinition("ИнтервалПовтора", "", "Мин. интервал повтора", "Integer", false, "2000",
                             "Мин. интервал повтора кода"),
      MakePropertyDefinition("СтарыйФорматДанных", "", "Старый формат данных", "Integer", false, "1",
                             "Выдача разультата в старом формате (для совместимости со ПО прошлых версий)"),
  };
}

// The Parsec device error texts, by code.
constexpr std::array<const char*, 12> kErrorTexts = {
    "Операция выполнена успешно",
    "Порт недоступен",
    "Нет связи",
    "Устройство не обнаружено",
    "Неверный тип параметра",
    "Недопустимое значение параметра",
    "Ошибка в данных",
    "Внутренняя ошибка",
    "Отмена действия",
    "Ошибка загрузки библиотеки prx08.dll",
    "Устройство PR-x08 не найдено или драйвера устройства не установлены корректно",
    "Устройство PR-x08 уже используется. Допускается использование только одного экземпляра оборудования "
    "данной модели на одном ПК.",
};

// The 32-bit integer of a device parameter: 1 exactly when the old data format is chosen.
bool OldDataFormatChosen(TDeviceItem& Device) { return Device.GetIntParam(OldDataFormatParamName()) == 1; }

}  // namespace

const AnsiString& RepeatIntervalParamName() {
  static const AnsiString name = AnsiFromUtf8("ИнтервалПовтора");
  return name;
}

const AnsiString& OldDataFormatParamName() {
  static const AnsiString name = AnsiFromUtf8("СтарыйФорматДанных");
  return name;
}

AnsiString CardCodeText(uint32_t Number) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(Number));
  return AnsiString(digits, 8);
}

bool IsRepeatedCode(const TReaderCode& Last, const AnsiString& Code, int32_t RepeatInterval, uint32_t Now) {
  const int32_t remaining = platform::TickDifference(Last.Tick + static_cast<uint32_t>(RepeatInterval), Now);
  return Code == Last.Code && remaining > 0;
}

// ---- TReadPThread ----

TReadPThread::TReadPThread() = default;

TReadPThread::~TReadPThread() {
  Terminate();
  FThread.Join();
}

bool TReadPThread::Resume() {
  return FThread.Start([this] { Execute(); });
}

void TReadPThread::Terminate() {
  FTerminated = true;
  FTerminateEvent.Set();
}

void TReadPThread::Execute() {
  StartReaders();
  while (!Terminated()) {
    // A failed start-up polls nothing: it only waits to be stopped.
    if (Status() == DEVICE_OK) PollReaders();
    FTerminateEvent.Wait(kPollPauseMilliseconds);
  }
  StopReaders();
}

void TReadPThread::StartReaders() {
  FStartedEvent.Reset();
  // The waiting opener learns the outcome however the step ends.
  struct SignalWhenDone {
    platform::ManualResetEvent& Event;
    ~SignalWhenDone() { Event.Set(); }
  } signal{FStartedEvent};
  try {
    if (!LoadReaderLibrary()) {
      FStatus = ReaderLibraryInUse ? DEVICE_READER_IN_USE : DEVICE_LIBRARY_ERROR;
      return;
    }
    FLoadedLibrary = true;
    const int16_t count = Guarded([] { return ReaderLibrary.Enumerate(); });
    if (count < 1) {
      FStatus = DEVICE_READER_MISSING;  // the library stays bound until StopReaders
      return;
    }
    for (int16_t reader = 0; reader < count; ++reader) {
      FCodes.push_back(TReaderCode{AnsiString(), platform::TickCount()});
      Guarded([reader] { return ReaderLibrary.OpenReader(reader); });
      Guarded([reader] { return ReaderLibrary.SetBeepBlinkMode(reader, 0, 1); });
      const int32_t wiegand26 = OldDataFormatChosen(*FDevice) ? 1 : 0;
      Guarded([wiegand26] { return ReaderLibrary.SetWiegand26(wiegand26); });
    }
    FStatus = DEVICE_OK;
  } catch (const EConvertError&) {
    // A parameter that is no number. The readers opened so far and the library are released
    // by StopReaders when the opener stops the thread.
    FStatus = VESTREL_BAD_PARAMETER_VALUE;
  } catch (...) {
    FStatus = VESTREL_INTERNAL_ERROR;
  }
}

void TReadPThread::PollReaders() {
  const size_t count = FCodes.size();
  for (size_t index = 0; index < count; ++index) {
    if (!IsReaderLibraryLoaded()) return;
    bool dispatchMessages = true;
    try {
      dispatchMessages = ReaderTurn(static_cast<int16_t>(index));
    } catch (...) {
      // A reader that fails, or a host that fails to take a code, costs this reader's turn only.
    }
    if (dispatchMessages) ProcessMessages();
  }
}

bool TReadPThread::ReaderTurn(int16_t Reader) {
  {
    // The raw read comes first on every poll, as the reader's driver expects; its outputs
    // carry nothing the plug-in uses.
    uint8_t buffer[100] = {};
    uint16_t length = 99;
    uint16_t scratch = 0;
    Guarded([&] { return ReaderLibrary.ReadCardNumberRaw(Reader, &scratch, buffer, &length); });
  }
  uint32_t number = 0;
  if (Guarded([&] { return ReaderLibrary.ReadCardNumber(Reader, &number); }) != 0) return true;

  AnsiString code = CardCodeText(number);
  const uint32_t now = platform::TickCount();
  TReaderCode& last = FCodes[static_cast<size_t>(Reader)];
  if (IsRepeatedCode(last, code, FRepeatInterval, now)) return false;
  last.Code = code;
  last.Tick = now;

  if (OldDataFormatChosen(*FDevice)) code = "00" + code;
  const uint8_t mode = ExecutionMode();
  if (mode != EXECUTION_MODE_V7 && mode != EXECUTION_MODE_V8) SendCardEvent(code);
  Guarded([Reader] { return ReaderLibrary.BeepBlink(Reader); });
  return true;
}

void TReadPThread::SendCardEvent(const AnsiString& Code) {
  IHostEventSink* sink = FDevice->HostEventSink();
  if (!sink) return;
  static const WideString source = WideFromUtf8("Сканер");
  TGlobalId deviceId = FDevice->DeviceId();
  OleString sourceText(source);
  OleString deviceIdText(GlobalIdToStr(deviceId));
  OleString data(WideFromAnsi(Code));
  Guarded([&] { sink->ExternalEvent(sourceText.Get(), deviceIdText.Get(), &deviceId, data.Get()); });
}

void TReadPThread::StopReaders() {
  try {
    // A thread whose start-up opened no reader has nothing to close (and must not touch a
    // library that another device's thread may be using).
    if (!FCodes.empty() && IsReaderLibraryLoaded()) {
      for (size_t index = 0; index < FCodes.size(); ++index) {
        try {
          Guarded([index] { return ReaderLibrary.CloseReader(static_cast<int16_t>(index)); });
        } catch (...) {
          // The next reader is closed all the same.
        }
      }
    }
    FCodes.clear();
    WaitProcessingMessages(kStopDrainMilliseconds);
  } catch (...) {
  }
  // A thread whose load failed leaves the library alone: another device of this process may
  // have it bound and still be polling.
  if (FLoadedLibrary) {
    FLoadedLibrary = false;
    try {
      UnloadReaderLibrary();
    } catch (...) {
    }
  }
}

// ---- TManagerVestrel ----

TManagerVestrel::TManagerVestrel(TCollection* Collection) : TDeviceItem(Collection) {}

TManagerVestrel::~TManagerVestrel() { Close(); }

int32_t TManagerVestrel::ShowSettings() {
  TfmVestrelSettings form(*this);
  if (form.ShowModal() != platform::kModalOk) return DEVICE_CANCELLED;
  SetIntParam(RepeatIntervalParamName(), form.GetRepeatInterval());
  SetIntParam(OldDataFormatParamName(), form.GetOldFormat());
  SetDeviceName(form.GetDeviceName());
  return DEVICE_OK;
}

bool TManagerVestrel::Open() {
  Close();
  int32_t interval = GetIntParam(RepeatIntervalParamName());
  FRepeatInterval = interval < kMinRepeatInterval ? kMinRepeatInterval : interval;

  FReadThread = std::make_unique<TReadPThread>();
  FReadThread->FDevice = this;
  FReadThread->FRepeatInterval = FRepeatInterval;
  int32_t status = -1;
  // A start-up that has not finished in time counts as failed (-1), even if it ends just after.
  if (FReadThread->Resume() && FReadThread->WaitForStart(kStartupWaitMilliseconds)) status = FReadThread->Status();
  SetErrorCode(status);
  const bool opened = ErrorCode() == DEVICE_OK;
  if (!opened) Close();
  return opened;
}

bool TManagerVestrel::Close() {
  FReadThread.reset();
  return true;
}

// ---- TManagerVestrelList ----

TManagerVestrelList::TManagerVestrelList(TCollectionItemClass ItemClass) : TDevicesList(ItemClass) {
  Models().RegisterModel(ParsecModelRecord());
  SetFlag1(false);
  SetFlag2(false);
  const auto definitions = ParsecDeviceDefinitions();
  AddDefinitions(definitions.data(), static_cast<int32_t>(definitions.size()));
  SetDefinitionValue(AnsiFromUtf8("Неразделяемое"), "1", false);
}

AnsiString TManagerVestrelList::GetErrorText(int32_t Code) {
  if (Code >= 0 && Code < static_cast<int32_t>(kErrorTexts.size())) return AnsiFromUtf8(kErrorTexts[Code]);
  return TDevicesList::GetErrorText(Code);
}
