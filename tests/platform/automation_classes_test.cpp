// The process's automation classes: creation by program id and class id, the error codes of
// unknown ones, revocation.
#include "platform/automation_classes.h"

#include <gtest/gtest.h>

#include "platform/ole_ptr.h"
#include "platform/ole_test_objects.h"

namespace {

using ole_test::ValueObjectFactory;

const CLSID kTestClass = {0x5A1C3E20, 0x7B44, 0x4D0F, {0x9E, 0x61, 0x2C, 0x83, 0xB1, 0x4D, 0x70, 0x15}};
const CLSID kUnknownClass = {0x5A1C3E21, 0x7B44, 0x4D0F, {0x9E, 0x61, 0x2C, 0x83, 0xB1, 0x4D, 0x70, 0x15}};

class AutomationClasses : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    factory_ = new ValueObjectFactory();
    ASSERT_EQ(platform::RegisterAutomationClass(kTestClass, OLESTR("Vestrel.PlatformTest"), factory_), S_OK);
  }
  void TearDown() override {
    platform::RevokeAutomationClass(kTestClass);
    factory_->Release();
    CoUninitialize();
  }

  ValueObjectFactory* factory_ = nullptr;
};

LONG DefaultValue(IDispatch* object) {
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  OleVariant value;
  EXPECT_EQ(object->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                           value.Put(), nullptr, nullptr),
            S_OK);
  return value.lVal;
}

TEST_F(AutomationClasses, CreatedByProgramIdInAnyCase) {
  ComPtr<IDispatch> object;
  ASSERT_EQ(platform::CreateAutomationObject(OLESTR("Vestrel.PlatformTest"), object.Put()), S_OK);
  ASSERT_TRUE(object);
  EXPECT_EQ(DefaultValue(object.Get()), 7);
  ASSERT_EQ(platform::CreateAutomationObject(OLESTR("vestrel.PLATFORMTEST"), object.Put()), S_OK);
  EXPECT_EQ(factory_->Created(), 2);

  CLSID clsid;
  ASSERT_EQ(platform::AutomationClassIdFromProgId(OLESTR("Vestrel.PlatformTest"), &clsid), S_OK);
  EXPECT_TRUE(clsid == kTestClass);
}

TEST_F(AutomationClasses, CreatedByClassIdDirectlyAndThroughCom) {
  ComPtr<IDispatch> object;
  ASSERT_EQ(platform::CreateAutomationObject(kTestClass, object.Put()), S_OK);
  EXPECT_EQ(DefaultValue(object.Get()), 7);
  ComPtr<IDispatch> viaCom;
  ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, viaCom.PutVoid()), S_OK);
  EXPECT_EQ(DefaultValue(viaCom.Get()), 7);
  EXPECT_EQ(factory_->Created(), 2);
}

TEST_F(AutomationClasses, UnknownClassesFailWithComCodes) {
  ComPtr<IDispatch> object;
  EXPECT_EQ(platform::CreateAutomationObject(OLESTR("Vestrel.NoSuchClass"), object.Put()), CO_E_CLASSSTRING);
  EXPECT_EQ(platform::CreateAutomationObject(kUnknownClass, object.Put()), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(object);
  CLSID clsid = kTestClass;
  EXPECT_EQ(platform::FindRegisteredProgId(OLESTR("Vestrel.NoSuchClass"), &clsid), S_FALSE);
  EXPECT_TRUE(clsid == CLSID_NULL);
}

TEST_F(AutomationClasses, DuplicatesAreRefusedAndRevocationWithdraws) {
  auto* other = new ValueObjectFactory();
  EXPECT_EQ(platform::RegisterAutomationClass(kTestClass, OLESTR("Vestrel.Other"), other), E_INVALIDARG);
  EXPECT_EQ(platform::RegisterAutomationClass(kUnknownClass, OLESTR("vestrel.platformtest"), other), E_INVALIDARG);
  EXPECT_EQ(other->References(), 1u);  // not kept
  other->Release();

  EXPECT_EQ(platform::RevokeAutomationClass(kTestClass), S_OK);
  EXPECT_EQ(platform::RevokeAutomationClass(kTestClass), S_FALSE);
  ComPtr<IDispatch> object;
  EXPECT_EQ(platform::CreateAutomationObject(OLESTR("Vestrel.PlatformTest"), object.Put()), CO_E_CLASSSTRING);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.PutVoid()),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(factory_->References(), 1u);  // every reference taken at registration is back
}

// Published objects (Windows: the running-object table).
TEST(OleActiveObject, RegisterFindRevoke) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  auto* object = new ole_test::ValueObject();
  ComPtr<IUnknown> found;
  EXPECT_EQ(GetActiveObject(kUnknownClass, nullptr, found.Put()), MK_E_UNAVAILABLE);
  DWORD cookie = 0;
  ASSERT_EQ(RegisterActiveObject(object, kUnknownClass, ACTIVEOBJECT_STRONG, &cookie), S_OK);
  EXPECT_GT(object->References(), 1u);  // a strong registration holds the object
  ASSERT_EQ(GetActiveObject(kUnknownClass, nullptr, found.Put()), S_OK);
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(found.QueryInterface(IID_IDispatch, dispatch), S_OK);
  EXPECT_EQ(dispatch.Get(), static_cast<IDispatch*>(object));
  found.Reset();
  dispatch.Reset();
  EXPECT_EQ(RevokeActiveObject(cookie, nullptr), S_OK);
  EXPECT_EQ(object->References(), 1u);
  EXPECT_EQ(GetActiveObject(kUnknownClass, nullptr, found.Put()), MK_E_UNAVAILABLE);
  object->Release();
  CoUninitialize();
}

}  // namespace
