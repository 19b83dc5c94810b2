#pragma once
// The Parsec reader as a device: TManagerVestrel (a device item), its devices list
// TManagerVestrelList, and the polling thread TReadPThread.
//
// Switching a device on starts one polling thread. The thread binds the reader library, opens
// every reader the library finds and then polls all of them every 25 ms. A card code that is
// not a repeat of the same reader's last code within the repeat interval is written as
// hexadecimal text, sent to the host as an external event through the device's copy of the
// event sink, and acknowledged by the reader's beep and blink. Switching the device off stops
// the thread, which closes the readers and unloads the library.
//
// Threads: the host's thread (or a host's task thread, or a polling thread inside a card event)
// switches devices on and off. A polling thread reads its device's parameters through the
// device item's own lock (so a changed "СтарыйФорматДанных" applies to the next code) and is
// the only user of its reader table and of the reader library while it runs. It reaches its
// device only through a link that the device cuts when it lets the thread go, so a device may
// be switched off or deleted from any thread, also from inside its own card event.
//
// Nothing waits without end. Every wait of a host call for a polling thread gives up the host
// call lock (base/host_call_lock.h) and lets messages sent to the waiting thread through:
//  - the start-up is awaited at most 10 s (the reader library must answer that fast);
//  - the stop at most 10 s (a pass of the polling loop, the host's sink, closing the readers
//    and the 100 ms of message dispatch at the end all fit with room to spare).
// A thread that has not ended by then is abandoned: it is asked to end, it keeps what it holds
// (the reader library bound and the marker, so nothing unloads a library that is inside a call,
// and its own object), and the device reports error 2 ("Нет связи"). When its call returns,
// the thread closes its readers, unbinds the library and ends; its object is freed afterwards
// by the next switch-on, switch-off or module stop of the process. Until then a switch-on in
// this process answers 2 at once.
//
// A stop asked for on the polling thread itself (inside its card event) only asks the thread to
// end: the device reports off at once, and the thread finishes its pass, closes its readers and
// ends by itself; the next switch-on waits (bounded) for it to let the reader go.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "devices/device_item.h"
#include "devices/devices_list.h"
#include "parsec/reader_statistics.h"
#include "platform/sync.h"
#include "platform/text_codec.h"

// Device error codes of the Parsec reader beyond the generic ones.
enum : int32_t {
  VESTREL_NO_CONNECTION = 2,        // the reader library did not answer in time
  VESTREL_BAD_PARAMETER_VALUE = 5,  // a parameter that the start-up could not read
  VESTREL_INTERNAL_ERROR = 7,       // the start-up failed in an unexpected way
};

// The pause between two polls of every reader.
inline constexpr uint32_t kPollPauseMilliseconds = 25;
// The longest waits for a polling thread (see above).
inline constexpr uint32_t kStartupWaitMilliseconds = 10000;
inline constexpr uint32_t kStopWaitMilliseconds = 10000;
// The shortest repeat interval, and the time the thread keeps dispatching messages at its end.
inline constexpr int32_t kMinRepeatInterval = 100;
inline constexpr uint32_t kStopDrainMilliseconds = 100;
// The most readers one device opens, whatever the library's Enumerate answers; the readers
// beyond are left alone.
inline constexpr int16_t kMaxReaders = 16;

// Tests shorten the waits for a polling thread; 0 restores the bounds above.
void SetPollingThreadWaits(uint32_t StartupMilliseconds, uint32_t StopMilliseconds);
// Waits at most Milliseconds for every polling thread of the process that was let go without
// being joined (stopped from inside its own event, or abandoned) to end, letting sent
// messages through; true when none is left. For tests and the module's users that must know.
bool WaitForPollingThreadsToEnd(uint32_t Milliseconds);

// Names of the Parsec device parameters (host code page).
const AnsiString& RepeatIntervalParamName();  // "ИнтервалПовтора"
const AnsiString& OldDataFormatParamName();   // "СтарыйФорматДанных"

// A card number as 8 upper-case hexadecimal digits, most significant byte first.
AnsiString CardCodeText(uint32_t Number);

// What the polling thread keeps for one opened reader: its last accepted code (8 digits,
// empty before the first) and the tick count of that acceptance, or of the open while none was
// accepted; and what ReadCardNumber answered last and since when (the tick of the first poll
// that answered so), for whoever watches a reader's health.
struct TReaderCode {
  AnsiString Code;
  uint32_t Tick = 0;
  int16_t LastAnswer = 0;
  uint32_t AnswerSince = 0;
};

// True when Code repeats the reader's last accepted code while less than RepeatInterval has
// passed since its acceptance, counted in unsigned 32-bit ticks (so right across the counter's
// wrap, and a code shown again weeks later is new).
bool IsRepeatedCode(const TReaderCode& Last, const AnsiString& Code, int32_t RepeatInterval, uint32_t Now);

class TManagerVestrel;

class TReadPThread {
public:
  // Created suspended for Device (nothing runs until Resume), with the device's repeat
  // interval. The device's event sink is the one it has when a card comes. What the thread
  // sees of its readers goes to Statistics (shared with the device, which may outlive or
  // be outlived by the thread).
  TReadPThread(TManagerVestrel* Device, int32_t RepeatInterval,
               std::shared_ptr<TReaderStatistics> Statistics = std::make_shared<TReaderStatistics>());
  // Never waits: a thread still running is let go (it holds no reference to this object
  // then; whoever frees it must know it has ended, see Ended).
  ~TReadPThread();
  TReadPThread(const TReadPThread&) = delete;
  TReadPThread& operator=(const TReadPThread&) = delete;

  // Starts the thread; false when the system could not create it.
  bool Resume();
  // Asks the thread to end and cuts its link to the device: from now on it touches the device
  // no more. Any thread may call it, the polling thread itself too.
  void RequestStop();
  bool Terminated() const { return FTerminated.load(); }
  bool IsCurrentThread() const;
  // Waits at most TimeoutMilliseconds for the start-up step to finish; true when it has.
  bool WaitForStart(uint32_t TimeoutMilliseconds) const;
  // Waits at most TimeoutMilliseconds for the thread to end; true when it has (joined).
  bool WaitForEnd(uint32_t TimeoutMilliseconds);
  // Set once the thread has done its last step (or when it never ran).
  bool Ended() const { return FEnded.IsSet(); }
  bool WaitForEnded(uint32_t TimeoutMilliseconds) const { return FEnded.WaitLettingSentMessagesThrough(TimeoutMilliseconds); }
  // The owner gives up on a thread that did not end in time: it runs on by itself, and the
  // reader library it holds answers later loads with "stuck".
  void Abandon();
  bool Abandoned() const { return FAbandoned.load(); }
  // The start-up's device error code; -1 until it has finished.
  int32_t Status() const { return FStatus.load(); }

  // The steps of the thread's run. The thread runs them itself; a thread object that was
  // never resumed lets its owner run them on the owner's thread instead.
  void StartReaders();
  void PollReaders();
  void StopReaders();

private:
  void Execute();
  // One reader's turn of a pass. False when the code read was a repeat: the turn then ends
  // at once, also without dispatching messages.
  bool ReaderTurn(int16_t Reader);
  // Runs Use(device) while the thread still has its device; false when it has been cut off.
  template <class F>
  bool WithDevice(F&& Use);
  void SendCardEvent(const AnsiString& Code);

  std::mutex FDeviceLock;
  TManagerVestrel* FDevice;  // null once the device let the thread go (under FDeviceLock)
  const int32_t FRepeatInterval;
  const std::shared_ptr<TReaderStatistics> FStatistics;
  std::vector<TReaderCode> FCodes;
  platform::ManualResetEvent FStartedEvent;
  platform::ManualResetEvent FTerminateEvent;  // wakes the pause between passes
  platform::ManualResetEvent FEnded;
  std::atomic<int32_t> FStatus{-1};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FAbandoned{false};
  std::atomic<uint32_t> FThreadId{0};
  bool FLoadedLibrary = false;  // this thread's own load succeeded: it unloads at the end
  platform::Thread FThread;
};

class TManagerVestrel : public TDeviceItem {
public:
  explicit TManagerVestrel(TCollection* Collection);

  // Switching on or off waits for the polling thread and lets the host's other calls run
  // meanwhile: the device stays alive until the switch is done, also when one of those calls
  // deletes it.
  int32_t SetActive(int32_t Value) override;
  using TDeviceItem::ShowSettings;
  // The settings dialog (parsec/vestrel_settings_form.h): when the user confirms, stores what
  // the user changed of the repeat interval, the old-format flag and the device name and
  // returns 0; else returns 8 and changes nothing. A parameter that is not numeric raises
  // before the dialog shows. The device stays alive while the dialog is open, and the host's
  // calls may run meanwhile (the host call lock is given up around the dialog's loop).
  int32_t ShowSettings() override;
  // Starts the polling thread and waits at most 10 s for its start-up; the start-up's code
  // becomes the device error code (2 when it did not finish in time), and only 0 is success
  // (a failed start is stopped again).
  bool Open() override;
  // Stops the polling thread (see the header comment): true when it ended, or when the stop
  // was asked for from the polling thread itself; false, with error code 2, when it did not end
  // in time and was abandoned. The device is off either way.
  bool Close() override;

  // The repeat interval of the last open, in milliseconds.
  int32_t RepeatInterval() const { return FRepeatInterval; }
  // The storage whose address every card event hands the host as the device identifier: it
  // lives as long as the device.
  const TGlobalId* CardEventDeviceId() const { return &FCardEventDeviceId; }
  // What the readers of the latest switch-on have seen (kept after the switch-off until the
  // next switch-on); empty before the first.
  TDeviceStatisticsSnapshot Statistics() const;

protected:
  ~TManagerVestrel() override;

private:
  friend class TReadPThread;
  int32_t FRepeatInterval = 1000;
  TGlobalId FCardEventDeviceId{};  // written by the polling thread under its device link
  mutable std::mutex FThreadLock;  // guards FReadThread and FStatistics: any thread may switch the device
  std::shared_ptr<TReadPThread> FReadThread;
  std::shared_ptr<TReaderStatistics> FStatistics;
};

class TManagerVestrelList : public TDevicesList {
public:
  // Registers the Parsec model and its device parameters.
  explicit TManagerVestrelList(TCollectionItemClass ItemClass);
  // The Parsec device error texts for 0..11, the generic text otherwise.
  AnsiString GetErrorText(int32_t Code) override;
};
