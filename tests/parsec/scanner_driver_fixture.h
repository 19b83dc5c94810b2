#pragma once
// The scanner driver as a host drives it: every call goes through the exception-safe call
// entry with parameter blocks, the reader is the simulator beside the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../driver/test_driver.h"
#include "parsec/dll_vestrel.h"
#include "parsec_test_support.h"

inline constexpr char kFirstId[] = "{C0000000-0000-0000-0000-000000000001}";
inline constexpr char kSecondId[] = "{C0000000-0000-0000-0000-000000000002}";

// One "Устройство" description in the host's spelling (texts in UTF-8).
inline std::string DeviceXml(const std::string& attributes, const std::string& parameters = "") {
  return "<Устройство " + attributes + "><Параметры>" + parameters + "</Параметры></Устройство>";
}
inline std::string ParameterXml(const std::string& name, const std::string& value) {
  return "<Параметр Идентификатор=\"" + name + "\" Значение=\"" + value + "\"/>";
}
// A host's configuration holding the descriptions.
inline std::string Configuration(const std::string& devices) {
  return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Система><Оборудование>" + devices +
         "</Оборудование></Система>";
}
inline std::string TwoDevices() {
  return Configuration(
      DeviceXml(std::string("Код=\"") + kFirstId + "\" Наименование=\"Вход\"", ParameterXml("ИнтервалПовтора", "1500")) +
      DeviceXml(std::string("Код=\"") + kSecondId + "\" Наименование=\"Выход\""));
}

inline OleVariant Text(const std::string& utf8) { return OleVariant(WideFromUtf8(utf8)); }

class ScannerDriver : public ParsecDeviceTest {
protected:
  // The host's thread has COM set up (configurations are parsed by the system's XML objects).
  static void SetUpTestSuite() { CoInitialize(nullptr); }
  void SetUp() override {
    ParsecDeviceTest::SetUp();
    Driver = CreateVestrelDriver();
    DriverInstance() = Driver.get();
    SetCallHandler(&DispatchToDriverInstance);
    ASSERT_EQ(Driver->BaseDllObjInterface()->SetEventSink(&Sink), S_OK);
  }
  void TearDown() override {
    Simulator.RunClock();
    DriverInstance() = nullptr;
    Driver.reset();
    ParsecDeviceTest::TearDown();
  }
  // One call as the host makes it; the block stays for the test to read.
  TParamsPtr Call(const char* name, int32_t kind, std::vector<OleVariant> arguments = {},
                  void* context = nullptr) {
    TParamsPtr block = CallBlock(name, kind, std::move(arguments));
    SafeCallEntry(block.get(), static_cast<IUnknown*>(context));
    return block;
  }
  int32_t Method(const char* name, std::vector<OleVariant> arguments = {}) {
    TParamsPtr block = Call(name, vestrel::kCallMethod, std::move(arguments));
    EXPECT_FALSE(block->HasError) << name << ": " << ErrorTextOf(*block);
    return IntParam(*block, 0);
  }
  OleVariant Get(const char* name) { return ParamOf(*Call(name, vestrel::kCallPropertyGet), 0); }
  int32_t GetInt(const char* name) {
    const OleVariant value = Get(name);
    EXPECT_EQ(V_VT(&value), VT_I4) << name;
    return V_VT(&value) == VT_I4 ? V_I4(&value) : -1;
  }
  static VARTYPE TypeOf(const TParams& block, int32_t index) {
    const OleVariant value = ParamOf(block, index);
    return V_VT(&value);
  }
  void Configure() {
    ASSERT_EQ(Method("НастроитьУстройства", {Text(TwoDevices())}), 0);
    ASSERT_EQ(Driver->Devices().Count(), 2);
  }
  std::unique_ptr<TBaseDllObj> Driver;
};
