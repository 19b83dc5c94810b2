#include "config/text_routines.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A plain left-to-right replace to compare the skip-table search with.
std::string NaiveReplace(const std::string& source, const std::string& find, const std::string& with) {
  std::string result;
  size_t pos = 0;
  while (true) {
    const size_t hit = source.find(find, pos);
    if (hit == std::string::npos)
      break;
    result.append(source, pos, hit - pos).append(with);
    pos = hit + find.size();
  }
  return result.append(source, pos, std::string::npos);
}

}  // namespace

TEST(ReplaceText, CaseInsensitiveFoldsLatinLettersOnly) {
  EXPECT_EQ(ReplaceText(AnsiString("aXbxc"), "x", "-", false), "a-b-c");
  EXPECT_EQ(ReplaceText(AnsiString("aXbxc"), "x", "-", true), "aXb-c");
  EXPECT_EQ(ReplaceText(AnsiString("<Node ATTR=1/>"), "attr", "a", false), "<Node a=1/>");
  // Cyrillic is compared exactly: the lower-case letter does not find its upper case.
  // (Code page 1251: 0xF7 is the small letter che, 0xD7 its capital.)
  const AnsiString lower = "\xF7";
  const AnsiString upper = "\xD7";
  EXPECT_EQ(ReplaceText(upper + "a" + lower, lower, "4", false), upper + "a4");
  EXPECT_EQ(ReplaceText(AnsiString("\xC7\xED\xE0" "4" "\xE5\xED\xE8\xE5"), "4", lower, false),
            "\xC7\xED\xE0\xF7\xE5\xED\xE8\xE5");
}

TEST(ReplaceText, MatchesDoNotOverlapAndOutputIsNotSearchedAgain) {
  EXPECT_EQ(ReplaceText(AnsiString("aaa"), "aa", "b", false), "ba");
  EXPECT_EQ(ReplaceText(AnsiString("aaaa"), "aa", "b", false), "bb");
  EXPECT_EQ(ReplaceText(AnsiString("abab"), "ab", "abab", true), "abababab");
  EXPECT_EQ(ReplaceText(AnsiString("xx"), "x", "xx", true), "xxxx");
}

TEST(ReplaceText, EdgesOfTheInput) {
  EXPECT_EQ(ReplaceText(AnsiString(""), "a", "b", false), "");
  EXPECT_EQ(ReplaceText(AnsiString("abc"), "", "b", false), "abc");
  EXPECT_EQ(ReplaceText(AnsiString("ab"), "abc", "z", false), "ab");
  EXPECT_EQ(ReplaceText(AnsiString("abc"), "abc", "", false), "");
  EXPECT_EQ(ReplaceText(AnsiString("abc"), "a", "", false), "bc");
  EXPECT_EQ(ReplaceText(AnsiString("abc"), "c", "Z", false), "abZ");
  // Bytes above 0x7F and zero bytes are ordinary units.
  const AnsiString binary("\xFF\x00\xFF\x00", 4);
  EXPECT_EQ(ReplaceText(binary, AnsiString("\x00", 1), "-", true), "\xFF-\xFF-");
}

TEST(ReplaceText, OutputGrowsFarBeyondTheSource) {
  const AnsiString source(1000, 'x');
  const AnsiString longWith(5000, 'y');
  const AnsiString result = ReplaceText(source, "x", longWith, true);
  EXPECT_EQ(result.size(), 5'000'000u);
  EXPECT_EQ(result.find_first_not_of('y'), AnsiString::npos);
  // A replacement longer than half the first capacity still fits.
  EXPECT_EQ(ReplaceText(AnsiString("ab"), "ab", AnsiString(100, 'q'), true), AnsiString(100, 'q'));
  EXPECT_EQ(ReplaceText(AnsiString("abababab"), "ab", "xyz", true), "xyzxyzxyzxyz");
}

TEST(ReplaceText, AgreesWithAPlainSearchOnManyPatterns) {
  const std::string source = "abracadabra-abra cadabra; abcabcabd abababa aab aaab";
  for (const std::string find : {"a", "ab", "abra", "cad", "aab", "aba", "bab", "abd", "b a", ";", "zz",
                                 "abababa", "aaab", "a-a"}) {
    EXPECT_EQ(ReplaceText(source, find, "<>", true), NaiveReplace(source, find, "<>")) << find;
  }
}

TEST(ReplaceText, WideTextsFoldOnlyLatin) {
  EXPECT_EQ(ReplaceText(WideString(OLESTR("aXbxc")), OLESTR("x"), OLESTR("-"), false), OLESTR("a-b-c"));
  EXPECT_EQ(ReplaceText(WideString(OLESTR("aXbxc")), OLESTR("x"), OLESTR("-"), true), OLESTR("aXb-c"));
  const WideString text = OLESTR("\u0427\u0447");  // capital and small che
  EXPECT_EQ(ReplaceText(text, OLESTR("\u0447"), OLESTR("4"), false), OLESTR("\u04274"));
  // Units that share a low byte with a pattern unit must not confuse the skip table.
  const WideString tricky = OLESTR("\u0141A\u0141A\u0141");  // U+0141 has the low byte 0x41 ('A')
  EXPECT_EQ(ReplaceText(tricky, OLESTR("\u0141A"), OLESTR("+"), true), OLESTR("++\u0141"));
  EXPECT_EQ(ReplaceText(WideString(OLESTR("AAA\u0141")), OLESTR("A\u0141"), OLESTR("+"), true), OLESTR("AA+"));
}

TEST(ConvertLineBreaks, EscapesAndRestoresLineBreaks) {
  EXPECT_EQ(ConvertLineBreaks(AnsiString("a\r\nb\r\n"), true), "a\\nb\\n");
  EXPECT_EQ(ConvertLineBreaks(AnsiString("a\\nb"), false), "a\r\nb");
  EXPECT_EQ(ConvertLineBreaks(AnsiString("a\\Nb"), false), "a\r\nb");
  // A lone CR or LF is not a line break pair.
  EXPECT_EQ(ConvertLineBreaks(AnsiString("a\nb\rc"), true), "a\nb\rc");
  EXPECT_EQ(ConvertLineBreaks(AnsiString(""), false), "");
}

TEST(ConvertLineBreaks, PathsStayUnchanged) {
  EXPECT_EQ(ConvertLineBreaks(AnsiString("C:\\new\\file"), false), "C:\\new\\file");
  EXPECT_EQ(ConvertLineBreaks(AnsiString("\\\\server\\new"), false), "\\\\server\\new");
  // Only those two shapes count as paths.
  EXPECT_EQ(ConvertLineBreaks(AnsiString("x\\new"), false), "x\r\new");
  EXPECT_EQ(ConvertLineBreaks(AnsiString("C:"), false), "C:");
  // Escaping does not look at paths.
  EXPECT_EQ(ConvertLineBreaks(AnsiString("C:\\a\r\n"), true), "C:\\a\\n");
}

TEST(ConvertLineBreaks, WideTexts) {
  EXPECT_EQ(ConvertLineBreaks(WideString(OLESTR("a\r\nb")), true), OLESTR("a\\nb"));
  EXPECT_EQ(ConvertLineBreaks(WideString(OLESTR("a\\nb")), false), OLESTR("a\r\nb"));
  EXPECT_EQ(ConvertLineBreaks(WideString(OLESTR("D:\\nb")), false), OLESTR("D:\\nb"));
}

TEST(SplitAtComma, BeforeAndAfterTheFirstComma) {
  EXPECT_EQ(SplitAtComma(AnsiString("abc"), false), "abc");
  EXPECT_EQ(SplitAtComma(AnsiString("abc"), true), "");
  EXPECT_EQ(SplitAtComma(AnsiString("a,b,c"), false), "a");
  EXPECT_EQ(SplitAtComma(AnsiString("a,b,c"), true), "b,c");
  EXPECT_EQ(SplitAtComma(AnsiString(",x"), false), "");
  EXPECT_EQ(SplitAtComma(AnsiString("x,"), true), "");
  const WideString bilingual = OLESTR("\u0412\u043A\u043B,SwitchOn");
  EXPECT_EQ(SplitAtComma(bilingual, false), OLESTR("\u0412\u043A\u043B"));
  EXPECT_EQ(SplitAtComma(bilingual, true), OLESTR("SwitchOn"));
}

TEST(ReplaceText, AShortPatternWithALongReplacementReservesOnlyWhatItNeeds) {
  // One match in a long text: the worst-case guess (every unit replaced) would be 2^37
  // units and fail; the output grows with what it really holds.
  const AnsiString source = "x" + AnsiString(1 << 20, 'a');
  const AnsiString replacement(1 << 17, 'r');
  const AnsiString result = ReplaceText(source, "x", replacement, true);
  EXPECT_EQ(result.size(), source.size() - 1 + replacement.size());
  EXPECT_EQ(result.compare(0, replacement.size(), replacement), 0);
  EXPECT_EQ(result.back(), 'a');
  const WideString wide = ReplaceText(WideString(OLESTR("ab")) + WideString(1 << 20, u'b'), WideString(OLESTR("a")),
                                      WideString(1 << 17, u'r'), false);
  EXPECT_EQ(wide.size(), size_t(1 << 17) + (1 << 20) + 1);
}
