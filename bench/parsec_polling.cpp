// The Parsec polling thread against the reader simulator:
//  - CardToEvent: the time from a card appearing on a reader to its event reaching the host's
//    sink (median and 99th percentile as counters; the poll period of 25 ms bounds it);
//  - IdlePolling/0 and /1: the CPU time the polling thread costs per second of wall time with
//    four readers and no card, with the diagnostic log off and on.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "base/collection.h"
#include "base/diagnostic_log.h"
#include "parsec/manager_vestrel.h"
#include "parsec/reader_library.h"
#include "platform/call_convention.h"
#include "platform/dynamic_library.h"
#include "platform/file_system.h"
#include "platform/process_info.h"
#include "platform/sync.h"
#include "vestrel/event_sink.h"

namespace {

using Clock = std::chrono::steady_clock;

// Counts events and notes when the last one arrived.
class TimingSink : public IHostEventSink {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  void VESTREL_HOST_REGISTER ExternalEvent(BSTR, BSTR, const GUID*, BSTR) override {
    Arrived.store(Clock::now().time_since_epoch().count());
    ++Events;
  }
  void VESTREL_HOST_REGISTER CreateArrayObject(VARIANT*) override {}
  std::atomic<int64_t> Arrived{0};
  std::atomic<int> Events{0};
};

struct Simulator {
  platform::DynamicLibrary Library = platform::DynamicLibrary::Load(PRX08_SIMULATOR_FILE);
  template <class F>
  F Get(const char* name) {
    return Library.ResolveAs<F>(name);
  }
};

// A Parsec device switched on against the simulator with the given number of readers.
struct RunningDevice {
  explicit RunningDevice(int readers) {
    simulator.Get<int32_t(PLATFORM_STDCALL*)()>("SimReset")();
    simulator.Get<int32_t(PLATFORM_STDCALL*)(int32_t)>("SimSetReaderCount")(readers);
    InitializeReaderLibraryBinding();
    SetReaderLibraryFolder(PRX08_SIMULATOR_FOLDER);
    list = std::make_unique<TManagerVestrelList>(ItemClassOf<TManagerVestrel>());
    list->SetEventSink(&sink);
    device = static_cast<TManagerVestrel*>(list->NewDevice());
    device->SetActive(1);
  }
  ~RunningDevice() { list.reset(); }
  Simulator simulator;
  TimingSink sink;
  std::unique_ptr<TManagerVestrelList> list;
  TManagerVestrel* device = nullptr;
};

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  size_t index = std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())));
  return values[index];
}

void CardToEvent(benchmark::State& state) {
  RunningDevice running(1);
  if (running.device->ErrorCode() != 0) {
    state.SkipWithError("the device did not switch on");
    return;
  }
  auto tap = running.simulator.Get<int32_t(PLATFORM_STDCALL*)(int32_t, uint32_t)>("SimTapCard");
  std::vector<double> latencies;
  uint32_t card = 1;
  for (auto _ : state) {
    const int before = running.sink.Events.load();
    const auto shown = Clock::now();
    tap(0, card++);  // a new code each time: never a repeat
    while (running.sink.Events.load() == before) platform::SleepMilliseconds(1);
    const auto arrived = Clock::time_point(Clock::duration(running.sink.Arrived.load()));
    const double milliseconds = std::chrono::duration<double, std::milli>(arrived - shown).count();
    latencies.push_back(milliseconds);
    state.SetIterationTime(milliseconds / 1000.0);
    // Let the next card appear at an unrelated moment of the poll cycle.
    platform::SleepMilliseconds(1 + card % 23);
  }
  state.counters["median_ms"] = Percentile(latencies, 0.5);
  state.counters["p99_ms"] = Percentile(latencies, 0.99);
  state.counters["max_ms"] = Percentile(latencies, 1.0);
}
BENCHMARK(CardToEvent)->UseManualTime()->Iterations(400)->Unit(benchmark::kMillisecond);

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void IdlePolling(benchmark::State& state) {
  const bool logged = state.range(0) != 0;
  const std::string file = platform::TempDirectory() + "vestrel_bench_polling_" + std::to_string(platform::CurrentProcessId()) + ".log";
  if (logged) {
    TDiagnosticLogSettings settings;
    settings.FileName = file;
    StartDiagnosticLog(settings);
  }
  struct StopLog {
    bool On;
    std::string File;
    ~StopLog() {
      if (!On) return;
      StopDiagnosticLog();
      std::remove(File.c_str());
    }
  } stopLog{logged, file};
  RunningDevice running(4);
  if (running.device->ErrorCode() != 0) {
    state.SkipWithError("the device did not switch on");
    return;
  }
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    const double cpuStart = ProcessCpuSeconds();
    const auto wallStart = Clock::now();
    platform::SleepMilliseconds(2000);  // this thread sleeps: the CPU time is the poller's
    cpu += ProcessCpuSeconds() - cpuStart;
    wall += std::chrono::duration<double>(Clock::now() - wallStart).count();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - wallStart).count());
  }
  state.counters["cpu_ms_per_s"] = 1000.0 * cpu / wall;
  state.counters["polls_per_s"] =
      running.simulator.Get<int32_t(PLATFORM_STDCALL*)(int32_t)>("SimGetPollCount")(0) / wall;
}
BENCHMARK(IdlePolling)->Arg(0)->Arg(1)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
