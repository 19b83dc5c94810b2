// The driver object's construction, its two interfaces and its lookups of driver and device.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/execution_mode.h"
#include "devices/model_list.h"
#include "host/plugin_control.h"
#include "test_driver.h"

namespace {

OleString Bstr(const char* utf8) { return OleString(WideFromUtf8(utf8)); }

std::unique_ptr<TDevicesList> FailingDevices() { throw Exception("no devices list"); }

TBaseDllObj* gInstance = nullptr;
BOOL WINAPI Handler(TParams*, IUnknown*) { return TRUE; }

}  // namespace

TEST(DriverObject, ConstructionPublishesAndDestructionWithdraws) {
  {
    TTestDriver driver;
    EXPECT_EQ(PublishedControl(), static_cast<IPluginControl*>(&driver.Control()));
    EXPECT_EQ(ExecutionMode(), EXECUTION_MODE_PLUGIN);
    EXPECT_TRUE(driver.ResultCheckActive());
    EXPECT_EQ(driver.HostValue(), 0);
    EXPECT_FALSE(driver.ModulePath().empty());
    TCallHandler handler = nullptr;
    driver.Control().GetCallHandler(&handler);
    EXPECT_EQ(handler, &SafeCallEntry) << "the host gets the exception-safe entry";
  }
  EXPECT_EQ(PublishedControl(), nullptr);

  EXPECT_THROW(TBaseDllObj(TDriverTables{}, &FailingDevices, &gInstance, &Handler), Exception);
  EXPECT_EQ(PublishedControl(), nullptr) << "a failed construction withdraws what it published";
}

TEST(DriverObject, BaseInterfaceAnswers) {
  TTestDriver driver;
  IBaseDllObj* base = driver.BaseDllObjInterface();
  int32_t value = 0;
  EXPECT_EQ(base->GetInterfaceVersion(&value), S_OK);
  EXPECT_EQ(value, 3);
  EXPECT_EQ(base->GetReserved(&value), S_OK);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(base->AddRef(), static_cast<ULONG>(-1));
  EXPECT_EQ(base->Release(), static_cast<ULONG>(-1));
  EXPECT_EQ(base->SetHostValue(77), S_OK);
  EXPECT_EQ(driver.HostValue(), 77);

  OleString path;
  EXPECT_EQ(base->GetModulePath(path.Put()), S_OK);
  EXPECT_EQ(path.Str(), driver.ModulePath());

  const int32_t models = driver.Devices().Models().Count();
  ASSERT_GE(models, 1);
  IUnknown* model = reinterpret_cast<IUnknown*>(0x1);
  EXPECT_EQ(base->GetModel(models, &model), S_OK);
  EXPECT_EQ(model, nullptr) << "an index equal to the number of models gives an empty reference";
  EXPECT_EQ(base->GetModel(0, &model), S_OK);
  EXPECT_NE(model, nullptr);
  if (model) model->Release();

  void* members = nullptr;
  EXPECT_EQ(base->QueryInterface(IID_IDllObjMembers, &members), S_OK);
  EXPECT_EQ(members, static_cast<IDllObjMembers*>(driver.MembersInterface()));
  IDllObjMembers* slot = nullptr;
  base->GetMembers(&slot);
  EXPECT_EQ(slot, driver.MembersInterface());
}

TEST(DriverObject, MemberQueries) {
  TTestDriver driver;
  IDllObjMembers* members = driver.MembersInterface();
  EXPECT_TRUE(members->IsSwitchOn(Bstr("SWITCHON").Get()));
  EXPECT_TRUE(members->IsSwitchOn(Bstr("включить").Get()));
  EXPECT_FALSE(members->IsSwitchOn(Bstr("SwitchOff").Get()));
  EXPECT_TRUE(members->IsSwitchOff(Bstr("ВЫКЛЮЧИТЬ").Get()));
  for (const char* name : {"Сложить", "Add", "Ошибка", "fail", "ChoiceDevice", "выбратьустройство", "Secondary"})
    EXPECT_TRUE(members->IsMethod(Bstr(name).Get())) << name;
  EXPECT_FALSE(members->IsMethod(Bstr("Number").Get()));
  EXPECT_FALSE(members->IsMethod(nullptr));
  EXPECT_TRUE(members->IsSecondaryMethod(Bstr("вторичный").Get()));
  EXPECT_FALSE(members->IsSecondaryMethod(Bstr("Add").Get()));
  EXPECT_TRUE(members->IsProperty(Bstr("release").Get()));
  EXPECT_TRUE(members->IsProperty(Bstr("Номер").Get()));
  EXPECT_FALSE(members->IsProperty(Bstr("Add").Get()));
}

TEST(DriverObject, DriverAndDeviceOfACallContext) {
  TTestDriver driver;
  EXPECT_EQ(TBaseDllObj::GetBaseDll(&driver), &driver);
  void* notADriver[4] = {};  // an object whose class reference is null
  try {
    TBaseDllObj::GetBaseDll(notADriver);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& error) {
    EXPECT_EQ(Utf8FromAnsi(error.Message()), "Вызов метода GetBaseDll с очень плохим параметром!");
  }
  TFakeHostTask otherClass("TForm", GUID{});
  EXPECT_FALSE(TBaseDllObj::IsHostTask(otherClass.Object()));
  EXPECT_THROW(TBaseDllObj::GetBaseDll(otherClass.Object()), Exception);

  EXPECT_EQ(driver.DeviceFor(nullptr), nullptr) << "no device is current";
  TDeviceItem* device = AddDevice(driver, false);
  EXPECT_EQ(driver.DeviceFor(nullptr), nullptr);
  driver.Devices().SetCurrent(1);
  device->SetCallContext(notADriver);
  EXPECT_EQ(driver.DeviceFor(nullptr), device);
  EXPECT_EQ(device->CallContext(), nullptr);
  driver.Devices().SetCurrent(2);
  EXPECT_EQ(driver.DeviceFor(nullptr), nullptr) << "a current number past the devices";

  TFakeHostTask task("TInternalTask", device->DeviceId());
  EXPECT_EQ(driver.DeviceFor(task.Object()), device);
  EXPECT_EQ(device->CallContext(), task.Object());
}
