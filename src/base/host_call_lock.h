#pragma once
// One host call at a time. A host makes its calls on one thread as a rule, but it may also call
// from a task thread of its own, or from inside a card event on a polling thread, while another
// call runs. Every call the host makes into the plug-in holds this lock for its whole duration
// (THostCallScope); the thread that holds it may enter again, as a call from inside an event or
// a dialog on the same thread does.
//
// A call that waits for another of the plug-in's threads (a polling thread may be inside the
// host's sink, and the sink may call into the plug-in) must not hold the lock while it waits: it
// waits inside a THostCallLockReleased scope, which gives up every level this thread holds and
// takes them again at its end. In between, other calls run and may change what the waiting call
// saw: it keeps a reference to whatever it uses afterwards.
//
// Taking the lock waits for the call that holds it (every call is bounded), letting messages
// sent to the thread's windows through, so that a window thread waiting here cannot deadlock
// with a thread that is sending it a message.

#include <cstdint>

class THostCallScope {
public:
  THostCallScope();
  ~THostCallScope();
  THostCallScope(const THostCallScope&) = delete;
  THostCallScope& operator=(const THostCallScope&) = delete;
};

class THostCallLockReleased {
public:
  // Gives the lock up when this thread holds it; does nothing otherwise.
  THostCallLockReleased();
  // Takes back as many levels as were given up.
  ~THostCallLockReleased();
  THostCallLockReleased(const THostCallLockReleased&) = delete;
  THostCallLockReleased& operator=(const THostCallLockReleased&) = delete;

private:
  uint32_t FLevels = 0;
};

// True while the calling thread is inside a host call.
bool HostCallLockHeldByThisThread();
