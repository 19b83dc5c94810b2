#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/file_system.h"
#include "platform/process_info.h"

namespace {

using platform::ReadIniInteger;
using platform::ReadIniString;

class IniFile : public ::testing::Test {
protected:
  void SetUp() override {
    Path = platform::TempDirectory() + "vestrel_ini_" + std::to_string(platform::CurrentProcessId()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";
  }
  void TearDown() override { std::filesystem::remove(Path); }
  void Write(const std::string& text) {
    std::ofstream file(Path, std::ios::binary);
    file << text;
  }
  std::string Path;
};

TEST_F(IniFile, SectionAndKeyNamesIgnoreCase) {
  Write("[Other]\nreleasequeuelag=1\n[start]\nreleasequeuelag = 2500 \nKeyDriblingTime=-20\n");
  EXPECT_EQ(ReadIniInteger(Path, "Start", "ReleaseQueueLag", 1000), 2500);
  EXPECT_EQ(ReadIniInteger(Path, "START", "keydriblingtime", 200), -20);
  EXPECT_EQ(ReadIniString(Path, "Start", "ReleaseQueueLag"), "2500");
}

TEST_F(IniFile, MissingFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(ReadIniInteger(Path, "Start", "ReleaseQueueLag", 1000), 1000) << "no file yet";
  EXPECT_FALSE(ReadIniString(Path, "Start", "ReleaseQueueLag"));
  Write("[Start]\nSynchronizerLag=5\n");
  EXPECT_EQ(ReadIniInteger(Path, "Finish", "SynchronizerLag", 300), 300);
  EXPECT_EQ(ReadIniInteger(Path, "Start", "DeleteHookedMsg", 1), 1);
}

TEST_F(IniFile, TextThatIsNotADecimalIntegerGivesTheDefault) {
  Write("[Start]\nA=12abc\nB=abc\nC=\nD=0x10\nE=99999999999\nF= +7\nG=-2147483648\n");
  EXPECT_EQ(ReadIniInteger(Path, "Start", "A", 11), 11);
  EXPECT_EQ(ReadIniInteger(Path, "Start", "B", 12), 12);
  EXPECT_EQ(ReadIniInteger(Path, "Start", "C", 13), 13);
  EXPECT_EQ(ReadIniInteger(Path, "Start", "D", 14), 14);
  EXPECT_EQ(ReadIniInteger(Path, "Start", "E", 15), 15);
  EXPECT_EQ(ReadIniInteger(Path, "Start", "F", 16), 7);
  EXPECT_EQ(ReadIniInteger(Path, "Start", "G", 17), INT32_MIN);
  EXPECT_EQ(ReadIniString(Path, "Start", "C"), "") << "an empty value is still a value";
}

TEST_F(IniFile, FirstSectionAndKeyOfANameCountQuotesAndCommentsDropped) {
  Write("; comment\r\n[Start]\r\nName=\"quoted value\"\r\nName=second\r\n;Skip=1\r\n[Start]\r\nLater=3\r\n");
  EXPECT_EQ(ReadIniString(Path, "Start", "Name"), "quoted value");
  EXPECT_FALSE(ReadIniString(Path, "Start", "Skip")) << "a commented line holds no key";
  EXPECT_EQ(ReadIniInteger(Path, "Start", "Later", 9), 9) << "only the first section of a name is read";
}

}  // namespace
