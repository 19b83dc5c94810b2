// The diagnostic log: line format, drops, rotation, masking, a file that cannot be written,
// the structured-exception hook, and a stop from the module's stop routine.
#include "base/diagnostic_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/dynamic_library.h"
#include "platform/file_system.h"
#include "platform/process_info.h"
#include "platform/structured_exception.h"
#include "platform/sync.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

// A folder of the test's own, removed at the end; the log is stopped before.
class LogFolder {
public:
  LogFolder() {
    static std::atomic<int> counter{0};
    FPath = fs::temp_directory_path() /
            ("vestrel_log_test_" + std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(counter++));
    fs::remove_all(FPath);
    fs::create_directories(FPath);
  }
  ~LogFolder() {
    StopDiagnosticLog();
    std::error_code ignored;
    fs::remove_all(FPath, ignored);
  }
  std::string File(const std::string& name = "Vestrel.log") const { return (FPath / name).string(); }
  const fs::path& Path() const { return FPath; }

private:
  fs::path FPath;
};

TDiagnosticLogSettings Settings(const std::string& file, uint32_t queueLines = 4096, uint64_t maxBytes = 1 << 20) {
  TDiagnosticLogSettings settings;
  settings.FileName = file;
  settings.QueueLines = queueLines;
  settings.MaxFileBytes = maxBytes;
  return settings;
}

std::string ReadAll(const std::string& file) {
  std::ifstream stream(file, std::ios::binary);
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

// The file's lines without the byte-order mark and the CR LF ends (which are checked).
std::vector<std::string> Lines(const std::string& file) {
  std::string text = ReadAll(file);
  std::vector<std::string> lines;
  if (text.empty()) return lines;
  EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF") << file;
  text.erase(0, 3);
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "the file ends with a whole line";
  return lines;
}

const std::regex kLinePattern(R"(^(\d\d)\.(\d\d)\.(\d{4}) (\d\d):(\d\d):(\d\d)\.(\d{3}) \[(\d+)\] (.*)$)");

// The line's text after the date, time and thread.
std::string TextOf(const std::string& line) {
  std::smatch parts;
  if (!std::regex_match(line, parts, kLinePattern)) {
    ADD_FAILURE() << "not a log line: " << line;
    return {};
  }
  return parts[9];
}

std::vector<std::string> Texts(const std::string& file) {
  std::vector<std::string> texts;
  for (const std::string& line : Lines(file)) texts.push_back(TextOf(line));
  return texts;
}

int gEvaluated = 0;
int Evaluated() { return ++gEvaluated; }

TEST(DiagnosticLog, OffByDefaultAndOffCostsNoArgumentEvaluation) {
  StopDiagnosticLog();
  EXPECT_FALSE(DiagnosticLogOn());
  gEvaluated = 0;
  DIAGNOSTIC_LOG("never %d", Evaluated());
  DiagnosticLogWith([] { return std::to_string(Evaluated()); });
  WriteDiagnosticLine("nothing");
  EXPECT_EQ(gEvaluated, 0);
  EXPECT_TRUE(FlushDiagnosticLog(0));
  EXPECT_FALSE(StartDiagnosticLog(TDiagnosticLogSettings{})) << "settings without a file start nothing";
  EXPECT_FALSE(DiagnosticLogOn());
}

TEST(DiagnosticLog, LinesCarryTimeThreadAndCleanedText) {
  LogFolder folder;
  ASSERT_TRUE(StartDiagnosticLog(Settings(folder.File())));
  EXPECT_TRUE(DiagnosticLogOn());
  EXPECT_EQ(DiagnosticLogFileName(), folder.File());
  DIAGNOSTIC_LOG("member %s, kind %d", "Включить", 1);
  WriteDiagnosticLine("two\r\nlines\nand\ta\x01 bell");
  uint32_t otherThread = 0;
  platform::Thread([&] {
    otherThread = platform::CurrentThreadId();
    WriteDiagnosticLine("from another thread");
  }).Join();
  const std::string longText = std::string(kMaxDiagnosticLineBytes - 1, 'x') + "Ж" + "tail";
  WriteDiagnosticLine(longText);
  ASSERT_TRUE(FlushDiagnosticLog(30000));
  StopDiagnosticLog();
  EXPECT_FALSE(DiagnosticLogOn());
  EXPECT_EQ(DiagnosticLogFileName(), "");

  const std::vector<std::string> lines = Lines(folder.File());
  ASSERT_EQ(lines.size(), 4u);
  std::smatch parts;
  ASSERT_TRUE(std::regex_match(lines[0], parts, kLinePattern)) << lines[0];
  EXPECT_GE(std::stoi(parts[1]), 1);
  EXPECT_LE(std::stoi(parts[2]), 12);
  EXPECT_GE(std::stoi(parts[3]), 2020);
  EXPECT_EQ(std::stoul(parts[8]), platform::CurrentThreadId());
  EXPECT_EQ(parts[9], "member Включить, kind 1");
  EXPECT_EQ(TextOf(lines[1]), "two lines and\ta? bell");
  ASSERT_TRUE(std::regex_match(lines[2], parts, kLinePattern));
  EXPECT_EQ(std::stoul(parts[8]), otherThread);
  EXPECT_NE(otherThread, platform::CurrentThreadId());
  // Cut before the two-byte letter that would cross the bound, and marked.
  EXPECT_EQ(TextOf(lines[3]), std::string(kMaxDiagnosticLineBytes - 1, 'x') + "…");
  EXPECT_EQ(DiagnosticLogCounters().Written, 4u);
}

TEST(DiagnosticLog, AFullQueueDropsAndTheNextLineCountsTheDrops) {
  LogFolder folder;
  ASSERT_TRUE(StartDiagnosticLog(Settings(folder.File(), 8)));
  HoldDiagnosticLogWriter(true);
  for (int line = 0; line < 13; ++line) DIAGNOSTIC_LOG("line %d", line);
  EXPECT_EQ(DiagnosticLogCounters().Dropped, 5u);
  HoldDiagnosticLogWriter(false);
  ASSERT_TRUE(FlushDiagnosticLog(30000));
  DIAGNOSTIC_LOG("after");
  DIAGNOSTIC_LOG("and again");
  ASSERT_TRUE(FlushDiagnosticLog(30000));
  // Drops that no later line reported are reported by the stop.
  HoldDiagnosticLogWriter(true);
  for (int line = 0; line < 10; ++line) DIAGNOSTIC_LOG("late %d", line);
  StopDiagnosticLog();

  std::vector<std::string> expected;
  for (int line = 0; line < 8; ++line) expected.push_back("line " + std::to_string(line));
  expected.push_back("(5 lines dropped before this one: the log's queue was full) after");
  expected.push_back("and again");
  for (int line = 0; line < 8; ++line) expected.push_back("late " + std::to_string(line));
  expected.push_back("2 lines dropped at the end: the log's queue was full");
  EXPECT_EQ(Texts(folder.File()), expected);
  EXPECT_EQ(DiagnosticLogCounters().Dropped, 7u);
}

TEST(DiagnosticLog, RotationKeepsTwoFilesWithinTheSize) {
  LogFolder folder;
  ASSERT_TRUE(StartDiagnosticLog(Settings(folder.File("diag.log"), 4096, 1000)));  // raised to the minimum
  const std::string filler(200, '-');
  const int count = 400;  // about 90 KB: several rotations
  for (int line = 0; line < count; ++line) {
    DIAGNOSTIC_LOG("%04d %s", line, filler.c_str());
    if (line % 50 == 0) {
      ASSERT_TRUE(FlushDiagnosticLog(30000));
    }
  }
  StopDiagnosticLog();

  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder.Path())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"diag.log", "diag.old.log"}));
  EXPECT_LE(fs::file_size(folder.File("diag.log")), kMinDiagnosticFileBytes);
  EXPECT_LE(fs::file_size(folder.File("diag.old.log")), kMinDiagnosticFileBytes);
  EXPECT_GT(fs::file_size(folder.File("diag.old.log")), kMinDiagnosticFileBytes - 300) << "filled before rotating";
  // The two files hold the newest lines without a gap, the older file first.
  std::vector<std::string> texts = Texts(folder.File("diag.old.log"));
  const std::vector<std::string> current = Texts(folder.File("diag.log"));
  texts.insert(texts.end(), current.begin(), current.end());
  ASSERT_FALSE(texts.empty());
  const int first = count - static_cast<int>(texts.size());
  for (size_t index = 0; index < texts.size(); ++index) {
    char expected[8];
    std::snprintf(expected, sizeof expected, "%04d", first + static_cast<int>(index));
    ASSERT_EQ(texts[index].substr(0, 4), expected) << index;
  }
  EXPECT_EQ(DiagnosticLogCounters().Lost, 0u);
  EXPECT_EQ(RotatedDiagnosticLogFileName("C:\\logs.d\\Vestrel.log"), "C:\\logs.d\\Vestrel.old.log");
  EXPECT_EQ(RotatedDiagnosticLogFileName("/var/log/vestrel"), "/var/log/vestrel.old");
  EXPECT_EQ(RotatedDiagnosticLogFileName("/var/log.d/vestrel"), "/var/log.d/vestrel.old");
}

TEST(DiagnosticLog, AnUnwritableFileCostsOnlyTheLinesAndTheyAreCountedOnceItWorks) {
  LogFolder folder;
  const fs::path missing = folder.Path() / "not yet";
  ASSERT_TRUE(StartDiagnosticLog(Settings((missing / "Vestrel.log").string())));
  for (int line = 0; line < 3; ++line) DIAGNOSTIC_LOG("lost %d", line);
  ASSERT_TRUE(FlushDiagnosticLog(30000));
  EXPECT_EQ(DiagnosticLogCounters().Lost, 3u);
  EXPECT_EQ(DiagnosticLogCounters().Written, 0u);
  EXPECT_FALSE(fs::exists(missing));
  // The folder appears: the next batch is written and says what was lost.
  fs::create_directories(missing);
  DIAGNOSTIC_LOG("kept");
  ASSERT_TRUE(FlushDiagnosticLog(30000));
  StopDiagnosticLog();
  EXPECT_EQ(Texts((missing / "Vestrel.log").string()),
            (std::vector<std::string>{"3 lines lost: the log file could not be written", "kept"}));

  // A folder in the file's place: nothing is written, nothing raises.
  const std::string folderAsFile = (folder.Path() / "a folder").string();
  fs::create_directories(folderAsFile);
  ASSERT_TRUE(StartDiagnosticLog(Settings(folderAsFile)));
  DIAGNOSTIC_LOG("nowhere");
  ASSERT_TRUE(FlushDiagnosticLog(30000));
  StopDiagnosticLog();
  EXPECT_EQ(DiagnosticLogCounters().Lost, 1u);
  EXPECT_TRUE(fs::is_directory(folderAsFile));
}

TEST(DiagnosticLog, CardNumbersShowTheirLastFourDigitsUnlessConfiguredInFull) {
  LogFolder folder;
  ASSERT_TRUE(StartDiagnosticLog(Settings(folder.File())));
  EXPECT_EQ(LoggedCardNumber("00A1B2C3"), "****B2C3");
  EXPECT_EQ(LoggedCardNumber("001234ABCD"), "******ABCD");
  EXPECT_EQ(LoggedCardNumber("12AB"), "****");
  EXPECT_EQ(LoggedCardNumber("1"), "*");
  EXPECT_EQ(LoggedCardNumber(""), "");
  TDiagnosticLogSettings full = Settings(folder.File());
  full.FullCardNumbers = true;
  ASSERT_TRUE(StartDiagnosticLog(full));
  EXPECT_EQ(LoggedCardNumber("00A1B2C3"), "00A1B2C3");
  StopDiagnosticLog();
}

TEST(DiagnosticLog, TimesAndCounts) {
  const platform::LocalDateTime time{2026, 3, 7, 9, 5, 4, 25};
  EXPECT_EQ(DiagnosticDateTimeText(time), "07.03.2026 09:05:04.025");
  EXPECT_EQ(DiagnosticTimeOfDayText(time), "09:05:04.025");
  EXPECT_EQ(DiagnosticCountText(0), "0");
  EXPECT_EQ(DiagnosticCountText(999), "999");
  EXPECT_EQ(DiagnosticCountText(1412), "1 412");
  EXPECT_EQ(DiagnosticCountText(1000000), "1 000 000");
}

TEST(DiagnosticLog, LinesFromManyThreadsAreAllWritten) {
  LogFolder folder;
  ASSERT_TRUE(StartDiagnosticLog(Settings(folder.File(), 100000)));
  {
    std::vector<platform::Thread> writers(4);
    for (int thread = 0; thread < 4; ++thread) {
      writers[thread].Start([thread] {
        for (int line = 0; line < 500; ++line) DIAGNOSTIC_LOG("thread %d line %d", thread, line);
      });
    }
  }
  StopDiagnosticLog();
  EXPECT_EQ(Lines(folder.File()).size(), 2000u);
  EXPECT_EQ(DiagnosticLogCounters().Written, 2000u);
}

#ifdef _WIN32

void RaiseHostLanguageException() { RaiseException(platform::kHostLanguageExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr); }

TEST(DiagnosticLog, EveryStructuredExceptionTheGuardCatchesIsLogged) {
  LogFolder folder;
  ASSERT_TRUE(StartDiagnosticLog(Settings(folder.File())));
  const int guardLine = __LINE__ + 2;
  try {
    platform::CallGuarded(&RaiseHostLanguageException);
  } catch (const platform::StructuredException&) {
  }
  StopDiagnosticLog();
  EXPECT_EQ(platform::CurrentStructuredExceptionObserver(), nullptr) << "the stop removes the hook";
  const std::vector<std::string> texts = Texts(folder.File());
  ASSERT_EQ(texts.size(), 1u);
  const std::regex expected("Structured exception 0x0EEDFADE at 0x[0-9A-F]+, caught by the guard in TestBody "
                            "\\(tests/base/diagnostic_log_test\\.cpp:" +
                            std::to_string(guardLine) + "\\)");
  EXPECT_TRUE(std::regex_match(texts[0], expected)) << texts[0];
}

#endif

// A library that starts the log when it is loaded and stops it when it is unloaded (DllMain
// under the loader lock on Windows, the shared object's destructor elsewhere), with lines
// queued at that moment.
TEST(DiagnosticLog, TheModuleStopEndsTheWriterWithoutHangingAndKeepsEveryLine) {
  LogFolder folder;
  const std::string file = folder.File("module.log");
  ASSERT_TRUE(platform::PutEnvironmentVariable("VESTREL_TEST_LOG_MODULE_FILE", file));
  constexpr int kCycles = 5;
  constexpr int kLines = 300;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    platform::DynamicLibrary module = platform::DynamicLibrary::Load(VESTREL_TEST_LOG_MODULE);
    ASSERT_TRUE(module) << platform::LastLoadError();
    auto write = module.ResolveAs<int (*)(int, int)>("LogModuleWrite");
    ASSERT_NE(write, nullptr);
    EXPECT_EQ(write(cycle, kLines), 1) << "the module's log is on";
    EXPECT_TRUE(module.Free());
  }
  platform::PutEnvironmentVariable("VESTREL_TEST_LOG_MODULE_FILE", "");
  const std::vector<std::string> texts = Texts(file);
  ASSERT_EQ(texts.size(), static_cast<size_t>(kCycles * kLines));
  EXPECT_EQ(texts.front(), "cycle 0 line 0");
  EXPECT_EQ(texts.back(), "cycle " + std::to_string(kCycles - 1) + " line " + std::to_string(kLines - 1));
}

// A copy of this program started with VESTREL_TEST_LOG_EXIT_CHILD loads the log module, queues
// lines and exits without unloading it: the module's stop then runs at process exit (on Windows
// after the system has ended the writer's thread).
struct ExitWithTheLogOn {
  ExitWithTheLogOn() {
    if (!platform::EnvironmentVariable("VESTREL_TEST_LOG_EXIT_CHILD").value_or("").empty()) {
      platform::DynamicLibrary module = platform::DynamicLibrary::Load(VESTREL_TEST_LOG_MODULE);
      auto write = module.ResolveAs<int (*)(int, int)>("LogModuleWrite");
      const int on = write ? write(7, 300) : 0;
      std::exit(on == 1 ? 0 : 2);  // with the module loaded: exit does not unwind to its owner
    }
  }
} exitWithTheLogOn;

TEST(DiagnosticLog, AProcessThatExitsWithTheLogOnStillWritesItsLines) {
  LogFolder folder;
  const std::string file = folder.File("exit.log");
  platform::ChildProcess child = platform::ChildProcess::Start(
      platform::ExecutableFileName(), {}, {"VESTREL_TEST_LOG_EXIT_CHILD=1", "VESTREL_TEST_LOG_MODULE_FILE=" + file});
  ASSERT_TRUE(child.IsStarted());
  EXPECT_EQ(child.Wait(60000), 0);
  const std::vector<std::string> texts = Texts(file);
  ASSERT_EQ(texts.size(), 300u);
  EXPECT_EQ(texts.back(), "cycle 7 line 299");
}

}  // namespace
