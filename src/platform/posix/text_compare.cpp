// Case mapping and ordering of code page 1251 texts, as a Russian or English Windows locale
// orders them: symbols, then digits, then Latin letters, then Cyrillic letters in alphabetical
// order (Ё right after Е); case only decides between texts that are otherwise equal, a
// lower-case letter first.
#include "platform/text_compare.h"

#include <array>
#include <cstdint>

namespace platform {
namespace {

// Upper/lower pairs of code page 1251 beyond ASCII.
constexpr std::array<std::pair<uint8_t, uint8_t>, 15> kCyrillicExtraPairs{{
    {0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D}, {0x8E, 0x9E},
    {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4}, {0xA8, 0xB8}, {0xAA, 0xBA},
    {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE},
}};

struct CaseTables {
  std::array<uint8_t, 256> Upper{};
  std::array<uint8_t, 256> Lower{};
  CaseTables() {
    for (int c = 0; c < 256; ++c) Upper[c] = Lower[c] = static_cast<uint8_t>(c);
    auto pair = [this](int upper, int lower) {
      Upper[lower] = static_cast<uint8_t>(upper);
      Lower[upper] = static_cast<uint8_t>(lower);
    };
    for (int c = 'A'; c <= 'Z'; ++c) pair(c, c + 32);
    for (int c = 0xC0; c <= 0xDF; ++c) pair(c, c + 32);  // А..Я, а..я
    for (auto [upper, lower] : kCyrillicExtraPairs) pair(upper, lower);
  }
};

const CaseTables& Tables() {
  static const CaseTables tables;
  return tables;
}

constexpr uint8_t kCyrillicIe = 0xC5;  // Е
constexpr uint8_t kCyrillicYo = 0xA8;  // Ё

// The alphabetical weight of an upper-cased byte.
int PrimaryWeight(uint8_t c) {
  if (c >= '0' && c <= '9') return 0x200 + c;
  if (c >= 'A' && c <= 'Z') return 0x400 + (c - 'A') * 4;
  if (c >= 0xC0 && c <= 0xDF) return 0x800 + (c - 0xC0) * 4;
  if (c == kCyrillicYo) return 0x800 + (kCyrillicIe - 0xC0) * 4 + 2;
  if (Tables().Lower[c] != c) return 0xC00 + c;  // the other Cyrillic capitals
  return c;
}

int Sign(int value) { return (value > 0) - (value < 0); }

}  // namespace

int CompareText(std::string_view a, std::string_view b, bool ignoreCase) {
  const auto& upper = Tables().Upper;
  size_t common = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < common; ++i) {
    int difference = PrimaryWeight(upper[static_cast<uint8_t>(a[i])]) - PrimaryWeight(upper[static_cast<uint8_t>(b[i])]);
    if (difference != 0) return Sign(difference);
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  if (ignoreCase) return 0;
  for (size_t i = 0; i < common; ++i) {
    bool aUpper = upper[static_cast<uint8_t>(a[i])] == static_cast<uint8_t>(a[i]);
    bool bUpper = upper[static_cast<uint8_t>(b[i])] == static_cast<uint8_t>(b[i]);
    if (aUpper != bUpper) return aUpper ? 1 : -1;
  }
  return 0;
}

unsigned TextCompareCodePage() { return 1251; }

std::string UpperCaseText(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(Tables().Upper[static_cast<uint8_t>(c)]);
  return result;
}

std::string LowerCaseText(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(Tables().Lower[static_cast<uint8_t>(c)]);
  return result;
}

}  // namespace platform
