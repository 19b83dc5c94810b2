#pragma once
// The driver object the library makes at start (its one instance lives in the module's driver
// instance variable).
#include <memory>

class TBaseDllObj;

// Makes the library's driver: the base driver with the built-in members only, no table
// entries, and a devices list of plain device items. The scanner driver takes its place.
std::unique_ptr<TBaseDllObj> CreateModuleDriver();
