#include "platform/text_compare.h"

#include <gtest/gtest.h>


namespace {

using platform::CompareText;
using platform::SameText;

// Texts in code page 1251.
const std::string kUpperAlphabet = "\xC0\xC1\xC2\xC3\xC4\xC5\xA8\xC6\xC7\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF\xD0\xD1\xD2\xD3"
                                   "\xD4\xD5\xD6\xD7\xD8\xD9\xDA\xDB\xDC\xDD\xDE\xDF";  // А..Я with Ё
const std::string kLowerAlphabet = "\xE0\xE1\xE2\xE3\xE4\xE5\xB8\xE6\xE7\xE8\xE9\xEA\xEB\xEC\xED\xEE\xEF\xF0\xF1\xF2\xF3"
                                   "\xF4\xF5\xF6\xF7\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF";  // а..я with ё
const std::string kDeviceUpper = "\xD3\xD1\xD2\xD0\xCE\xC9\xD1\xD2\xC2\xCE";  // УСТРОЙСТВО
const std::string kDeviceMixed = "\xD3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xEE";  // Устройство

TEST(TextCompare, LatinIgnoringAndObservingCase) {
  EXPECT_TRUE(SameText("ReleaseQueueLag", "RELEASEQUEUELAG"));
  EXPECT_FALSE(SameText("ReleaseQueueLag", "ReleaseQueueLa"));
  EXPECT_NE(CompareText("abc", "ABC", false), 0);
  EXPECT_EQ(CompareText("abc", "abc", false), 0);
  EXPECT_LT(CompareText("abc", "abd", true), 0);
  EXPECT_GT(CompareText("b", "A", true), 0);
  EXPECT_LT(CompareText("ab", "abc", true), 0);
  EXPECT_EQ(platform::UpperCaseText("Switch-On 7"), "SWITCH-ON 7");
  EXPECT_EQ(platform::LowerCaseText("Switch-On 7"), "switch-on 7");
}

// The Cyrillic cases need a user locale whose code page is 1251: always so on POSIX; under Wine
// the win64 lane runs them once more with a Russian locale (see CMakeLists.txt).
class TextCompareCyrillic : public ::testing::Test {
protected:
  void SetUp() override {
    if (platform::TextCompareCodePage() != 1251) GTEST_SKIP() << "the user locale's code page is not 1251";
  }
};

TEST_F(TextCompareCyrillic, LettersIncludingYoAreCasePairs) {
  ASSERT_EQ(kUpperAlphabet.size(), 33u);
  for (size_t i = 0; i < kUpperAlphabet.size(); ++i) {
    std::string upper(1, kUpperAlphabet[i]), lower(1, kLowerAlphabet[i]);
    EXPECT_TRUE(SameText(upper, lower)) << "letter " << i;
    EXPECT_NE(CompareText(upper, lower, false), 0) << "letter " << i;
  }
  EXPECT_TRUE(SameText(kDeviceUpper, kDeviceMixed));
  EXPECT_EQ(platform::UpperCaseText(kLowerAlphabet), kUpperAlphabet);
  EXPECT_EQ(platform::LowerCaseText(kUpperAlphabet), kLowerAlphabet);
  EXPECT_EQ(platform::UpperCaseText("Parsec " + kDeviceMixed), "PARSEC " + kDeviceUpper);
}

TEST_F(TextCompareCyrillic, AlphabeticalOrder) {
  // Е < Ё < Ж, in either case.
  EXPECT_LT(CompareText("\xC5", "\xA8", true), 0);
  EXPECT_LT(CompareText("\xB8", "\xC6", true), 0);
  EXPECT_LT(CompareText("\xE0", "\xDF", true), 0);  // а < Я
  EXPECT_LT(CompareText("Z", "\xC0", true), 0) << "Latin letters before Cyrillic";
  EXPECT_GT(CompareText(kDeviceMixed, "\xD3\xF1\xF2", true), 0) << "a longer text after its start";
  EXPECT_FALSE(SameText(kDeviceUpper, "\xD3\xD1\xD2\xD0\xCE\xC9\xD1\xD2\xC2\xC0"));
}

}  // namespace
