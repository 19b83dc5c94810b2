// The call path as a host meets it: Vestrel.plu loaded with the system's loader, the call
// entry from its control object, and blocks the host builds itself (zero-filled, a record of
// VT_BYREF|VT_VARIANT references to the host's own variants, last parameter first):
//  - PropertyGetThroughVestrelPlu: "НомерУстройства" read through the entry;
//  - ReleaseGetThroughVestrelPlu: "Релиз" read through the entry;
//  - PropertyGetThroughVestrelPluLogOn: the first with the plug-in's diagnostic log on (one
//    line per call; a queue the writer cannot keep up with drops lines, which costs less);
//  - PropertyHandlerDirect: the same property's handler called directly, in this process, on
//    a driver of the same class (the floor of what a get can cost);
//  - ModuleStart: loading the library (its module start), unloading not counted.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "driver/driver_instance.h"
#include "driver/driver_object.h"
#include "parsec/dll_vestrel.h"
#include "platform/dynamic_library.h"
#include "platform/file_system.h"
#include "platform/process_info.h"
#include "platform/ole_ptr.h"
#include "platform/text_codec.h"
#include "vestrel/plugin.h"

namespace {

// The library as a host holds it while it calls.
struct TLoadedVestrel {
  TLoadedVestrel() : Library(platform::DynamicLibrary::Load(VESTREL_PLUGIN_LIBRARY)) {
    auto pluginControl = Library.ResolveAs<TPluginControlExport>("PluginControl");
    if (pluginControl == nullptr) return;
    pluginControl(&Control);
    if (Control != nullptr) Control->GetCallHandler(&Entry);
  }
  ~TLoadedVestrel() {
    if (Control != nullptr) Control->Release();
  }
  platform::DynamicLibrary Library;
  IPluginControl* Control = nullptr;
  TCallHandler Entry = nullptr;
};

// A property get as a host builds it, reused for every call as a host reuses its blocks.
struct THostGet {
  explicit THostGet(const char* utf8Name) : Name(AnsiFromUtf8(utf8Name).c_str()) {
    const WideString wide = WideFromUtf8(utf8Name);
    for (VARIANT& value : Values) VariantInit(&value);
    V_VT(&Values[1]) = VT_BSTR;
    V_BSTR(&Values[1]) = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    V_VT(&Values[2]) = VT_I4;
    V_I4(&Values[2]) = vestrel::kCallPropertyGet;
    for (size_t i = 0; i < Values.size(); ++i) {
      VARIANT& reference = References[Values.size() - 1 - i];
      VariantInit(&reference);
      V_VT(&reference) = VT_BYREF | VT_VARIANT;
      V_VARIANTREF(&reference) = &Values[i];
    }
    Record.rgvarg = References.data();
    Record.cArgs = static_cast<UINT>(References.size());
    Block.Name = Name.Get();
    Block.Args = &Record;
  }
  ~THostGet() {
    for (VARIANT& value : Values) VariantClear(&value);
    VariantClear(&Block.ErrorText);
    VariantClear(&Block.ErrorSource);
  }
  vestrel::HostString Name;
  std::array<VARIANT, 3> Values{};
  std::array<VARIANT, 3> References{};
  DISPPARAMS Record{};
  TParams Block{};
};

void GetThroughVestrelPlu(benchmark::State& state, const char* name) {
  TLoadedVestrel plugin;
  if (plugin.Entry == nullptr) return state.SkipWithError(("cannot load " + platform::LastLoadError()).c_str());
  THostGet get(name);
  for (auto _ : state) {
    if (!plugin.Entry(&get.Block, nullptr)) return state.SkipWithError("the call failed");
    benchmark::DoNotOptimize(get.Values[0]);
  }
}

void BM_PropertyGetThroughVestrelPlu(benchmark::State& state) { GetThroughVestrelPlu(state, "НомерУстройства"); }
BENCHMARK(BM_PropertyGetThroughVestrelPlu);

void BM_ReleaseGetThroughVestrelPlu(benchmark::State& state) { GetThroughVestrelPlu(state, "Релиз"); }
BENCHMARK(BM_ReleaseGetThroughVestrelPlu);

void BM_PropertyGetThroughVestrelPluLogOn(benchmark::State& state) {
  // The module start reads the variable: the library loaded below writes its log there.
  const std::string file = platform::TempDirectory() + "vestrel_bench_call_" + std::to_string(platform::CurrentProcessId()) + ".log";
  platform::PutEnvironmentVariable("VESTREL_LOG_FILE", file);
  GetThroughVestrelPlu(state, "НомерУстройства");
  platform::PutEnvironmentVariable("VESTREL_LOG_FILE", "");
  std::remove(file.c_str());
}
BENCHMARK(BM_PropertyGetThroughVestrelPluLogOn);

void BM_PropertyHandlerDirect(benchmark::State& state) {
  const std::unique_ptr<TBaseDllObj> driver = CreateVestrelDriver();
  const TPropertyEntry* entry = driver->PropertyEntry(driver->FindProperty(WideFromUtf8("НомерУстройства")));
  if (entry == nullptr) return state.SkipWithError("no such property");
  for (auto _ : state) {
    OleVariant value;
    entry->Handler(driver.get(), 0, value, entry->Name);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_PropertyHandlerDirect);

void BM_ModuleStart(benchmark::State& state) {
  for (auto _ : state) {
    platform::DynamicLibrary library = platform::DynamicLibrary::Load(VESTREL_PLUGIN_LIBRARY);
    if (!library) return state.SkipWithError(("cannot load " + platform::LastLoadError()).c_str());
    state.PauseTiming();
    library.Free();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ModuleStart)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
