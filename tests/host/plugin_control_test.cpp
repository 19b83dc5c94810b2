// The control object as the host meets it: publication, the application object, and the
// driver lookup failures with their texts.
#include <gtest/gtest.h>

#include "base/application_object.h"
#include "host/host_test_support.h"
#include "host/plugin_control.h"
#include "host/plugin_entry.h"
#include "platform/ole_ptr.h"

namespace {

BOOL WINAPI SomeEntry(TParams*, IUnknown*) { return TRUE; }

// The description of the thread's automation error information, as UTF-8.
std::string LastErrorDescription() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info) return {};
  OleString text;
  info->GetDescription(text.Put());
  return Utf8FromWide(text.Text());
}

}  // namespace

TEST(PluginControl, PublishesItselfAndWithdrawsOnDestruction) {
  ASSERT_EQ(PublishedControl(), nullptr);
  TBaseDllObj* instance = nullptr;
  {
    TPluginControl first(&instance, &SomeEntry);
    EXPECT_EQ(PublishedControl(), static_cast<IPluginControl*>(&first));
    {
      TPluginControl second(&instance, &SomeEntry);
      EXPECT_EQ(PublishedControl(), static_cast<IPluginControl*>(&second)) << "the newer one replaces the first";
    }
    EXPECT_EQ(PublishedControl(), nullptr) << "destroying either leaves none published";
    SetPublishedControl(&first);
  }
  EXPECT_EQ(PublishedControl(), nullptr);
}

TEST(PluginControl, CountingDoesNothingAndTheQueryFindsOnlyItsInterfaces) {
  TPluginControl control(nullptr, &SomeEntry);
  EXPECT_EQ(control.AddRef(), static_cast<ULONG>(-1));
  EXPECT_EQ(control.Release(), static_cast<ULONG>(-1));
  EXPECT_EQ(control.Release(), static_cast<ULONG>(-1));
  void* found = nullptr;
  EXPECT_EQ(control.QueryInterface(IID_IPluginControl, &found), S_OK);
  EXPECT_EQ(found, static_cast<IPluginControl*>(&control));
  EXPECT_EQ(control.QueryInterface(IID_IBaseDllObj, &found), E_NOINTERFACE);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(control.Reserved1(7), S_OK);
  EXPECT_EQ(control.Reserved2(-1), S_OK);
  TCallHandler handler = nullptr;
  EXPECT_EQ(control.GetCallHandler(&handler), S_OK);
  EXPECT_EQ(handler, &SomeEntry);
}

TEST(PluginControl, OnlyTheFirstApplicationIsInstalledAndTheSavedOneComesBack) {
  int hostApplication = 0, otherApplication = 0;
  void* before = CurrentApplication();
  {
    TPluginControl control(nullptr, &SomeEntry);
    EXPECT_EQ(control.SetApplication(&hostApplication), S_OK);
    EXPECT_EQ(CurrentApplication(), &hostApplication);
    EXPECT_EQ(control.SetApplication(&otherApplication), S_OK);
    EXPECT_EQ(CurrentApplication(), &hostApplication) << "a second call changes nothing";
  }
  EXPECT_EQ(CurrentApplication(), before);

  int replacedMeanwhile = 0;
  {
    TPluginControl control(nullptr, &SomeEntry);
    SetCurrentApplication(&replacedMeanwhile);
  }
  EXPECT_EQ(CurrentApplication(), &replacedMeanwhile) << "without SetApplication nothing is restored";
  SetCurrentApplication(before);
}

TEST(PluginControl, DriverLookupFailuresLeaveTheOutReferenceEmpty) {
  auto* stale = reinterpret_cast<IBaseDllObj*>(0x1);
  {
    TBaseDllObj* instance = nullptr;
    TPluginControl control(&instance, &SomeEntry);
    IBaseDllObj* object = stale;
    EXPECT_TRUE(FAILED(control.GetDllObjectIntf(&object)));
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(LastErrorDescription(), "GetDllObject вернул Nil");
  }
  {
    TPluginControl control(nullptr, &SomeEntry);
    IBaseDllObj* object = stale;
    EXPECT_TRUE(FAILED(control.GetDllObjectIntf(&object)));
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(LastErrorDescription(), "Обработчик GetDllObject не назначен");
  }
}
