// Version information on POSIX: the build embeds a text record in the binary (see
// version_info.cmake), between a begin and an end line:
//   FixedFileVersion=1.2.3.4
//   FixedProductVersion=1.2.3.4
//   Translation=041904E3                       (language, code page; one line per pair)
//   StringFileInfo\041904E3\FileVersion=1.2.3.4
// The reader finds the record in the file and answers the same questions as VerQueryValue.
#include "platform/version_resource.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <tuple>

#include "platform/text_compare.h"

namespace platform {
namespace {

// Spelled in pieces so that this reader's own code never holds the marker lines.
std::string BeginMarker() { return std::string("@@VESTREL-VERSION-") + "INFO-BEGIN@@\n"; }
std::string EndMarker() { return std::string("@@VESTREL-VERSION-") + "INFO-END@@"; }

// The record's lines between the markers, or nothing when the file has no well-formed record.
// The file is read in pieces only as far as the first well-formed record: a binary keeps it
// among its constant data, near the start, ahead of megabytes of code and debugging data.
std::optional<std::string> FindRecord(std::ifstream& file) {
  constexpr size_t kPiece = 256 * 1024;
  const std::string begin = BeginMarker();
  const std::string end = EndMarker();
  std::vector<char> content;
  size_t searchFrom = 0;  // no begin marker starts before this
  bool atEnd = false;
  while (!atEnd) {
    const size_t before = content.size();
    content.resize(before + kPiece);
    file.read(content.data() + before, static_cast<std::streamsize>(kPiece));
    content.resize(before + static_cast<size_t>(file.gcount()));
    atEnd = !file;
    for (;;) {
      const auto position = std::search(content.begin() + static_cast<std::ptrdiff_t>(searchFrom), content.end(),
                                        begin.begin(), begin.end());
      if (position == content.end()) {
        // A marker may straddle this piece and the next.
        searchFrom = content.size() > begin.size() ? content.size() - begin.size() : 0;
        break;
      }
      const auto start = position + static_cast<std::ptrdiff_t>(begin.size());
      const auto stop = std::search(start, content.end(), end.begin(), end.end());
      if (stop == content.end() && !atEnd) {
        searchFrom = static_cast<size_t>(position - content.begin());  // read on for its end
        break;
      }
      // The record is plain text: a zero byte before its end means this was not one.
      if (stop != content.end() && std::find(start, stop, '\0') == stop) return std::string(start, stop);
      searchFrom = static_cast<size_t>(start - content.begin());
      if (stop == content.end()) break;
    }
  }
  return std::nullopt;
}

std::optional<std::string> RecordValue(const std::vector<uint8_t>& record, std::string_view key) {
  std::string_view text(reinterpret_cast<const char*>(record.data()), record.size());
  while (!text.empty()) {
    size_t lineEnd = text.find('\n');
    std::string_view line = text.substr(0, lineEnd);
    text = lineEnd == std::string_view::npos ? std::string_view() : text.substr(lineEnd + 1);
    size_t equals = line.find('=');
    if (equals != std::string_view::npos && SameText(line.substr(0, equals), key)) {
      return std::string(line.substr(equals + 1));
    }
  }
  return std::nullopt;
}

std::optional<std::pair<uint32_t, uint32_t>> ParseVersion(const std::string& text) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) != 4) return std::nullopt;
  return std::make_pair(((a & 0xFFFF) << 16) | (b & 0xFFFF), ((c & 0xFFFF) << 16) | (d & 0xFFFF));
}

}  // namespace

FileVersionInfo::FileVersionInfo(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return;
  std::optional<std::string> record = FindRecord(file);
  if (!record) return;
  FBlock.assign(record->begin(), record->end());
  FValid = true;
}

std::optional<FixedFileVersion> FileVersionInfo::Fixed() const {
  if (!FValid) return std::nullopt;
  auto file = RecordValue(FBlock, "FixedFileVersion");
  auto product = RecordValue(FBlock, "FixedProductVersion");
  if (!file) return std::nullopt;
  FixedFileVersion fixed;
  if (auto numbers = ParseVersion(*file)) std::tie(fixed.FileVersionMS, fixed.FileVersionLS) = *numbers;
  if (product) {
    if (auto numbers = ParseVersion(*product)) std::tie(fixed.ProductVersionMS, fixed.ProductVersionLS) = *numbers;
  }
  return fixed;
}

std::vector<uint32_t> FileVersionInfo::Translations() const {
  std::vector<uint32_t> result;
  if (!FValid) return result;
  std::string_view text(reinterpret_cast<const char*>(FBlock.data()), FBlock.size());
  const std::string_view key = "Translation=";
  for (size_t position = 0; (position = text.find(key, position)) != std::string_view::npos; position += key.size()) {
    if (position != 0 && text[position - 1] != '\n') continue;
    unsigned pair = 0;
    if (std::sscanf(std::string(text.substr(position + key.size(), 8)).c_str(), "%8x", &pair) == 1) {
      result.push_back((pair >> 16) | ((pair & 0xFFFF) << 16));  // stored language low, code page high
    }
  }
  return result;
}

std::optional<std::string> FileVersionInfo::StringValue(std::string_view translation, std::string_view name) const {
  if (!FValid) return std::nullopt;
  std::string key = "StringFileInfo\\";
  key.append(translation).append("\\").append(name);
  return RecordValue(FBlock, key);
}

}  // namespace platform
