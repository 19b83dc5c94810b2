// Nothing lost, nothing doubled: long simulator scripts of holds, taps and removals on two
// readers give exactly the events that an independent model of the repeat rule predicts.
//
// The simulator's clock is frozen and moves by a fixed step at the start of every poll pass, so
// pass j after the script's start sees the time j * step on every reader, however fast or slow
// the machine runs the passes. The model walks the same passes with its own rule: a code is
// sent when it differs from the reader's last sent code, or when at least the repeat interval
// has passed since that one was sent (64-bit times, no wrap; the plug-in's clock wraps).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "parsec/manager_vestrel.h"
#include "parsec_test_support.h"

namespace {

constexpr int kReaders = 2;
constexpr uint32_t kStep = 50;       // ms per pass
constexpr int32_t kInterval = 500;   // ms: ten passes

struct Action {
  int64_t Pass;
  enum Kind { Present, Tap, Remove } What;
  int Reader;
  uint32_t Code;
};

struct Scenario {
  std::vector<Action> Actions;  // in time order per reader
  int64_t LastPass = 0;
  int Presentations = 0;
};

// Per reader: holds of 1..16 passes (some outlast the interval), taps, removals after a hold
// or a new card laid on at once, from a small pool of codes (so the same card comes back, and
// the two readers share cards).
Scenario MakeScenario(int presentationsPerReader, uint32_t seed) {
  std::mt19937 random(seed);
  auto between = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  const uint32_t pool[] = {0x1234ABCDu, 0x00A1B2C3u, 0xFFFFFFFFu, 0x00000001u, 0x80000000u};
  Scenario scenario;
  for (int reader = 0; reader < kReaders; ++reader) {
    int64_t pass = 1;
    for (int i = 0; i < presentationsPerReader; ++i) {
      const uint32_t code = pool[between(0, 4)];
      if (between(0, 9) < 3) {
        scenario.Actions.push_back({pass, Action::Tap, reader, code});
        pass += between(1, 3);
      } else {
        scenario.Actions.push_back({pass, Action::Present, reader, code});
        pass += between(1, 16);
        if (between(0, 9) < 7 || i + 1 == presentationsPerReader) {
          scenario.Actions.push_back({pass, Action::Remove, reader, 0});
          pass += between(1, 3);
        }
      }
      ++scenario.Presentations;
    }
    scenario.LastPass = std::max(scenario.LastPass, pass);
  }
  return scenario;
}

std::string ScriptText(const Scenario& scenario) {
  std::ostringstream text;
  text << std::hex << std::uppercase;
  for (const Action& action : scenario.Actions) {
    text << std::dec << action.Pass * kStep << ' '
         << (action.What == Action::Present ? "present" : action.What == Action::Tap ? "tap" : "remove") << ' '
         << action.Reader;
    if (action.What != Action::Remove) text << ' ' << std::hex << action.Code;
    text << '\n';
  }
  return text.str();
}

// The events the repeat rule gives for the scenario, in the order the passes read them; with
// `repeats`, also how many reads of a card the rule suppresses.
std::vector<std::string> PredictedEvents(const Scenario& scenario, uint64_t* repeats = nullptr) {
  struct ReaderState {
    bool Card = false, Tap = false;
    uint32_t Code = 0;
    bool Sent = false;
    uint32_t SentCode = 0;
    int64_t SentAt = 0;
  } readers[kReaders];
  std::vector<std::string> events;
  size_t next[kReaders] = {};
  std::vector<Action> perReader[kReaders];
  for (const Action& action : scenario.Actions) perReader[action.Reader].push_back(action);
  for (int64_t pass = 1; pass <= scenario.LastPass + 2; ++pass) {
    for (int r = 0; r < kReaders; ++r) {
      for (; next[r] < perReader[r].size() && perReader[r][next[r]].Pass <= pass; ++next[r]) {
        const Action& action = perReader[r][next[r]];
        readers[r].Card = action.What != Action::Remove;
        readers[r].Tap = action.What == Action::Tap;
        readers[r].Code = action.Code;
      }
    }
    for (ReaderState& reader : readers) {
      if (!reader.Card) continue;
      const uint32_t code = reader.Code;
      if (reader.Tap) reader.Card = false;
      const int64_t now = pass * kStep;
      if (reader.Sent && reader.SentCode == code && now - reader.SentAt < kInterval) {
        if (repeats != nullptr) ++*repeats;
        continue;
      }
      reader.Sent = true;
      reader.SentCode = code;
      reader.SentAt = now;
      events.push_back(CardCodeText(code));
    }
  }
  return events;
}

class PollingModel : public ParsecDeviceTest {
protected:
  TManagerVestrel* PreparedDevice() {
    Simulator.SetReaderCount(kReaders);
    TManagerVestrel* device = NewDevice();
    SetParam(device, "СтарыйФорматДанных", "0");
    SetParam(device, "ИнтервалПовтора", std::to_string(kInterval));
    return device;
  }
};

// Ten thousand presentations, the passes run one after another on this thread (the polling
// thread's own steps, without its pauses), starting just before the tick count's wrap.
TEST_F(PollingModel, TenThousandPresentationsGiveExactlyThePredictedEvents) {
  const Scenario scenario = MakeScenario(5000, 20261208);
  ASSERT_GE(scenario.Presentations, 10000);
  uint64_t predictedRepeats = 0;
  const std::vector<std::string> predicted = PredictedEvents(scenario, &predictedRepeats);
  TManagerVestrel* device = PreparedDevice();

  Simulator.FreezeClock(0xFFFF0000u);
  auto statistics = std::make_shared<TReaderStatistics>();
  TReadPThread poller(device, kInterval, statistics);
  poller.StartReaders();
  ASSERT_EQ(poller.Status(), 0);
  Simulator.SetClockStep(kStep);
  ASSERT_EQ(Simulator.LoadScriptText(ScriptText(scenario)), static_cast<int32_t>(scenario.Actions.size()));
  for (int64_t pass = 1; pass <= scenario.LastPass + 2; ++pass) poller.PollReaders();
  Simulator.RunClock();
  poller.StopReaders();

  const std::vector<std::string> received = Sink.Data();
  EXPECT_EQ(received.size(), predicted.size());
  EXPECT_TRUE(received == predicted) << "the first difference is at event "
                                     << (std::mismatch(received.begin(), received.end(), predicted.begin(),
                                                       predicted.end()).first - received.begin());
  EXPECT_EQ(Simulator.CallCount("BeepBlink"), static_cast<int32_t>(predicted.size()));
  EXPECT_GT(predicted.size(), 10000u) << "held cards repeat";
  EXPECT_EQ(Simulator.CallCount("CloseReader"), kReaders);

  // The statistics count what the stream held: every read, every card, every repeat.
  const TDeviceStatisticsSnapshot counts = statistics->Snapshot(0);
  ASSERT_EQ(counts.Readers.size(), static_cast<size_t>(kReaders));
  uint64_t reads = 0, cards = 0, repeats = 0, cardReads = 0;
  for (const TReaderStatisticsSnapshot& reader : counts.Readers) {
    reads += reader.Reads;
    cards += reader.CardsAccepted;
    repeats += reader.RepeatsSuppressed;
    for (const TReadResultCount& result : reader.ReadsByResult) {
      if (result.Result == 0) cardReads += result.Count;
    }
    EXPECT_EQ(reader.SinkFailures, 0u);
  }
  EXPECT_EQ(reads, static_cast<uint64_t>(scenario.LastPass + 2) * kReaders);
  EXPECT_EQ(cards, predicted.size());
  EXPECT_EQ(repeats, predictedRepeats);
  EXPECT_EQ(cardReads, cards + repeats);
}

// The same with the polling thread itself, on a shorter script.
TEST_F(PollingModel, ThePollingThreadGivesExactlyThePredictedEvents) {
  const Scenario scenario = MakeScenario(50, 7);
  const std::vector<std::string> predicted = PredictedEvents(scenario);
  TManagerVestrel* device = PreparedDevice();
  ASSERT_EQ(SwitchOn(device), 0);
  Simulator.FreezeClock(0xFFFFF000u);
  Simulator.SetClockStep(kStep);
  WaitForTurns(0, 1);
  const int32_t start = Simulator.PollCount(0);
  ASSERT_GT(Simulator.LoadScriptText(ScriptText(scenario)), 0);
  WaitForTurns(0, static_cast<int32_t>(scenario.LastPass + 4));
  ASSERT_GE(Simulator.PollCount(0), start + scenario.LastPass + 4);
  EXPECT_EQ(Sink.Data(), predicted);
}

}  // namespace
