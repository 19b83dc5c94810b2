#include "config/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

uint32_t CrcOf(const std::string& text, uint32_t start = 0) {
  return Crc32Update(start, text.data(), static_cast<int32_t>(text.size()));
}

// The bitwise definition of the register update, to check the fast path against.
uint32_t BitwiseUpdate(uint32_t crc, const std::string& text) {
  for (unsigned char byte : text) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

}  // namespace

TEST(Crc32Update, KnownRegistersWithoutInversion) {
  EXPECT_EQ(CrcOf("abc"), 0xCA6598D0u);
  EXPECT_EQ(CrcOf("123456789"), 0x2DFD2D88u);
  // One byte 0x01 from 0 is the table's entry 1.
  EXPECT_EQ(CrcOf(std::string(1, '\x01')), 0x77073096u);
}

TEST(Crc32Update, EmptyOrMissingDataReturnsTheStartValue) {
  EXPECT_EQ(Crc32Update(0x12345678u, "abc", 0), 0x12345678u);
  EXPECT_EQ(Crc32Update(0x12345678u, "abc", -5), 0x12345678u);
  EXPECT_EQ(Crc32Update(0xDEADBEEFu, nullptr, 10), 0xDEADBEEFu);
}

TEST(Crc32Update, ChainedUpdatesEqualOneUpdate) {
  const std::string text = "The quick brown fox jumps over the lazy dog";
  for (size_t cut = 0; cut <= text.size(); ++cut) {
    const uint32_t first = CrcOf(text.substr(0, cut));
    EXPECT_EQ(CrcOf(text.substr(cut), first), CrcOf(text)) << "cut at " << cut;
  }
}

TEST(Crc32Update, MatchesTheBitwiseRegisterForAnyStartAndLength) {
  std::string data;
  for (int i = 0; i < 4099; ++i)
    data.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
  for (uint32_t start : {0u, 1u, 0xFFFFFFFFu, 0x8000F00Du}) {
    for (size_t length : {1u, 3u, 8u, 15u, 64u, 1000u, 4099u}) {
      const std::string piece = data.substr(0, length);
      EXPECT_EQ(CrcOf(piece, start), BitwiseUpdate(start, piece)) << start << "/" << length;
    }
  }
}
