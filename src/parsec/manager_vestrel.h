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
// Threads: the host's thread creates, starts, waits for and frees the polling thread. The
// polling thread reads the device's parameters through the device item's own lock (so a
// changed "СтарыйФорматДанных" applies to the next code) and is the only user of its reader
// table and of the reader library while it runs.
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "devices/device_item.h"
#include "devices/devices_list.h"
#include "platform/sync.h"
#include "platform/text_codec.h"

// Device error codes of the Parsec reader beyond the generic ones.
enum : int32_t {
  VESTREL_BAD_PARAMETER_VALUE = 5,  // a parameter that the start-up could not read
  VESTREL_INTERNAL_ERROR = 7,       // the start-up failed in an unexpected way
};

// The pause between two polls of every reader, and the longest wait for the start-up.
inline constexpr uint32_t kPollPauseMilliseconds = 25;
inline constexpr uint32_t kStartupWaitMilliseconds = 10000;
// The shortest repeat interval, and the time the thread keeps dispatching messages at its end.
inline constexpr int32_t kMinRepeatInterval = 100;
inline constexpr uint32_t kStopDrainMilliseconds = 100;

// Names of the Parsec device parameters (host code page).
const AnsiString& RepeatIntervalParamName();  // "ИнтервалПовтора"
const AnsiString& OldDataFormatParamName();   // "СтарыйФорматДанных"

// A card number as 8 upper-case hexadecimal digits, most significant byte first.
AnsiString CardCodeText(uint32_t Number);

// One opened reader: its last accepted code (8 digits, empty before the first) and the tick
// count of that acceptance, or of the open while none was accepted.
struct TReaderCode {
  AnsiString Code;
  uint32_t Tick = 0;
};

// True when Code repeats the reader's last accepted code before RepeatInterval has run out
// since its acceptance, in 32-bit signed tick arithmetic (right across the counter's wrap).
bool IsRepeatedCode(const TReaderCode& Last, const AnsiString& Code, int32_t RepeatInterval, uint32_t Now);

class TManagerVestrel;

class TReadPThread {
public:
  // Created suspended: nothing runs until Resume.
  TReadPThread();
  // Requests termination, waits for the thread to end (without limit), then frees the rest.
  ~TReadPThread();
  TReadPThread(const TReadPThread&) = delete;
  TReadPThread& operator=(const TReadPThread&) = delete;

  // Set before Resume.
  TManagerVestrel* FDevice = nullptr;
  int32_t FRepeatInterval = 0;

  // Starts the thread; false when the system could not create it.
  bool Resume();
  void Terminate();
  bool Terminated() const { return FTerminated.load(); }
  // Waits at most TimeoutMilliseconds for the start-up step to finish; true when it has.
  bool WaitForStart(uint32_t TimeoutMilliseconds) const { return FStartedEvent.Wait(TimeoutMilliseconds); }
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
  void SendCardEvent(const AnsiString& Code);

  std::vector<TReaderCode> FCodes;
  platform::ManualResetEvent FStartedEvent;
  platform::ManualResetEvent FTerminateEvent;  // wakes the pause between passes
  std::atomic<int32_t> FStatus{-1};
  std::atomic<bool> FTerminated{false};
  bool FLoadedLibrary = false;  // this thread's own load succeeded: it unloads at the end
  platform::Thread FThread;
};

class TManagerVestrel : public TDeviceItem {
public:
  explicit TManagerVestrel(TCollection* Collection);

  using TDeviceItem::ShowSettings;
  // The settings dialog (parsec/vestrel_settings_form.h): when the user confirms, stores the
  // repeat interval, the old-format flag and the device name and returns 0; else returns 8
  // and changes nothing. A parameter that is not numeric raises before the dialog shows.
  int32_t ShowSettings() override;
  // Starts the polling thread and waits at most 10 s for its start-up; the start-up's code
  // becomes the device error code, and only 0 is success (a failed start is stopped again).
  bool Open() override;
  // Stops the polling thread (waiting for it without limit); always true.
  bool Close() override;

  // The repeat interval of the last open, in milliseconds.
  int32_t RepeatInterval() const { return FRepeatInterval; }

protected:
  ~TManagerVestrel() override;

private:
  int32_t FRepeatInterval = 1000;
  std::unique_ptr<TReadPThread> FReadThread;
};

class TManagerVestrelList : public TDevicesList {
public:
  // Registers the Parsec model and its device parameters.
  explicit TManagerVestrelList(TCollectionItemClass ItemClass);
  // The Parsec device error texts for 0..11, the generic text otherwise.
  AnsiString GetErrorText(int32_t Code) override;
};
