// The readers' statistics and their log lines: changes of a read result (not every poll), the
// reminders of a failure that lasts, the counts of a snapshot, and a snapshot taken while the
// polling thread records.
#include "parsec/reader_statistics.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/diagnostic_log.h"
#include "platform/process_info.h"
#include "platform/sync.h"

namespace {

namespace fs = std::filesystem;

// The log runs into a file of the test's own; Texts() are its lines without date, time and
// thread, and with every time of day inside the text written as "T".
class StatisticsLog {
public:
  explicit StatisticsLog(bool fullCardNumbers = false) {
    static std::atomic<int> counter{0};
    FFile = (fs::temp_directory_path() /
             ("vestrel_statistics_" + std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(counter++) + ".log"))
                .string();
    fs::remove(FFile);
    TDiagnosticLogSettings settings;
    settings.FileName = FFile;
    settings.FullCardNumbers = fullCardNumbers;
    EXPECT_TRUE(StartDiagnosticLog(settings));
  }
  ~StatisticsLog() {
    StopDiagnosticLog();
    std::error_code ignored;
    fs::remove(FFile, ignored);
  }
  std::vector<std::string> Texts() {
    StopDiagnosticLog();
    std::ifstream stream(FFile, std::ios::binary);
    std::vector<std::string> texts;
    const std::regex prefix(R"(^(\xEF\xBB\xBF)?\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3} \[\d+\] )");
    const std::regex time(R"(\d\d:\d\d:\d\d\.\d{3})");
    for (std::string line; std::getline(stream, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      texts.push_back(std::regex_replace(std::regex_replace(line, prefix, ""), time, "T"));
    }
    return texts;
  }

private:
  std::string FFile;
};

// Polls one reader `times` times, 25 ms apart, from `tick` on; returns the tick after.
uint32_t Poll(TReaderStatistics& statistics, int16_t reader, int16_t result, int times, uint32_t tick) {
  for (int poll = 0; poll < times; ++poll, tick += 25) statistics.ReadAnswered(reader, result, tick);
  return tick;
}

TEST(ReaderStatistics, TheLogGetsEachChangeOfAReadResultAndRemindersOfAFailureNotEveryPoll) {
  StatisticsLog log;
  TReaderStatistics statistics;
  statistics.ReadersEnumerated(2, 2);
  statistics.ReaderOpened(0, 0);
  statistics.ReaderOpened(1, -5);
  uint32_t tick = 0xFFFFF000u;  // across the tick count's wrap
  tick = Poll(statistics, 0, 1, 10, tick);
  tick = Poll(statistics, 0, 0, 1, tick);
  statistics.CardAccepted(0, "00A1B2C3");
  tick = Poll(statistics, 0, 0, 3, tick);
  for (int repeat = 0; repeat < 3; ++repeat) statistics.RepeatSuppressed(0);
  tick = Poll(statistics, 0, 1, 2, tick);
  // Unplugged: -1 for 1 412 polls (35 s, no reminder yet), then back.
  tick = Poll(statistics, 0, -1, 1412, tick);
  tick = Poll(statistics, 0, 1, 1, tick);
  statistics.CardAccepted(0, "00A1B2C3");
  // A failure of 10 minutes: reminders after 1, 2, 4 and 8 minutes.
  tick = Poll(statistics, 1, -1, 10 * 60 * 40, tick);
  statistics.SinkFailed(0, "EAccessViolation: the host's window is gone");
  statistics.ReadAnswered(5, 1, tick);  // no such reader: nothing
  statistics.ReaderOpened(-1, 0);

  const std::vector<std::string> expected = {
      "Enumerate answers 2: 2 readers to open",
      "reader 0: OpenReader answers 0",
      "reader 1: OpenReader answers -5",
      "reader 0: ReadCardNumber answers 1 since T",
      "reader 0: ReadCardNumber answers 0 since T; before: 1 since T, 10 times",
      "reader 0: card ****B2C3 accepted",
      "reader 0: ReadCardNumber answers 1 since T; before: 0 since T, 4 times",
      "reader 0: ReadCardNumber answers -1 since T; before: 1 since T, 2 times",
      "reader 0: ReadCardNumber answers 1 since T; before: -1 since T, 1 412 times",
      "reader 0: card ****B2C3 accepted (3 repeats suppressed since the reader's last card)",
      "reader 1: ReadCardNumber answers -1 since T",
      "reader 1: ReadCardNumber answers -1 since T, 2 401 times",
      "reader 1: ReadCardNumber answers -1 since T, 4 801 times",
      "reader 1: ReadCardNumber answers -1 since T, 9 601 times",
      "reader 1: ReadCardNumber answers -1 since T, 19 201 times",
      "reader 0: the host's event sink failed: EAccessViolation: the host's window is gone",
  };
  EXPECT_EQ(log.Texts(), expected);
}

TEST(ReaderStatistics, TheEnumerationBeyondTheCapAndFullCardNumbersAreSaid) {
  StatisticsLog log(true);
  TReaderStatistics statistics;
  statistics.ReadersEnumerated(32767, 16);
  statistics.CardAccepted(3, "001234ABCD");
  statistics.ReadersEnumerated(0, 0);
  statistics.CardAccepted(3, "001234ABCD");  // no reader 3 any more
  EXPECT_EQ(log.Texts(), (std::vector<std::string>{"Enumerate answers 32767: 16 readers to open, the most the plug-in opens",
                                                   "reader 3: card 001234ABCD accepted",
                                                   "Enumerate answers 0: 0 readers to open"}));
}

TEST(ReaderStatistics, TheSnapshotCountsWhatWasRecorded) {
  StopDiagnosticLog();  // the counts do not depend on the log
  TReaderStatistics statistics;
  EXPECT_EQ(DeviceStatisticsText(statistics.Snapshot(0)), "enumerate=\r\n");
  statistics.ReadersEnumerated(2, 2);
  statistics.ReaderOpened(0, 0);
  uint32_t tick = 1000;
  tick = Poll(statistics, 0, 1, 5, tick);
  tick = Poll(statistics, 0, 0, 2, tick);
  statistics.CardAccepted(0, "00000001");
  statistics.RepeatSuppressed(0);
  statistics.SinkFailed(0, "x");
  tick = Poll(statistics, 0, -2, 3, tick);
  // Twenty distinct failures on reader 1: sixteen counted one by one, the rest together.
  for (int16_t result = -20; result < 0; ++result) statistics.ReadAnswered(1, result, tick);

  const TDeviceStatisticsSnapshot snapshot = statistics.Snapshot(tick + 500);
  EXPECT_EQ(snapshot.EnumerateAnswer, 2);
  ASSERT_EQ(snapshot.Readers.size(), 2u);
  const TReaderStatisticsSnapshot& first = snapshot.Readers[0];
  EXPECT_EQ(first.OpenAnswer, 0);
  EXPECT_EQ(first.Reads, 10u);
  EXPECT_EQ(first.CardsAccepted, 1u);
  EXPECT_EQ(first.RepeatsSuppressed, 1u);
  EXPECT_EQ(first.SinkFailures, 1u);
  ASSERT_EQ(first.ReadsByResult.size(), 3u);
  EXPECT_EQ(first.ReadsByResult[0].Result, -2);
  EXPECT_EQ(first.ReadsByResult[0].Count, 3u);
  EXPECT_EQ(first.ReadsByResult[1].Count, 2u);
  EXPECT_EQ(first.ReadsByResult[2].Count, 5u);
  EXPECT_TRUE(first.LastCardTime.has_value());
  // The last 0 or 1 was the second read of the card, four polls before the end.
  EXPECT_EQ(first.MillisecondsSinceAnswered, 3u * 25u + 500u + 25u);
  EXPECT_EQ(first.CurrentResult, -2);
  EXPECT_EQ(first.CurrentResultReads, 3u);
  const TReaderStatisticsSnapshot& second = snapshot.Readers[1];
  EXPECT_EQ(second.OpenAnswer, std::nullopt);
  EXPECT_EQ(second.Reads, 20u);
  EXPECT_EQ(second.ReadsByResult.size(), kMaxCountedReadResults);
  EXPECT_EQ(second.OtherResults, 4u);
  EXPECT_EQ(second.MillisecondsSinceAnswered, std::nullopt) << "never answered 0 or 1";
  EXPECT_FALSE(second.LastCardTime.has_value());

  const std::regex text(
      "enumerate=2\r\n"
      "reader=0;open=0;reads=10;cards=1;repeats=1;sinkFailures=1;lastCard=\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d\\.\\d{3};"
      "sinceAnswer=600;result=-2;resultSince=\\d\\d:\\d\\d:\\d\\d\\.\\d{3};resultReads=3;byResult=-2:3,0:2,1:5\r\n"
      "reader=1;open=;reads=20;cards=0;repeats=0;sinkFailures=0;lastCard=;sinceAnswer=;result=-1;"
      "resultSince=\\d\\d:\\d\\d:\\d\\d\\.\\d{3};resultReads=1;byResult=-20:1,-19:1,-18:1,-17:1,-16:1,-15:1,-14:1,"
      "-13:1,-12:1,-11:1,-10:1,-9:1,-8:1,-7:1,-6:1,-5:1,other:4\r\n");
  const std::string actual = DeviceStatisticsText(snapshot);
  EXPECT_TRUE(std::regex_match(actual, text)) << actual;
}

TEST(ReaderStatistics, ASnapshotWhileThePollingThreadRecordsSeesWholeCounts) {
  StatisticsLog log;
  TReaderStatistics statistics;
  statistics.ReadersEnumerated(4, 4);
  constexpr int kPasses = 5000;
  std::atomic<bool> done{false};
  platform::Thread polling([&] {
    uint32_t tick = 0;
    for (int pass = 0; pass < kPasses; ++pass, tick += 25) {
      for (int16_t reader = 0; reader < 4; ++reader) {
        const int16_t result = pass % 100 == 0 ? int16_t{0} : (pass % 7 == 0 ? int16_t{-1} : int16_t{1});
        statistics.ReadAnswered(reader, result, tick);
        if (result == 0) statistics.CardAccepted(reader, "00A1B2C3");
      }
    }
    done = true;
  });
  uint64_t lastReads = 0;
  while (!done) {
    const TDeviceStatisticsSnapshot snapshot = statistics.Snapshot(0);
    uint64_t byResult = 0;
    for (const TReadResultCount& count : snapshot.Readers[0].ReadsByResult) byResult += count.Count;
    ASSERT_EQ(byResult, snapshot.Readers[0].Reads);
    ASSERT_GE(snapshot.Readers[0].Reads, lastReads);
    lastReads = snapshot.Readers[0].Reads;
  }
  polling.Join();
  const TDeviceStatisticsSnapshot snapshot = statistics.Snapshot(0);
  for (const TReaderStatisticsSnapshot& reader : snapshot.Readers) {
    EXPECT_EQ(reader.Reads, static_cast<uint64_t>(kPasses));
    EXPECT_EQ(reader.CardsAccepted, static_cast<uint64_t>(kPasses / 100));
  }
}

}  // namespace
