#include "reader_check.h"

#include <charconv>
#include <cstdio>

#include "host_messages.h"

namespace vestrel_host {
namespace {

// "key=value;key=value" into its pairs; a value runs to the next ';' (the name, last, to the end).
std::map<std::string, std::string> Fields(const std::string& line) {
  std::map<std::string, std::string> fields;
  size_t start = 0;
  while (start < line.size()) {
    const size_t equals = line.find('=', start);
    if (equals == std::string::npos) break;
    const std::string key = line.substr(start, equals - start);
    size_t end = key == "name" ? line.size() : line.find(';', equals + 1);
    if (end == std::string::npos) end = line.size();
    fields[key] = line.substr(equals + 1, end - equals - 1);
    start = end + 1;
  }
  return fields;
}

template <class T>
std::optional<T> Number(const std::string& text) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

template <class T>
T NumberOr(const std::map<std::string, std::string>& fields, const char* key, T fallback) {
  const auto found = fields.find(key);
  if (found == fields.end()) return fallback;
  return Number<T>(found->second).value_or(fallback);
}

std::optional<int> OptionalNumber(const std::map<std::string, std::string>& fields, const char* key) {
  const auto found = fields.find(key);
  return found == fields.end() ? std::nullopt : Number<int>(found->second);
}

// "1:80,-5:3,other:2"
void ReadByResult(const std::string& text, ReaderReport& reader) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(start, end - start);
    const size_t colon = item.rfind(':');
    if (colon != std::string::npos) {
      const std::optional<uint64_t> count = Number<uint64_t>(item.substr(colon + 1));
      const std::string key = item.substr(0, colon);
      if (count && key == "other") {
        reader.OtherResults = *count;
      } else if (const std::optional<int> result = Number<int>(key); count && result) {
        reader.ByResult[*result] = *count;
      }
    }
    start = end + 1;
  }
}

// "1: 80, -5: 3, … 2": the reads by answer; with failuresOnly only those other than 0 (a card)
// and 1 (no card). Empty when there are none.
std::string ResultCountsText(const ReaderReport& reader, bool failuresOnly) {
  std::string text;
  for (const auto& [result, count] : reader.ByResult) {
    if (failuresOnly && (result == 0 || result == 1)) continue;
    if (!text.empty()) text += ", ";
    text += std::to_string(result) + ": " + std::to_string(count);
  }
  if (reader.OtherResults > 0) text += (text.empty() ? "" : ", ") + std::string("… ") + std::to_string(reader.OtherResults);
  return text;
}

}  // namespace

std::vector<DeviceReport> ParseStatistics(const std::string& text) {
  std::vector<DeviceReport> reports;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::map<std::string, std::string> fields = Fields(line);
    if (line.rfind("device=", 0) == 0) {
      DeviceReport device;
      device.Number = NumberOr<int>(fields, "device", 0);
      device.On = NumberOr<int>(fields, "on", 0) == 1;
      device.Id = fields.count("id") ? fields.at("id") : "";
      device.Name = fields.count("name") ? fields.at("name") : "";
      reports.push_back(device);
    } else if (reports.empty()) {
      continue;
    } else if (line.rfind("enumerate=", 0) == 0) {
      reports.back().Enumerate = OptionalNumber(fields, "enumerate");
    } else if (line.rfind("reader=", 0) == 0) {
      ReaderReport reader;
      reader.Reader = NumberOr<int>(fields, "reader", 0);
      reader.Open = OptionalNumber(fields, "open");
      reader.Reads = NumberOr<uint64_t>(fields, "reads", 0);
      reader.Cards = NumberOr<uint64_t>(fields, "cards", 0);
      reader.Repeats = NumberOr<uint64_t>(fields, "repeats", 0);
      reader.SinkFailures = NumberOr<uint64_t>(fields, "sinkFailures", 0);
      if (fields.count("lastCard")) reader.LastCard = fields.at("lastCard");
      if (fields.count("byResult")) ReadByResult(fields.at("byResult"), reader);
      reports.back().Readers.push_back(reader);
    }
  }
  return reports;
}

const DeviceReport* FindDevice(const std::vector<DeviceReport>& reports, int number) {
  for (const DeviceReport& device : reports)
    if (device.Number == number) return &device;
  return nullptr;
}

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

std::string ReadsText(const ReaderReport& reader) {
  const std::string text = ResultCountsText(reader, false);
  return text.empty() ? Say(Msg::Nothing) : text;
}

std::vector<std::string> ReaderFaults(const DeviceReport& device, double seconds) {
  std::vector<std::string> faults;
  for (const ReaderReport& reader : device.Readers) {
    const std::string number = std::to_string(reader.Reader + 1);
    if (reader.Open.value_or(0) != 0) {
      faults.push_back(Say(Msg::CheckOpenFailed, {number, std::to_string(*reader.Open)}));
    } else if (reader.Reads == 0) {
      faults.push_back(Say(Msg::CheckNoReads, {number, SecondsText(seconds)}));
    } else if (const std::string errors = ResultCountsText(reader, true); !errors.empty()) {
      faults.push_back(Say(Msg::CheckReadsFailed, {number, errors}));
    }
  }
  return faults;
}

}  // namespace vestrel_host
