#pragma once
// Named mutexes used as markers across processes: whoever creates one learns whether it existed.
#include <string>

namespace platform {

class SecurityAttributes;

// Windows: a named kernel mutex (CreateMutexA / OpenMutexA).
// POSIX: a shared lock on a file named after the mutex in the runtime folder (see
// NamedObjectFolder). The marker exists while any handle, in this or another process, is open;
// it vanishes when the last holder closes it or its process ends. There is no waiting: the
// mutex only marks. The last holder to close it also removes the file.
class NamedMutex {
public:
  NamedMutex() noexcept = default;
  ~NamedMutex();
  NamedMutex(NamedMutex&& other) noexcept;
  NamedMutex& operator=(NamedMutex&& other) noexcept;
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Creates the mutex or opens the existing one. AlreadyExisted() tells which happened
  // (Windows: last error 183 after CreateMutexA). On failure the result is not open and
  // LastSystemError() holds the reason. initialOwner has no meaning on POSIX.
  static NamedMutex Create(const std::string& name, bool initialOwner,
                           const SecurityAttributes* security = nullptr);

  bool IsOpen() const noexcept;
  explicit operator bool() const noexcept { return IsOpen(); }
  bool AlreadyExisted() const noexcept { return FAlreadyExisted; }

  // Closes the handle; false (LastSystemError set) if the system refused. Not open afterwards.
  bool Close() noexcept;

private:
  void* FHandle = nullptr;  // Windows: HANDLE
  int FDescriptor = -1;     // POSIX: the locked file
  std::string FPath;        // POSIX: its path, removed by the last holder
  bool FAlreadyExisted = false;
};

// Whether a mutex of that name exists: Windows opens it with query-state access (mask 1) and
// counts a handle, "already exists" (183) or "access denied" (5) as existing.
bool NamedMutexExists(const std::string& name);

// POSIX: the folder that holds the marker files: $VESTREL_RUNTIME_DIR when set (tests isolate
// themselves with it), else $XDG_RUNTIME_DIR/vestrel, else /tmp/vestrel-<uid>. Created on demand
// with mode 0700. Windows: empty (named objects live in the session's object namespace).
std::string NamedObjectFolder();

}  // namespace platform
