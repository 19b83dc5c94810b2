// The tuning file beside the module (here the test program) and the module-end key-ups.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "base/errors.h"
#include "base/execution_mode.h"
#include "host/host_test_support.h"
#include "host/plugin_entry.h"
#include "host/tuning_flags.h"
#include "platform/desktop.h"

namespace {

// Writes the tuning file for the duration of a test.
class TuningFile {
public:
  explicit TuningFile(const std::string& text) {
    std::ofstream(TuningFileName(), std::ios::binary) << text;
  }
  ~TuningFile() {
    std::error_code ignored;
    std::filesystem::remove(TuningFileName(), ignored);
  }
};

}  // namespace

TEST(TuningFlags, TheFileIsTheModulePathWithIni) {
  const std::filesystem::path file(TuningFileName());
  EXPECT_EQ(file.extension(), ".ini");
  EXPECT_TRUE(file.is_absolute());
  EXPECT_EQ(file.stem().string().rfind("test_host", 0), 0u) << file;
}

TEST(TuningFlags, DefaultsWithoutAFileAndOverridesWithOne) {
  std::filesystem::remove(TuningFileName());
  StartTuningFlags();
  const TStartParams& params = StartParams();
  EXPECT_EQ(params.ReleaseQueueLag, 1000);
  EXPECT_EQ(params.KeyDriblingTime, 200);
  EXPECT_EQ(params.SynchronizerLag, 300);
  EXPECT_EQ(params.DeleteHookedMsg, 1);
  EXPECT_EQ(params.DoNotClearTasks, 0);
  EXPECT_EQ(params.QueueToQuenMsgInt, 50);
  EXPECT_EQ(params.TasksCheckTimer, 0);
  EXPECT_EQ(ExecutionMode(), EXECUTION_MODE_PLUGIN);
  EXPECT_EQ(ReadStartParam("ProximityReaderDriblingTime"), 1000) << "entries not read at start still answer";

  {
    TuningFile file("[Other]\r\nKeyDriblingTime=7\r\n[start]\r\nreleasequeuelag=2500\r\nSynchronizerLag=12x\r\n"
                    "QUEUETOQUENMSGINT = -3\r\nServerMTtimeout=\r\n");
    StartTuningFlags();
    EXPECT_EQ(StartParams().ReleaseQueueLag, 2500) << "key names are not case-sensitive";
    EXPECT_EQ(StartParams().KeyDriblingTime, 200) << "only section Start counts";
    EXPECT_EQ(StartParams().SynchronizerLag, 300) << "a value that is no integer gives the default";
    EXPECT_EQ(StartParams().QueueToQuenMsgInt, -3);
    EXPECT_EQ(ReadStartParam("servermttimeout"), 5000);
  }
  StartTuningFlags();
  EXPECT_EQ(StartParams().ReleaseQueueLag, 1000);
}

TEST(TuningFlags, AnUnknownNameRaisesWithTheName) {
  EXPECT_EQ(MessageOf<Exception>([] { ReadStartParam("NoSuchFlag"); }), Ansi("Неизвестный параметр запуска [NoSuchFlag]"));
}

TEST(TuningFlags, StopReleasesTheSixModifierKeysInOrder) {
  platform::ResetDesktopRecord();
  StopTuningFlags();
  EXPECT_EQ(platform::RecordedDesktopActivity().KeyUps, (std::vector<uint8_t>{0xA0, 0xA2, 0xA4, 0xA1, 0xA3, 0xA5}));
}
