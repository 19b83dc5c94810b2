#pragma once
// What one device's polling run has seen of its readers, kept in memory while the device is on:
// per reader the cards accepted, the repeats suppressed, the reads by result code, the sink's
// failures, the time of the last card and the time since the reader last answered 0 (a card)
// or 1 (no card); and the diagnostic log's lines about the readers.
//
// The read result of every poll goes through ReadAnswered, which logs a line only when a
// reader's result changes ("reader 0: ReadCardNumber answers 1 since 12:04:00.100; before: -1
// since 12:03:10.250, 1 412 times") and, while a result other than 0 or 1 persists, a reminder
// after 1 minute, then after 2, 4, 8 ... minutes, at most one an hour ("reader 0:
// ReadCardNumber answers -1 since 12:03:10.250, 1 412 times"), never one per poll.
//
// Threads: the polling thread records, any other thread takes a Snapshot; one lock inside,
// held for a few counter updates at a time and never while a log line is written.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/local_time.h"

// The number of distinct read results counted one by one; further ones are counted together.
inline constexpr size_t kMaxCountedReadResults = 16;
// The first reminder of a persisting failed read, and the longest gap between two.
inline constexpr uint32_t kFirstReadReminderMilliseconds = 60 * 1000;
inline constexpr uint32_t kLongestReadReminderMilliseconds = 60 * 60 * 1000;

struct TReadResultCount {
  int16_t Result = 0;
  uint64_t Count = 0;
};

struct TReaderStatisticsSnapshot {
  int16_t Reader = 0;
  std::optional<int16_t> OpenAnswer;  // OpenReader's answer
  uint64_t Reads = 0;                 // ReadCardNumber calls answered
  uint64_t CardsAccepted = 0;
  uint64_t RepeatsSuppressed = 0;
  uint64_t SinkFailures = 0;
  // Reads by result, ascending by result; results beyond the first kMaxCountedReadResults
  // distinct ones are in OtherResults.
  std::vector<TReadResultCount> ReadsByResult;
  uint64_t OtherResults = 0;
  std::optional<platform::LocalDateTime> LastCardTime;
  // Milliseconds since the reader last answered 0 or 1; none while it never did.
  std::optional<uint32_t> MillisecondsSinceAnswered;
  // The latest read result, since when it has been the answer, and how many reads in a row.
  std::optional<int16_t> CurrentResult;
  platform::LocalDateTime CurrentResultSince;
  uint64_t CurrentResultReads = 0;
};

struct TDeviceStatisticsSnapshot {
  std::optional<int16_t> EnumerateAnswer;
  std::vector<TReaderStatisticsSnapshot> Readers;
};

class TReaderStatistics {
public:
  TReaderStatistics() = default;
  TReaderStatistics(const TReaderStatistics&) = delete;
  TReaderStatistics& operator=(const TReaderStatistics&) = delete;

  // The start-up's enumeration: `answer` is what Enumerate answered, `opened` the readers the
  // thread opens (the answer, capped). Starts the counts afresh for that many readers and logs
  // the answer.
  void ReadersEnumerated(int16_t answer, size_t opened);
  // OpenReader's answer for one reader (logged).
  void ReaderOpened(int16_t reader, int16_t answer);
  // Every poll's ReadCardNumber result (a change or a due reminder is logged).
  void ReadAnswered(int16_t reader, int16_t result, uint32_t nowTick);
  // A code that passed the repeat filter (logged, the card number masked as the log's
  // settings say), and one that did not.
  void CardAccepted(int16_t reader, std::string_view code);
  void RepeatSuppressed(int16_t reader);
  // The host's event sink failed to take a card (logged with the reason, UTF-8).
  void SinkFailed(int16_t reader, std::string_view reason);

  TDeviceStatisticsSnapshot Snapshot(uint32_t nowTick) const;

private:
  struct TReader {
    TReaderStatisticsSnapshot Counts;  // MillisecondsSinceAnswered is filled in by Snapshot
    uint64_t RepeatsSinceCard = 0;
    std::optional<uint32_t> AnsweredTick;
    uint32_t CurrentResultSinceTick = 0;
    uint32_t NextReminderAfter = kFirstReadReminderMilliseconds;
  };

  // The reader's record, or null for an index outside the enumeration.
  TReader* Find(int16_t reader);
  static void CountResult(TReader& record, int16_t result);

  mutable std::mutex FLock;
  std::optional<int16_t> FEnumerateAnswer;
  std::vector<TReader> FReaders;
};

// The snapshot as text, one "key=value;..." line per item, lines ending in CR LF:
//   enumerate=<answer or empty>
//   reader=<n>;open=<answer or empty>;reads=<n>;cards=<n>;repeats=<n>;sinkFailures=<n>;
//     lastCard=<dd.MM.yyyy hh:mm:ss.zzz or empty>;sinceAnswer=<ms or empty>;
//     result=<latest or empty>;resultSince=<hh:mm:ss.zzz or empty>;resultReads=<n>;
//     byResult=<result>:<count>,...[,other:<count>]
// (each reader on one line).
std::string DeviceStatisticsText(const TDeviceStatisticsSnapshot& snapshot);
