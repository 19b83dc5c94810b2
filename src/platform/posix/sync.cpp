#include "platform/sync.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

namespace platform {

// The condition variable measures its timeouts on the monotonic clock, so a change of the wall
// clock neither shortens nor stretches a wait.
struct ManualResetEvent::State {
  pthread_mutex_t Lock = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t Changed;
  bool Signalled = false;
  State() {
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&Changed, &attributes);
    pthread_condattr_destroy(&attributes);
  }
  ~State() {
    pthread_cond_destroy(&Changed);
    pthread_mutex_destroy(&Lock);
  }
};

ManualResetEvent::ManualResetEvent(bool initiallySignalled) : FState(std::make_unique<State>()) {
  FState->Signalled = initiallySignalled;
}

ManualResetEvent::~ManualResetEvent() = default;

void ManualResetEvent::Set() {
  pthread_mutex_lock(&FState->Lock);
  FState->Signalled = true;
  pthread_cond_broadcast(&FState->Changed);
  pthread_mutex_unlock(&FState->Lock);
}

void ManualResetEvent::Reset() {
  pthread_mutex_lock(&FState->Lock);
  FState->Signalled = false;
  pthread_mutex_unlock(&FState->Lock);
}

bool ManualResetEvent::IsSet() const {
  pthread_mutex_lock(&FState->Lock);
  bool signalled = FState->Signalled;
  pthread_mutex_unlock(&FState->Lock);
  return signalled;
}

bool ManualResetEvent::Wait(uint32_t timeoutMilliseconds) const {
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += timeoutMilliseconds / 1000;
  deadline.tv_nsec += static_cast<long>(timeoutMilliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  pthread_mutex_lock(&FState->Lock);
  while (!FState->Signalled) {
    int result = timeoutMilliseconds == kInfiniteWait
                     ? pthread_cond_wait(&FState->Changed, &FState->Lock)
                     : pthread_cond_timedwait(&FState->Changed, &FState->Lock, &deadline);
    if (result == ETIMEDOUT) break;
  }
  bool signalled = FState->Signalled;
  pthread_mutex_unlock(&FState->Lock);
  return signalled;
}

namespace {

struct ThreadStart {
  std::function<void()> Body;
};

void* RunThread(void* argument) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
  try {
    start->Body();
  } catch (...) {
    // Nothing above the thread's top could take the exception.
  }
  return nullptr;
}

std::atomic<uint32_t> tickBias{0};
std::atomic<TickCountSource> tickSource{nullptr};

}  // namespace

bool Thread::Start(std::function<void()> body) {
  if (FHandle) return false;
  auto start = std::make_unique<ThreadStart>(ThreadStart{std::move(body)});
  auto thread = std::make_unique<pthread_t>();
  if (pthread_create(thread.get(), nullptr, RunThread, start.get()) != 0) return false;
  start.release();  // the thread owns it now
  FHandle = thread.release();
  return true;
}

void Thread::Join() noexcept {
  if (!FHandle) return;
  std::unique_ptr<pthread_t> thread(static_cast<pthread_t*>(std::exchange(FHandle, nullptr)));
  pthread_join(*thread, nullptr);
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(gettid()); }

uint32_t TickCount() {
  if (TickCountSource source = tickSource.load(std::memory_order_acquire)) return source();
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t milliseconds = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(milliseconds) + tickBias.load(std::memory_order_relaxed);
}

void SetTickCountBias(uint32_t bias) { tickBias.store(bias, std::memory_order_relaxed); }

void SetTickCountSource(TickCountSource source) { tickSource.store(source, std::memory_order_release); }

void SleepMilliseconds(uint32_t milliseconds) {
  timespec rest{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
