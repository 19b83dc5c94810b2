#include "platform/unload_safe_thread.h"

#include <windows.h>

#include <atomic>

namespace platform {

// The body runs as the one work item of a private thread pool. The pool's worker thread
// belongs to the system: its start, its wait for work and its end run in the system's code,
// and it enters this module only to run the item. End can therefore, under the loader lock,
// cancel an item that has not started (its worker may still be waiting for that very lock to
// start) and wait for one that has returned from the body (the last few instructions of the
// item), with nothing left to run here afterwards.
struct UnloadSafeThread::State {
  void (*Body)(void*) = nullptr;
  void* Context = nullptr;
  PTP_POOL Pool = nullptr;
  PTP_WORK Work = nullptr;
  TP_CALLBACK_ENVIRON Environment{};
  HANDLE BodyReturned = nullptr;  // manual-reset
  std::atomic<bool> Started{false};
};

namespace {

void CALLBACK RunUnloadSafeWork(PTP_CALLBACK_INSTANCE, void* argument, PTP_WORK) {
  auto* state = static_cast<UnloadSafeThread::State*>(argument);
  state->Started.store(true);
  state->Body(state->Context);
  SetEvent(state->BodyReturned);
}

void Release(UnloadSafeThread::State* state) {
  if (state->Work) CloseThreadpoolWork(state->Work);
  if (state->Pool) {
    DestroyThreadpoolEnvironment(&state->Environment);
    CloseThreadpool(state->Pool);
  }
  if (state->BodyReturned) CloseHandle(state->BodyReturned);
  delete state;
}

// At process exit the system ends every other thread before the modules' stop routines run:
// the pool's thread is gone then, whatever it was doing.
bool ProcessIsExiting() {
  using TShutdownInProgress = BOOLEAN(WINAPI*)();
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto inProgress = ntdll ? reinterpret_cast<TShutdownInProgress>(
                                reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlDllShutdownInProgress")))
                          : nullptr;
  return inProgress && inProgress();
}

}  // namespace

bool UnloadSafeThread::Start(void (*body)(void*), void* context) {
  if (FState || !body) return false;
  auto* state = new State;
  state->Body = body;
  state->Context = context;
  state->BodyReturned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  state->Pool = state->BodyReturned ? CreateThreadpool(nullptr) : nullptr;
  if (state->Pool) {
    SetThreadpoolThreadMaximum(state->Pool, 1);
    InitializeThreadpoolEnvironment(&state->Environment);
    SetThreadpoolCallbackPool(&state->Environment, state->Pool);
    state->Work = CreateThreadpoolWork(RunUnloadSafeWork, state, &state->Environment);
  }
  if (!state->Work) {
    Release(state);
    return false;
  }
  SubmitThreadpoolWork(state->Work);
  FState = state;
  return true;
}

bool UnloadSafeThread::End(uint32_t timeoutMilliseconds) noexcept {
  State* state = FState;
  if (!state) return true;
  FState = nullptr;
  if (ProcessIsExiting()) return true;  // nothing runs any more; the process frees it all
  if (!state->Started.load()) {
    // Cancelled if it has not been picked up; otherwise it has just started, finds itself
    // asked to return (the owner did that before End) and returns at once.
    WaitForThreadpoolWorkCallbacks(state->Work, TRUE);
    Release(state);
    return true;
  }
  if (WaitForSingleObject(state->BodyReturned, timeoutMilliseconds) != WAIT_OBJECT_0) {
    // Still in its body at the bound: its pool, item and state stay with it.
    return false;
  }
  WaitForThreadpoolWorkCallbacks(state->Work, FALSE);  // the item's last instructions
  Release(state);
  return true;
}

}  // namespace platform
