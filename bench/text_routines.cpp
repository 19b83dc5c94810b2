// Converting whole configuration texts: the skip-table replace and the CRC-32 register.
#include <benchmark/benchmark.h>

#include <string>

#include "config/crc32.h"
#include "config/text_routines.h"

namespace {

// A device list of the size the host hands over for a large shop: many elements whose
// attribute names carry the legacy spelling the conversion replaces.
std::string ConfigurationText(size_t devices) {
  std::string text = "<EquList>";
  for (size_t i = 0; i < devices; ++i)
    text += "<Device Id=\"" + std::to_string(i) +
            "\" Name=\"Reader\" ReadOnlyFlag4=\"0\" Value4Default=\"2000\" Description=\"line one\r\nline two\"/>";
  return text + "</EquList>";
}

void BM_ReplaceTextCaseInsensitive(benchmark::State& state) {
  const std::string text = ConfigurationText(static_cast<size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(ReplaceText(text, "flag4", "FlagX", false));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReplaceTextCaseInsensitive)->Arg(100)->Arg(10000);

void BM_ReplaceTextGrowing(benchmark::State& state) {
  const std::string text = ConfigurationText(static_cast<size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(ConvertLineBreaks(ReplaceText(text, "\"", "&quot;", true), true));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReplaceTextGrowing)->Arg(100)->Arg(10000);

void BM_Crc32Update(benchmark::State& state) {
  const std::string data(static_cast<size_t>(state.range(0)), 'x');
  uint32_t crc = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(crc = Crc32Update(crc, data.data(), static_cast<int32_t>(data.size())));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Crc32Update)->Arg(1 << 10)->Arg(1 << 20);

}  // namespace
