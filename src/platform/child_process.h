#pragma once
// Child processes: started with extra environment variables, waited for with a limit, killed.
// The system itself does not need them; tests use them to put a second process beside the
// first (markers held by another process, a holder that dies).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class ChildProcess {
public:
  ChildProcess() noexcept = default;
  ~ChildProcess();  // kills a child that still runs, then waits for it
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts program with the arguments; environment holds "NAME=value" entries added to (or
  // replacing those of) this process's environment. Not started (IsStarted false) on failure.
  static ChildProcess Start(const std::string& program, const std::vector<std::string>& arguments,
                            const std::vector<std::string>& environment);

  bool IsStarted() const noexcept { return FStarted; }
  // Waits at most timeoutMilliseconds for the child to end; its exit code, or nothing when it
  // still runs. Once ended, the exit code is kept and returned again.
  std::optional<int> Wait(uint32_t timeoutMilliseconds);
  // Ends the child at once (TerminateProcess / SIGKILL) and waits for it.
  void Kill();

private:
  void* FHandle = nullptr;  // Windows: process HANDLE
  int FPid = -1;            // POSIX
  bool FStarted = false;
  std::optional<int> FExitCode;
};

}  // namespace platform
