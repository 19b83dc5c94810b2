#include "platform/text_codec.h"

#include <gtest/gtest.h>

namespace {

TEST(TextCodec, CyrillicRoundTripsThroughTheHostCodePage) {
  const std::string utf8 = "Код Ёё №";
  const AnsiString ansi = AnsiFromUtf8(utf8);
  if (HostCodePage() == 1251) {
    EXPECT_EQ(ansi, "\xCA\xEE\xE4 \xA8\xB8 \xB9");
  }
  EXPECT_EQ(Utf8FromAnsi(ansi), utf8);
}

TEST(TextCodec, WideTextIsUtf16) {
  const WideString wide = WideFromUtf8("Код");
  ASSERT_EQ(wide.size(), 3u);
  EXPECT_EQ(wide[0], 0x041A);
  EXPECT_EQ(wide[1], 0x043E);
  EXPECT_EQ(wide[2], 0x0434);
  EXPECT_EQ(Utf8FromWide(wide), "Код");
}

TEST(TextCodec, SupplementaryCharactersUseSurrogatePairs) {
  const WideString wide = WideFromUtf8("\xF0\x9F\x98\x80");
  ASSERT_EQ(wide.size(), 2u);
  EXPECT_EQ(wide[0], 0xD83D);
  EXPECT_EQ(wide[1], 0xDE00);
  EXPECT_EQ(Utf8FromWide(wide), "\xF0\x9F\x98\x80");
}

TEST(TextCodec, MalformedUtf8BecomesReplacementCharacters) {
  const WideString wide = WideFromUtf8("a\xC3" "b\xFF");
  ASSERT_EQ(wide.size(), 4u);
  EXPECT_EQ(wide[1], 0xFFFD);
  EXPECT_EQ(wide[2], u'b');
  EXPECT_EQ(wide[3], 0xFFFD);
}

TEST(TextCodec, UnmappableCharactersBecomeQuestionMarks) {
  if (HostCodePage() != 1251) {
    GTEST_SKIP() << "host code page " << HostCodePage();
  }
  EXPECT_EQ(AnsiFromUtf8("a\xE4\xB8\xAD" "b"), "a?b");
}

TEST(TextCodec, EveryByteOfTheHostCodePageSurvivesARoundTrip) {
  if (HostCodePage() != 1251) {
    GTEST_SKIP() << "host code page " << HostCodePage();
  }
  AnsiString all;
  for (int byte = 1; byte < 256; ++byte) {
    all += static_cast<char>(byte);
  }
  EXPECT_EQ(AnsiFromWide(WideFromAnsi(all)), all);
}

TEST(TextCodec, WideLengthStopsAtTheFirstZero) {
  const OLECHAR text[] = {u'a', u'b', 0, u'c', 0};
  EXPECT_EQ(WideLength(text), 2u);
  EXPECT_EQ(WideLength(nullptr), 0u);
}

}  // namespace
