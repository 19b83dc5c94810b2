// The integer reading shared by every platform; the text lookup is the system's.
#include <cerrno>
#include <cstdlib>

#include "platform/ini_file.h"

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::optional<int32_t> ParseDecimal(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  size_t position = 0;
  bool negative = false;
  if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
    negative = text[position] == '-';
    ++position;
  }
  if (position == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; position < text.size(); ++position) {
    char c = text[position];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > 2147483648LL) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<int32_t>(value);
}

}  // namespace

int32_t ReadIniInteger(const std::string& path, std::string_view section, std::string_view key,
                       int32_t defaultValue) {
  std::optional<std::string> text = ReadIniString(path, section, key);
  if (!text) return defaultValue;
  return ParseDecimal(*text).value_or(defaultValue);
}

}  // namespace platform
