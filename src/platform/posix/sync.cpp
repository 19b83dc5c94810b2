#include "platform/sync.h"

#include <dlfcn.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <utility>

// glibc's registration of a thread-exit handler (what thread_local destructors use).
extern "C" int __cxa_thread_atexit_impl(void (*handler)(void*), void* object, void* dsoSymbol);

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

bool ManualResetEvent::WaitLettingSentMessagesThrough(uint32_t timeoutMilliseconds) const {
  return Wait(timeoutMilliseconds);
}

namespace {

std::atomic<uint32_t> runningThreads{0};

// The library this code is part of, with one more reference: none when it is the program
// itself, which never unloads.
void* ReferenceOwnLibrary() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ReferenceOwnLibrary), &info) == 0 || !info.dli_fname) return nullptr;
  void* library = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (!library) return nullptr;
  void* program = dlopen(nullptr, RTLD_LAZY);
  const bool isProgram = library == program;
  if (program) dlclose(program);
  if (isProgram) {
    dlclose(library);
    return nullptr;
  }
  return library;
}

// The reference is dropped by glibc itself when the thread ends, after the start routine has
// returned: dlclose runs as a thread-exit handler that belongs to the object dlclose lives in
// (the C library, which never unloads), so no code of this library is on the thread's stack
// when it may go.
void DropLibraryWhenThreadEnds(void* library) {
  using ExitHandler = void (*)(void*);
  void* const handler = reinterpret_cast<void*>(&dlclose);
  __cxa_thread_atexit_impl(reinterpret_cast<ExitHandler>(handler), library, handler);
}

}  // namespace

struct Thread::Handle {
  pthread_t Thread{};
  // Set when the body and everything it owned are gone; shared with the running thread.
  std::shared_ptr<ManualResetEvent> Ended = std::make_shared<ManualResetEvent>();
};

namespace {

struct ThreadStart {
  std::function<void()> Body;
  std::shared_ptr<ManualResetEvent> Ended;
  void* Library = nullptr;
};

void* RunThread(void* argument) {
  std::shared_ptr<ManualResetEvent> ended;
  {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
    if (start->Library) DropLibraryWhenThreadEnds(start->Library);
    ended = start->Ended;
    try {
      start->Body();
    } catch (...) {
      // Nothing above the thread's top could take the exception.
    }
  }
  runningThreads.fetch_sub(1);
  ended->Set();
  return nullptr;
}

}  // namespace

bool Thread::Start(std::function<void()> body) {
  if (FHandle) return false;
  auto handle = std::make_unique<Handle>();
  auto start = std::make_unique<ThreadStart>(ThreadStart{std::move(body), handle->Ended, ReferenceOwnLibrary()});
  runningThreads.fetch_add(1);
  if (pthread_create(&handle->Thread, nullptr, RunThread, start.get()) != 0) {
    runningThreads.fetch_sub(1);
    if (start->Library) dlclose(start->Library);
    return false;
  }
  start.release();  // the thread owns it now
  FHandle = handle.release();
  return true;
}

void Thread::Join() noexcept {
  if (!FHandle) return;
  std::unique_ptr<Handle> handle(std::exchange(FHandle, nullptr));
  pthread_join(handle->Thread, nullptr);
}

bool Thread::JoinLettingSentMessagesThrough(uint32_t timeoutMilliseconds) noexcept {
  if (!FHandle) return true;
  if (!FHandle->Ended->Wait(timeoutMilliseconds)) return false;
  Join();  // the thread has only its last instructions left
  return true;
}

void Thread::Detach() noexcept {
  if (!FHandle) return;
  std::unique_ptr<Handle> handle(std::exchange(FHandle, nullptr));
  pthread_detach(handle->Thread);
}

bool Thread::IsCurrent() const noexcept { return FHandle && pthread_equal(FHandle->Thread, pthread_self()); }

uint32_t RunningThreadCount() { return runningThreads.load(); }

namespace {
std::atomic<uint32_t> tickBias{0};
std::atomic<TickCountSource> tickSource{nullptr};
}  // namespace

// The identifier is asked once per thread: gettid is a system call, and every host call asks
// (the host-call lock). A plain value has no destructor, so keeping it pins nothing.
uint32_t CurrentThreadId() {
  static thread_local uint32_t identifier = 0;
  if (identifier == 0) identifier = static_cast<uint32_t>(gettid());
  return identifier;
}

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
