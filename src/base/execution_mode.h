#pragma once
// The process-wide execution mode: how the module runs inside its host. This plug-in always
// runs as a plug-in (1); the module start and the driver object write that value, and the
// dispatcher and the devices list read it. The other values belong to the component
// settings of the two host generations, which share the driver code.

#include <cstdint>

enum : uint8_t {
  EXECUTION_MODE_UNKNOWN = 0,
  EXECUTION_MODE_PLUGIN = 1,
  EXECUTION_MODE_V7 = 2,  // component of the older host generation
  EXECUTION_MODE_V8 = 3,  // component of the newer host generation
};

// The mode holds EXECUTION_MODE_PLUGIN from the moment the module is loaded, so no reader
// depends on the order in which the module's start sections run.
uint8_t ExecutionMode();
void SetExecutionMode(uint8_t Mode);
