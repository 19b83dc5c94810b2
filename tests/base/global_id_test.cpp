#include "base/global_id.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "base/errors.h"
#include "platform/ole_ptr.h"

namespace {

const GUID kRootInterface = {0x0A1B06F1, 0xBFF2, 0x4B10, {0x9B, 0x5B, 0x15, 0x99, 0x37, 0xA1, 0xF3, 0x5B}};

void ExpectNotAGlobalId(WideStringView text) {
  try {
    StrToGlobalId(text);
    ADD_FAILURE() << "accepted " << Utf8FromWide(text);
  } catch (const EProtectException&) {
    ADD_FAILURE() << "a coded error escaped for " << Utf8FromWide(text);
  } catch (const Exception& error) {
    EXPECT_EQ(Utf8FromAnsi(error.Message()), "Значение не является идентификатором объекта.");
    EXPECT_STREQ(error.ClassName(), "Exception");
  }
}

OleVariant TextVariant(const OLECHAR* text) {
  OleVariant value;
  V_VT(&value) = VT_BSTR;
  V_BSTR(&value) = SysAllocString(text);
  return value;
}

}  // namespace

TEST(GlobalId, RegistryTextIsUpperCaseWithBraces) {
  const WideString text = GlobalIdToStr(kRootInterface);
  EXPECT_EQ(text, WideFromUtf8("{0A1B06F1-BFF2-4B10-9B5B-159937A1F35B}"));
  EXPECT_EQ(text.size(), 38u);
  EXPECT_EQ(GlobalIdToAnsiStr(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");
}

TEST(GlobalId, TextRoundTrips) {
  EXPECT_TRUE(SameGlobalId(StrToGlobalId(WideFromUtf8("{0A1B06F1-BFF2-4B10-9B5B-159937A1F35B}")), kRootInterface));
  EXPECT_TRUE(SameGlobalId(StrToGlobalId(std::string_view("{0a1b06f1-bff2-4b10-9b5b-159937a1f35b}")), kRootInterface));
  for (int i = 0; i < 20; ++i) {
    const TGlobalId id = NewGlobalId();
    EXPECT_TRUE(SameGlobalId(StrToGlobalId(GlobalIdToStr(id)), id));
  }
}

TEST(GlobalId, EmptyTextIsTheZeroId) {
  EXPECT_TRUE(SameGlobalId(StrToGlobalId(WideStringView()), GUID_NULL));
  EXPECT_TRUE(SameGlobalId(StrToGlobalId(std::string_view("")), GUID_NULL));
}

TEST(GlobalId, BadTextsRaiseThePlainMessage) {
  ExpectNotAGlobalId(WideFromUtf8("abc"));
  ExpectNotAGlobalId(WideFromUtf8("{0A1B06F1-BFF2-4B10-9B5B-159937A1F35}"));   // one digit short
  ExpectNotAGlobalId(WideFromUtf8("{0A1B06F1-BFF2-4B10-9B5B-159937A1F35BB}")); // one too many
  ExpectNotAGlobalId(WideFromUtf8("{0A1B06F1-BFF2-4B10-9B5B-159937A1F35G}"));  // not hexadecimal
  ExpectNotAGlobalId(WideFromUtf8("0A1B06F1-BFF2-4B10-9B5B-159937A1F35B"));    // no braces
  ExpectNotAGlobalId(WideFromUtf8("{0A1B06F1BFF24B109B5B159937A1F35B}"));      // no hyphens
  WideString embedded = WideFromUtf8("{0A1B06F1-BFF2-4B10-9B5B-159937A1F35B}");
  embedded.push_back(0);
  embedded += WideFromUtf8("tail");
  ExpectNotAGlobalId(embedded);
}

TEST(GlobalId, NewIdsDiffer) {
  std::set<WideString> seen;
  for (int i = 0; i < 100; ++i)
    seen.insert(GlobalIdToStr(NewGlobalId()));
  EXPECT_EQ(seen.size(), 100u);
  EXPECT_FALSE(SameGlobalId(NewGlobalId(), GUID_NULL));
}

TEST(GlobalId, SameGlobalIdComparesAllSixteenBytes) {
  TGlobalId other = kRootInterface;
  EXPECT_TRUE(SameGlobalId(other, kRootInterface));
  other.Data4[7] ^= 1;
  EXPECT_FALSE(SameGlobalId(other, kRootInterface));
  other = kRootInterface;
  other.Data1 ^= 0x80000000u;
  EXPECT_FALSE(SameGlobalId(other, kRootInterface));
}

TEST(GlobalId, IsGlobalIdOfVariants) {
  EXPECT_TRUE(IsGlobalId(TextVariant(OLESTR(""))));
  EXPECT_TRUE(IsGlobalId(TextVariant(OLESTR("{0A1B06F1-BFF2-4B10-9B5B-159937A1F35B}"))));
  EXPECT_FALSE(IsGlobalId(TextVariant(OLESTR("abc"))));
  OleVariant number;
  V_VT(&number) = VT_I4;
  V_I4(&number) = 5;
  EXPECT_FALSE(IsGlobalId(number));
  OleVariant nullText;  // a null BSTR is the empty text
  V_VT(&nullText) = VT_BSTR;
  V_BSTR(&nullText) = nullptr;
  EXPECT_TRUE(IsGlobalId(nullText));
  OleVariant referenced = TextVariant(OLESTR("{0A1B06F1-BFF2-4B10-9B5B-159937A1F35B}"));
  VARIANT byRef;
  V_VT(&byRef) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&byRef) = &V_BSTR(&referenced);
  EXPECT_TRUE(IsGlobalId(byRef));
  V_BSTRREF(&byRef) = nullptr;
  EXPECT_FALSE(IsGlobalId(byRef)) << "a reference to nowhere is no text";
  VARIANT variantRef;
  V_VT(&variantRef) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&variantRef) = &referenced;
  EXPECT_TRUE(IsGlobalId(variantRef));
  V_VARIANTREF(&variantRef) = nullptr;
  EXPECT_FALSE(IsGlobalId(variantRef));
  EXPECT_FALSE(IsGlobalId(OleVariant()));
}
