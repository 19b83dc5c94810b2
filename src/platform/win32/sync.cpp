#include "platform/sync.h"

#include <windows.h>

#include <atomic>
#include <utility>

namespace platform {

struct ManualResetEvent::State {
  HANDLE Event = nullptr;
};

ManualResetEvent::ManualResetEvent(bool initiallySignalled) : FState(std::make_unique<State>()) {
  FState->Event = CreateEventW(nullptr, TRUE, initiallySignalled ? TRUE : FALSE, nullptr);
}

ManualResetEvent::~ManualResetEvent() {
  if (FState->Event) CloseHandle(FState->Event);
}

void ManualResetEvent::Set() { SetEvent(FState->Event); }

void ManualResetEvent::Reset() { ResetEvent(FState->Event); }

bool ManualResetEvent::IsSet() const { return WaitForSingleObject(FState->Event, 0) == WAIT_OBJECT_0; }

bool ManualResetEvent::Wait(uint32_t timeoutMilliseconds) const {
  return WaitForSingleObject(FState->Event, timeoutMilliseconds) == WAIT_OBJECT_0;
}

namespace {

// A bounded wait for one handle that delivers the messages other threads send to the calling
// thread meanwhile. Posted messages stay queued.
bool WaitHandleLettingSentMessagesThrough(HANDLE object, uint32_t timeoutMilliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD remaining = INFINITE;
    if (timeoutMilliseconds != kInfiniteWait) {
      const DWORD elapsed = GetTickCount() - start;
      remaining = elapsed >= timeoutMilliseconds ? 0 : timeoutMilliseconds - elapsed;
    }
    // MWMO_INPUTAVAILABLE: a message sent before the wait began counts as well.
    const DWORD result = MsgWaitForMultipleObjectsEx(1, &object, remaining, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
    if (result == WAIT_OBJECT_0) return true;
    if (result != WAIT_OBJECT_0 + 1) return WaitForSingleObject(object, 0) == WAIT_OBJECT_0;
    // A message sent from another thread: peeking delivers every pending sent message and
    // takes nothing from the queue.
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace

bool ManualResetEvent::WaitLettingSentMessagesThrough(uint32_t timeoutMilliseconds) const {
  return WaitHandleLettingSentMessagesThrough(FState->Event, timeoutMilliseconds);
}

struct Thread::Handle {
  HANDLE Thread = nullptr;
  DWORD Id = 0;
};

namespace {

std::atomic<uint32_t> runningThreads{0};

struct ThreadStart {
  std::function<void()> Body;
  HMODULE Module = nullptr;  // the reference the thread holds on its library, or none
};

// The library this code is part of, with one more reference: none when it is the program
// itself, which never unloads.
HMODULE ReferenceOwnLibrary() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ReferenceOwnLibrary),
                          &module))
    return nullptr;
  if (module == GetModuleHandleW(nullptr)) {
    FreeLibrary(module);
    return nullptr;
  }
  return module;
}

DWORD WINAPI RunThread(void* argument) {
  HMODULE module = nullptr;
  {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
    module = start->Module;
    try {
      start->Body();
    } catch (...) {
      // Nothing above the thread's top could take the exception.
    }
  }
  runningThreads.fetch_sub(1);
  // The last act: the reference goes and the thread ends in one system call, so no code of
  // the library runs after the library may have been unloaded.
  if (module) FreeLibraryAndExitThread(module, 0);
  return 0;
}

}  // namespace

bool Thread::Start(std::function<void()> body) {
  if (FHandle) return false;
  auto start = std::make_unique<ThreadStart>(ThreadStart{std::move(body), ReferenceOwnLibrary()});
  auto handle = std::make_unique<Handle>();
  runningThreads.fetch_add(1);
  handle->Thread = CreateThread(nullptr, 0, RunThread, start.get(), 0, &handle->Id);
  if (!handle->Thread) {
    runningThreads.fetch_sub(1);
    if (start->Module) FreeLibrary(start->Module);
    return false;
  }
  start.release();  // the thread owns it now
  FHandle = handle.release();
  return true;
}

void Thread::Join() noexcept {
  if (!FHandle) return;
  std::unique_ptr<Handle> handle(std::exchange(FHandle, nullptr));
  WaitForSingleObject(handle->Thread, INFINITE);
  CloseHandle(handle->Thread);
}

bool Thread::JoinLettingSentMessagesThrough(uint32_t timeoutMilliseconds) noexcept {
  if (!FHandle) return true;
  if (!WaitHandleLettingSentMessagesThrough(FHandle->Thread, timeoutMilliseconds)) return false;
  Join();
  return true;
}

void Thread::Detach() noexcept {
  if (!FHandle) return;
  std::unique_ptr<Handle> handle(std::exchange(FHandle, nullptr));
  CloseHandle(handle->Thread);
}

bool Thread::IsCurrent() const noexcept { return FHandle && FHandle->Id == GetCurrentThreadId(); }

uint32_t RunningThreadCount() { return runningThreads.load(); }

namespace {
std::atomic<uint32_t> tickBias{0};
std::atomic<TickCountSource> tickSource{nullptr};
}  // namespace

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

uint32_t TickCount() {
  if (TickCountSource source = tickSource.load(std::memory_order_acquire)) return source();
  return GetTickCount() + tickBias.load(std::memory_order_relaxed);
}

void SetTickCountBias(uint32_t bias) { tickBias.store(bias, std::memory_order_relaxed); }

void SetTickCountSource(TickCountSource source) { tickSource.store(source, std::memory_order_release); }

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace platform
