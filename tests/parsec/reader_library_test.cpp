#include "parsec/reader_library.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/errors.h"
#include "platform/file_system.h"
#include "platform/named_mutex.h"
#include "platform/process_info.h"
#include "simulator_control.h"
#include "support/child_role.h"

namespace {

const std::string kSimulatorFolder = PRX08_SIMULATOR_FOLDER;

std::string VariantFolder(const std::string& lacking) {
  return kSimulatorFolder + "without_" + lacking + platform::kPathDelimiter;
}

bool MarkerExists() { return platform::NamedMutexExists(kReaderLibraryMutexName); }

class ReaderLibraryBinding : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Simulator.IsLoaded()) << platform::LastLoadError();
    Simulator.Reset();
    OriginalDirectory = platform::CurrentDirectory();
    InitializeReaderLibraryBinding();
    SetReaderLibraryFolder(kSimulatorFolder);
  }
  void TearDown() override {
    UnloadReaderLibrary();
    SetReaderLibraryFolder("");
    platform::ChangeCurrentDirectory(OriginalDirectory);
  }
  static bool AllEntryPointsSet() {
    const TReaderLibraryEntryPoints& e = ReaderLibrary;
    return e.Enumerate && e.GetFirstReader && e.GetNextReader && e.OpenReader && e.CloseReader &&
           e.ReadCardNumberRaw && e.ReadCardNumber && e.SetBeepBlinkMode && e.BeepBlink && e.GetReaderInfo &&
           e.SetWiegand26;
  }
  static bool NoEntryPointSet() {
    const TReaderLibraryEntryPoints& e = ReaderLibrary;
    return !e.Enumerate && !e.GetFirstReader && !e.GetNextReader && !e.OpenReader && !e.CloseReader &&
           !e.ReadCardNumberRaw && !e.ReadCardNumber && !e.SetBeepBlinkMode && !e.BeepBlink && !e.GetReaderInfo &&
           !e.SetWiegand26;
  }
  SimulatorControl Simulator;
  std::string OriginalDirectory;
};

TEST_F(ReaderLibraryBinding, LoadBindsEveryEntryPointAndHoldsTheMarker) {
  EXPECT_FALSE(IsReaderLibraryLoaded());
  EXPECT_FALSE(MarkerExists());
  ASSERT_TRUE(LoadReaderLibrary());
  EXPECT_TRUE(IsReaderLibraryLoaded());
  EXPECT_FALSE(ReaderLibraryInUse);
  EXPECT_TRUE(AllEntryPointsSet());
  EXPECT_TRUE(ReaderLibraryMutex.IsOpen());
  EXPECT_TRUE(MarkerExists());

  // The table reaches the library the simulator controls.
  Simulator.SetReaderCount(2);
  EXPECT_EQ(ReaderLibrary.Enumerate(), 2);
  ReaderLibrary.OpenReader(1);
  ReaderLibrary.SetBeepBlinkMode(1, 0, 1);
  ReaderLibrary.SetWiegand26(1);
  Simulator.PresentCard(1, 0x00A1B2C3u);
  uint32_t card = 0;
  EXPECT_EQ(ReaderLibrary.ReadCardNumber(1, &card), 0);
  EXPECT_EQ(card, 0x00A1B2C3u);
  EXPECT_EQ(Simulator.CallLog(), "Enumerate -> 2\nOpenReader 1\nSetBeepBlinkMode 1 0 1\nSetWiegand26 1\n");

  EXPECT_TRUE(UnloadReaderLibrary());
  EXPECT_FALSE(IsReaderLibraryLoaded());
  EXPECT_FALSE(ReaderLibraryMutex.IsOpen());
  EXPECT_FALSE(MarkerExists()) << "the marker goes with the library";
  EXPECT_TRUE(NoEntryPointSet());
}

#ifdef _WIN32
// Stands in for a reader library that faults inside: it writes the card through the pointer
// it was given, which the caller got wrong.
int16_t PLATFORM_STDCALL FaultingReadCardNumber(int16_t, uint32_t* cardNumber) {
  *reinterpret_cast<volatile uint32_t*>(cardNumber) = 1;
  return 0;
}
#endif

TEST_F(ReaderLibraryBinding, CallsGoThroughTheGuardAndNeedABoundEntryPoint) {
  uint32_t card = 0;
  EXPECT_THROW(CallReaderLibrary(&TReaderLibraryEntryPoints::ReadCardNumber, int16_t{1}, &card), Exception);
  ASSERT_TRUE(LoadReaderLibrary());
  Simulator.SetReaderCount(1);
  EXPECT_EQ(CallReaderLibrary(&TReaderLibraryEntryPoints::Enumerate), 1);
  EXPECT_EQ(CallReaderLibrary(&TReaderLibraryEntryPoints::OpenReader, int16_t{0}), 0);
  Simulator.PresentCard(0, 0x00C0FFEEu);
  EXPECT_EQ(CallReaderLibrary(&TReaderLibraryEntryPoints::ReadCardNumber, int16_t{0}, &card), 0);
  EXPECT_EQ(card, 0x00C0FFEEu);
#ifdef _WIN32
  // A fault inside the library comes back as an exception, and the thread carries on.
  const auto bound = ReaderLibrary.ReadCardNumber;
  ReaderLibrary.ReadCardNumber = &FaultingReadCardNumber;
  auto* wrong = reinterpret_cast<uint32_t*>(uintptr_t{0x20});
  try {
    CallReaderLibrary(&TReaderLibraryEntryPoints::ReadCardNumber, int16_t{0}, wrong);
    ADD_FAILURE() << "the fault did not arrive";
  } catch (const platform::StructuredException& error) {
    EXPECT_TRUE(error.IsAccessViolation());
    EXPECT_TRUE(error.IsWrite());
    EXPECT_EQ(error.FaultAddress(), wrong);
  }
  ReaderLibrary.ReadCardNumber = bound;
  EXPECT_EQ(CallReaderLibrary(&TReaderLibraryEntryPoints::ReadCardNumber, int16_t{0}, &card), 0);
#endif
}

TEST_F(ReaderLibraryBinding, AfterALoadTheCurrentDirectoryIsTheLibrarysFolder) {
  std::string elsewhere = platform::TempDirectory();
  ASSERT_TRUE(platform::ChangeCurrentDirectory(elsewhere));
  ASSERT_FALSE(platform::FileExists(kReaderLibraryFileName));
  ASSERT_TRUE(LoadReaderLibrary());
  EXPECT_TRUE(platform::FileExists(kReaderLibraryFileName)) << "found by its relative name";
  EXPECT_EQ((std::filesystem::path(platform::CurrentDirectory()) / "").lexically_normal(),
            std::filesystem::path(kSimulatorFolder).lexically_normal());
  UnloadReaderLibrary();
  EXPECT_TRUE(platform::FileExists(kReaderLibraryFileName)) << "the directory is not restored";
}

TEST_F(ReaderLibraryBinding, LoadUnloadLoadSucceedsBothTimes) {
  ASSERT_TRUE(LoadReaderLibrary());
  ASSERT_TRUE(UnloadReaderLibrary());
  ASSERT_TRUE(LoadReaderLibrary()) << "the first unload closed the marker";
  EXPECT_TRUE(IsReaderLibraryLoaded());
  EXPECT_TRUE(MarkerExists());
}

TEST_F(ReaderLibraryBinding, ALibraryLackingOneEntryPointFailsAndIsLeftUnloaded) {
  for (const char* lacking : {"GetReaderInfo", "Enumerate", "SetWiegand26"}) {
    SCOPED_TRACE(lacking);
    SetReaderLibraryFolder(VariantFolder(lacking));
    ASSERT_TRUE(platform::FileExists(VariantFolder(lacking) + kReaderLibraryFileName));
    EXPECT_FALSE(LoadReaderLibrary());
    EXPECT_FALSE(ReaderLibraryInUse);
    EXPECT_FALSE(IsReaderLibraryLoaded());
    EXPECT_FALSE(MarkerExists());
    EXPECT_TRUE(NoEntryPointSet());
  }
}

TEST_F(ReaderLibraryBinding, AMissingLibraryOrFolderFails) {
  std::string empty = platform::TempDirectory() + "vestrel_no_reader_" + std::to_string(platform::CurrentProcessId());
  std::filesystem::create_directories(empty);
  SetReaderLibraryFolder(empty);
  EXPECT_FALSE(LoadReaderLibrary());
  EXPECT_FALSE(ReaderLibraryInUse);
  EXPECT_FALSE(IsReaderLibraryLoaded());
  EXPECT_FALSE(MarkerExists());
  platform::ChangeCurrentDirectory(OriginalDirectory);  // a current directory cannot be removed
  std::filesystem::remove_all(empty);

  SetReaderLibraryFolder(empty + "_missing");
  EXPECT_FALSE(LoadReaderLibrary()) << "the folder cannot become the current directory";
  EXPECT_FALSE(IsReaderLibraryLoaded());
}

TEST_F(ReaderLibraryBinding, ASecondLoadInTheSameProcessIsRefusedAndKeepsTheFirst) {
  ASSERT_TRUE(LoadReaderLibrary());
  Simulator.SetReaderCount(3);
  EXPECT_FALSE(LoadReaderLibrary());
  EXPECT_TRUE(ReaderLibraryInUse);
  EXPECT_TRUE(IsReaderLibraryLoaded()) << "the refused load frees nothing";
  ASSERT_TRUE(AllEntryPointsSet());
  EXPECT_EQ(ReaderLibrary.Enumerate(), 3);
  EXPECT_TRUE(MarkerExists());
}

TEST_F(ReaderLibraryBinding, AHolderInAnotherProcessIsRefusedUntilItEnds) {
  auto holder = test_support::StartChildRole("hold-mutex", kReaderLibraryMutexName);
  ASSERT_TRUE(holder.IsStarted());
  ASSERT_TRUE(test_support::WaitForNamedMutex(kReaderLibraryMutexName, 60000));

  EXPECT_FALSE(LoadReaderLibrary());
  EXPECT_TRUE(ReaderLibraryInUse);
  EXPECT_FALSE(IsReaderLibraryLoaded()) << "nothing was loaded";
  EXPECT_TRUE(NoEntryPointSet());
  EXPECT_EQ(Simulator.CallLog(), "");

  holder.Kill();
  ASSERT_FALSE(MarkerExists());
  EXPECT_TRUE(LoadReaderLibrary());
  EXPECT_FALSE(ReaderLibraryInUse) << "each load attempt clears the flag first";
}

TEST_F(ReaderLibraryBinding, AHolderAppearingWhileLoadingKeepsTheLibrary) {
  // This library takes the marker while it is being loaded, as a racing second holder would.
  SetReaderLibraryFolder(RACING_READER_LIBRARY_FOLDER);
  EXPECT_FALSE(LoadReaderLibrary());
  EXPECT_TRUE(ReaderLibraryInUse);
  EXPECT_FALSE(IsReaderLibraryLoaded());
  EXPECT_TRUE(NoEntryPointSet());
  EXPECT_FALSE(ReaderLibraryMutex.IsOpen());

  // The other holder is all that is left; without it the marker is gone (our handle is closed).
  platform::DynamicLibrary racing =
      platform::DynamicLibrary::Load(std::string(RACING_READER_LIBRARY_FOLDER) + kReaderLibraryFileName);
  ASSERT_TRUE(racing.IsLoaded());
  racing.ResolveAs<void (*)()>("ReleaseOtherHolder")();
  EXPECT_FALSE(MarkerExists());
}

TEST_F(ReaderLibraryBinding, UnloadWithNothingLoadedTouchesNothing) {
  // Another holder of the marker in this process, unknown to the binding.
  platform::NamedMutex other = platform::NamedMutex::Create(kReaderLibraryMutexName, true);
  ASSERT_TRUE(other.IsOpen());
  EXPECT_TRUE(UnloadReaderLibrary());
  EXPECT_TRUE(UnloadReaderLibrary());
  EXPECT_FALSE(IsReaderLibraryLoaded());
  EXPECT_TRUE(MarkerExists()) << "the other holder's marker is left alone";
  EXPECT_TRUE(other.IsOpen());
}

TEST_F(ReaderLibraryBinding, FinalizationUnloadsAndClearsTheMutexName) {
  ASSERT_TRUE(LoadReaderLibrary());
  FinalizeReaderLibraryBinding();
  EXPECT_FALSE(IsReaderLibraryLoaded());
  EXPECT_FALSE(MarkerExists());
  EXPECT_TRUE(ReaderLibraryMutexName.empty());
  InitializeReaderLibraryBinding();
  EXPECT_EQ(ReaderLibraryMutexName, "Vestrel_M");
  EXPECT_FALSE(ReaderLibraryInUse);
}

TEST(ReaderLibraryFolder, IsThePluginModulesFolderUnlessSet) {
  SetReaderLibraryFolder("");
  // Here the binding lives in the test program itself.
  std::string expected = platform::ExtractFilePath(platform::LongPathName(platform::ExecutableFileName()));
  EXPECT_EQ(ReaderLibraryFolder(), expected);
  ASSERT_FALSE(expected.empty());
  EXPECT_TRUE(platform::IsPathDelimiter(expected.back()));

  SetReaderLibraryFolder("somewhere");
  EXPECT_EQ(ReaderLibraryFolder(), std::string("somewhere") + platform::kPathDelimiter);
  SetReaderLibraryFolder("");
  EXPECT_EQ(ReaderLibraryFolder(), expected);
}

}  // namespace
