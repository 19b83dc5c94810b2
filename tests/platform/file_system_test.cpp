#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/process_info.h"

namespace {

using namespace platform;

void ThisFunctionLivesInTheTestProgram() {}

TEST(FileSystem, ModuleFileNameOfAnAddressInTheProgramIsTheProgram) {
  std::string module = ModuleFileName(reinterpret_cast<const void*>(&ThisFunctionLivesInTheTestProgram));
  ASSERT_FALSE(module.empty());
  EXPECT_EQ(LongPathName(module), LongPathName(ExecutableFileName()));
  EXPECT_EQ(ChangeFileExt(ExtractFileName(module), ""), "test_platform");
  EXPECT_TRUE(FileExists(module));
  EXPECT_FALSE(DirectoryExists(module));
  EXPECT_TRUE(DirectoryExists(ExtractFilePath(module)));
}

TEST(FileSystem, PathParts) {
  std::string path = std::string("folder") + kPathDelimiter + "sub.dir" + kPathDelimiter + "Vestrel.plu";
  EXPECT_EQ(ExtractFilePath(path), std::string("folder") + kPathDelimiter + "sub.dir" + kPathDelimiter);
  EXPECT_EQ(ExtractFileName(path), "Vestrel.plu");
  EXPECT_EQ(ChangeFileExt(path, ".ini"), std::string("folder") + kPathDelimiter + "sub.dir" + kPathDelimiter + "Vestrel.ini");
  std::string bare = std::string("sub.dir") + kPathDelimiter + "noext";
  EXPECT_EQ(ChangeFileExt(bare, ".ini"), bare + ".ini") << "a dot in a folder name is no extension";
  EXPECT_EQ(ExtractFilePath("name"), "");
  EXPECT_TRUE(IsPathDelimiter(kPathDelimiter));
}

TEST(FileSystem, CurrentDirectoryChangesAndReportsFailure) {
  std::string original = CurrentDirectory();
  ASSERT_FALSE(original.empty());
  std::string folder = TempDirectory() + "vestrel_cd_" + std::to_string(CurrentProcessId());
  std::filesystem::create_directory(folder);
  { std::ofstream(folder + kPathDelimiter + "marker.txt") << "x"; }

  ASSERT_TRUE(ChangeCurrentDirectory(folder));
  EXPECT_TRUE(FileExists("marker.txt")) << "relative names resolve in the new current directory";
  EXPECT_EQ(LongPathName(CurrentDirectory()), LongPathName(folder));
  EXPECT_FALSE(ChangeCurrentDirectory(folder + kPathDelimiter + "missing"));
  EXPECT_EQ(LongPathName(CurrentDirectory()), LongPathName(folder)) << "a failed change keeps the folder";

  ASSERT_TRUE(ChangeCurrentDirectory(original));
  std::filesystem::remove_all(folder);
}

TEST(FileSystem, FileDateOfAnExistingFileOnly) {
  std::string file = TempDirectory() + "vestrel_date_" + std::to_string(CurrentProcessId()) + ".txt";
  { std::ofstream(file) << "x"; }
  auto stamp = FileDosDateTime(file);
  ASSERT_TRUE(stamp);
  uint32_t year = 1980 + (*stamp >> 25);
  uint32_t month = (*stamp >> 21) & 0x0F;
  EXPECT_GE(year, 2020u);
  EXPECT_GE(month, 1u);
  EXPECT_LE(month, 12u);
  std::filesystem::remove(file);
  EXPECT_FALSE(FileDosDateTime(file));
}

}  // namespace
