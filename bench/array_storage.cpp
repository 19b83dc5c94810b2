// Saving and loading a 10000 x 10 table of mixed values, beside zlib's own compress and
// uncompress of the same payload: the difference is what the variant encoding, the
// checksum, the header and the array object cost on top of zlib.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <filesystem>
#include <random>

#include "automation/array_storage.h"
#include "automation/safe_array.h"

namespace {

constexpr LONG kRows = 10000;
constexpr LONG kColumns = 10;

// Integers, doubles, dates, short texts, empties and nulls in a repeating column pattern.
ComPtr<ISafeArray> MixedTable() {
  auto table = CreateSafeArray();
  table->SetBounds(kRows, kColumns);
  std::mt19937 random(3);
  std::uniform_real_distribution<double> number(0, 1e6);
  for (LONG x = 0; x < kRows; ++x) {
    for (LONG y = 0; y < kColumns; ++y) {
      OleVariant value;
      switch (y % 6) {
        case 0: value = OleVariant(int32_t(random() % 100000)); break;
        case 1: value = OleVariant(number(random)); break;
        case 2:
          value.vt = VT_DATE;
          value.date = 45000 + double(random() % 100000) / 100.0;
          break;
        case 3: value = OleVariant(WideFromUtf8("Товар №" + std::to_string(random() % 5000))); break;
        case 4: break;
        case 5: value = OleVariant::Null(); break;
      }
      table->SetValue(x, y, value);
    }
  }
  return table;
}

struct Fixture {
  ComPtr<ISafeArray> Table = MixedTable();
  std::filesystem::path File = std::filesystem::temp_directory_path() / "vestrel_bench_table.sfa";
  OleString FileName = OleString(WideFromUtf8(File.string()));
  ByteBuffer Payload;
  ByteBuffer Compressed;

  Fixture() {
    SAFEARRAY* storage = nullptr;
    Table->GetPSA(&storage);
    OleVariant array;
    array.vt = VT_ARRAY | VT_VARIANT;
    array.parray = storage;
    Payload = EncodeArrayPayload(array);
    array.vt = VT_EMPTY;  // the table keeps its storage
    uLongf size = compressBound(uLong(Payload.size()));
    Compressed.resize(size);
    compress2(Compressed.data(), &size, Payload.data(), uLong(Payload.size()), 9);
    Compressed.resize(size);
    VARIANT_BOOL done;
    Table->SaveToFile(FileName.Get(), &done);
  }
  ~Fixture() {
    std::error_code ignored;
    std::filesystem::remove(File, ignored);
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void SaveTable(benchmark::State& state) {
  auto& fixture = Shared();
  VARIANT_BOOL done = VARIANT_FALSE;
  for (auto _ : state) benchmark::DoNotOptimize(fixture.Table->SaveToFile(fixture.FileName.Get(), &done));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fixture.Payload.size()));
}

void LoadTable(benchmark::State& state) {
  auto& fixture = Shared();
  auto target = CreateSafeArray();
  VARIANT_BOOL done = VARIANT_FALSE;
  for (auto _ : state) benchmark::DoNotOptimize(target->LoadFromFile(fixture.FileName.Get(), &done));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fixture.Payload.size()));
}

void ZlibCompressPayload(benchmark::State& state) {
  auto& fixture = Shared();
  ByteBuffer out(compressBound(uLong(fixture.Payload.size())));
  for (auto _ : state) {
    uLongf size = uLongf(out.size());
    benchmark::DoNotOptimize(compress2(out.data(), &size, fixture.Payload.data(), uLong(fixture.Payload.size()), 9));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fixture.Payload.size()));
  state.counters["ratio"] = double(fixture.Payload.size()) / double(fixture.Compressed.size());
}

void ZlibUncompressPayload(benchmark::State& state) {
  auto& fixture = Shared();
  ByteBuffer out(fixture.Payload.size());
  for (auto _ : state) {
    uLongf size = uLongf(out.size());
    benchmark::DoNotOptimize(
        uncompress(out.data(), &size, fixture.Compressed.data(), uLong(fixture.Compressed.size())));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fixture.Payload.size()));
}

void EncodeTable(benchmark::State& state) {
  auto& fixture = Shared();
  SAFEARRAY* storage = nullptr;
  fixture.Table->GetPSA(&storage);
  VARIANT array;
  array.vt = VT_ARRAY | VT_VARIANT;
  array.parray = storage;
  for (auto _ : state) benchmark::DoNotOptimize(EncodeArrayPayload(array));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fixture.Payload.size()));
}

void DecodeTable(benchmark::State& state) {
  auto& fixture = Shared();
  for (auto _ : state) benchmark::DoNotOptimize(DecodeArrayPayload(fixture.Payload));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fixture.Payload.size()));
}

}  // namespace

BENCHMARK(SaveTable)->Unit(benchmark::kMillisecond);
BENCHMARK(ZlibCompressPayload)->Unit(benchmark::kMillisecond);
BENCHMARK(EncodeTable)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadTable)->Unit(benchmark::kMillisecond);
BENCHMARK(ZlibUncompressPayload)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeTable)->Unit(benchmark::kMillisecond);
