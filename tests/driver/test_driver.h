#pragma once
// A small driver with tables of its own, the way a concrete driver class makes one, and helpers
// that build call blocks as a host does.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "devices/device_item.h"
#include "devices/devices_list.h"
#include "driver/driver_object.h"
#include "host/plugin_entry.h"
#include "host/wire/params.h"
#include "platform/ole_ptr.h"
#include "platform/text_codec.h"

// What the handlers saw, for the tests to read.
struct THandlerLog {
  std::vector<std::string> Calls;    // "Add", "Fail", "prop:set", ...
  TCallContext Context = nullptr;
  TDeviceItem* DeviceDuringCall = nullptr;
  void* CallContextDuringCall = nullptr;
  OleVariant LastValue;
};
THandlerLog& HandlerLog();

// A devices list whose device texts say which code they are for.
class TTestDevicesList : public TDevicesList {
public:
  TTestDevicesList() : TDevicesList(ItemClassOf<TDeviceItem>()) {}
  AnsiString GetErrorText(int32_t Code) override { return "device text " + std::to_string(Code); }
};

// The test driver. Methods: "Сложить,Add" (3 arguments: doubles each, result 0),
// "Ошибка,Fail" (1 argument, returned as the result), "ChoiceDevice,ВыбратьУстройство" (0),
// secondary "Вторичный,Secondary" (0); properties "Номер"/"Number", "Релиз"/"Release"
// (read-only), "УстройствоВключено"/"DeviceIsOn".
class TTestDriver : public TBaseDllObj {
public:
  TTestDriver();
  static std::unique_ptr<TDevicesList> MakeDevices() { return std::make_unique<TTestDevicesList>(); }
};

// A device appended to the driver's list; the first one added becomes current when asked.
TDeviceItem* AddDevice(TBaseDllObj& driver, bool makeCurrent);

// A plug-in block holding result, name, kind and arguments, with its Name field set.
TParamsPtr CallBlock(const char* utf8Name, int32_t kind, std::vector<OleVariant> arguments = {});
// Parameter i of a block.
OleVariant ParamOf(const TParams& block, int32_t index);
// Parameter i as an integer (0 when it is none), and as UTF-8 text.
int32_t IntParam(const TParams& block, int32_t index);
std::string TextParam(const TParams& block, int32_t index);
// A block's error text as UTF-8.
std::string ErrorTextOf(const TParams& block);

// Memory laid out as a host task object of the given class ("TInternalTask"), carrying a device
// identifier and the driver slot.
class TFakeHostTask {
public:
  TFakeHostTask(const char* className, const GUID& deviceId);
  void* Object() { return FObject.data() + kObjectOffset; }
  void* DriverSlot() const;

private:
  static constexpr size_t kObjectOffset = 64;  // room for the class's slots in front
  std::vector<unsigned char> FClassName;
  std::vector<const void*> FClass;
  std::vector<char> FObject;
};
