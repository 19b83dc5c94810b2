#include "parsec/manager_vestrel.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <utility>

#include "base/diagnostic_log.h"
#include "base/errors.h"
#include "base/execution_mode.h"
#include "base/global_id.h"
#include "base/host_call_lock.h"
#include "devices/model_list.h"
#include "devices/prop_list.h"
#include "parsec/reader_library.h"
#include "parsec/vestrel_settings_form.h"
#include "platform/desktop.h"
#include "platform/ole_ptr.h"
#include "platform/structured_exception.h"

namespace {

// Every call into the reader library and out to the host's event sink runs under the guard
// against structured exceptions, so that a faulty library or host becomes a C++ exception. The
// guard's place, as the log names it, is the caller's line.
template <class F>
decltype(auto) Guarded(F&& Body, const platform::GuardPlace& Where = platform::GuardPlace::Current()) {
  return platform::CallGuarded(std::forward<F>(Body), Where);
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
  if (Code != Last.Code || RepeatInterval <= 0) return false;
  return platform::TicksElapsed(Last.Tick, Now) < static_cast<uint32_t>(RepeatInterval);
}

// ---- Waiting for polling threads ----

namespace {

std::atomic<uint32_t> gStartupWait{kStartupWaitMilliseconds};
std::atomic<uint32_t> gStopWait{kStopWaitMilliseconds};

// Milliseconds left of a bound that started at Start (steady clock: test clocks stand still).
uint32_t Remaining(std::chrono::steady_clock::time_point Start, uint32_t Bound) {
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Start).count();
  return elapsed >= Bound ? 0 : Bound - static_cast<uint32_t>(elapsed);
}

// The polling threads that their devices let go without joining them: stopped from inside
// their own event, or abandoned. Their objects stay here until they have ended, and are freed
// by the next thread that looks (never the thread itself).
class TStoppingThreads {
public:
  void Add(std::shared_ptr<TReadPThread> Thread) {
    Awaited(false);  // frees the ones that have ended meanwhile
    std::lock_guard<std::mutex> lock(FLock);
    FThreads.push_back(std::move(Thread));
  }

  // Waits for the threads that are ending by themselves (not abandoned ones, and not the
  // calling thread); true when none is left. With Abandoned, waits for those too.
  bool WaitForEnd(uint32_t Bound, bool Abandoned) {
    const auto start = std::chrono::steady_clock::now();
    for (const std::shared_ptr<TReadPThread>& thread : Awaited(Abandoned)) {
      if (!thread->WaitForEnded(Remaining(start, Bound))) break;
    }
    return Awaited(Abandoned).empty();
  }

private:
  // Frees the ended ones and lists those to wait for.
  std::vector<std::shared_ptr<TReadPThread>> Awaited(bool Abandoned) {
    std::vector<std::shared_ptr<TReadPThread>> ended, awaited;
    {
      std::lock_guard<std::mutex> lock(FLock);
      auto kept = FThreads.begin();
      for (auto& thread : FThreads) {
        if (thread->Ended() && !thread->IsCurrentThread()) {
          ended.push_back(std::move(thread));
          continue;
        }
        if (!thread->IsCurrentThread() && (Abandoned || !thread->Abandoned())) awaited.push_back(thread);
        *kept++ = std::move(thread);
      }
      FThreads.erase(kept, FThreads.end());
    }
    return awaited;  // `ended` goes here, outside the lock
  }

  std::mutex FLock;
  std::vector<std::shared_ptr<TReadPThread>> FThreads;
};

TStoppingThreads& StoppingThreads() {
  static TStoppingThreads threads;
  return threads;
}

// The message dispatch of the polling thread: each message under the structured-exception
// guard, so that a faulty window procedure (the reader library may own windows on this
// thread) costs that message only.
void DispatchThreadMessages() {
  for (;;) {
    try {
      if (!platform::CallGuarded([] { return platform::DispatchOneMessage(); })) return;
    } catch (...) {
      // The message was taken; the next one is dispatched.
    }
  }
}

// Dispatches this thread's messages for Milliseconds, sleeping while none is waiting.
void DispatchMessagesFor(uint32_t Milliseconds) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    DispatchThreadMessages();
    const uint32_t left = Remaining(start, Milliseconds);
    if (left == 0) return;
    platform::WaitForMessage(left);
  }
}

}  // namespace

void SetPollingThreadWaits(uint32_t StartupMilliseconds, uint32_t StopMilliseconds) {
  gStartupWait = StartupMilliseconds ? StartupMilliseconds : kStartupWaitMilliseconds;
  gStopWait = StopMilliseconds ? StopMilliseconds : kStopWaitMilliseconds;
}

bool WaitForPollingThreadsToEnd(uint32_t Milliseconds) {
  THostCallLockReleased unlocked;
  return StoppingThreads().WaitForEnd(Milliseconds, true);
}

// ---- TReadPThread ----

TReadPThread::TReadPThread(TManagerVestrel* Device, int32_t RepeatInterval,
                           std::shared_ptr<TReaderStatistics> Statistics)
    : FDevice(Device),
      FRepeatInterval(RepeatInterval),
      FStatistics(Statistics ? std::move(Statistics) : std::make_shared<TReaderStatistics>()) {
  FEnded.Set();  // until it runs
}

TReadPThread::~TReadPThread() { FThread.Detach(); }

bool TReadPThread::Resume() {
  FEnded.Reset();
  if (FThread.Start([this] { Execute(); })) return true;
  FEnded.Set();
  return false;
}

void TReadPThread::RequestStop() {
  {
    std::lock_guard<std::mutex> lock(FDeviceLock);
    FDevice = nullptr;
  }
  FTerminated = true;
  FTerminateEvent.Set();
}

bool TReadPThread::IsCurrentThread() const { return FThreadId.load() == platform::CurrentThreadId(); }

bool TReadPThread::WaitForStart(uint32_t TimeoutMilliseconds) const {
  THostCallLockReleased unlocked;
  return FStartedEvent.WaitLettingSentMessagesThrough(TimeoutMilliseconds);
}

bool TReadPThread::WaitForEnd(uint32_t TimeoutMilliseconds) {
  THostCallLockReleased unlocked;
  return FThread.JoinLettingSentMessagesThrough(TimeoutMilliseconds);
}

void TReadPThread::Abandon() {
  FAbandoned = true;
  MarkReaderLibraryOwnerStuck(this);
  FThread.Detach();
}

template <class F>
bool TReadPThread::WithDevice(F&& Use) {
  std::lock_guard<std::mutex> lock(FDeviceLock);
  if (FDevice == nullptr) return false;
  Use(*FDevice);
  return true;
}

void TReadPThread::Execute() {
  FThreadId = platform::CurrentThreadId();
  StartReaders();
  while (!Terminated()) {
    // A failed start-up polls nothing: it only waits to be stopped.
    if (Status() == DEVICE_OK) PollReaders();
    FTerminateEvent.Wait(kPollPauseMilliseconds);
  }
  StopReaders();
  // The last step: from here on nothing of this object is touched, and its owner may free it.
  FEnded.Set();
}

void TReadPThread::StartReaders() {
  FStartedEvent.Reset();
  // The waiting opener learns the outcome however the step ends.
  struct SignalWhenDone {
    platform::ManualResetEvent& Event;
    ~SignalWhenDone() { Event.Set(); }
  } signal{FStartedEvent};
  try {
    switch (LoadReaderLibraryFor(this)) {
      case TReaderLibraryLoad::Bound: break;
      case TReaderLibraryLoad::InUse: FStatus = DEVICE_READER_IN_USE; return;
      case TReaderLibraryLoad::HeldByStuckCall: FStatus = VESTREL_NO_CONNECTION; return;
      case TReaderLibraryLoad::Failed: FStatus = DEVICE_LIBRARY_ERROR; return;
    }
    FLoadedLibrary = true;
    // An owner that gave up on this thread while it was binding: the binding is stuck too.
    if (Abandoned()) MarkReaderLibraryOwnerStuck(this);
    const int16_t answer = Guarded([] { return ReaderLibrary.Enumerate(); });
    const int16_t count = std::min(answer, kMaxReaders);
    FStatistics->ReadersEnumerated(answer, count < 1 ? 0 : static_cast<size_t>(count));
    if (count < 1) {
      FStatus = DEVICE_READER_MISSING;  // the library stays bound until StopReaders
      return;
    }
    for (int16_t reader = 0; reader < count; ++reader) {
      const uint32_t now = platform::TickCount();
      FCodes.push_back(TReaderCode{AnsiString(), now, 0, now});
      FStatistics->ReaderOpened(reader, Guarded([reader] { return ReaderLibrary.OpenReader(reader); }));
      Guarded([reader] { return ReaderLibrary.SetBeepBlinkMode(reader, 0, 1); });
      int32_t wiegand26 = 0;
      WithDevice([&](TManagerVestrel& device) { wiegand26 = OldDataFormatChosen(device) ? 1 : 0; });
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
    if (dispatchMessages) DispatchThreadMessages();
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
  const int16_t answer = Guarded([&] { return ReaderLibrary.ReadCardNumber(Reader, &number); });
  const uint32_t now = platform::TickCount();
  FStatistics->ReadAnswered(Reader, answer, now);
  TReaderCode& last = FCodes[static_cast<size_t>(Reader)];
  if (answer != last.LastAnswer) {
    last.LastAnswer = answer;
    last.AnswerSince = now;
  }
  if (answer != 0) return true;

  AnsiString code = CardCodeText(number);
  if (IsRepeatedCode(last, code, FRepeatInterval, now)) {
    FStatistics->RepeatSuppressed(Reader);
    return false;
  }
  last.Code = code;
  last.Tick = now;
  FStatistics->CardAccepted(Reader, std::string_view(code.data(), code.size()));

  bool oldFormat = false;
  // A device that let the thread go gets no more events.
  if (!WithDevice([&](TManagerVestrel& device) { oldFormat = OldDataFormatChosen(device); })) return true;
  if (oldFormat) code = "00" + code;
  const uint8_t mode = ExecutionMode();
  if (mode != EXECUTION_MODE_V7 && mode != EXECUTION_MODE_V8) {
    try {
      SendCardEvent(code);
    } catch (const std::exception& error) {
      FStatistics->SinkFailed(Reader, Utf8FromAnsi(error.what()));
      throw;
    } catch (...) {
      FStatistics->SinkFailed(Reader, "an exception that is no exception object");
      throw;
    }
  }
  Guarded([Reader] { return ReaderLibrary.BeepBlink(Reader); });
  return true;
}

void TReadPThread::SendCardEvent(const AnsiString& Code) {
  static const WideString source = WideFromUtf8("Сканер");
  IHostEventSink* sink = nullptr;
  const TGlobalId* deviceId = nullptr;
  TGlobalId id{};
  WithDevice([&](TManagerVestrel& device) {
    sink = device.HostEventSink();
    id = device.DeviceId();
    device.FCardEventDeviceId = id;
    deviceId = device.CardEventDeviceId();
  });
  if (!sink) return;
  OleString sourceText(source);
  OleString deviceIdText(GlobalIdToStr(id));
  OleString data(WideFromAnsi(Code));
  // Outside the device link: the sink may switch the device off or delete it (from this very
  // thread), which cuts the link; nothing of the device is touched after the call.
  Guarded([&] { sink->ExternalEvent(sourceText.Get(), deviceIdText.Get(), deviceId, data.Get()); });
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
    DispatchMessagesFor(kStopDrainMilliseconds);
  } catch (...) {
  }
  // A thread whose load failed leaves the library alone: another device of this process may
  // have it bound and still be polling.
  if (FLoadedLibrary) {
    FLoadedLibrary = false;
    UnloadReaderLibraryFor(this);
  }
}

// ---- TManagerVestrel ----

TManagerVestrel::TManagerVestrel(TCollection* Collection) : TDeviceItem(Collection) {}

TManagerVestrel::~TManagerVestrel() { Close(); }

namespace {

// Keeps a device alive across a wait that lets the host's other calls run (one of them may
// delete it): the device is freed, if at all, when the holder is done. A device that is being
// destroyed already (its count is 0) is not kept.
class TKeepDevice {
public:
  explicit TKeepDevice(TManagerVestrel& Device) : FDevice(Device.RefCount() > 0 ? &Device : nullptr) {
    if (FDevice) FDevice->AddRef();
  }
  ~TKeepDevice() {
    if (FDevice) FDevice->Release();
  }
  TKeepDevice(const TKeepDevice&) = delete;
  TKeepDevice& operator=(const TKeepDevice&) = delete;

private:
  TManagerVestrel* FDevice;
};

}  // namespace

int32_t TManagerVestrel::SetActive(int32_t Value) {
  // Open and Close wait for the polling thread with the host call lock given up.
  TKeepDevice keep(*this);
  return TDeviceItem::SetActive(Value);
}

int32_t TManagerVestrel::ShowSettings() {
  // The dialog's loop dispatches the host's window messages, and the host may call in from
  // them (on this thread, through the held host-call lock); one of those calls may delete this
  // device: it stays alive until the dialog is done with it. Calls from the host's other threads
  // wait until the dialog closes: the call that opened it is still running.
  TKeepDevice keep(*this);
  TfmVestrelSettings form(*this);
  const int32_t result = form.ShowModal();
  if (result != platform::kModalOk) return DEVICE_CANCELLED;
  // Only what the user changed: a value the dialog cannot show as it is (an interval below
  // its minimum, an old-format value other than 0 and 1) stays as configured.
  if (form.RepeatIntervalChanged()) SetIntParam(RepeatIntervalParamName(), form.GetRepeatInterval());
  if (form.OldFormatChanged()) SetIntParam(OldDataFormatParamName(), form.GetOldFormat());
  if (form.DeviceNameChanged()) SetDeviceName(form.GetDeviceName());
  return DEVICE_OK;
}

TDeviceStatisticsSnapshot TManagerVestrel::Statistics() const {
  std::shared_ptr<TReaderStatistics> statistics;
  {
    std::lock_guard<std::mutex> lock(FThreadLock);
    statistics = FStatistics;
  }
  return statistics ? statistics->Snapshot(platform::TickCount()) : TDeviceStatisticsSnapshot{};
}

namespace {

// The device as the log names it.
std::string LoggedDevice(TDeviceItem& Device) {
  return Utf8FromWide(GlobalIdToStr(Device.DeviceId())) + " \"" + Utf8FromAnsi(Device.DeviceName()) + "\"";
}

}  // namespace

bool TManagerVestrel::Open() {
  Close();
  // A thread stopped from inside its own event may still be letting the reader go.
  {
    THostCallLockReleased unlocked;
    StoppingThreads().WaitForEnd(gStopWait.load(), false);
  }
  int32_t interval = GetIntParam(RepeatIntervalParamName());
  FRepeatInterval = interval < kMinRepeatInterval ? kMinRepeatInterval : interval;

  auto statistics = std::make_shared<TReaderStatistics>();
  auto thread = std::make_shared<TReadPThread>(this, FRepeatInterval, statistics);
  {
    std::lock_guard<std::mutex> lock(FThreadLock);
    FReadThread = thread;
    FStatistics = std::move(statistics);
  }
  int32_t status = VESTREL_INTERNAL_ERROR;
  if (thread->Resume()) {
    // A start-up that has not finished in time counts as failed, even if it ends just after:
    // the reader library did not answer.
    status = thread->WaitForStart(gStartupWait.load()) ? thread->Status() : VESTREL_NO_CONNECTION;
  }
  SetErrorCode(status);
  DiagnosticLogWith([&] {
    return "device " + LoggedDevice(*this) + ": switched on, code " + std::to_string(status) + " (" +
           Utf8FromAnsi(GetErrorText(status)) + "), repeat interval " + std::to_string(FRepeatInterval) + " ms";
  });
  if (status == DEVICE_OK) return true;
  Close();
  SetErrorCode(status);
  return false;
}

bool TManagerVestrel::Close() {
  std::shared_ptr<TReadPThread> thread;
  {
    std::lock_guard<std::mutex> lock(FThreadLock);
    thread = std::move(FReadThread);
  }
  if (!thread) return true;
  thread->RequestStop();
  if (thread->IsCurrentThread()) {
    // Inside the thread's own event: it ends by itself once the event returns.
    StoppingThreads().Add(std::move(thread));
    DiagnosticLogWith([&] { return "device " + LoggedDevice(*this) + ": switched off from inside its card event"; });
    return true;
  }
  if (thread->WaitForEnd(gStopWait.load())) {
    DiagnosticLogWith([&] { return "device " + LoggedDevice(*this) + ": switched off, code 0"; });
    return true;
  }
  thread->Abandon();
  StoppingThreads().Add(std::move(thread));
  SetErrorCode(VESTREL_NO_CONNECTION);
  DiagnosticLogWith([&] {
    return "device " + LoggedDevice(*this) + ": switched off, code 2: the polling thread did not end within " +
           std::to_string(gStopWait.load()) + " ms (a reader library call that does not return); it is abandoned";
  });
  return false;
}

// ---- TManagerVestrelList ----

TManagerVestrelList::TManagerVestrelList(TCollectionItemClass ItemClass) : TDevicesList(ItemClass) {
  Models().RegisterModel(ParsecModelRecord());
  SetFlag1(false);
  SetFlag2(false);
  const auto definitions = ParsecDeviceDefinitions();
  AddDefinitions(definitions.data(), static_cast<int32_t>(definitions.size()));
  SetDefinitionValue(AnsiFromUtf8("Неразделяемое"), "1", false);
  SetStatisticsSource([](TDeviceItem& Device) -> std::string {
    auto* parsec = dynamic_cast<TManagerVestrel*>(&Device);
    return parsec != nullptr ? DeviceStatisticsText(parsec->Statistics()) : std::string();
  });
}

AnsiString TManagerVestrelList::GetErrorText(int32_t Code) {
  if (Code >= 0 && Code < static_cast<int32_t>(kErrorTexts.size())) return AnsiFromUtf8(kErrorTexts[Code]);
  return TDevicesList::GetErrorText(Code);
}
