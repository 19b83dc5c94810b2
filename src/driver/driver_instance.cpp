#include "driver/driver_instance.h"

#include "base/errors.h"
#include "driver/driver_object.h"

namespace {

TBaseDllObj* gDriverInstance = nullptr;

}  // namespace

TBaseDllObj*& DriverInstance() noexcept { return gDriverInstance; }

BOOL WINAPI DispatchToDriverInstance(TParams* params, IUnknown* context) {
  TBaseDllObj* driver = gDriverInstance;
  if (driver == nullptr) RaiseText(AnsiFromUtf8("GetDllObject вернул Nil"));
  return driver->Execute(params, context) ? TRUE : FALSE;
}
