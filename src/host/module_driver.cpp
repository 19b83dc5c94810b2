#include "host/module_driver.h"

#include "driver/driver_object.h"
#include "parsec/dll_vestrel.h"

std::unique_ptr<TBaseDllObj> CreateModuleDriver() { return CreateVestrelDriver(); }
