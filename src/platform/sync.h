#pragma once
// Events with bounded waits, threads, the millisecond tick count and sleeping.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/call_convention.h"

namespace platform {

constexpr uint32_t kInfiniteWait = 0xFFFFFFFFu;

// A manual-reset event: once set it stays signalled until reset.
// Windows: an unnamed CreateEventW event. POSIX: a mutex and a condition variable.
class ManualResetEvent {
public:
  explicit ManualResetEvent(bool initiallySignalled = false);
  ~ManualResetEvent();
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // Waits at most timeoutMilliseconds (kInfiniteWait: without limit); true when signalled.
  bool Wait(uint32_t timeoutMilliseconds) const;
  // The same wait for a thread that may own windows: messages that other threads send to the
  // calling thread's windows are delivered while it waits (a window thread waiting plainly for
  // a thread that is sending it a message would deadlock). Posted messages stay queued.
  // Windows: MsgWaitForMultipleObjectsEx with QS_SENDMESSAGE. POSIX: the plain wait.
  bool WaitLettingSentMessagesThrough(uint32_t timeoutMilliseconds) const;

private:
  struct State;
  std::unique_ptr<State> FState;
};

// A joinable thread. Nothing runs until Start; the destructor waits for the thread to end.
// An exception that leaves the body is swallowed at the thread's top (nothing can take it there).
//
// The thread holds a reference to the library whose code started it (the plug-in, when it is
// a library; nothing for a program) and drops it as its very last act, after the body and
// everything it owned are gone: a library that a host unloads while one of its threads runs
// stays loaded until that thread has ended, and is unloaded then. This is what keeps the
// library's stop, which runs under the system's loader lock, from ever having to wait for a
// thread. Windows: GetModuleHandleExW(FROM_ADDRESS) and FreeLibraryAndExitThread. POSIX
// (glibc): dlopen(RTLD_NOLOAD) of the library's own file, and dlclose as a thread-exit
// handler that runs after the thread's start routine has returned.
// Windows: CreateThread. POSIX: pthread_create.
class Thread {
public:
  Thread() noexcept = default;
  explicit Thread(std::function<void()> body) { Start(std::move(body)); }
  ~Thread();
  Thread(Thread&& other) noexcept;
  Thread& operator=(Thread&& other) noexcept;  // joins the thread it held first
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts the body on a new thread; false if the system could not create one (or one runs).
  bool Start(std::function<void()> body);
  bool Joinable() const noexcept { return FHandle != nullptr; }
  // Waits for the thread to end. Nothing happens when no thread was started or it is joined.
  void Join() noexcept;
  // Waits at most timeoutMilliseconds for the thread to end, delivering the messages that
  // other threads send to the calling thread meanwhile (see ManualResetEvent::
  // WaitLettingSentMessagesThrough). True when it has ended (it is joined then, or was never
  // started); false when it still runs, and this object still holds it.
  bool JoinLettingSentMessagesThrough(uint32_t timeoutMilliseconds) noexcept;
  // Lets the thread go: it runs on by itself and its system resources go when it ends. The
  // object is empty after.
  void Detach() noexcept;
  // True when the calling thread is this object's thread (asked by the thread itself only once
  // Start has returned to the starting thread, which fills the object in).
  bool IsCurrent() const noexcept;

private:
  struct Handle;
  Handle* FHandle = nullptr;
};

// Threads started by Thread that have not ended yet, in the whole process (they are the ones
// that hold a reference to their library).
uint32_t RunningThreadCount();

// The calling thread's system identifier.
uint32_t CurrentThreadId();

// Milliseconds since start-up as 32 bits, wrapping after 49.7 days as GetTickCount does.
// Windows: GetTickCount(). POSIX: CLOCK_MONOTONIC. A test may add a bias (SetTickCountBias) to
// bring the wrap near.
uint32_t TickCount();
void SetTickCountBias(uint32_t bias);

// A test may take the tick count from a clock of its own, such as the reader simulator's
// exported clock, so that the plug-in and the simulated readers see one time that the test
// moves. The source replaces the system's count and the bias; nullptr restores them. Set it
// while no other thread reads the tick count.
using TickCountSource = uint32_t(PLATFORM_STDCALL*)();
void SetTickCountSource(TickCountSource source);

// Arithmetic across the wrap: the milliseconds from `since` to `now`, and the signed distance
// a - b in 32-bit signed arithmetic (positive when a lies after b by less than 2^31 ms).
constexpr uint32_t TicksElapsed(uint32_t since, uint32_t now) { return now - since; }
constexpr int32_t TickDifference(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b); }

void SleepMilliseconds(uint32_t milliseconds);

// Takes `lock` within `milliseconds`, measured on the system's steady clock whatever the tick
// count's source (a test's frozen clock must not make the wait endless); false when that fails.
// It polls try_lock rather than using a timed mutex: ThreadSanitizer cannot follow the timed
// locks of the C++ runtime.
inline bool TryLockWithin(std::mutex& lock, uint32_t milliseconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!lock.try_lock()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    SleepMilliseconds(1);
  }
  return true;
}

}  // namespace platform
