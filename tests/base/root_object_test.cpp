#include "base/root_object.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

// A plain counted object standing in for the host's event sink.
class CountedSink : public IUnknown {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++Count); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--Count); }
  std::atomic<int> Count{1};
};

struct IRootProbe : public IUnknown {
  virtual int32_t STDMETHODCALLTYPE Answer() = 0;
};

// A descendant that provides the root interface, as the driver object does.
class TProvidingRoot : public TRootObject, public IRootProbe {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    return TRootObject::QueryInterface(riid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return TRootObject::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return TRootObject::Release(); }
  int32_t STDMETHODCALLTYPE Answer() override { return 42; }

protected:
  void* GetInterface(REFIID riid) override {
    if (IsEqualIID(riid, IID_IRootInterface))
      return static_cast<IRootProbe*>(this);
    return TRootObject::GetInterface(riid);
  }
};

#define EXPECT_FAILED_LOOKUP(found)                                       \
  do {                                                                    \
    EXPECT_TRUE(FAILED(GetActiveObject(IID_IRootInterface, nullptr, &found))); \
    if (found) found->Release();                                          \
  } while (0)

class RootObjectTest : public ::testing::Test {
protected:
  void SetUp() override { CoInitialize(nullptr); }
  void TearDown() override { CoUninitialize(); }
};

}  // namespace

TEST_F(RootObjectTest, SecurityRecordsGrantEveryoneOnNT) {
  TRootObject root;
  ASSERT_TRUE(IsWinNT());
  EXPECT_TRUE(root.SecurityAttributes().Prepared());
}

TEST_F(RootObjectTest, InterfacesAndNonOwningCount) {
  TRootObject root;
  IRootObject* intf = nullptr;
  ASSERT_EQ(root.QueryInterface(IID_IRootObject, reinterpret_cast<void**>(&intf)), S_OK);
  EXPECT_EQ(intf, static_cast<IRootObject*>(&root));
  EXPECT_EQ(root.AddRef(), static_cast<ULONG>(-1));
  EXPECT_EQ(root.Release(), static_cast<ULONG>(-1));
  EXPECT_EQ(root.Release(), static_cast<ULONG>(-1)) << "releasing never frees the object";
  IUnknown* rootIntf = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(intf->GetRootInterface(&rootIntf), E_NOINTERFACE);
  EXPECT_EQ(rootIntf, nullptr);
  EXPECT_EQ(root.WMGetObject(), 0u) << "nothing to register without the root interface";
}

TEST_F(RootObjectTest, GetRootInterfaceOfADescendant) {
  TProvidingRoot root;
  IUnknown* rootIntf = nullptr;
  ASSERT_EQ(root.GetRootInterface(&rootIntf), S_OK);
  EXPECT_EQ(static_cast<IRootProbe*>(rootIntf)->Answer(), 42);
}

TEST_F(RootObjectTest, GetObjectMessageRegistersTheRunningObjectUntilTheObjectGoes) {
  IUnknown* found = nullptr;
  {
    TProvidingRoot root;
    EXPECT_FAILED_LOOKUP(found);
    root.SendWindowMessage(WM_GETOBJECT_MESSAGE);
    ASSERT_EQ(GetActiveObject(IID_IRootInterface, nullptr, &found), S_OK);
    ASSERT_NE(found, nullptr);
    IRootProbe* probe = nullptr;
    ASSERT_EQ(found->QueryInterface(IID_IRootInterface, reinterpret_cast<void**>(&probe)), S_OK);
    EXPECT_EQ(probe->Answer(), 42);
    probe->Release();
    found->Release();
    // Every later request finds the one registration in place.
    const uint32_t registration = root.WMGetObject();
    ASSERT_NE(registration, 0u);
    root.SendWindowMessage(WM_GETOBJECT_MESSAGE);
    EXPECT_EQ(root.WMGetObject(), registration);
  }
  // The object withdrew it as it went: the table holds nothing that could be called.
  found = nullptr;
  EXPECT_FAILED_LOOKUP(found);
}

TEST_F(RootObjectTest, WindowIsNeverAChild) {
  TRootObject root;
  EXPECT_FALSE(root.Window().HandleAllocated()) << "created on demand";
  root.WindowHandle();
  EXPECT_FALSE(root.Window().IsChildWindow());
}

TEST_F(RootObjectTest, HostLinkIsReleasedByClearAndByDestruction) {
  CountedSink sink;
  {
    TRootObject root;
    root.SetHostLink(&sink);
    EXPECT_EQ(sink.Count, 2);
    root.ClearHostLink();
    EXPECT_EQ(sink.Count, 1);
    EXPECT_FALSE(root.HostLink());
    root.ClearHostLink();
    EXPECT_EQ(sink.Count, 1);
    root.SetHostLink(&sink);
  }
  EXPECT_EQ(sink.Count, 1);
}

TEST_F(RootObjectTest, RaiseErrorForwardsToTheCodedException) {
  TRootObject root;
  try {
    root.RaiseError("plain text");
    FAIL();
  } catch (const EProtectException& error) {
    EXPECT_EQ(error.Code, ERR_TEXT);
    EXPECT_NE(error.Message().find("plain text"), std::string::npos);
  }
  EXPECT_THROW(root.RaiseError(ERR_INVALID_INDEX, {}), EProtectException);
}
