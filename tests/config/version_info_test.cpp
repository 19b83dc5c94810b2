#include "config/version_info.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/file_system.h"

namespace {

std::string BesideTheTests(const char* fileName) {
  return (std::filesystem::path(platform::ExtractFilePath(platform::ExecutableFileName())) / fileName).string();
}

}  // namespace

TEST(VersionInfo, ReadsNumbersTextsAndTranslation) {
  const TVersionInfo info(BesideTheTests(VESTREL_LOG_MODULE_FILE));
  ASSERT_TRUE(info.Valid());
  EXPECT_GT(info.InfoSize(), 0u);
  ASSERT_TRUE(info.Translation().has_value());
  EXPECT_EQ(*info.Translation(), 0x04E30419u);
  EXPECT_EQ(info.TranslationText(), "041904E3");
  const auto [most, least] = info.FileVersionNumbers();
  EXPECT_EQ(most, (2u << 16) | 1u);
  EXPECT_EQ(least, (7u << 16) | 345u);
  EXPECT_EQ(least >> 16, 7u) << "the release";
  EXPECT_EQ(least & 0xFFFF, 345u) << "the version number";
  EXPECT_EQ(info.FileVersionText(), "2.1.7.345");
  EXPECT_EQ(info.GetValue("FileDescription"), AnsiFromUtf8("Проверочный модуль журнала"));
  EXPECT_EQ(info.GetValue("ProductName"), "Vestrel");
  EXPECT_EQ(info.GetValue("NoSuchValue"), "");
  EXPECT_NE(info.FileDate(), 0);
}

TEST(VersionInfo, VersionTextIsBuiltFromNumbersWithoutFileVersionString) {
  const TVersionInfo info(BesideTheTests(VESTREL_NUMBERS_MODULE_FILE));
  ASSERT_TRUE(info.Valid());
  EXPECT_EQ(info.GetValue("FileVersion"), "");
  EXPECT_EQ(info.FileVersionText(), "1.2.3.4");
}

TEST(VersionInfo, FileWithoutVersionInformation) {
  const std::string path = BesideTheTests("version_info_plain.txt");
  std::ofstream(path) << "no version here";
  {
    const TVersionInfo info(path);
    EXPECT_FALSE(info.Valid());
    EXPECT_FALSE(info.Translation().has_value());
    EXPECT_EQ(info.TranslationText(), "");
    EXPECT_FALSE(info.FixedInfo().has_value());
    EXPECT_EQ(info.FileVersionNumbers(), std::make_pair(0u, 0u));
    EXPECT_EQ(info.FileVersionText(), "");
    EXPECT_EQ(info.GetValue("FileVersion"), "");
    EXPECT_NE(info.FileDate(), 0) << "the file itself exists";
  }
  std::filesystem::remove(path);
}

TEST(VersionInfo, MissingFile) {
  const TVersionInfo info(BesideTheTests("no_such_file.dll"));
  EXPECT_FALSE(info.Valid());
  EXPECT_EQ(info.FileVersionText(), "");
  EXPECT_EQ(info.FileDate(), 0);
}

TEST(VersionInfo, ModuleVersionInfoReadsTheRunningModule) {
  const std::unique_ptr<TVersionInfo> info = TVersionInfo::ModuleVersionInfo();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->FileName(), platform::ExecutableFileName()) << "linked into the test program";
  EXPECT_FALSE(info->Valid()) << "the test program has no version information";
}
