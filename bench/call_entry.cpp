// One property get as the host makes it: a parameter block through the exception-safe call
// entry and the dispatcher, against a direct C++ call of the same property handler.
#include <benchmark/benchmark.h>

#include <memory>

#include "devices/device_item.h"
#include "devices/devices_list.h"
#include "driver/driver_object.h"
#include "host/params.h"
#include "host/plugin_entry.h"
#include "platform/ole_ptr.h"

namespace {

bool NumberProperty(TCallContext, int32_t set, VARIANT& value, std::string_view) {
  if (set == 0) {
    V_VT(&value) = VT_I4;
    V_I4(&value) = 42;
  }
  return true;
}

constexpr TPropertyEntry kProperties[] = {
    {"Номер", "Number", "Номер", "Integer", false, "0", "", &NumberProperty},
    {"Релиз", "Release", "Релиз", "Integer", true, "0", "", &NumberProperty},
};

std::unique_ptr<TDevicesList> MakeDevices() { return std::make_unique<TDevicesList>(ItemClassOf<TDeviceItem>()); }

struct TBenchDriver {
  TBenchDriver() {
    Driver = std::make_unique<TBaseDllObj>(TDriverTables{{}, {}, MemberTable(kProperties)}, &MakeDevices,
                                           &DriverInstance(), &DispatchToDriverInstance);
    DriverInstance() = Driver.get();
  }
  ~TBenchDriver() { DriverInstance() = nullptr; }
  std::unique_ptr<TBaseDllObj> Driver;
};

void BM_PropertyGetThroughCallEntry(benchmark::State& state) {
  TBenchDriver bench;
  TParamsPtr block = MakeParams();
  block->SetName("Release");
  block->AddParam(OleVariant());
  block->AddParam(OleVariant(OLESTR("Release")));
  block->AddParam(OleVariant(int32_t{vestrel::kCallPropertyGet}));
  TCallHandler entry = nullptr;
  bench.Driver->Control().GetCallHandler(&entry);
  for (auto _ : state) {
    if (!entry(block.get(), nullptr)) state.SkipWithError("the call failed");
    benchmark::DoNotOptimize(block->Args->rgvarg[0]);
  }
}
BENCHMARK(BM_PropertyGetThroughCallEntry);

void BM_PropertyHandlerDirect(benchmark::State& state) {
  TBenchDriver bench;
  const TPropertyEntry* entry = bench.Driver->PropertyEntry(bench.Driver->FindProperty("Release"));
  for (auto _ : state) {
    OleVariant value;
    entry->Handler(bench.Driver.get(), 0, value, entry->Name);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_PropertyHandlerDirect);

}  // namespace
