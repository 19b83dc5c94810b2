// The built plug-in library as a host loads it, with the reader simulator beside it: unloading
// it while a device is on, unloading it after, a process that ends with a device on; and the
// long runs of scripts/soak.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "parsec/reader_library.h"
#include "parsec_test_support.h"
#include "platform/child_process.h"
#include "platform/dynamic_library.h"
#include "platform/file_system.h"
#include "platform/named_mutex.h"
#include "platform/ole_ptr.h"
#include "platform/process_info.h"
#include "vestrel/plugin.h"

namespace {

const char kDeviceId[] = "{C0000000-0000-0000-0000-0000000000AA}";

std::string OneDevice() {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Система><Оборудование>") +
         "<Устройство Код=\"" + kDeviceId + "\" Наименование=\"Вход\"><Параметры>" +
         "<Параметр Идентификатор=\"ИнтервалПовтора\" Значение=\"100\"/></Параметры></Устройство>" +
         "</Оборудование></Система>";
}

bool MarkerExists() { return platform::NamedMutexExists(kReaderLibraryMutexName); }

// A new folder of this test's own with copies of Vestrel.plu and the simulator's prx08.dll, laid
// out as at a shop: the plug-in loads the reader library from its own folder. Each test gets
// fresh copies: a library the system keeps mapped must never be overwritten.
std::string ShopFolder() {
  static int shops = 0;
  const std::string folder = TestScratchFolder() + "shop" + std::to_string(++shops) + platform::kPathDelimiter;
  std::filesystem::create_directories(folder);
  const auto overwrite = std::filesystem::copy_options::overwrite_existing;
  std::filesystem::copy_file(VESTREL_PLUGIN_LIBRARY, folder + "Vestrel.plu", overwrite);
  std::filesystem::copy_file(PRX08_SIMULATOR_FILE, folder + kReaderLibraryFileName, overwrite);
  return folder;
}

// The plug-in as a C++ host drives it, through the public headers only.
class THostedPlugin {
public:
  THostedPlugin(const std::string& path, IHostEventSink* sink) : FPath(path), FSink(sink) {}
  ~THostedPlugin() { Unload(); }

  bool Load() {
    FLibrary = platform::DynamicLibrary::Load(FPath);
    auto control = FLibrary.ResolveAs<TPluginControlExport>("PluginControl");
    if (!control) return false;
    IPluginControl* plugin = nullptr;
    control(&plugin);
    if (!plugin || plugin->GetCallHandler(&FEntry) != S_OK || plugin->GetDllObjectIntf(&FDriver) != S_OK) return false;
    return FDriver->SetEventSink(FSink) == S_OK;
  }
  // FreeLibrary, as the host's last step.
  bool Unload() {
    FDriver = nullptr;
    FEntry = nullptr;
    return FLibrary.Free();
  }
  // A method call: its error code (0 when the call did not fail).
  int32_t Call(const char* name, std::vector<OleVariant> arguments = {}) {
    std::vector<OleVariant> values;
    values.emplace_back();
    values.emplace_back(WideFromUtf8(name));
    values.emplace_back(static_cast<int32_t>(vestrel::kCallMethod));
    for (OleVariant& argument : arguments) values.push_back(std::move(argument));
    // The record holds references, last parameter first, as automation callers pass them.
    std::vector<VARIANT> references(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      VARIANT& reference = references[values.size() - 1 - i];
      VariantInit(&reference);
      V_VT(&reference) = VT_BYREF | VT_VARIANT;
      V_VARIANTREF(&reference) = &values[i];
    }
    DISPPARAMS record{};
    record.rgvarg = references.data();
    record.cArgs = static_cast<UINT>(references.size());
    return Run(AnsiFromUtf8(name), &record);
  }
  // A built-in member without arguments ("__FRee").
  int32_t Builtin(const char* name) { return Run(name, nullptr); }
  void Configure() {
    ASSERT_EQ(Call("НастроитьУстройства", {OleVariant(WideFromUtf8(OneDevice()))}), 0);
    ASSERT_EQ(Call("ChoiceDevice", {OleVariant(1)}), 0);
  }

private:
  int32_t Run(const std::string& name, DISPPARAMS* record) {
    vestrel::HostString hostName(name.c_str());
    TParams block{};
    block.Name = hostName.Get();
    block.Args = record;
    block.Sink = FSink;
    FEntry(&block, nullptr);
    VariantClear(&block.ErrorText);
    VariantClear(&block.ErrorSource);
    return block.HasError ? (block.ErrorCode ? block.ErrorCode : -1) : 0;
  }

  std::string FPath;
  IHostEventSink* FSink;
  platform::DynamicLibrary FLibrary;
  TCallHandler FEntry = nullptr;
  IBaseDllObj* FDriver = nullptr;
};

class PluginModule : public ::testing::Test {
protected:
  static void SetUpTestSuite() { CoInitialize(nullptr); }
  void SetUp() override {
    OriginalDirectory = platform::CurrentDirectory();  // the plug-in moves it to its folder
    Folder = ShopFolder();
    Simulator = std::make_unique<SimulatorControl>(Folder + kReaderLibraryFileName);
    ASSERT_TRUE(Simulator->IsLoaded()) << platform::LastLoadError();
    Simulator->Reset();
    Plugin = std::make_unique<THostedPlugin>(Folder + "Vestrel.plu", &Sink);
  }
  void TearDown() override {
    Plugin.reset();
    Simulator.reset();
    platform::ChangeCurrentDirectory(OriginalDirectory);
  }
  void WaitForEvents(size_t Count) {
    ASSERT_TRUE(WaitUntil([&] { return Sink.Count() >= Count; })) << "only " << Sink.Count() << " events";
  }
  bool ModuleLoaded() { return platform::LibraryIsLoaded(Folder + "Vestrel.plu"); }

  std::string OriginalDirectory, Folder;
  RecordingSink Sink;
  std::unique_ptr<SimulatorControl> Simulator;
  std::unique_ptr<THostedPlugin> Plugin;
};

TEST_F(PluginModule, UnloadedWithADeviceOnItRunsOnAndGoesOnceTheDeviceIsOff) {
  ASSERT_TRUE(Plugin->Load());
  Plugin->Configure();
  ASSERT_EQ(Plugin->Call("Включить", {OleVariant()}), 0);
  Simulator->TapCard(0, 1);
  WaitForEvents(1);
  {
    THangWatch watch("FreeLibrary with a device on", 60);
    EXPECT_TRUE(Plugin->Unload());
  }
  EXPECT_TRUE(ModuleLoaded()) << "the polling thread holds the library";
  Simulator->TapCard(0, 2);
  WaitForEvents(2);
  EXPECT_EQ(Sink.Data().back(), "0000000002") << "the device ran on";

  // The host loads it again (the same module, its device still on) and ends properly.
  ASSERT_TRUE(Plugin->Load());
  EXPECT_EQ(Plugin->Call("Выключить", {OleVariant()}), 0);
  EXPECT_EQ(Plugin->Builtin("__FRee"), 0);
  {
    THangWatch watch("FreeLibrary after the switch-off", 60);
    EXPECT_TRUE(Plugin->Unload());
  }
  EXPECT_TRUE(WaitUntil([&] { return !ModuleLoaded(); })) << "the library is unloaded";
  EXPECT_FALSE(MarkerExists());
  EXPECT_FALSE(Simulator->IsReaderOpen(0));
  const std::string log = Simulator->CallLog();
  EXPECT_EQ(log.substr(log.size() - 14), "CloseReader 0\n");
}

#if defined(_WIN32)
// The child below exits with its device on: 45 when it got that far, and it ends by itself.
// (Windows: the system ends the polling thread before the library hears of the process's end.)
TEST_F(PluginModule, AProcessThatExitsWithADeviceOnEndsCleanly) {
  platform::ChildProcess child = platform::ChildProcess::Start(
      platform::ExecutableFileName(), {"--gtest_filter=PluginModuleChild.ExitsWithADeviceOn"},
      {"VESTREL_PLUGIN_EXIT_FOLDER=" + Folder});
  ASSERT_TRUE(child.IsStarted());
  EXPECT_EQ(child.Wait(120000).value_or(-1), 45);
  EXPECT_FALSE(MarkerExists()) << "the marker went with the process";
}

TEST(PluginModuleChild, ExitsWithADeviceOn) {
  const auto folder = platform::EnvironmentVariable("VESTREL_PLUGIN_EXIT_FOLDER");
  if (!folder) GTEST_SKIP() << "run by the test above";
  CoInitialize(nullptr);
  RecordingSink sink;
  SimulatorControl simulator(*folder + kReaderLibraryFileName);
  // Left loaded on purpose: the process ends with it.
  auto* plugin = new THostedPlugin(*folder + "Vestrel.plu", &sink);
  if (!plugin->Load() || plugin->Call("НастроитьУстройства", {OleVariant(WideFromUtf8(OneDevice()))}) != 0 ||
      plugin->Call("ChoiceDevice", {OleVariant(1)}) != 0 || plugin->Call("Включить", {OleVariant()}) != 0)
    std::exit(1);
  simulator.PresentCard(0, 7);
  if (!WaitUntil([&] { return sink.Count() >= 1; })) std::exit(2);
  std::exit(45);
}
#endif

// ---- Long runs (scripts/soak): skipped unless the cycle counts are given ----

// What the process holds, as one line of the soak's report.
void ReportFigures(const char* phase, int cycle) {
  const platform::ProcessResources figures = platform::CurrentProcessResources();
  std::printf("soak %s cycle %6d: handles %5llu  private %8llu KiB  threads %3u\n", phase, cycle,
              static_cast<unsigned long long>(figures.Handles),
              static_cast<unsigned long long>(figures.PrivateBytes / 1024), figures.Threads);
  std::fflush(stdout);
}

int SoakCycles(const char* variable) {
  const auto value = platform::EnvironmentVariable(variable);
  return value ? std::atoi(value->c_str()) : 0;
}

TEST_F(PluginModule, SoakSwitchingOnAndOffWithCards) {
  const int cycles = SoakCycles("VESTREL_SOAK_SWITCH_CYCLES");
  if (cycles <= 0) GTEST_SKIP() << "scripts/soak runs this";
  const int every = std::max(1, cycles / 10);
  ASSERT_TRUE(Plugin->Load());
  Plugin->Configure();
  for (int cycle = 0; cycle <= cycles; ++cycle) {
    if (cycle % every == 0) ReportFigures("switch", cycle);
    if (cycle == cycles) break;
    ASSERT_EQ(Plugin->Call("Включить", {OleVariant()}), 0) << cycle;
    Simulator->TapCard(0, static_cast<uint32_t>(cycle + 1));
    WaitForEvents(1);
    Sink.Forget();
    ASSERT_EQ(Plugin->Call("Выключить", {OleVariant()}), 0) << cycle;
  }
  EXPECT_EQ(Plugin->Builtin("__FRee"), 0);
}

// Even cycles unload with the device on (the next load finds it still running), odd ones switch
// off and free the devices first, so that the library really goes (the last one too).
TEST_F(PluginModule, SoakLoadingConfiguringSwitchingOnAndUnloading) {
  const int cycles = SoakCycles("VESTREL_SOAK_LIBRARY_CYCLES");
  if (cycles <= 0) GTEST_SKIP() << "scripts/soak runs this";
  const int every = std::max(1, cycles / 10);
  for (int cycle = 0; cycle <= cycles; ++cycle) {
    if (cycle % every == 0) ReportFigures("library", cycle);
    if (cycle == cycles) break;
    ASSERT_TRUE(Plugin->Load()) << cycle;
    Plugin->Configure();
    ASSERT_EQ(Plugin->Call("Включить", {OleVariant()}), 0) << cycle;
    Simulator->TapCard(0, static_cast<uint32_t>(cycle + 1));
    WaitForEvents(1);
    Sink.Forget();
    if (cycle % 2 == 1 || cycle + 1 == cycles) {
      ASSERT_EQ(Plugin->Call("Выключить", {OleVariant()}), 0) << cycle;
      ASSERT_EQ(Plugin->Builtin("__FRee"), 0) << cycle;
      ASSERT_TRUE(Plugin->Unload());
      ASSERT_TRUE(WaitUntil([&] { return !ModuleLoaded(); })) << cycle;
    } else {
      ASSERT_TRUE(Plugin->Unload());
    }
  }
}

}  // namespace
