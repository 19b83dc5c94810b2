#include "platform/child_process.h"

#include <windows.h>

#include <cstring>
#include <utility>

namespace platform {
namespace {

// Quotes one argument the way the C runtime splits command lines.
std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

bool SameVariable(const char* entry, const std::string& assignment) {
  size_t length = assignment.find('=');
  return length != std::string::npos && _strnicmp(entry, assignment.c_str(), length + 1) == 0;
}

// This process's environment with the assignments added or replaced, as a CreateProcessA block.
std::string EnvironmentBlock(const std::vector<std::string>& environment) {
  std::string block;
  char* strings = GetEnvironmentStringsA();
  for (const char* entry = strings; entry && *entry; entry += std::strlen(entry) + 1) {
    bool replaced = false;
    for (const auto& assignment : environment) replaced = replaced || SameVariable(entry, assignment);
    if (!replaced) block.append(entry).push_back('\0');
  }
  if (strings) FreeEnvironmentStringsA(strings);
  for (const auto& assignment : environment) block.append(assignment).push_back('\0');
  block.push_back('\0');
  return block;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (FStarted && !FExitCode) Kill();
  if (FHandle) CloseHandle(FHandle);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : FHandle(std::exchange(other.FHandle, nullptr)),
      FStarted(std::exchange(other.FStarted, false)),
      FExitCode(std::exchange(other.FExitCode, std::nullopt)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    if (FStarted && !FExitCode) Kill();
    if (FHandle) CloseHandle(FHandle);
    FHandle = std::exchange(other.FHandle, nullptr);
    FStarted = std::exchange(other.FStarted, false);
    FExitCode = std::exchange(other.FExitCode, std::nullopt);
  }
  return *this;
}

ChildProcess ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                                 const std::vector<std::string>& environment) {
  ChildProcess child;
  std::string commandLine = QuoteArgument(program);
  for (const auto& argument : arguments) {
    commandLine += ' ';
    commandLine += QuoteArgument(argument);
  }
  std::string block = EnvironmentBlock(environment);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, block.data(), nullptr,
                      &startup, &process)) {
    return child;
  }
  CloseHandle(process.hThread);
  child.FHandle = process.hProcess;
  child.FStarted = true;
  return child;
}

std::optional<int> ChildProcess::Wait(uint32_t timeoutMilliseconds) {
  if (!FStarted || FExitCode) return FExitCode;
  if (WaitForSingleObject(FHandle, timeoutMilliseconds) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(FHandle, &code);
  FExitCode = static_cast<int>(code);
  return FExitCode;
}

void ChildProcess::Kill() {
  if (!FStarted || FExitCode) return;
  TerminateProcess(FHandle, 137);
  Wait(INFINITE);
}

}  // namespace platform
