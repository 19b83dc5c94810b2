#pragma once
// What the plug-in's readers have seen, as its built-in "__@@Statistics" tells it, and the
// verdicts of the check command on it.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vestrel_host {

struct ReaderReport {
  int Reader = 0;
  std::optional<int> Open;  // OpenReader's answer
  uint64_t Reads = 0, Cards = 0, Repeats = 0, SinkFailures = 0;
  std::string LastCard;              // the time of the last card, empty before one
  std::map<int, uint64_t> ByResult;  // ReadCardNumber's answers and how often
  uint64_t OtherResults = 0;
};

struct DeviceReport {
  int Number = 0;
  bool On = false;
  std::string Id, Name;
  std::optional<int> Enumerate;
  std::vector<ReaderReport> Readers;
};

// The statistics text: "device=..." lines, each followed by its "enumerate=" and "reader="
// lines. Lines it does not know are skipped, numbers it cannot read count as none.
std::vector<DeviceReport> ParseStatistics(const std::string& text);

// The device in the reports with that number; nullptr when there is none.
const DeviceReport* FindDevice(const std::vector<DeviceReport>& reports, int number);

// Seconds as the user reads them ("2", "0.5").
std::string SecondsText(double seconds);

// Reads by answer as the user reads them: "1: 80, -5: 3", or the word for none.
std::string ReadsText(const ReaderReport& reader);

// What is wrong with the readers after `seconds` of polling: one sentence per fault (the
// open failed, no read at all, reads that answered errors); none when every reader opened and
// every read answered 0 (a card) or 1 (no card).
std::vector<std::string> ReaderFaults(const DeviceReport& device, double seconds);

}  // namespace vestrel_host
