#pragma once
// The driver object the library makes at start (its one instance lives in the module's driver
// instance variable).
#include <memory>

class TBaseDllObj;

// Makes the library's driver: the Parsec reader's TDllVestrel.
std::unique_ptr<TBaseDllObj> CreateModuleDriver();
