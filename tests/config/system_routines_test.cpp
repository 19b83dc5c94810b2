// Named mutexes, the module's file name and the message pump.
#include <gtest/gtest.h>

#include <chrono>

#include "base/errors.h"
#include "config/utilities.h"
#include "platform/desktop.h"
#include "platform/file_system.h"
#include "platform/process_info.h"
#include "platform/sync.h"
#include "platform/system_error.h"

namespace {

std::string UniqueMutexName(const char* what) {
  return std::string("vestrel_test_") + what + "_" + std::to_string(platform::CurrentProcessId());
}

}  // namespace

TEST(NamedMutexes, CreateReportsAnExistingMutexAndExistsFollowsTheHolders) {
  const std::string name = UniqueMutexName("marker");
  EXPECT_FALSE(MutexExists(name));
  platform::NamedMutex first = CreateNamedMutex(nullptr, true, name);
  EXPECT_FALSE(first.AlreadyExisted());
  EXPECT_TRUE(MutexExists(name));
  platform::NamedMutex second = CreateNamedMutex(nullptr, false, name);
  EXPECT_TRUE(second.IsOpen()) << "the handle comes back also for an existing mutex";
  EXPECT_TRUE(second.AlreadyExisted());
  EXPECT_TRUE(CloseNamedMutex(first));
  EXPECT_TRUE(MutexExists(name)) << "the second handle still holds it";
  EXPECT_TRUE(CloseNamedMutex(second));
  EXPECT_FALSE(MutexExists(name));
}

TEST(NamedMutexes, WithEveryoneSecurityAttributes) {
  platform::SecurityAttributes everyone;
  ASSERT_FALSE(everyone.Prepare().has_value());
  const std::string name = UniqueMutexName("secured");
  platform::NamedMutex mutex = CreateNamedMutex(&everyone, false, name);
  EXPECT_TRUE(MutexExists(name));
  EXPECT_TRUE(CloseNamedMutex(mutex));
}

TEST(NamedMutexes, SystemErrorMessage) {
  platform::SetLastSystemError(5);
  try {
    RaiseLastSystemError();
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "System Error.  Code: 5.\r\n" + platform::SystemErrorText(5));
    EXPECT_FALSE(platform::SystemErrorText(5).empty());
  }
}

TEST(ModuleFile, NameFolderAndNameOnly) {
  const std::string full = ModuleFileName(false);
  EXPECT_EQ(full, LongPathName(platform::ExecutableFileName())) << "the routines are linked into the test program";
  EXPECT_EQ(ModuleFileName(true), "test_config");
  const std::string folder = ModuleDirectory();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(platform::IsPathDelimiter(folder.back()));
  EXPECT_EQ(full.substr(0, folder.size()), folder);
  EXPECT_EQ(platform::ChangeFileExt(full.substr(folder.size()), ""), "test_config");
}

TEST(MessagePump, ProcessMessagesPollsUntilTheQueueIsEmpty) {
  platform::ResetDesktopRecord();
  ProcessMessages();
  const platform::DesktopRecord record = platform::RecordedDesktopActivity();
  EXPECT_GE(record.MessagePolls, 1u);
  EXPECT_EQ(record.MessagePolls, record.MessagesDispatched + 1) << "the last poll found the queue empty";
}

TEST(MessagePump, WaitKeepsPumpingForTheWholeTimeAlsoAcrossTheTickWrap) {
  for (uint32_t bias : {0u, 0u - platform::TickCount() - 20u}) {
    platform::SetTickCountBias(bias);
    platform::ResetDesktopRecord();
    const auto start = std::chrono::steady_clock::now();
    WaitProcessingMessages(200);
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    // The wait counts ticks, which may advance in coarse steps: only a wait ending far too early fails.
    EXPECT_GE(elapsed, 150) << "bias " << bias;
    EXPECT_LT(elapsed, 10000) << "bias " << bias;
    EXPECT_GT(platform::RecordedDesktopActivity().MessagePolls, 1u);
  }
  platform::SetTickCountBias(0);
}
