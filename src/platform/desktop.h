#pragma once
// The desktop side of the system: the thread's message queue, keyboard injection, the speaker.
//
// Every call is also recorded in a process-wide record, so tests can see what happened on every
// platform. Windows performs the calls; POSIX has no message queue, keyboard or speaker for us:
// there the record is all that happens.
#include <cstdint>
#include <utility>
#include <vector>

namespace platform {

// Takes one message of the calling thread's queue (any window, removing it), translates and
// dispatches it; false when the queue was empty. POSIX: never a message.
bool DispatchOneMessage();

// Waits at most timeoutMilliseconds until a message is waiting in the calling thread's queue
// (or sent to it); true when one is. The thread sleeps meanwhile. POSIX: sleeps the whole
// time and answers false.
bool WaitForMessage(uint32_t timeoutMilliseconds);

// Sends a key-up event for the virtual key (scan code 0, no extra information).
void InjectKeyUp(uint8_t virtualKey);

// Sounds the speaker at frequency Hz for duration ms; false when the system refused.
bool SpeakerBeep(uint32_t frequency, uint32_t durationMilliseconds);

struct DesktopRecord {
  uint64_t MessagePolls = 0;                           // DispatchOneMessage calls
  uint64_t MessagesDispatched = 0;                     // of which dispatched a message
  std::vector<uint8_t> KeyUps;                         // virtual keys, in order
  std::vector<std::pair<uint32_t, uint32_t>> Beeps;    // frequency, duration
};
DesktopRecord RecordedDesktopActivity();
void ResetDesktopRecord();

}  // namespace platform
