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

struct ThreadStart {
  std::function<void()> Body;
};

DWORD WINAPI RunThread(void* argument) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
  try {
    start->Body();
  } catch (...) {
    // Nothing above the thread's top could take the exception.
  }
  return 0;
}

std::atomic<uint32_t> tickBias{0};
std::atomic<TickCountSource> tickSource{nullptr};

}  // namespace

bool Thread::Start(std::function<void()> body) {
  if (FHandle) return false;
  auto start = std::make_unique<ThreadStart>(ThreadStart{std::move(body)});
  HANDLE thread = CreateThread(nullptr, 0, RunThread, start.get(), 0, nullptr);
  if (!thread) return false;
  start.release();  // the thread owns it now
  FHandle = thread;
  return true;
}

void Thread::Join() noexcept {
  if (!FHandle) return;
  HANDLE thread = std::exchange(FHandle, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

uint32_t TickCount() {
  if (TickCountSource source = tickSource.load(std::memory_order_acquire)) return source();
  return GetTickCount() + tickBias.load(std::memory_order_relaxed);
}

void SetTickCountBias(uint32_t bias) { tickBias.store(bias, std::memory_order_relaxed); }

void SetTickCountSource(TickCountSource source) { tickSource.store(source, std::memory_order_release); }

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace platform
