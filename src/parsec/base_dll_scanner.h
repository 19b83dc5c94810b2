#pragma once
// TBaseDllScanner: the driver object of the scanner equipment class. It adds the scanner's
// device-parameter properties ("Использовать", "Неразделяемое") as the driver's extra property
// table, searched before the concrete driver's own properties, and serves every device
// parameter of the devices list (the concrete list adds its own) with one handler that reads
// and writes the parameter of the call's device.
#include "driver/driver_object.h"

class TBaseDllScanner : public TBaseDllObj {
public:
  TBaseDllScanner(const TDriverTables& tables, TDevicesListFactory makeDevices, TBaseDllObj** instanceVariable,
                  TCallHandler callHandler);

  // The device-parameter handler. Without a device for the call: false. Write: the value as
  // text becomes the device's parameter. Read: the typed value of the device's parameter item
  // of that name, else the parameter's text. Name is the parameter's name in UTF-8.
  static bool DeviceParameter(TCallContext context, int32_t set, VARIANT& value, std::string_view name);
};
