#include "parsec/reader_statistics.h"

#include <algorithm>
#include <utility>

#include "base/diagnostic_log.h"
#include "platform/sync.h"

namespace {

// 0: a card delivered, 1: no card. Anything else is the reader failing to answer.
bool IsAnswer(int16_t result) { return result == 0 || result == 1; }

std::string ReaderPrefix(int16_t reader) { return "reader " + std::to_string(reader) + ": "; }

std::string RunText(int16_t result, const platform::LocalDateTime& since) {
  return "ReadCardNumber answers " + std::to_string(result) + " since " + DiagnosticTimeOfDayText(since);
}

std::string TimesText(uint64_t reads) { return DiagnosticCountText(reads) + (reads == 1 ? " time" : " times"); }

template <class T>
std::string OptionalText(const std::optional<T>& value) {
  return value ? std::to_string(*value) : std::string();
}

}  // namespace

TReaderStatistics::TReader* TReaderStatistics::Find(int16_t reader) {
  if (reader < 0 || static_cast<size_t>(reader) >= FReaders.size()) return nullptr;
  return &FReaders[static_cast<size_t>(reader)];
}

void TReaderStatistics::CountResult(TReader& record, int16_t result) {
  ++record.Counts.Reads;
  auto& counts = record.Counts.ReadsByResult;
  auto place = std::lower_bound(counts.begin(), counts.end(), result,
                                [](const TReadResultCount& entry, int16_t value) { return entry.Result < value; });
  if (place != counts.end() && place->Result == result) {
    ++place->Count;
  } else if (counts.size() < kMaxCountedReadResults) {
    counts.insert(place, TReadResultCount{result, 1});
  } else {
    ++record.Counts.OtherResults;
  }
}

void TReaderStatistics::ReadersEnumerated(int16_t answer, size_t opened) {
  {
    std::lock_guard lock(FLock);
    FEnumerateAnswer = answer;
    FReaders.assign(opened, TReader{});
    for (size_t index = 0; index < opened; ++index) FReaders[index].Counts.Reader = static_cast<int16_t>(index);
  }
  if (answer > 0 && static_cast<size_t>(answer) > opened) {
    DIAGNOSTIC_LOG("Enumerate answers %d: %u readers to open, the most the plug-in opens", answer,
                   static_cast<unsigned>(opened));
  } else {
    DIAGNOSTIC_LOG("Enumerate answers %d: %u readers to open", answer, static_cast<unsigned>(opened));
  }
}

void TReaderStatistics::ReaderOpened(int16_t reader, int16_t answer) {
  {
    std::lock_guard lock(FLock);
    TReader* record = Find(reader);
    if (!record) return;
    record->Counts.OpenAnswer = answer;
  }
  DIAGNOSTIC_LOG("reader %d: OpenReader answers %d", reader, answer);
}

void TReaderStatistics::ReadAnswered(int16_t reader, int16_t result, uint32_t nowTick) {
  std::string line;
  {
    std::lock_guard lock(FLock);
    TReader* record = Find(reader);
    if (!record) return;
    CountResult(*record, result);
    if (IsAnswer(result)) record->AnsweredTick = nowTick;
    if (record->Counts.CurrentResult == result) {
      ++record->Counts.CurrentResultReads;
      // A failure that goes on is recalled now and then, ever less often.
      const uint32_t lasting = platform::TicksElapsed(record->CurrentResultSinceTick, nowTick);
      if (!IsAnswer(result) && lasting >= record->NextReminderAfter) {
        const uint64_t next = std::min<uint64_t>(uint64_t{lasting} * 2, uint64_t{lasting} + kLongestReadReminderMilliseconds);
        record->NextReminderAfter = static_cast<uint32_t>(std::min<uint64_t>(next, UINT32_MAX));
        if (DiagnosticLogOn()) {
          line = ReaderPrefix(reader) + RunText(result, record->Counts.CurrentResultSince) + ", " +
                 TimesText(record->Counts.CurrentResultReads);
        }
      }
    } else {
      const platform::LocalDateTime now = platform::LocalTimeNow();
      if (DiagnosticLogOn()) {
        line = ReaderPrefix(reader) + RunText(result, now);
        if (record->Counts.CurrentResult) {
          line += "; before: " + std::to_string(*record->Counts.CurrentResult) + " since " +
                  DiagnosticTimeOfDayText(record->Counts.CurrentResultSince) + ", " +
                  TimesText(record->Counts.CurrentResultReads);
        }
      }
      record->Counts.CurrentResult = result;
      record->Counts.CurrentResultSince = now;
      record->CurrentResultSinceTick = nowTick;
      record->Counts.CurrentResultReads = 1;
      record->NextReminderAfter = kFirstReadReminderMilliseconds;
    }
  }
  if (!line.empty()) WriteDiagnosticLine(line);
}

void TReaderStatistics::CardAccepted(int16_t reader, std::string_view code) {
  uint64_t repeats = 0;
  {
    std::lock_guard lock(FLock);
    TReader* record = Find(reader);
    if (!record) return;
    ++record->Counts.CardsAccepted;
    record->Counts.LastCardTime = platform::LocalTimeNow();
    repeats = std::exchange(record->RepeatsSinceCard, 0);
  }
  DiagnosticLogWith([&] {
    std::string line = ReaderPrefix(reader) + "card " + LoggedCardNumber(code) + " accepted";
    if (repeats > 0) line += " (" + DiagnosticCountText(repeats) + " repeats suppressed since the reader's last card)";
    return line;
  });
}

void TReaderStatistics::RepeatSuppressed(int16_t reader) {
  std::lock_guard lock(FLock);
  if (TReader* record = Find(reader)) {
    ++record->Counts.RepeatsSuppressed;
    ++record->RepeatsSinceCard;
  }
}

void TReaderStatistics::SinkFailed(int16_t reader, std::string_view reason) {
  {
    std::lock_guard lock(FLock);
    TReader* record = Find(reader);
    if (!record) return;
    ++record->Counts.SinkFailures;
  }
  DiagnosticLogWith([&] { return ReaderPrefix(reader) + "the host's event sink failed: " + std::string(reason); });
}

TDeviceStatisticsSnapshot TReaderStatistics::Snapshot(uint32_t nowTick) const {
  TDeviceStatisticsSnapshot snapshot;
  std::lock_guard lock(FLock);
  snapshot.EnumerateAnswer = FEnumerateAnswer;
  snapshot.Readers.reserve(FReaders.size());
  for (const TReader& record : FReaders) {
    TReaderStatisticsSnapshot& reader = snapshot.Readers.emplace_back(record.Counts);
    if (record.AnsweredTick) reader.MillisecondsSinceAnswered = platform::TicksElapsed(*record.AnsweredTick, nowTick);
  }
  return snapshot;
}

std::string DeviceStatisticsText(const TDeviceStatisticsSnapshot& snapshot) {
  std::string text = "enumerate=" + OptionalText(snapshot.EnumerateAnswer) + "\r\n";
  for (const TReaderStatisticsSnapshot& reader : snapshot.Readers) {
    text += "reader=" + std::to_string(reader.Reader) + ";open=" + OptionalText(reader.OpenAnswer) +
            ";reads=" + std::to_string(reader.Reads) + ";cards=" + std::to_string(reader.CardsAccepted) +
            ";repeats=" + std::to_string(reader.RepeatsSuppressed) + ";sinkFailures=" +
            std::to_string(reader.SinkFailures) + ";lastCard=" +
            (reader.LastCardTime ? DiagnosticDateTimeText(*reader.LastCardTime) : std::string()) +
            ";sinceAnswer=" + OptionalText(reader.MillisecondsSinceAnswered) +
            ";result=" + OptionalText(reader.CurrentResult) + ";resultSince=" +
            (reader.CurrentResult ? DiagnosticTimeOfDayText(reader.CurrentResultSince) : std::string()) +
            ";resultReads=" + std::to_string(reader.CurrentResultReads) + ";byResult=";
    for (size_t index = 0; index < reader.ReadsByResult.size(); ++index) {
      if (index > 0) text += ',';
      text += std::to_string(reader.ReadsByResult[index].Result) + ":" + std::to_string(reader.ReadsByResult[index].Count);
    }
    if (reader.OtherResults > 0) {
      text += (reader.ReadsByResult.empty() ? "other:" : ",other:") + std::to_string(reader.OtherResults);
    }
    text += "\r\n";
  }
  return text;
}
