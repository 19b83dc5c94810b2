// The [Log] section of the tuning file and the environment's override.
#include "host/diagnostic_log_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "config/log_name.h"
#include "platform/file_system.h"
#include "platform/process_info.h"

namespace {

namespace fs = std::filesystem;

class LogSettingsTest : public ::testing::Test {
protected:
  void SetUp() override {
    FFolder = fs::temp_directory_path() / ("vestrel_log_settings_" + std::to_string(platform::CurrentProcessId()));
    fs::remove_all(FFolder);
    fs::create_directories(FFolder / "plugin");
    FPluginFolder = (FFolder / "plugin").string() + platform::kPathDelimiter;
    FIni = (FFolder / "plugin" / "Vestrel.ini").string();
    platform::PutEnvironmentVariable(kLogFileEnvironmentVariable, "");
  }
  void TearDown() override {
    platform::PutEnvironmentVariable(kLogFileEnvironmentVariable, "");
    std::error_code ignored;
    fs::remove_all(FFolder, ignored);
  }
  TDiagnosticLogSettings Read(const std::string& text) {
    std::ofstream(FIni, std::ios::binary) << text;
    return ReadDiagnosticLogSettings(FIni, FPluginFolder);
  }

  fs::path FFolder;
  std::string FPluginFolder;
  std::string FIni;
};

TEST_F(LogSettingsTest, OffByDefaultWithDocumentedDefaults) {
  for (const std::string& text : {std::string(), std::string("[Start]\r\nReleaseQueueLag=5\r\n"),
                                  std::string("[Log]\r\nFile=\r\nMaxSizeKB=64\r\n")}) {
    const TDiagnosticLogSettings settings = Read(text);
    EXPECT_EQ(settings.FileName, "") << text;
    EXPECT_EQ(settings.FullCardNumbers, false);
  }
  fs::remove(FIni);
  const TDiagnosticLogSettings none = ReadDiagnosticLogSettings(FIni, FPluginFolder);
  EXPECT_EQ(none.FileName, "");
  EXPECT_EQ(none.MaxFileBytes, 1024u * 1024u);
}

TEST_F(LogSettingsTest, FileSizeAndCardNumbers) {
  TDiagnosticLogSettings settings =
      Read("[Start]\r\nFile=wrong.log\r\n[log]\r\nfile=Vestrel.log\r\nmaxsizekb=64\r\nFullCardNumbers=1\r\n");
  EXPECT_EQ(settings.FileName, FPluginFolder + "Vestrel.log") << "relative to the plug-in's folder";
  EXPECT_EQ(settings.MaxFileBytes, 64u * 1024u);
  EXPECT_TRUE(settings.FullCardNumbers);

  const std::string absolute = (FFolder / "elsewhere.log").string();
  settings = Read("[Log]\r\nFile=" + absolute + "\r\nMaxSizeKB=1\r\nFullCardNumbers=2\r\n");
  EXPECT_EQ(settings.FileName, absolute);
  EXPECT_EQ(settings.MaxFileBytes, 16u * 1024u) << "raised to the smallest size";
  EXPECT_FALSE(settings.FullCardNumbers) << "only 1 means in full";

  settings = Read("[Log]\r\nFile=x.log\r\nMaxSizeKB=many\r\n");
  EXPECT_EQ(settings.MaxFileBytes, 1024u * 1024u) << "not a number: the default";
  settings = Read("[Log]\r\nFile=x.log\r\nMaxSizeKB=2000000000\r\n");
  EXPECT_EQ(settings.MaxFileBytes, uint64_t{1024} * 1024 * 1024) << "capped";
}

TEST_F(LogSettingsTest, AFolderGetsTheProcessLogNameAndTheEnvironmentOverrides) {
  fs::create_directories(FFolder / "plugin" / "logs");
  std::string expectedName = platform::ExtractFileName(LogFileName());
  if (expectedName.empty()) expectedName = "Vestrel.log";
  const std::string inFolder = FPluginFolder + "logs" + platform::kPathDelimiter;
  EXPECT_EQ(Read("[Log]\r\nFile=logs\r\n").FileName, inFolder + expectedName) << "an existing folder";
  EXPECT_EQ(Read(std::string("[Log]\r\nFile=new") + platform::kPathDelimiter + "\r\n").FileName,
            FPluginFolder + "new" + platform::kPathDelimiter + expectedName)
      << "a name ending in a delimiter";

  ASSERT_TRUE(platform::PutEnvironmentVariable(kLogFileEnvironmentVariable, "run.log"));
  EXPECT_EQ(Read("[Log]\r\nFile=Vestrel.log\r\n").FileName, FPluginFolder + "run.log");
  EXPECT_EQ(Read("").FileName, FPluginFolder + "run.log") << "switches the log on without the file";
}

}  // namespace
