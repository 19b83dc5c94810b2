// The one-time set-up of every fuzz target's process.
#include "automation/safe_array.h"
#include "host/wire/memory_stream.h"
#include "platform/ole_automation.h"

// COM for the automation objects, the array object inside variant streams (for the targets
// that read tables); diagnostic stream dumps go nowhere (a folder that does not exist), so a
// run leaves no files behind.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  CoInitialize(nullptr);
  InstallSafeArrayStreamHooks();
  SetStreamDumpFolder("/nonexistent/vestrel-fuzz");
  return 0;
}
