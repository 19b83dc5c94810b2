#include "host/wire/variant_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/errors.h"
#include "host/host_test_support.h"
#include "platform/ole_ptr.h"

namespace {

std::string TextOf(const VARIANT& value) {
  WideString text;
  EXPECT_TRUE(VariantToText(value, text));
  return Utf8FromWide(text);
}

}  // namespace

TEST(VariantText, FollowsTheProcessWideFormats) {
  EXPECT_EQ(TextOf(OleVariant(-42)), "-42");
  EXPECT_EQ(TextOf(OleVariant(1.5)), "1,5");
  EXPECT_EQ(TextOf(OleVariant(true)), "True");
  EXPECT_EQ(TextOf(OleVariant()), "");
  EXPECT_EQ(TextOf(OleVariant(WideFromUtf8("Код"))), "Код");
  VARIANT date;
  VariantInit(&date);
  date.vt = VT_DATE;
  date.date = 46000.4375;  // 09.12.2025 10:30
  EXPECT_EQ(TextOf(date), "09.12.2025 10:30:00");
  date.date = 46000;
  EXPECT_EQ(TextOf(date), "09.12.2025");
  VARIANT money;
  VariantInit(&money);
  money.vt = VT_CY;
  money.cyVal.int64 = -123456;
  EXPECT_EQ(TextOf(money), "-12,3456");
  VARIANT big;
  VariantInit(&big);
  big.vt = VT_UI8;
  big.ullVal = 18446744073709551615ULL;
  EXPECT_EQ(TextOf(big), "18446744073709551615");
  LONG referenced = 7;
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_I4 | VT_BYREF;
  reference.plVal = &referenced;
  EXPECT_EQ(TextOf(reference), "7");
}

TEST(VariantText, ValuesWithoutTextForm) {
  WideString text;
  EXPECT_FALSE(VariantToText(OleVariant::Null(), text));
  EXPECT_FALSE(VariantToText(OleVariant(static_cast<IDispatch*>(nullptr)), text));
  EXPECT_THROW(VariantToWideText(OleVariant::Null()), EConvertError);
}

TEST(VariantText, NumericConversions) {
  EXPECT_EQ(VariantToInt32(OleVariant(2.0)), 2);
  EXPECT_EQ(VariantToDouble(OleVariant(3)), 3.0);
  EXPECT_THROW(VariantToInt32(OleVariant::Null()), EConvertError);
}

// Number texts are read in the fixed formats (decimal comma) whatever the user's regional
// settings: the win64 lane runs this under a Russian and an English locale.
TEST(VariantText, NumberTextsConvertInTheFixedFormatsUnderAnyLocale) {
  EXPECT_EQ(VariantToDouble(OleVariant(WideFromUtf8("1,5"))), 1.5);
  EXPECT_EQ(VariantToDouble(OleVariant(WideFromUtf8(" -2,25E2 "))), -225.0);
  EXPECT_EQ(VariantToInt32(OleVariant(WideFromUtf8("42"))), 42);
  EXPECT_EQ(VariantToInt32(OleVariant(WideFromUtf8("$1F"))), 31);
  // A fraction rounds half to even, as a conversion of the number does.
  EXPECT_EQ(VariantToInt32(OleVariant(WideFromUtf8("2,5"))), 2);
  EXPECT_EQ(VariantToInt32(OleVariant(WideFromUtf8("3,5"))), 4);
  // A point is no decimal separator, and thousands separators are no part of a number.
  EXPECT_THROW(VariantToDouble(OleVariant(WideFromUtf8("1.5"))), EConvertError);
  EXPECT_THROW(VariantToInt32(OleVariant(WideFromUtf8("1.5"))), EConvertError);
  EXPECT_THROW(VariantToDouble(OleVariant(WideFromUtf8("1 000"))), EConvertError);
  EXPECT_THROW(VariantToInt32(OleVariant(WideFromUtf8("2147483648"))), EConvertError);
  // By reference as well.
  OleVariant text(WideFromUtf8("0,125"));
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_BYREF | VT_VARIANT;
  reference.pvarVal = &text;
  EXPECT_EQ(VariantToDouble(reference), 0.125);
}

#ifdef _WIN32
// The win64 lane runs under the locale it names, and the system's own conversion follows
// it where ours does not.
TEST(VariantText, TheLocaleOfTheRunReachesTheSystemButNotTheFixedFormats) {
  // The user's regional settings follow LC_ALL, or LC_MESSAGES where LC_ALL is not set.
  const char* all = std::getenv("LC_ALL");
  const char* wanted = all != nullptr && *all != '\0' ? all : std::getenv("LC_MESSAGES");
  if (wanted == nullptr) GTEST_SKIP() << "no locale named";
  const LANGID language = PRIMARYLANGID(LANGIDFROMLCID(GetUserDefaultLCID()));
  OleVariant text(WideFromUtf8("1,5"));
  OleVariant system;
  const HRESULT status = VariantChangeType(&system, &text, 0, VT_R8);
  if (std::string(wanted).rfind("en", 0) == 0) {
    EXPECT_EQ(language, LANG_ENGLISH);
    EXPECT_TRUE(FAILED(status) || system.dblVal != 1.5) << "English reads the comma as a group separator";
  } else if (std::string(wanted).rfind("ru", 0) == 0) {
    EXPECT_EQ(language, LANG_RUSSIAN);
    EXPECT_EQ(status, S_OK);
    EXPECT_EQ(system.dblVal, 1.5);
  }
  EXPECT_EQ(VariantToDouble(text), 1.5);
}
#endif
