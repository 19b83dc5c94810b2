#include "config/message_pump.h"

#include <thread>

#include "platform/desktop.h"
#include "platform/sync.h"

bool ProcessMessage() {
  try {
    return platform::DispatchOneMessage();
  } catch (...) {
    // Only dispatching can fail, and then a message had been taken.
    return true;
  }
}

void ProcessMessages() {
  while (ProcessMessage()) {
  }
}

void WaitProcessingMessages(uint32_t Milliseconds) {
  const uint32_t start = platform::TickCount();
  while (platform::TicksElapsed(start, platform::TickCount()) < Milliseconds) {
    ProcessMessages();
    std::this_thread::yield();
  }
}
