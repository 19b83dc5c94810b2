// The driver factory of a test build of the library whose driver construction fails.
#include <memory>

#include "base/errors.h"
#include "driver/driver_object.h"

std::unique_ptr<TBaseDllObj> CreateFailingModuleDriver() { throw Exception("driver construction fails"); }
