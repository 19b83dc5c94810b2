#include "host/variant_text.h"

#include <gtest/gtest.h>

#include "base/errors.h"
#include "host_test_support.h"
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
