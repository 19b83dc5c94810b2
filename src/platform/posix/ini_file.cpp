// Initialization files read the way GetPrivateProfileStringA reads them: the first section of
// the name, the first key of the name in it, names compared without regard to case, blanks
// around names and values dropped, one pair of enclosing quotes dropped, ';' lines ignored.
#include "platform/ini_file.h"

#include <fstream>

#include "platform/text_compare.h"

namespace platform {
namespace {

std::string_view Trim(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::optional<std::string> ReadIniString(const std::string& path, std::string_view section,
                                         std::string_view key) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string line;
  bool firstLine = true;
  enum class Place { Before, Inside } place = Place::Before;
  while (std::getline(file, line)) {
    std::string_view text = line;
    if (firstLine && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    firstLine = false;
    text = Trim(text);
    if (text.empty() || text.front() == ';') continue;
    if (text.front() == '[') {
      if (place == Place::Inside) return std::nullopt;  // only the first section of the name counts
      size_t close = text.find(']');
      std::string_view name = Trim(text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      if (place == Place::Before && SameText(name, section)) place = Place::Inside;
      continue;
    }
    if (place != Place::Inside) continue;
    size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    if (SameText(Trim(text.substr(0, equals)), key)) return std::string(Unquote(Trim(text.substr(equals + 1))));
  }
  return std::nullopt;
}

}  // namespace platform
