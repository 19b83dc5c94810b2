#include "config/variant_types.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <vector>

#include "platform/text_codec.h"

#include "platform/ole_ptr.h"

namespace {

OleVariant Double(double value) {
  OleVariant v;
  V_VT(&v) = VT_R8;
  V_R8(&v) = value;
  return v;
}

OleVariant Currency(int64_t tenThousandths) {
  OleVariant v;
  V_VT(&v) = VT_CY;
  V_CY(&v).int64 = tenThousandths;
  return v;
}

OleVariant Integer(int32_t value) {
  OleVariant v;
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

OleVariant Text(const OLECHAR* text) {
  OleVariant v;
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(text);
  return v;
}

// Plain variants as callers hold them in arrays, cleared at the end.
struct VariantRow {
  explicit VariantRow(std::initializer_list<OleVariant> values) : Items(values.size()) {
    size_t i = 0;
    for (const OleVariant& value : values) {
      VariantInit(&Items[i]);
      VariantCopy(&Items[i++], const_cast<OleVariant*>(&value));
    }
  }
  ~VariantRow() {
    for (VARIANT& item : Items)
      VariantClear(&item);
  }
  std::vector<VARIANT> Items;
};

SAFEARRAY* VariantVector(LONG lowerBound, ULONG count) { return SafeArrayCreateVector(VT_VARIANT, lowerBound, count); }

}  // namespace

TEST(VariantTypes, SimpleVarTypeDropsByRefAndTreatsCurrencyAsDouble) {
  EXPECT_EQ(SimpleVarType(Integer(1)), VT_I4);
  EXPECT_EQ(SimpleVarType(Currency(15000)), VT_R8);
  double number = 2.5;
  VARIANT byRef;
  V_VT(&byRef) = VT_R8 | VT_BYREF;
  V_R8REF(&byRef) = &number;
  EXPECT_EQ(SimpleVarType(byRef), VT_R8);
  OleVariant inner = Integer(5);
  V_VT(&byRef) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&byRef) = &inner;
  EXPECT_EQ(SimpleVarType(byRef), VT_VARIANT);
}

TEST(VariantTypes, ValueVarTypeReportsWholeDoublesAsIntegers) {
  EXPECT_EQ(ValueVarType(Double(3.0)), VT_I4);
  EXPECT_EQ(ValueVarType(Double(3.5)), VT_R8);
  EXPECT_EQ(ValueVarType(Double(-7.0)), VT_I4);
  EXPECT_EQ(ValueVarType(Double(3.0 + 1e-10)), VT_I4);
  EXPECT_EQ(ValueVarType(Double(3.0 + 1e-8)), VT_R8);
  EXPECT_EQ(ValueVarType(Double(2.5000000001)), VT_R8);
  EXPECT_EQ(ValueVarType(Currency(12345)), VT_R8);  // 1,2345
  EXPECT_EQ(ValueVarType(Currency(30000)), VT_I4);  // 3,0000
  OleVariant nan = Double(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(ValueVarType(nan), VT_R8);
  EXPECT_EQ(ValueVarType(Double(std::numeric_limits<double>::infinity())), VT_R8);
  EXPECT_EQ(ValueVarType(Text(OLESTR("3"))), VT_BSTR);
  double whole = 4.0;
  VARIANT byRef;
  V_VT(&byRef) = VT_R8 | VT_BYREF;
  V_R8REF(&byRef) = &whole;
  EXPECT_EQ(ValueVarType(byRef), VT_I4);
  V_R8REF(&byRef) = nullptr;
  EXPECT_EQ(ValueVarType(byRef), VT_R8) << "a null reference is not read";
}

TEST(VariantTypes, VarTypeInMatchesTheValueType) {
  EXPECT_TRUE(VarTypeIn(Text(OLESTR("<a/>")), {VT_BSTR}));
  EXPECT_FALSE(VarTypeIn(Text(OLESTR("<a/>")), {VT_DISPATCH}));
  EXPECT_TRUE(VarTypeIn(Double(1.0), {VT_BSTR, VT_I4}));
  EXPECT_FALSE(VarTypeIn(Double(1.5), {VT_I4}));
  EXPECT_FALSE(VarTypeIn(OleVariant(), {}));
  EXPECT_TRUE(VarTypeIn(OleVariant(), {VT_EMPTY}));
}

TEST(SafeArrayElements, PutThenGetCopiesEveryElement) {
  SafeArrayPtr array(VariantVector(0, 3));
  VariantRow putRow{Integer(7), Text(OLESTR("x")), Double(2.5)};
  PutArrayElements(array.Get(), putRow.Items);
  VariantRow gotRow{Text(OLESTR("old")), OleVariant(), OleVariant()};
  GetArrayElements(array.Get(), gotRow.Items);
  const auto& put = putRow.Items;
  const auto& got = gotRow.Items;
  EXPECT_EQ(V_VT(&got[0]), VT_I4);
  EXPECT_EQ(V_I4(&got[0]), 7);
  ASSERT_EQ(V_VT(&got[1]), VT_BSTR);
  EXPECT_EQ(WideString(V_BSTR(&got[1])), OLESTR("x"));
  EXPECT_NE(V_BSTR(&got[1]), V_BSTR(&put[1])) << "elements are copies";
  EXPECT_EQ(V_R8(&got[2]), 2.5);
}

TEST(SafeArrayElements, CountsFromTheLowerBoundAndStopsAtTheEnd) {
  SafeArrayPtr array(VariantVector(1, 2));
  VariantRow putRow{Integer(1), Integer(2), Integer(3)};
  PutArrayElements(array.Get(), putRow.Items);
  VariantRow gotRow{Text(OLESTR("a")), Text(OLESTR("b")), Text(OLESTR("c"))};
  GetArrayElements(array.Get(), gotRow.Items);
  const auto& got = gotRow.Items;
  EXPECT_EQ(V_I4(&got[0]), 1);
  EXPECT_EQ(V_I4(&got[1]), 2);
  EXPECT_EQ(V_VT(&got[2]), VT_EMPTY) << "a target past the array's end is cleared";
}
