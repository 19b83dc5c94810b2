// BSTR behaviour that our own implementation must share with oleaut32.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/ole_automation.h"
#include "platform/ole_ptr.h"

namespace {

TEST(OleBstr, LengthIsStoredInBytesBeforeTheText) {
  OleString s = OleString::Adopt(SysAllocString(OLESTR("Сканер")));
  ASSERT_NE(s.Get(), nullptr);
  EXPECT_EQ(SysStringLen(s.Get()), 6u);
  EXPECT_EQ(SysStringByteLen(s.Get()), 12u);
  DWORD prefix;
  std::memcpy(&prefix, reinterpret_cast<const char*>(s.Get()) - 4, 4);
  EXPECT_EQ(prefix, 12u);
  EXPECT_EQ(s.Get()[6], 0);
}

TEST(OleBstr, NullAndEmptyStrings) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);  // accepted

  OleString empty = OleString::Adopt(SysAllocString(OLESTR("")));
  ASSERT_NE(empty.Get(), nullptr);
  EXPECT_EQ(SysStringLen(empty.Get()), 0u);
  EXPECT_EQ(empty.Get()[0], 0);
}

TEST(OleBstr, EmbeddedZerosCountInTheLength) {
  const OLECHAR text[] = {u'a', 0, u'b', 0, u'c'};
  OleString s = OleString::Adopt(SysAllocStringLen(text, 5));
  EXPECT_EQ(SysStringLen(s.Get()), 5u);
  EXPECT_EQ(s.Text(), OleString::View(text, 5));
  EXPECT_EQ(s.Get()[5], 0);

  OleString copy = s;  // copies all units, not up to the first zero
  EXPECT_EQ(copy.Length(), 5u);
  EXPECT_EQ(copy.Text(), s.Text());
  EXPECT_NE(copy.Get(), s.Get());
}

TEST(OleBstr, AllocStringLenWithoutSourceGivesRequestedLength) {
  OleString s = OleString::Adopt(SysAllocStringLen(nullptr, 4));
  ASSERT_NE(s.Get(), nullptr);
  EXPECT_EQ(SysStringLen(s.Get()), 4u);
  EXPECT_EQ(s.Get()[4], 0);
}

TEST(OleBstr, ByteLengthStringsKeepOddLengths) {
  OleString s = OleString::Adopt(SysAllocStringByteLen("abc", 3));
  ASSERT_NE(s.Get(), nullptr);
  EXPECT_EQ(SysStringByteLen(s.Get()), 3u);
  EXPECT_EQ(SysStringLen(s.Get()), 1u);  // whole units only
  const char* bytes = reinterpret_cast<const char*>(s.Get());
  EXPECT_EQ(std::memcmp(bytes, "abc", 3), 0);
  EXPECT_EQ(bytes[3], 0);  // terminated right after the bytes
  EXPECT_EQ(bytes[4], 0);

  OleString zero = OleString::Adopt(SysAllocStringByteLen(nullptr, 0));
  ASSERT_NE(zero.Get(), nullptr);
  EXPECT_EQ(SysStringByteLen(zero.Get()), 0u);
}

TEST(OleBstr, ReAllocReplacesText) {
  BSTR s = SysAllocString(OLESTR("first"));
  ASSERT_TRUE(SysReAllocString(&s, OLESTR("second text")));
  EXPECT_EQ(SysStringLen(s), 11u);
  EXPECT_EQ(OleString::View(s), OleString::View(OLESTR("second text")));

  // From another string, shorter than the old text.
  ASSERT_TRUE(SysReAllocStringLen(&s, OLESTR("textual"), 4));
  EXPECT_EQ(OleString::View(s, SysStringLen(s)), OleString::View(OLESTR("text")));
#ifndef _WIN32
  // From a part of itself: our own implementation copies before it frees. The system's does not
  // promise this (32-bit oleaut32 under Wine returns garbage), and the plug-in never does it.
  ASSERT_TRUE(SysReAllocString(&s, OLESTR("second text")));
  ASSERT_TRUE(SysReAllocStringLen(&s, s + 7, 4));
  EXPECT_EQ(OleString::View(s, SysStringLen(s)), OleString::View(OLESTR("text")));
#endif

  // Growing without a source keeps the old text in front.
  ASSERT_TRUE(SysReAllocStringLen(&s, nullptr, 6));
  EXPECT_EQ(SysStringLen(s), 6u);
  EXPECT_EQ(OleString::View(s, 4), OleString::View(OLESTR("text")));
  EXPECT_EQ(s[6], 0);
  SysFreeString(s);

  BSTR none = nullptr;
  ASSERT_TRUE(SysReAllocStringLen(&none, OLESTR("xy"), 2));
  EXPECT_EQ(SysStringLen(none), 2u);
  SysFreeString(none);
}

}  // namespace
