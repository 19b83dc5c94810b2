#include "platform/unload_safe_thread.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

struct UnloadSafeThread::State {
  void (*Body)(void*) = nullptr;
  void* Context = nullptr;
  pthread_t Thread{};
  std::mutex Lock;
  std::condition_variable Changed;
  bool BodyReturned = false;
};

namespace {

void* RunUnloadSafeThread(void* argument) {
  auto* state = static_cast<UnloadSafeThread::State*>(argument);
  state->Body(state->Context);
  std::lock_guard lock(state->Lock);
  state->BodyReturned = true;
  state->Changed.notify_all();
  return nullptr;
}

}  // namespace

bool UnloadSafeThread::Start(void (*body)(void*), void* context) {
  if (FState || !body) return false;
  auto* state = new State;
  state->Body = body;
  state->Context = context;
  if (pthread_create(&state->Thread, nullptr, RunUnloadSafeThread, state) != 0) {
    delete state;
    return false;
  }
  FState = state;
  return true;
}

bool UnloadSafeThread::End(uint32_t timeoutMilliseconds) noexcept {
  State* state = FState;
  if (!state) return true;
  FState = nullptr;
  bool returned;
  {
    std::unique_lock lock(state->Lock);
    returned = state->Changed.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds),
                                       [state] { return state->BodyReturned; });
  }
  if (!returned) {
    // Still in its body at the bound: the thread keeps its state and ends on its own.
    pthread_detach(state->Thread);
    return false;
  }
  pthread_join(state->Thread, nullptr);
  delete state;
  return true;
}

}  // namespace platform
