#include "parsec_test_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "base/collection.h"
#include "base/execution_mode.h"
#include "parsec/reader_library.h"
#include "platform/file_system.h"
#include "platform/process_info.h"
#include "platform/sync.h"
#include "platform/text_codec.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {
constexpr uint32_t kGenerousWaitMilliseconds = 60000;
}  // namespace

bool WaitUntil(const std::function<bool()>& Done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGenerousWaitMilliseconds);
  while (!Done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::SleepMilliseconds(2);
  }
  return true;
}

THangWatch::THangWatch(std::string What, int Seconds)
    : FWatch([this, What = std::move(What), Seconds] {
        if (FDone.Wait(static_cast<uint32_t>(Seconds) * 1000u)) return;
        std::fprintf(stderr, "%s did not end within %d s: it hangs\n", What.c_str(), Seconds);
        std::fflush(stderr);
        std::_Exit(3);
      }) {}

THangWatch::~THangWatch() {
  FDone.Set();
  FWatch.Join();
}

HRESULT STDMETHODCALLTYPE RecordingSink::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown)) {
    *object = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

void VESTREL_HOST_REGISTER RecordingSink::ExternalEvent(BSTR Source, BSTR DeviceIdText, const GUID* DeviceIdPtr,
                                                        BSTR Data) {
  Behaviour behaviour = Behaviour::Accept;
  std::function<void()> handler;
  {
    std::lock_guard<std::mutex> lock(FLock);
    FEvents.push_back(ReceivedEvent{Utf8FromWide(Source ? Source : OLESTR("")), Utf8FromWide(DeviceIdText ? DeviceIdText : OLESTR("")),
                                    DeviceIdPtr ? *DeviceIdPtr : GUID{}, DeviceIdPtr, Utf8FromWide(Data ? Data : OLESTR(""))});
    if (FMisbehaviours > 0) {
      --FMisbehaviours;
      behaviour = FBehaviour;
    }
    handler = FOnEvent;
  }
  if (handler) handler();
  FLastThread = platform::CurrentThreadId();
  FLastEventNanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::steady_clock::now().time_since_epoch()).count();
  // Nothing that owns anything lives in this frame when it raises.
  if (behaviour == Behaviour::Throw) throw std::runtime_error("the host refuses the event");
#if defined(_WIN32)
  if (behaviour == Behaviour::Raise) RaiseException(0x0EEDFADE, 0, 0, nullptr);
#else
  if (behaviour == Behaviour::Raise) throw std::runtime_error("the host raises");
#endif
}

void RecordingSink::OnEvent(std::function<void()> Handler) {
  std::lock_guard<std::mutex> lock(FLock);
  FOnEvent = std::move(Handler);
}

void RecordingSink::Misbehave(Behaviour How, int Times) {
  std::lock_guard<std::mutex> lock(FLock);
  FBehaviour = How;
  FMisbehaviours = Times;
}

void RecordingSink::Forget() {
  std::lock_guard<std::mutex> lock(FLock);
  FEvents.clear();
}

std::vector<ReceivedEvent> RecordingSink::Events() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FEvents;
}

size_t RecordingSink::Count() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FEvents.size();
}

std::vector<std::string> RecordingSink::Data() const {
  std::lock_guard<std::mutex> lock(FLock);
  std::vector<std::string> data;
  for (const auto& event : FEvents) data.push_back(event.Data);
  return data;
}

void ParsecDeviceTest::SetUp() {
  ASSERT_TRUE(Simulator.IsLoaded()) << platform::LastLoadError();
  Simulator.Reset();
  OriginalDirectory = platform::CurrentDirectory();
  InitializeReaderLibraryBinding();
  SetReaderLibraryFolder(PRX08_SIMULATOR_FOLDER);
  platform::SetTickCountSource(Simulator.TickSource());
  List = std::make_unique<TManagerVestrelList>(ItemClassOf<TManagerVestrel>());
  List->SetEventSink(&Sink);
}

void ParsecDeviceTest::TearDown() {
  // Let blocked calls go on, and every thread that was let go end, before the next test.
  Simulator.RunClock();
  Simulator.Reset();
  Sink.OnEvent(nullptr);
  List.reset();
  EXPECT_TRUE(WaitForPollingThreadsToEnd(60000)) << "a polling thread never ended";
  SetPollingThreadWaits(0, 0);
  platform::SetTickCountSource(nullptr);
  UnloadReaderLibrary();
  SetReaderLibraryFolder("");
  SetExecutionMode(EXECUTION_MODE_PLUGIN);
  platform::ChangeCurrentDirectory(OriginalDirectory);
}

TManagerVestrel* ParsecDeviceTest::NewDevice() { return static_cast<TManagerVestrel*>(List->NewDevice()); }

int32_t ParsecDeviceTest::SwitchOn(TManagerVestrel* Device) {
  Device->SetActive(1);
  return Device->ErrorCode();
}

void ParsecDeviceTest::SwitchOff(TManagerVestrel* Device) {
  Simulator.RunClock();
  Device->SetActive(0);
}

void ParsecDeviceTest::SetParam(TManagerVestrel* Device, const char* NameUtf8, const std::string& Value) {
  Device->SetParamValue(AnsiFromUtf8(NameUtf8), Value);
}

void ParsecDeviceTest::WaitForTurns(int32_t Reader, int32_t Turns) {
  const int32_t start = Simulator.PollCount(Reader);
  ASSERT_TRUE(WaitUntil([&] { return Simulator.PollCount(Reader) >= start + Turns; }))
      << "reader " << Reader << " is not polled";
}

void ParsecDeviceTest::WaitForEvents(size_t Count) {
  ASSERT_TRUE(WaitUntil([&] { return Sink.Count() >= Count; })) << "only " << Sink.Count() << " events";
}

std::string ParsecDeviceTest::ErrorText(int32_t Code) { return Utf8FromAnsi(List->GetErrorText(Code)); }

std::string TestScratchFolder() {
  std::string folder = platform::TempDirectory() + "vestrel_parsec_" + std::to_string(platform::CurrentProcessId());
  std::filesystem::create_directories(folder);
  return folder + platform::kPathDelimiter;
}
