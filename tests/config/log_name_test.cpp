#include "config/log_name.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/dynamic_library.h"
#include "platform/file_system.h"
#include "platform/named_mutex.h"
#include "platform/process_info.h"

namespace {

namespace fs = std::filesystem;

// One loaded copy of the test module, stopped and unloaded at the end.
class ModuleCopy {
public:
  explicit ModuleCopy(const std::string& copyName) {
    const fs::path original = fs::path(platform::ExtractFilePath(platform::ExecutableFileName())) / VESTREL_LOG_MODULE_FILE;
    FPath = (original.parent_path() / (copyName + original.extension().string())).string();
    fs::copy_file(original, FPath, fs::copy_options::overwrite_existing);
    FLibrary = platform::DynamicLibrary::Load(FPath);
    FStart = FLibrary.ResolveAs<void (*)()>("TestModuleStart");
    FStop = FLibrary.ResolveAs<void (*)()>("TestModuleStop");
    FName = FLibrary.ResolveAs<int (*)(char*, int)>("TestModuleLogName");
  }
  ~ModuleCopy() {
    if (FStop)
      FStop();
    FLibrary.Free();
    std::error_code ignored;
    fs::remove(FPath, ignored);
  }
  bool Loaded() const { return FStart && FStop && FName; }
  void Start() { FStart(); }
  void Stop() { FStop(); }
  std::string LogName() const {
    char buffer[kLogNameCapacity + 8] = {};
    FName(buffer, sizeof buffer);
    return buffer;
  }
  TLogNameSource Source() const { return static_cast<TLogNameSource>(FName(nullptr, 0)); }
  const std::string& Path() const { return FPath; }

private:
  std::string FPath;
  platform::DynamicLibrary FLibrary;
  void (*FStart)() = nullptr;
  void (*FStop)() = nullptr;
  int (*FName)(char*, int) = nullptr;
};

std::string Tail() {
  std::string tail(1, '_');
  tail.append(platform::ComputerName()).append("_").append(std::to_string(ProcessSessionId())).append(".log");
  return tail;
}

}  // namespace

TEST(LogName, HostMutexNameCarriesTheProcessIdInSixHexDigits) {
  const std::string name = LogHostMutexName(6699);
  const std::string tail = ".baselog.host_001A2B";
  ASSERT_GT(name.size(), tail.size());
  EXPECT_EQ(name.substr(name.size() - tail.size()), tail);
  EXPECT_EQ(name[0], '_');
  EXPECT_EQ(LogHostMutexName(0x1234ABC).substr(name.size() - 6), "1234ABC");
  EXPECT_EQ(LogHostMutexName(0), name.substr(0, name.size() - 6) + "000000");
}

TEST(LogName, DataClassNameSharesThePrefix) {
  const std::string dataClass = LogDataClassName();
  const std::string host = LogHostMutexName(1);
  const std::string tail = ".baselog.dataclass";
  ASSERT_GT(dataClass.size(), tail.size());
  EXPECT_EQ(dataClass.substr(dataClass.size() - tail.size()), tail);
  const std::string prefix = dataClass.substr(0, dataClass.size() - tail.size());
  EXPECT_EQ(host.substr(0, prefix.size() + 1), prefix + ".");
  EXPECT_EQ(prefix[0], '_');
}

TEST(LogName, SessionIdIsANumber) {
  const int32_t session = ProcessSessionId();
  EXPECT_GE(session, 0);
}

TEST(LogName, SecondModuleCopiesTheHostsNameByteForByte) {
  ModuleCopy first("log_module_first");
  ModuleCopy second("log_module_second");
  ASSERT_TRUE(first.Loaded() && second.Loaded());
  first.Start();
  EXPECT_EQ(first.Source(), TLogNameSource::Host);
  const std::string hostName = first.LogName();
  EXPECT_EQ(hostName, platform::ChangeFileExt(first.Path(), "") + Tail());

  second.Start();
  EXPECT_EQ(second.Source(), TLogNameSource::CopiedFromHost);
  EXPECT_EQ(second.LogName(), hostName) << "the second module takes the host's name, with the host's file name";

  // Once the host has stopped, the next module to start hosts the name itself.
  second.Stop();
  first.Stop();
  second.Start();
  EXPECT_EQ(second.Source(), TLogNameSource::Host);
  EXPECT_EQ(second.LogName(), platform::ChangeFileExt(second.Path(), "") + Tail());
}

TEST(LogName, HostWithoutPublishedNameGivesTheExecutableBasedName) {
  platform::NamedMutex foreignHost =
      platform::NamedMutex::Create(LogHostMutexName(platform::CurrentProcessId()), true);
  ASSERT_TRUE(foreignHost.IsOpen());
  ModuleCopy module("log_module_late");
  ASSERT_TRUE(module.Loaded());
  module.Start();
  EXPECT_EQ(module.Source(), TLogNameSource::FromExecutable);
  EXPECT_EQ(module.LogName(), platform::ChangeFileExt(platform::ExecutableFileName(), "") + Tail());
  foreignHost.Close();
}

TEST(LogName, BuildLogFileNameDropsTheExtension) {
  EXPECT_EQ(BuildLogFileName("dir/name.ext"), "dir/name" + Tail());
  EXPECT_EQ(BuildLogFileName("plain"), "plain" + Tail());
}
