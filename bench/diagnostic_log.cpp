// The diagnostic log's cost: one call with the log off and on, a call that meets a full queue,
// the writer's pace behind a full queue, and the readers' statistics per poll.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "base/diagnostic_log.h"
#include "parsec/reader_statistics.h"
#include "platform/process_info.h"

namespace {

namespace fs = std::filesystem;

// A log file of the benchmark's own for the scope of one benchmark.
class BenchLog {
public:
  explicit BenchLog(uint32_t queueLines = 4096) {
    FFile = (fs::temp_directory_path() / ("vestrel_bench_log_" + std::to_string(platform::CurrentProcessId()) + ".log")).string();
    TDiagnosticLogSettings settings;
    settings.FileName = FFile;
    settings.QueueLines = queueLines;
    settings.MaxFileBytes = 64 << 20;
    StartDiagnosticLog(settings);
  }
  ~BenchLog() {
    StopDiagnosticLog();
    std::error_code ignored;
    fs::remove(FFile, ignored);
    fs::remove(RotatedDiagnosticLogFileName(FFile), ignored);
  }

private:
  std::string FFile;
};

void LogOneCall(int kind) { DIAGNOSTIC_LOG("call %s kind %d: result 0, 12 us", "Включить", kind); }

void BM_LogCallOff(benchmark::State& state) {
  StopDiagnosticLog();
  int kind = 0;
  for (auto _ : state) {
    LogOneCall(kind++);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_LogCallOff);

// Each call formats its line and queues it; the writer keeps up with the pace of host calls.
void BM_LogCallOn(benchmark::State& state) {
  BenchLog log(1 << 16);
  int kind = 0;
  for (auto _ : state) {
    LogOneCall(kind++);
    if ((kind & 0x3FFF) == 0) {
      state.PauseTiming();
      FlushDiagnosticLog(60000);
      state.ResumeTiming();
    }
  }
  FlushDiagnosticLog(60000);
  const TDiagnosticLogCounters counters = DiagnosticLogCounters();
  state.counters["dropped"] = static_cast<double>(counters.Dropped);
  state.counters["written"] = static_cast<double>(counters.Written);
}
BENCHMARK(BM_LogCallOn);

// A call that finds the queue full (the file system stalls): the line is built and dropped.
void BM_LogCallIntoAFullQueue(benchmark::State& state) {
  BenchLog log(64);
  HoldDiagnosticLogWriter(true);
  for (int line = 0; line < 64; ++line) LogOneCall(line);
  int kind = 0;
  for (auto _ : state) LogOneCall(kind++);
  state.counters["dropped"] = static_cast<double>(DiagnosticLogCounters().Dropped);
  HoldDiagnosticLogWriter(false);
}
BENCHMARK(BM_LogCallIntoAFullQueue);

// The writer behind a full queue: the queue is filled while it is held, then it writes the
// whole queue to the file. Items per second are lines written.
void BM_WriterEmptiesAFullQueue(benchmark::State& state) {
  const auto lines = static_cast<int>(state.range(0));
  BenchLog log(static_cast<uint32_t>(lines));
  for (auto _ : state) {
    state.PauseTiming();
    HoldDiagnosticLogWriter(true);
    for (int line = 0; line < lines; ++line) LogOneCall(line);
    state.ResumeTiming();
    HoldDiagnosticLogWriter(false);
    FlushDiagnosticLog(60000);
  }
  state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(BM_WriterEmptiesAFullQueue)->Arg(4096)->UseRealTime();

// The statistics' share of one poll of one reader whose answer does not change.
void BM_ReadAnsweredSteady(benchmark::State& state) {
  const bool logOn = state.range(0) != 0;
  BenchLog log;
  if (!logOn) StopDiagnosticLog();
  TReaderStatistics statistics;
  statistics.ReadersEnumerated(4, 4);
  uint32_t tick = 0;
  for (auto _ : state) statistics.ReadAnswered(1, 1, tick += 25);
}
BENCHMARK(BM_ReadAnsweredSteady)->Arg(0)->Arg(1);

}  // namespace
