#include "driver/module_driver.h"

#include "devices/device_item.h"
#include "devices/devices_list.h"
#include "driver/driver_object.h"
#include "host/plugin_entry.h"

namespace {

std::unique_ptr<TDevicesList> MakePlainDevicesList() {
  return std::make_unique<TDevicesList>(ItemClassOf<TDeviceItem>());
}

}  // namespace

std::unique_ptr<TBaseDllObj> CreateModuleDriver() {
  return std::make_unique<TBaseDllObj>(TDriverTables{}, &MakePlainDevicesList, &DriverInstance(),
                                       &DispatchToDriverInstance);
}
