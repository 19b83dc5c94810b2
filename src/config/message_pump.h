#pragma once
// Dispatching the calling thread's window messages while it waits.

#include <cstdint>

// Takes one message of the calling thread's queue and dispatches it; false when the queue
// was empty. An exception while dispatching is swallowed (the message counts as taken).
bool ProcessMessage();
// Dispatches messages until the queue is empty.
void ProcessMessages();
// Keeps dispatching messages for Milliseconds (measured on the tick count, also across its
// wrap after 49.7 days). Between rounds the thread only yields its time slice.
void WaitProcessingMessages(uint32_t Milliseconds);
