#include "base/execution_mode.h"

#include <atomic>

namespace {
// Written at start and stop on the loading thread; read from any thread.
std::atomic<uint8_t> gExecutionMode{EXECUTION_MODE_PLUGIN};
}  // namespace

uint8_t ExecutionMode() { return gExecutionMode.load(std::memory_order_relaxed); }

void SetExecutionMode(uint8_t Mode) { gExecutionMode.store(Mode, std::memory_order_relaxed); }
