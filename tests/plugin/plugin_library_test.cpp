// The library as a host drives it: loaded with the platform's loader, PluginControl, the call
// entry and the driver's interfaces, call chains, unloading; and a build whose driver
// construction fails.
#include <gtest/gtest.h>

#include <atomic>

#include "base/errors.h"
#include "host/wire/params.h"
#include "platform/child_process.h"
#include "platform/dynamic_library.h"
#include "platform/file_system.h"
#include "platform/process_info.h"
#include "platform/ole_ptr.h"
#include "register_call.h"

namespace {

using platform::DynamicLibrary;

// An interface whose releases the test counts: what a host's result slot held before.
struct TCountedObject : IPluginControl {
  std::atomic<int> Releases{0};
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(++Releases); }
  HRESULT STDMETHODCALLTYPE Reserved1(int32_t) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE Reserved2(int32_t) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE GetCallHandler(TCallHandler*) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE GetDllObjectIntf(IBaseDllObj**) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE SetApplication(void*) override { return E_FAIL; }
};

struct TLoadedPlugin {
  explicit TLoadedPlugin(const char* path) : Library(DynamicLibrary::Load(path)) {
    if (!Library) return;
    Control = Library.ResolveAs<TPluginControlExport>("PluginControl");
    QueryValue = Library.ResolveAs<TQueryExport>("Query");
  }
  IPluginControl* TakeControl() {
    IPluginControl* slot = nullptr;
    const TRegisterCallResult call = CallPluginControl(Control, &slot);
    EXPECT_EQ(call.StackDelta, 0);
    return slot;
  }
  DynamicLibrary Library;
  TPluginControlExport Control = nullptr;
  TQueryExport QueryValue = nullptr;
};

std::string ErrorTextOf(const TParams& block) {
  if (V_VT(&block.ErrorText) != VT_BSTR || V_BSTR(&block.ErrorText) == nullptr) return {};
  return Utf8FromWide(WideStringView(V_BSTR(&block.ErrorText), SysStringLen(V_BSTR(&block.ErrorText))));
}

TParamsPtr CallBlock(const char* name, int32_t kind) {
  TParamsPtr block = MakeParams();
  block->SetName(AnsiFromUtf8(name));
  block->AddParam(OleVariant());
  block->AddParam(OleVariant(WideFromUtf8(name)));
  block->AddParam(OleVariant(kind));
  return block;
}

void RunSession(TLoadedPlugin& plugin);

}  // namespace

TEST(PluginLibrary, ExportsOnlyWhatTheHostCalls) {
  TLoadedPlugin plugin(VESTREL_PLUGIN_LIBRARY);
  ASSERT_TRUE(plugin.Library.IsLoaded()) << platform::LastLoadError();
  ASSERT_NE(plugin.Control, nullptr);
  ASSERT_NE(plugin.QueryValue, nullptr);
  EXPECT_EQ(plugin.QueryValue(), vestrel::kQueryValue);
  for (const char* internal : {"ModuleStart", "_Z11ModuleStartPFSt10unique_ptrI11TBaseDllObjSt14default_deleteIS0_EEvE",
                               "DllMain", "SafeCallEntry", "CreateModuleDriver"}) {
    EXPECT_EQ(plugin.Library.Resolve(internal), nullptr) << internal;
  }
}

TEST(PluginLibrary, AHostSessionFromLoadToUnload) {
  TLoadedPlugin plugin(VESTREL_PLUGIN_LIBRARY);
  ASSERT_TRUE(plugin.Library.IsLoaded()) << platform::LastLoadError();
  RunSession(plugin);
  // Every reference into the library is gone before it is unloaded.
  EXPECT_TRUE(plugin.Library.Free());
}

namespace {
void RunSession(TLoadedPlugin& plugin) {
  // PluginControl: the same interface every time; the slot's previous reference is released.
  TCountedObject previous;
  IPluginControl* slot = &previous;
  EXPECT_EQ(CallPluginControl(plugin.Control, &slot).StackDelta, 0);
  ASSERT_NE(slot, nullptr);
  EXPECT_NE(slot, static_cast<IPluginControl*>(&previous));
  EXPECT_EQ(previous.Releases.load(), 1);
  IPluginControl* control = slot;
  EXPECT_EQ(plugin.TakeControl(), control);
  EXPECT_EQ(control->Release(), static_cast<ULONG>(-1)) << "releasing never frees the control object";
  EXPECT_EQ(plugin.TakeControl(), control);

  int application = 0;
  EXPECT_EQ(control->SetApplication(&application), S_OK);
  TCallHandler entry = nullptr;
  ASSERT_EQ(control->GetCallHandler(&entry), S_OK);
  ASSERT_NE(entry, nullptr);
  IBaseDllObj* driver = nullptr;
  ASSERT_EQ(control->GetDllObjectIntf(&driver), S_OK);
  ASSERT_NE(driver, nullptr);

  int32_t version = 0;
  EXPECT_EQ(driver->GetInterfaceVersion(&version), S_OK);
  EXPECT_EQ(version, 3);
  uint16_t number = 0;
  EXPECT_EQ(driver->GetVersionNumber(&number), S_OK);
  EXPECT_EQ(number, VESTREL_PROJECT_VERSION_BUILD) << "the fourth part of the file version";
  OleString path;
  EXPECT_EQ(driver->GetModulePath(path.Put()), S_OK);
  const std::string pathText = Utf8FromWide(path.Text());
  EXPECT_EQ(pathText.substr(pathText.size() - 11), "Vestrel.plu") << pathText;

  // The member lookups in the host's register convention.
  IDllObjMembers* members = nullptr;
  EXPECT_EQ(CallGetMembers(driver, &members).StackDelta, 0);
  ASSERT_NE(members, nullptr);
  OleString switchOn(WideFromUtf8("sWITCHoN")), switchOff(WideFromUtf8("Выключить")), other(WideFromUtf8("Add"));
  TRegisterCallResult answer = CallMembersOperation(members, 6, switchOn.Get());
  EXPECT_EQ(answer.Eax & 0xFF, 1u);
  EXPECT_EQ(answer.StackDelta, 0);
  EXPECT_EQ(CallMembersOperation(members, 6, other.Get()).Eax & 0xFF, 0u);
  EXPECT_EQ(CallMembersOperation(members, 7, switchOff.Get()).Eax & 0xFF, 1u);
  EXPECT_EQ(CallMembersOperation(members, 7, switchOn.Get()).Eax & 0xFF, 0u);
  EXPECT_EQ(CallMembersOperation(members, 4, other.Get()).Eax & 0xFF, 0u) << "the library's driver has no table entries";

  // A chain through the call entry: the event-sink built-in, then failures in the block.
  TParamsPtr support = CallBlock("__@@EventSupport", 0);
  EXPECT_EQ(entry(support.get(), nullptr), FALSE);
  EXPECT_FALSE(support->HasError);
  ASSERT_EQ(support->Count(), 1);
  OleVariant answerMembers;
  support->GetParam(0, answerMembers);
  EXPECT_EQ(V_VT(&answerMembers), VT_UNKNOWN);
  EXPECT_EQ(V_UNKNOWN(&answerMembers), static_cast<IUnknown*>(members));

  TParamsPtr unknown = CallBlock("Нечто", vestrel::kCallMethod);
  EXPECT_EQ(entry(unknown.get(), nullptr), FALSE);
  EXPECT_TRUE(unknown->HasError);
  EXPECT_EQ(unknown->ErrorCode, ERR_MEMBER_NOT_FOUND);
  EXPECT_NE(ErrorTextOf(*unknown).find("Нечто"), std::string::npos) << ErrorTextOf(*unknown);
}
}  // namespace

TEST(PluginLibrary, AFailedDriverConstructionLeavesNoControlAndUnloadsCleanly) {
  for (int round = 0; round < 2; ++round) {
    TLoadedPlugin plugin(VESTREL_FAILING_PLUGIN_LIBRARY);
    ASSERT_TRUE(plugin.Library.IsLoaded()) << platform::LastLoadError();
    TCountedObject previous;
    IPluginControl* slot = &previous;
    EXPECT_EQ(CallPluginControl(plugin.Control, &slot).StackDelta, 0);
    EXPECT_EQ(slot, nullptr) << "an empty reference, never a failure";
    EXPECT_EQ(previous.Releases.load(), 1);
    EXPECT_EQ(plugin.TakeControl(), nullptr);
    EXPECT_EQ(plugin.QueryValue(), vestrel::kQueryValue);
    EXPECT_TRUE(plugin.Library.Free());
  }
}

#ifndef _WIN32
// A host that ends without unloading the library: the library's stop runs at the process's
// exit, while what it uses is still there. The host is a copy of this program.
TEST(PluginLibrary, AHostThatExitsWithoutUnloadingEndsCleanly) {
  constexpr char kChildVariable[] = "VESTREL_TEST_EXIT_WITHOUT_UNLOAD";
  if (platform::EnvironmentVariable(kChildVariable)) {
    auto* plugin = new TLoadedPlugin(VESTREL_PLUGIN_LIBRARY);  // never unloaded
    IPluginControl* control = plugin->TakeControl();
    TCallHandler entry = nullptr;
    if (control == nullptr || control->GetCallHandler(&entry) != S_OK) std::_Exit(2);
    TParamsPtr support = CallBlock("__@@EventSupport", 0);
    entry(support.get(), nullptr);
    TParamsPtr release = CallBlock("Релиз", vestrel::kCallPropertyGet);
    if (!entry(release.get(), nullptr)) std::_Exit(3);
    std::exit(0);
  }
  platform::ChildProcess host = platform::ChildProcess::Start(
      platform::ExecutableFileName(), {"--gtest_filter=PluginLibrary.AHostThatExitsWithoutUnloadingEndsCleanly"},
      {std::string(kChildVariable) + "=1"});
  ASSERT_TRUE(host.IsStarted());
  EXPECT_EQ(host.Wait(120000), std::optional<int>(0));
}
#endif
