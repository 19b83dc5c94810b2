// The library's start connects the array object to the variant stream; these tests run the
// automation code without the library's start, so they connect it here, before any test.
#include "automation/safe_array.h"

namespace {
const bool kStreamHooksInstalled = (InstallSafeArrayStreamHooks(), true);
}  // namespace
