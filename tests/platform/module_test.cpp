// Libraries loaded at run time, the module file name seen from inside a library, the
// process-wide rendezvous between two copies of one library, and version information.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/dynamic_library.h"
#include "platform/file_system.h"
#include "platform/process_info.h"
#include "platform/process_rendezvous.h"
#include "platform/version_resource.h"

namespace {

using platform::DynamicLibrary;

using RegisterFunction = int (*)(const char*);
using LookupFunction = const void* (*)(const char*);
using DataFunction = const void* (*)();
using FileNameFunction = int (*)(char*, int);

std::string ModulePath() { return PLATFORM_TEST_MODULE; }

// Copies of the test module in a folder of this test's own.
class ModuleCopies : public ::testing::Test {
protected:
  void SetUp() override {
    Folder = platform::TempDirectory() + "vestrel_modules_" + std::to_string(platform::CurrentProcessId()) +
             platform::kPathDelimiter;
    std::filesystem::create_directories(Folder);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(Folder, ignored);
  }
  std::string Copy(const std::string& name) {
    std::string target = Folder + name;
    std::filesystem::copy_file(ModulePath(), target, std::filesystem::copy_options::overwrite_existing);
    return target;
  }
  std::string Folder;
};

TEST(DynamicLibrary, LoadResolveAndFree) {
  DynamicLibrary library = DynamicLibrary::Load(ModulePath());
  ASSERT_TRUE(library.IsLoaded()) << platform::LastLoadError();
  EXPECT_NE(library.Resolve("TestModuleRegister"), nullptr);
  EXPECT_EQ(library.Resolve("NoSuchFunction"), nullptr);
  EXPECT_EQ(library.Resolve(nullptr), nullptr);
  auto data = library.ResolveAs<DataFunction>("TestModuleData");
  ASSERT_NE(data, nullptr);
  EXPECT_STREQ(static_cast<const char*>(data()), "module data");

  DynamicLibrary moved = std::move(library);
  EXPECT_FALSE(library.IsLoaded());
  EXPECT_TRUE(moved.Free());
  EXPECT_FALSE(moved.IsLoaded());
  EXPECT_EQ(moved.Resolve("TestModuleData"), nullptr);
  EXPECT_TRUE(moved.Free()) << "freeing nothing is fine";
}

TEST(DynamicLibrary, AMissingFileIsNotLoadedAndSaysWhy) {
  DynamicLibrary library = DynamicLibrary::Load(platform::ExtractFilePath(ModulePath()) + "no_such_library.dll");
  EXPECT_FALSE(library.IsLoaded());
  EXPECT_FALSE(platform::LastLoadError().empty());
}

TEST_F(ModuleCopies, EachCopyKnowsItsOwnFileName) {
  std::string first = Copy("first_copy.dll");
  DynamicLibrary library = DynamicLibrary::Load(first);
  ASSERT_TRUE(library.IsLoaded()) << platform::LastLoadError();
  auto fileName = library.ResolveAs<FileNameFunction>("TestModuleFileName");
  char buffer[1024];
  ASSERT_GT(fileName(buffer, sizeof buffer), 0);
  EXPECT_EQ(platform::LongPathName(buffer), platform::LongPathName(first));
}

TEST_F(ModuleCopies, TwoCopiesOfOneLibraryMeetThroughTheRendezvous) {
  DynamicLibrary first = DynamicLibrary::Load(Copy("first_copy.dll"));
  DynamicLibrary second = DynamicLibrary::Load(Copy("second_copy.dll"));
  ASSERT_TRUE(first.IsLoaded() && second.IsLoaded()) << platform::LastLoadError();
  auto firstData = first.ResolveAs<DataFunction>("TestModuleData")();
  auto secondData = second.ResolveAs<DataFunction>("TestModuleData")();
  ASSERT_NE(firstData, secondData) << "two copies, two sets of data";

  std::string name = "_vestrel.test.dataclass_" + std::to_string(platform::CurrentProcessId());
  auto firstRegister = first.ResolveAs<RegisterFunction>("TestModuleRegister");
  auto secondRegister = second.ResolveAs<RegisterFunction>("TestModuleRegister");
  auto firstUnregister = first.ResolveAs<RegisterFunction>("TestModuleUnregister");
  auto secondUnregister = second.ResolveAs<RegisterFunction>("TestModuleUnregister");
  auto secondLookup = second.ResolveAs<LookupFunction>("TestModuleLookup");

  EXPECT_EQ(secondLookup(name.c_str()), nullptr);
  ASSERT_EQ(firstRegister(name.c_str()), 1);
  EXPECT_EQ(secondLookup(name.c_str()), firstData) << "the second copy finds the first one's address";
  EXPECT_EQ(platform::LookupRendezvous(name), firstData) << "and so does the program";
  EXPECT_EQ(secondRegister(name.c_str()), 0) << "a name is registered once per process";
  EXPECT_EQ(secondUnregister(name.c_str()), 0) << "only the registering module withdraws it";

  ASSERT_EQ(firstUnregister(name.c_str()), 1);
  EXPECT_EQ(secondLookup(name.c_str()), nullptr);
  EXPECT_EQ(secondRegister(name.c_str()), 1) << "a withdrawn name is free again";
  EXPECT_EQ(secondUnregister(name.c_str()), 1);
}

TEST(Rendezvous, InTheProgramItself) {
  static const char address[] = "log name";
  std::string name = "_vestrel.test.own_" + std::to_string(platform::CurrentProcessId());
  EXPECT_EQ(platform::LookupRendezvous(name), nullptr);
  ASSERT_TRUE(platform::RegisterRendezvous(name, address));
  EXPECT_EQ(platform::LookupRendezvous(name), address);
  EXPECT_FALSE(platform::RegisterRendezvous(name, address));
  EXPECT_TRUE(platform::UnregisterRendezvous(name));
  EXPECT_FALSE(platform::UnregisterRendezvous(name));
  EXPECT_EQ(platform::LookupRendezvous(name), nullptr);
}

TEST(FileVersionInfo, ReadsNumbersTranslationAndStrings) {
  platform::FileVersionInfo info(ModulePath());
  ASSERT_TRUE(info.Valid());
  EXPECT_GT(info.Size(), 0u);
  auto fixed = info.Fixed();
  ASSERT_TRUE(fixed);
  EXPECT_EQ(fixed->FileVersionMS, 0x00010002u);
  EXPECT_EQ(fixed->FileVersionLS, 0x00030004u);
  EXPECT_EQ(fixed->ProductVersionMS, 0x00010002u);
  EXPECT_EQ(fixed->ProductVersionLS, 0x00030004u);
  ASSERT_FALSE(info.Translations().empty());
  EXPECT_EQ(info.Translations().front(), 0x04E30419u);
  EXPECT_EQ(info.StringValue("041904E3", "FileDescription"), "Platform test module");
  EXPECT_EQ(info.StringValue("041904E3", "CompanyName"), "Vestrel tests");
  EXPECT_EQ(info.StringValue("041904E3", "ProductVersion"), "1.2.3.4");
  EXPECT_FALSE(info.StringValue("041904E3", "FileVersion")) << "not given, so absent";
  EXPECT_FALSE(info.StringValue("040904B0", "FileDescription"));
}

TEST(FileVersionInfo, AFileWithoutVersionInformation) {
  platform::FileVersionInfo plain(PLATFORM_PLAIN_MODULE);
  EXPECT_FALSE(plain.Valid());
  EXPECT_EQ(plain.Size(), 0u);
  EXPECT_FALSE(plain.Fixed());
  EXPECT_TRUE(plain.Translations().empty());
  EXPECT_FALSE(plain.StringValue("041904E3", "FileDescription"));
  platform::FileVersionInfo missing(PLATFORM_PLAIN_MODULE + std::string(".missing"));
  EXPECT_FALSE(missing.Valid());
}

}  // namespace
