#include "support/child_role.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/file_system.h"
#include "platform/named_mutex.h"
#include "platform/process_info.h"
#include "platform/sync.h"

namespace test_support {
namespace {

constexpr char kRoleVariable[] = "VESTREL_TEST_CHILD_ROLE";

int PlayRole(const std::string& role, const std::string& argument) {
  if (role == "hold-mutex") {
    platform::NamedMutex mutex = platform::NamedMutex::Create(argument, true);
    if (!mutex.IsOpen()) return 2;
    for (int second = 0; second < 120; ++second) platform::SleepMilliseconds(1000);
    return 0;
  }
  if (role == "probe-mutex") return platform::NamedMutexExists(argument) ? 1 : 0;
  if (role == "create-mutex") {
    platform::NamedMutex mutex = platform::NamedMutex::Create(argument, false);
    if (!mutex.IsOpen()) return 2;
    return mutex.AlreadyExisted() ? 11 : 10;
  }
  return 3;
}

// Runs while the program starts: a child plays its role and ends; the first process of a test
// run takes a marker folder of its own.
struct ChildRoleDispatch {
  ChildRoleDispatch() {
    if (auto assignment = platform::EnvironmentVariable(kRoleVariable)) {
      size_t colon = assignment->find(':');
      std::string role = assignment->substr(0, colon);
      std::string argument = colon == std::string::npos ? std::string() : assignment->substr(colon + 1);
      std::_Exit(PlayRole(role, argument));
    }
    if (!platform::EnvironmentVariable("VESTREL_RUNTIME_DIR")) {
      std::string folder = platform::TempDirectory() + "vestrel-test-" + std::to_string(platform::CurrentProcessId());
      platform::PutEnvironmentVariable("VESTREL_RUNTIME_DIR", folder);
      OwnFolder = folder;
    }
  }
  // The folder goes with the process that chose it.
  ~ChildRoleDispatch() {
    std::error_code ignored;
    if (!OwnFolder.empty()) std::filesystem::remove_all(OwnFolder, ignored);
  }
  std::string OwnFolder;
} childRoleDispatch;

}  // namespace

platform::ChildProcess StartChildRole(const std::string& role, const std::string& argument) {
  return platform::ChildProcess::Start(platform::ExecutableFileName(), {},
                                       {std::string(kRoleVariable) + "=" + role + ":" + argument});
}

bool WaitForNamedMutex(const std::string& name, uint32_t timeoutMilliseconds) {
  uint32_t start = platform::TickCount();
  while (!platform::NamedMutexExists(name)) {
    if (platform::TicksElapsed(start, platform::TickCount()) >= timeoutMilliseconds) return false;
    platform::SleepMilliseconds(20);
  }
  return true;
}

std::string UniqueName(const std::string& stem) {
  static int counter = 0;
  return stem + "_" + std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(++counter);
}

}  // namespace test_support
