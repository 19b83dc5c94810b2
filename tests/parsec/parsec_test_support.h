#pragma once
// What the Parsec device tests share: an event sink that records what the host would receive,
// and a fixture with a Parsec devices list, the reader simulator beside it and the simulator's
// clock as the plug-in's tick count.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devices/device_item.h"
#include "parsec/manager_vestrel.h"
#include "platform/sync.h"
#include "simulator_control.h"
#include "vestrel/event_sink.h"

// One external event as the host received it (texts in UTF-8).
struct ReceivedEvent {
  std::string Source;
  std::string DeviceIdText;
  GUID DeviceId{};
  const GUID* DeviceIdPointer = nullptr;  // the address the plug-in handed over
  std::string Data;
};

class RecordingSink : public IHostEventSink {
public:
  enum class Behaviour { Accept, Throw, Raise };

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++FReferences; }
  ULONG STDMETHODCALLTYPE Release() override { return --FReferences; }
  void VESTREL_HOST_REGISTER ExternalEvent(BSTR Source, BSTR DeviceIdText, const GUID* DeviceIdPtr,
                                           BSTR Data) override;
  void VESTREL_HOST_REGISTER CreateArrayObject(VARIANT*) override {}

  // How the next Times calls end after recording the event: accepted, a C++ exception, or a
  // structured exception as the host's own language raises them (Windows; elsewhere a C++ one).
  void Misbehave(Behaviour How, int Times);
  // Runs on the polling thread inside every later event, after it is recorded: what a host's
  // event handler does (switch the device off, delete it, ...). Empty: nothing.
  void OnEvent(std::function<void()> Handler);
  std::vector<ReceivedEvent> Events() const;
  // Drops what was recorded (long runs).
  void Forget();
  size_t Count() const;
  std::vector<std::string> Data() const;
  uint32_t LastThreadId() const { return FLastThread.load(); }
  // Time (steady clock, nanoseconds) of the last event: for the benchmark.
  int64_t LastEventNanoseconds() const { return FLastEventNanoseconds.load(); }

private:
  mutable std::mutex FLock;
  std::vector<ReceivedEvent> FEvents;
  Behaviour FBehaviour = Behaviour::Accept;
  int FMisbehaviours = 0;
  std::function<void()> FOnEvent;
  std::atomic<ULONG> FReferences{1};
  std::atomic<uint32_t> FLastThread{0};
  std::atomic<int64_t> FLastEventNanoseconds{0};
};

class ParsecDeviceTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  TManagerVestrel* NewDevice();
  // Switches on: the device's error code (0 = on).
  int32_t SwitchOn(TManagerVestrel* Device);
  // Lets the clock run (the thread's stop waits on it), then switches off.
  void SwitchOff(TManagerVestrel* Device);
  void SetParam(TManagerVestrel* Device, const char* NameUtf8, const std::string& Value);
  // Waits until the reader's poll count has grown by Turns since Since (generous limit);
  // two turns after a change mean that the turn which saw it has ended.
  void WaitForTurns(int32_t Reader, int32_t Turns = 2);
  void WaitForEvents(size_t Count);
  // The UTF-8 text of a device error code.
  std::string ErrorText(int32_t Code);

  SimulatorControl Simulator;
  RecordingSink Sink;
  std::unique_ptr<TManagerVestrelList> List;
  std::string OriginalDirectory;
};

// A folder for temporary files of this test process.
std::string TestScratchFolder();

// Ends the test program when what it guards has not finished within Seconds: a hang becomes
// a failure with a name instead of a test run that never ends.
class THangWatch {
public:
  THangWatch(std::string What, int Seconds);
  ~THangWatch();

private:
  platform::ManualResetEvent FDone;
  platform::Thread FWatch;
};

// Waits on the system's own clock, whatever the plug-in's tick count is set to; false when
// the condition did not come true within a minute.
bool WaitUntil(const std::function<bool()>& Done);
