#include "platform/child_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "platform/sync.h"

extern char** environ;

namespace platform {
namespace {

bool SameVariable(const char* entry, const std::string& assignment) {
  size_t length = assignment.find('=');
  return length != std::string::npos && std::strncmp(entry, assignment.c_str(), length + 1) == 0;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (FStarted && !FExitCode) Kill();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : FPid(std::exchange(other.FPid, -1)),
      FStarted(std::exchange(other.FStarted, false)),
      FExitCode(std::exchange(other.FExitCode, std::nullopt)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    if (FStarted && !FExitCode) Kill();
    FPid = std::exchange(other.FPid, -1);
    FStarted = std::exchange(other.FStarted, false);
    FExitCode = std::exchange(other.FExitCode, std::nullopt);
  }
  return *this;
}

ChildProcess ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                                 const std::vector<std::string>& environment) {
  ChildProcess child;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  std::vector<char*> envp;
  for (char** entry = environ; *entry; ++entry) {
    bool replaced = false;
    for (const auto& assignment : environment) replaced = replaced || SameVariable(*entry, assignment);
    if (!replaced) envp.push_back(*entry);
  }
  for (const auto& assignment : environment) envp.push_back(const_cast<char*>(assignment.c_str()));
  envp.push_back(nullptr);

  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return child;
  child.FPid = pid;
  child.FStarted = true;
  return child;
}

std::optional<int> ChildProcess::Wait(uint32_t timeoutMilliseconds) {
  if (!FStarted || FExitCode) return FExitCode;
  uint32_t start = TickCount();
  for (;;) {
    int status = 0;
    pid_t result = waitpid(FPid, &status, WNOHANG);
    if (result == FPid) {
      FExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return FExitCode;
    }
    if (result < 0) {
      FExitCode = -1;
      return FExitCode;
    }
    if (timeoutMilliseconds != kInfiniteWait && TicksElapsed(start, TickCount()) >= timeoutMilliseconds) {
      return std::nullopt;
    }
    SleepMilliseconds(5);
  }
}

void ChildProcess::Kill() {
  if (!FStarted || FExitCode) return;
  kill(FPid, SIGKILL);
  Wait(kInfiniteWait);
}

}  // namespace platform
