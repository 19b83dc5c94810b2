#pragma once
// A worker thread that the module's stop routine can end, also from inside DllMain.
//
// The module stop runs under the system's loader lock on Windows (DllMain), and a thread that
// starts or ends needs that lock: waiting there for a worker to exit hangs the process, and a
// worker left running (or one that has not even started yet) runs into unmapped code once the
// module is gone. This thread ends without a join:
//   - Windows: the body runs as the only work item of a private system thread pool. The pool's
//     thread starts, waits and ends in the system's code and enters the module only for the
//     item. End cancels an item that has not started, or waits (bounded) for the body to
//     return and then for the item's last instructions; the pool's thread then ends on its own
//     once the loader lock is free. No module reference is taken, so the worker never keeps the
//     module loaded.
//   - POSIX: End waits (bounded) for the body to return and joins the thread (a thread's start
//     and end there do not wait for the loader).
// The owner asks the body to return by its own means (a flag and a wake-up) before End; a body
// that finds itself asked when it starts must return at once. A body still busy at the bound
// (a file system call that does not come back) is left running, with what it uses, rather than
// having anything released under it.
//
// The body must not use thread_local objects with destructors: the runtime pins the module
// for a thread that touched one.
#include <cstdint>

namespace platform {

class UnloadSafeThread {
public:
  UnloadSafeThread() noexcept = default;
  // Ends the thread without waiting (End(0)); the owner ends it properly before.
  ~UnloadSafeThread() { End(0); }
  UnloadSafeThread(const UnloadSafeThread&) = delete;
  UnloadSafeThread& operator=(const UnloadSafeThread&) = delete;

  // Runs body(context) on a new thread. False when the system could not create one or a
  // thread is held already.
  bool Start(void (*body)(void*), void* context);
  bool Holding() const noexcept { return FState != nullptr; }
  // Waits at most timeoutMilliseconds for the body to have returned and lets the thread go.
  // True when it had returned, had not started (it never will), or the thread is gone (at
  // process exit on Windows the system ends the other threads before the modules' stop
  // routines run: End does not wait then); false when the body was still
  // running at the bound and its thread was abandoned. Nothing held afterwards either way.
  bool End(uint32_t timeoutMilliseconds) noexcept;

  struct State;  // what the thread and End share (each platform's own)

private:
  State* FState = nullptr;
};

}  // namespace platform
