// A large device configuration as a host moves it: into the scanner driver through
// "НастроитьУстройства" and back out through "ПолучитьНастройкиXML", each one call through the
// exception-safe call entry. The argument is the number of devices; the time per device should
// stay flat as it grows.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "devices/devices_list.h"
#include "driver/driver_instance.h"
#include "driver/driver_object.h"
#include "host/plugin_entry.h"
#include "host/wire/params.h"
#include "parsec/dll_vestrel.h"
#include "platform/ole_ptr.h"

namespace {

// A host's configuration of Count devices, each with its identifier, a name and every
// parameter of the Parsec reader.
WideString ConfigurationText(int32_t Count) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Система><Оборудование>";
  char id[40];
  for (int32_t i = 0; i < Count; ++i) {
    std::snprintf(id, sizeof id, "{C0000000-0000-0000-0000-%012X}", static_cast<unsigned>(i + 1));
    text += std::string("\r\n<Устройство Код=\"") + id + "\" Наименование=\"Касса " + std::to_string(i + 1) +
            "\" КодТочкиДоступа=\"\"><Параметры>"
            "<Параметр Идентификатор=\"Использовать\" Значение=\"1\"/>"
            "<Параметр Идентификатор=\"Неразделяемое\" Значение=\"1\"/>"
            "<Параметр Идентификатор=\"ИнтервалПовтора\" Значение=\"1500\"/>"
            "<Параметр Идентификатор=\"СтарыйФорматДанных\" Значение=\"0\"/></Параметры></Устройство>";
  }
  return WideFromUtf8(text + "</Оборудование></Система>");
}

TParamsPtr MethodBlock(const char* utf8Name, std::initializer_list<OleVariant> arguments) {
  TParamsPtr block = MakeParams();
  block->SetName(AnsiFromUtf8(utf8Name));
  block->AddParam(OleVariant());
  block->AddParam(OleVariant(WideFromUtf8(utf8Name)));
  block->AddParam(OleVariant(int32_t{vestrel::kCallMethod}));
  for (const OleVariant& argument : arguments) block->AddParam(argument);
  return block;
}

struct TScannerDriver {
  TScannerDriver() {
    CoInitialize(nullptr);
    Driver = CreateVestrelDriver();
    DriverInstance() = Driver.get();
    SetCallHandler(&DispatchToDriverInstance);
  }
  ~TScannerDriver() {
    DriverInstance() = nullptr;
    Driver.reset();
  }
  bool Call(TParams& block) { return SafeCallEntry(&block, nullptr) && !block.HasError; }
  void Configure(benchmark::State& state, const OleVariant& text) {
    TParamsPtr block = MethodBlock("НастроитьУстройства", {text});
    if (!Call(*block) || Driver->Devices().Count() != state.range(0)) state.SkipWithError("the configuration failed");
  }
  std::unique_ptr<TBaseDllObj> Driver;
};

void BM_ConfigureDevices(benchmark::State& state) {
  TScannerDriver scanner;
  const OleVariant text(ConfigurationText(static_cast<int32_t>(state.range(0))));
  for (auto _ : state) {
    state.PauseTiming();
    scanner.Driver->Devices().ClearDevices();
    state.ResumeTiming();
    scanner.Configure(state, text);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));  // devices per second
}
BENCHMARK(BM_ConfigureDevices)->Arg(1000)->Arg(4000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_ExportDevices(benchmark::State& state) {
  TScannerDriver scanner;
  scanner.Configure(state, OleVariant(ConfigurationText(static_cast<int32_t>(state.range(0)))));
  for (auto _ : state) {
    TParamsPtr block = MethodBlock("ПолучитьНастройкиXML", {OleVariant(0), OleVariant()});
    if (!scanner.Call(*block)) state.SkipWithError("the export failed");
    state.PauseTiming();
    block.reset();  // the document goes outside the measured time
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));  // devices per second
}
BENCHMARK(BM_ExportDevices)->Arg(1000)->Arg(4000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
