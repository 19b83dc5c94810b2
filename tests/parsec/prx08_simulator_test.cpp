// The reader simulator that stands in for prx08.dll in tests and demos: what it answers through
// the entry points the plug-in binds, and its control interface.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "parsec/reader_library.h"
#include "platform/child_process.h"
#include "platform/file_system.h"
#include "platform/process_info.h"
#include "platform/structured_exception.h"
#include "platform/sync.h"
#include "simulator_control.h"

namespace {

class Prx08Simulator : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Simulator.IsLoaded());
    Simulator.Reset();
    Library = platform::DynamicLibrary::Load(PRX08_SIMULATOR_FILE);
    ASSERT_TRUE(Library.IsLoaded());
    Enumerate = Library.ResolveAs<TReaderEnumerate>("Enumerate");
    OpenReader = Library.ResolveAs<TReaderOpenReader>("OpenReader");
    CloseReader = Library.ResolveAs<TReaderCloseReader>("CloseReader");
    ReadRaw = Library.ResolveAs<TReaderReadCardNumberRaw>("ReadCardNumberRaw");
    Read = Library.ResolveAs<TReaderReadCardNumber>("ReadCardNumber");
    BeepBlink = Library.ResolveAs<TReaderBeepBlink>("BeepBlink");
    ASSERT_TRUE(Enumerate && OpenReader && CloseReader && ReadRaw && Read && BeepBlink);
  }
  // The card read now from the reader, or -1 when none was delivered.
  int64_t ReadNow(int16_t reader) {
    uint32_t card = 0;
    return Read(reader, &card) == 0 ? static_cast<int64_t>(card) : -1;
  }
  SimulatorControl Simulator;
  platform::DynamicLibrary Library;
  TReaderEnumerate Enumerate = nullptr;
  TReaderOpenReader OpenReader = nullptr;
  TReaderCloseReader CloseReader = nullptr;
  TReaderReadCardNumberRaw ReadRaw = nullptr;
  TReaderReadCardNumber Read = nullptr;
  TReaderBeepBlink BeepBlink = nullptr;
};

TEST_F(Prx08Simulator, CardsArePresentedTappedAndRemovedPerReader) {
  Simulator.SetReaderCount(2);
  EXPECT_EQ(Enumerate(), 2);
  EXPECT_EQ(ReadNow(0), -1) << "a reader not opened reads nothing";
  OpenReader(0);
  OpenReader(1);
  EXPECT_TRUE(Simulator.IsReaderOpen(1));
  EXPECT_EQ(ReadNow(0), -1);

  Simulator.PresentCard(0, 0x1234ABCDu);
  EXPECT_EQ(ReadNow(0), 0x1234ABCD);
  EXPECT_EQ(ReadNow(0), 0x1234ABCD) << "a card held on the reader is read again";
  EXPECT_EQ(ReadNow(1), -1) << "the other reader has no card";
  Simulator.RemoveCard(0);
  EXPECT_EQ(ReadNow(0), -1);

  Simulator.TapCard(1, 0x00A1B2C3u);
  EXPECT_EQ(ReadNow(1), 0x00A1B2C3);
  EXPECT_EQ(ReadNow(1), -1) << "a tapped card is read once";
  EXPECT_EQ(Simulator.CallCount("CardsDelivered"), 3);
  EXPECT_EQ(Simulator.CallCount("ReadCardNumber"), 8);

  CloseReader(1);
  EXPECT_FALSE(Simulator.IsReaderOpen(1));
}

TEST_F(Prx08Simulator, RawReadsAreCheckedForTheAgreedBufferLength) {
  OpenReader(0);
  uint8_t buffer[100] = {};
  uint16_t value = 0, length = 99;
  EXPECT_EQ(ReadRaw(0, &value, buffer, &length), 1) << "no card";
  Simulator.PresentCard(0, 0x01020304u);
  length = 99;
  EXPECT_EQ(ReadRaw(0, &value, buffer, &length), 0);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[3], 4);
  EXPECT_EQ(ReadNow(0), 0x01020304) << "a raw read leaves the card to the numeric read";
  Simulator.ResetLog();
  length = 100;
  EXPECT_NE(ReadRaw(0, &value, buffer, &length), 0);
  EXPECT_EQ(Simulator.CallLog(), "ReadCardNumberRaw 0 bad-arguments length=100\n");
}

TEST_F(Prx08Simulator, ScriptsPlayCardsAtTheirTimes) {
  int32_t events = Simulator.LoadScriptText(
      "# readers and cards\n"
      "0 readers 2\n"
      "0 present 1 00A1B2C3\n"
      "1000 remove 1   # the card leaves\n"
      "1000 tap 0 FF\n");
  ASSERT_EQ(events, 4);
  EXPECT_EQ(Enumerate(), 2);
  OpenReader(0);
  OpenReader(1);
  EXPECT_EQ(ReadNow(1), 0x00A1B2C3);
  EXPECT_EQ(ReadNow(0), -1);
  platform::SleepMilliseconds(1200);
  EXPECT_EQ(ReadNow(1), -1);
  EXPECT_EQ(ReadNow(0), 0xFF);
  EXPECT_EQ(ReadNow(0), -1);
}

TEST_F(Prx08Simulator, ABadScriptLineIsReportedByNumberAndWhatIsWrongAndChangesNothing) {
  const std::pair<const char*, const char*> bad[] = {
      {"0 readers 3\n\n10 present 0 XYZ\n", "(text):3: card code 'XYZ' is not 1..8 hexadecimal digits"},
      {"0 jump 1\n", "(text):1: unknown action 'jump'"},
      {"0 remove 1 2\n", "(text):1: '2' is one word too many"},
      {"soon tap 0 1\n", "(text):1: the time 'soon' is not 0..2147483647 ms"},
      {"5\n", "(text):1: an action must follow the time"},
      {"0 tap 16 1\n", "(text):1: reader '16' is not 0..15"},
      {"0 fault Beep 0 raise\n", "(text):1: 'Beep' is no entry point of the library"},
      {"0 fault BeepBlink 0 crash\n",
       "(text):1: fault kind 'crash' is not none, answer, raise, access-violation or window"},
      {"0 fault BeepBlink all answer\n", "(text):1: fault answer: the answer is missing"},
      {"0 delay Enumerate -5\n", "(text):1: delay: '-5' is not 0..2147483647 ms"},
      {"0 unplug\n", "(text):1: unplug: the reader number is missing"},
  };
  for (const auto& [script, error] : bad) {
    EXPECT_LT(Simulator.LoadScriptText(script), 0) << script;
    EXPECT_EQ(Simulator.ScriptError(), error);
  }
  EXPECT_EQ(Enumerate(), 1) << "the reader count stays at its default";
  const std::string missing = platform::TempDirectory() + "no such script file";
  EXPECT_EQ(Simulator.LoadScript(missing), -1);
  EXPECT_EQ(Simulator.ScriptError(), missing + ": the file cannot be read");
  EXPECT_EQ(Simulator.LoadScriptText("0 readers 2\r\n"), 1) << "Windows line ends are fine";
  EXPECT_EQ(Simulator.ScriptError(), "") << "the last script loaded fine";
}

// A field failure replayed by script: faults for a number of calls, delays, a reader pulled
// out and plugged back.
TEST_F(Prx08Simulator, ScriptsPlayFaultsDelaysAndUnpluggedReaders) {
  Simulator.FreezeClock(1000);
  ASSERT_EQ(Simulator.LoadScriptText("0 readers 2\n"
                                     "0 fault ReadCardNumber all answer -5 2\n"
                                     "0 present 0 11\n"
                                     "100 unplug 1\n"
                                     "200 plug 1\n"
                                     "300 fault BeepBlink 0 raise\n"
                                     "400 fault BeepBlink 0 none\n"
                                     "500 block Enumerate\n"),
            8);
  OpenReader(0);
  OpenReader(1);
  uint32_t card = 0;
  EXPECT_EQ(Read(0, &card), -5);
  EXPECT_EQ(Read(1, &card), -5);
  EXPECT_EQ(ReadNow(0), 0x11) << "two calls only";

  Simulator.AdvanceClock(100);
  EXPECT_EQ(Read(1, &card), -3) << "unplugged";
  EXPECT_EQ(OpenReader(1), -3);
  EXPECT_FALSE(Simulator.IsReaderOpen(1));
  Simulator.AdvanceClock(100);
  EXPECT_EQ(Read(1, &card), -1) << "plugged back, but closed";
  EXPECT_EQ(OpenReader(1), 0);
  EXPECT_EQ(Read(1, &card), 1) << "open again, no card";

  Simulator.AdvanceClock(100);
  EXPECT_THROW(platform::CallGuarded([&] { return BeepBlink(0); }), std::exception);
  EXPECT_THROW(platform::CallGuarded([&] { return BeepBlink(0); }), std::exception) << "until changed";
  EXPECT_EQ(BeepBlink(1), 0);
  Simulator.AdvanceClock(100);
  EXPECT_EQ(BeepBlink(0), 0);

  Simulator.AdvanceClock(100);
  std::atomic<int> answer{-100};
  std::thread caller([&] { answer = Enumerate(); });
  while (Simulator.CallCount("Enumerate") == 0) platform::SleepMilliseconds(5);
  platform::SleepMilliseconds(50);
  EXPECT_EQ(answer, -100) << "blocked by the script";
  Simulator.Release("Enumerate");
  caller.join();
  EXPECT_EQ(answer, 2);
  const std::string log = Simulator.CallLog();
  EXPECT_NE(log.find("unplug 1\nOpenReader 1 unplugged\nplug 1\nReadCardNumber 1 not-open\nOpenReader 1\n"), std::string::npos) << log;
}

// The script named by PRX08_SIM_SCRIPT, as a separate process loading the simulator sees it.
std::string ScriptErrorInAChild(const std::string& script) {
  const std::string report = platform::TempDirectory() + "vestrel_sim_report_" +
                             std::to_string(platform::CurrentProcessId()) + ".txt";
  std::filesystem::remove(report);
  platform::ChildProcess child = platform::ChildProcess::Start(
      platform::ExecutableFileName(), {"--gtest_filter=SimulatorChild.ReportsItsScriptError"},
      {"PRX08_SIM_SCRIPT=" + script, "VESTREL_SIM_SCRIPT_REPORT=" + report});
  if (!child.IsStarted() || child.Wait(120000).value_or(-1) != 0) return "<the child failed>";
  std::stringstream text;
  text << std::ifstream(report).rdbuf();
  std::filesystem::remove(report);
  return text.str();
}

TEST(Prx08SimulatorEnvironment, AScriptThatCannotBePlayedIsReportedWhenTheLibraryLoads) {
  const std::string folder = platform::TempDirectory();
  const std::string missing = folder + "vestrel_no_such_script.txt";
  EXPECT_EQ(ScriptErrorInAChild(missing), missing + ": the file cannot be read");
  const std::string bad = folder + "vestrel_bad_script_" + std::to_string(platform::CurrentProcessId()) + ".txt";
  { std::ofstream(bad) << "0 readers 2\n# a comment\n100 presnet 0 11\n"; }
  EXPECT_EQ(ScriptErrorInAChild(bad), bad + ":3: unknown action 'presnet'");
  { std::ofstream(bad) << "0 readers 2\n"; }
  EXPECT_EQ(ScriptErrorInAChild(bad), "");
  std::filesystem::remove(bad);
}

TEST(SimulatorChild, ReportsItsScriptError) {
  const auto report = platform::EnvironmentVariable("VESTREL_SIM_SCRIPT_REPORT");
  if (!report) GTEST_SKIP() << "run by the test above";
  SimulatorControl simulator;
  std::ofstream(*report) << simulator.ScriptError();
  std::_Exit(0);
}

TEST_F(Prx08Simulator, ScriptFilesAndTheCallLog) {
  std::string path = platform::TempDirectory() + "vestrel_script_" + std::to_string(platform::CurrentProcessId()) + ".txt";
  { std::ofstream(path) << "0 readers 0\n"; }
  EXPECT_EQ(Simulator.LoadScript(path), 1);
  std::filesystem::remove(path);
  EXPECT_EQ(Enumerate(), 0);
  Simulator.SetReaderCount(1);
  OpenReader(0);
  BeepBlink(0);
  CloseReader(0);
  EXPECT_EQ(Simulator.CallLog(), "Enumerate -> 0\nOpenReader 0\nBeepBlink 0\nCloseReader 0\n");
  Simulator.ResetLog();
  EXPECT_EQ(Simulator.CallLog(), "");
  EXPECT_EQ(Simulator.CallCount("OpenReader"), 0);
}

TEST_F(Prx08Simulator, AFrozenClockMovesOnlyWhenToldAndStepsWithEveryPollPass) {
  Simulator.FreezeClock(0xFFFFFF00u);  // scripts and ticks also work across the wrap
  ASSERT_EQ(Simulator.LoadScriptText("0 present 0 AA\n500 remove 0\n700 tap 0 BB\n"), 3);
  OpenReader(0);
  EXPECT_EQ(ReadNow(0), 0xAA);
  Simulator.AdvanceClock(499);
  EXPECT_EQ(ReadNow(0), 0xAA) << "the removal is due one millisecond later";
  Simulator.AdvanceClock(1);
  EXPECT_EQ(ReadNow(0), -1);
  EXPECT_EQ(Simulator.TickCount(), 0xFFFFFF00u + 500u);

  // A step per pass: the raw read of reader 0 moves the clock, the other readers share the time.
  Simulator.SetClockStep(100);
  uint8_t buffer[100];
  uint16_t value = 0, length = 99;
  ReadRaw(1, &value, buffer, &length);
  EXPECT_EQ(Simulator.TickCount(), 0xFFFFFF00u + 500u) << "reader 1 does not step the clock";
  length = 99;
  ReadRaw(0, &value, buffer, &length);
  EXPECT_EQ(ReadNow(0), -1);
  length = 99;
  ReadRaw(0, &value, buffer, &length);
  EXPECT_EQ(Simulator.TickCount(), 0xFFFFFF00u + 700u);
  EXPECT_EQ(ReadNow(0), 0xBB);

  Simulator.RunClock();
  uint32_t running = Simulator.TickCount();
  EXPECT_LT(platform::TickDifference(running, 0xFFFFFF00u + 700u), 60000) << "runs on from where it stood";
  EXPECT_GE(platform::TickDifference(running, 0xFFFFFF00u + 700u), 0);
}

TEST_F(Prx08Simulator, PollsAreCountedPerReader) {
  Simulator.SetReaderCount(2);
  OpenReader(0);
  OpenReader(1);
  for (int i = 0; i < 3; ++i) ReadNow(0);
  ReadNow(1);
  EXPECT_EQ(Simulator.PollCount(0), 3);
  EXPECT_EQ(Simulator.PollCount(1), 1);
  EXPECT_EQ(Simulator.PollCount(16), -1);
  Simulator.ResetLog();
  EXPECT_EQ(Simulator.PollCount(0), 0);
}

TEST_F(Prx08Simulator, ABlockedEntryPointAnswersOnlyWhenReleased) {
  Simulator.SetDelay("Enumerate", SimulatorControl::kBlock);
  std::atomic<int> answer{-100};
  std::thread caller([&] { answer = Enumerate(); });
  while (Simulator.CallCount("Enumerate") == 0) platform::SleepMilliseconds(5);
  // Other calls go on meanwhile: the block holds no lock.
  EXPECT_EQ(OpenReader(0), 0);
  platform::SleepMilliseconds(50);
  EXPECT_EQ(answer, -100) << "still blocked";
  Simulator.Release("Enumerate");
  caller.join();
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(Simulator.CallLog(), "OpenReader 0\nEnumerate -> 1\n") << "the blocked call answered last";

  Simulator.SetDelay("BeepBlink", 30);
  EXPECT_EQ(BeepBlink(0), 0) << "a delay ends by itself";
}

TEST_F(Prx08Simulator, InjectedFaultsAnswerOtherwiseOrRaiseForTheChosenReaderAndTimes) {
  Simulator.SetReaderCount(2);
  OpenReader(0);
  OpenReader(1);
  Simulator.PresentCard(0, 0x11u);
  Simulator.PresentCard(1, 0x22u);
  Simulator.ResetLog();
  Simulator.SetFault("ReadCardNumber", 1, SimulatorControl::FaultKind::Answer, 7, 2);
  uint32_t card = 0;
  EXPECT_EQ(Read(1, &card), 7);
  EXPECT_EQ(card, 0u) << "a faulty answer leaves the output alone";
  EXPECT_EQ(ReadNow(0), 0x11) << "only reader 1 is affected";
  EXPECT_EQ(Read(1, &card), 7);
  EXPECT_EQ(ReadNow(1), 0x22) << "two calls only";
  EXPECT_EQ(Simulator.CallLog(), "ReadCardNumber 1 fault answer=7\nReadCardNumber 1 fault answer=7\n");

  // A raising entry point, as a faulty vendor library does it: a structured exception on
  // Windows, a C++ exception elsewhere. The simulator stays usable afterwards.
  Simulator.SetFault("BeepBlink", SimulatorControl::kEveryReader, SimulatorControl::FaultKind::Raise, 0,
                     SimulatorControl::kAlways);
  for (int reader : {0, 1}) {
    EXPECT_THROW(platform::CallGuarded([&] { return BeepBlink(static_cast<int16_t>(reader)); }), std::exception);
  }
#if defined(_WIN32)
  try {
    platform::CallGuarded([&] { return BeepBlink(0); });
  } catch (const platform::StructuredException& raised) {
    EXPECT_EQ(raised.Code(), 0xE0505238u);
  }
  Simulator.SetFault("BeepBlink", 0, SimulatorControl::FaultKind::AccessViolation, 0, 1);
  try {
    platform::CallGuarded([&] { return BeepBlink(0); });
    ADD_FAILURE() << "no access violation";
  } catch (const platform::StructuredException& raised) {
    EXPECT_TRUE(raised.IsAccessViolation());
  }
#endif
  Simulator.SetFault("BeepBlink", SimulatorControl::kEveryReader, SimulatorControl::FaultKind::None, 0, 0);
  EXPECT_EQ(BeepBlink(0), 0);
  EXPECT_EQ(ReadNow(1), 0x22);
}

TEST_F(Prx08Simulator, TheLogFileReceivesEveryLogLine) {
  std::string path = platform::TempDirectory() + "vestrel_simlog_" + std::to_string(platform::CurrentProcessId()) + ".txt";
  std::filesystem::remove(path);
  ASSERT_TRUE(Simulator.SetLogFile(path));
  OpenReader(0);
  BeepBlink(0);
  ASSERT_TRUE(Simulator.SetLogFile(""));
  BeepBlink(0);
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  EXPECT_EQ(text.str(), "OpenReader 0\nBeepBlink 0\n");
  std::filesystem::remove(path);
  EXPECT_FALSE(Simulator.SetLogFile(platform::TempDirectory() + "no_such_folder_x/log.txt"));
}

}  // namespace
