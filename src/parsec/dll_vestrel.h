#pragma once
// TDllVestrel: the driver object of the Parsec reader plug-in, the one the host meets. Its
// member tables name every method and property the host calls ("Включить,SwitchOn",
// "УстройствоВключено", ...); the handlers work on the driver's devices list (a
// TManagerVestrelList) and on the device of the call (the device a host task names, else the
// list's current device).
//
// Method handlers report device failures as integer results (0 = success, 3 no device, 4 a
// parameter of the wrong type, the device's own code otherwise), which the dispatcher turns
// into an error for the host; switching on and off raises EHardwareEquipmentException with the
// device's code and text itself.
#include <memory>

#include "parsec/base_dll_scanner.h"

class TDllVestrel : public TBaseDllScanner {
public:
  // Method table A (1 entry), method table B (17), the property table (7), the Parsec devices
  // list with Parsec devices, the module's driver instance variable and call handler.
  TDllVestrel(TBaseDllObj** instanceVariable, TCallHandler callHandler);

  // The tables, for the settings pages and the tests.
  static TMethodTable MethodsA();
  static TMethodTable MethodsB();
  static TPropertyTable Properties();
};

// The library's driver: the module's single TDllVestrel.
std::unique_ptr<TBaseDllObj> CreateVestrelDriver();
