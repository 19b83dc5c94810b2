#pragma once
// The module's life: what loading the plug-in library sets up and unloading takes down, in one
// fixed order, and the module-wide state that the host's first call (PluginControl) reads.
//
// Start, in this order:
//   1. shared state: the log-name rendezvous, the fixed number and date formats, the
//      variant-stream hooks of the array object;
//   2. the tuning flags (execution mode := plug-in);
//   3. the reader-library binding reset (not loaded, no marker, the marker's name);
//   4. the one driver object, made by the module's driver factory. A failing construction is
//      swallowed: the library stays loaded without a driver, and PluginControl answers an
//      empty reference.
// Stop, in this order (every step runs, whatever an earlier one raised):
//   1. the driver object is freed (its devices stop their polling threads first);
//   2. the reader library is unloaded and its marker closed;
//   3. the modifier keys are released (tuning flags);
//   4. the published control interface is cleared; the log name and the variant-stream hooks
//      are withdrawn.

#include <cstdint>
#include <memory>

#include "driver/driver_instance.h"
#include "platform/ole_automation.h"
#include "vestrel/plugin_abi.h"

class TBaseDllObj;

// The published control interface that PluginControl hands out (IPluginControl), or null.
IUnknown* PublishedControl() noexcept;
void SetPublishedControl(IUnknown* control) noexcept;

// Stores the published control interface in a host's result slot with the usual reference
// bookkeeping: the new reference is counted, and what the slot held before is released.
void StorePublishedControl(IUnknown** slot) noexcept;

// Makes the module's driver object; stores nothing itself. The library passes the factory of
// its concrete driver; a test build passes one that fails.
using TDriverFactory = std::unique_ptr<TBaseDllObj> (*)();

// Module start and stop, run by the library's entry (DllMain on Windows, the shared object's
// constructor and destructor elsewhere). Neither raises.
void ModuleStart(TDriverFactory factory) noexcept;
void ModuleStop() noexcept;

// True between ModuleStart and ModuleStop.
bool ModuleStarted() noexcept;
