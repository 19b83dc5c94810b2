// VariantChangeType: numeric and boolean conversions with oleaut32's rounding, ranges and
// result codes, VT_EMPTY/VT_NULL, references, objects, and the text subset we support.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/ole_automation.h"
#include "platform/ole_ptr.h"
#include "platform/ole_test_objects.h"

namespace {

OleVariant Real(double value) { return OleVariant(value); }

OleVariant Typed(VARTYPE vt, uint64_t bits) {
  OleVariant v;
  v.vt = vt;
  v.ullVal = bits;
  return v;
}

// Converts `source` to `vt`; returns the code and leaves the result in `out`.
HRESULT Convert(const OleVariant& source, VARTYPE vt, OleVariant& out, USHORT flags = 0) {
  return VariantChangeType(out.Get(), const_cast<OleVariant*>(&source), flags, vt);
}

LONG ToI4(const OleVariant& source) {
  OleVariant out;
  EXPECT_EQ(Convert(source, VT_I4, out), S_OK);
  EXPECT_EQ(out.vt, VT_I4);
  return out.lVal;
}

TEST(OleChangeType, RealsRoundHalfToEven) {
  EXPECT_EQ(ToI4(Real(2.5)), 2);
  EXPECT_EQ(ToI4(Real(3.5)), 4);
  EXPECT_EQ(ToI4(Real(-2.5)), -2);
  EXPECT_EQ(ToI4(Real(-3.5)), -4);
  EXPECT_EQ(ToI4(Real(2.4999)), 2);
  EXPECT_EQ(ToI4(Real(2.5001)), 3);
  EXPECT_EQ(ToI4(Real(-0.4)), 0);
  OleVariant single;
  single.vt = VT_R4;
  single.fltVal = 0.5f;
  EXPECT_EQ(ToI4(single), 0);
  single.fltVal = 1.5f;
  EXPECT_EQ(ToI4(single), 2);
  OleVariant date;
  date.vt = VT_DATE;
  date.date = 45000.5;
  EXPECT_EQ(ToI4(date), 45000);
}

TEST(OleChangeType, RealsOutOfRangeOverflow) {
  OleVariant out;
  EXPECT_EQ(Convert(Real(32767.4), VT_I2, out), S_OK);
  EXPECT_EQ(out.iVal, 32767);
  EXPECT_EQ(Convert(Real(32767.5), VT_I2, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(Real(-32768.5), VT_I2, out), S_OK);
  EXPECT_EQ(out.iVal, -32768);
  EXPECT_EQ(Convert(Real(-32768.51), VT_I2, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(Real(-0.5), VT_UI1, out), S_OK);
  EXPECT_EQ(out.bVal, 0);
  EXPECT_EQ(Convert(Real(-0.51), VT_UI1, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(Real(254.5), VT_UI1, out), S_OK);
  EXPECT_EQ(out.bVal, 254);
  EXPECT_EQ(Convert(Real(255.5), VT_UI1, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(Real(2147483647.4), VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, 2147483647);
  EXPECT_EQ(Convert(Real(2147483647.5), VT_I4, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(Real(4294967295.0), VT_UI4, out), S_OK);
  EXPECT_EQ(out.ulVal, 4294967295u);
  EXPECT_EQ(Convert(Real(1e20), VT_I8, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(Real(-129), VT_I1, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(Real(1e39), VT_R4, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(Real(1.5), VT_R4, out), S_OK);
  EXPECT_EQ(out.fltVal, 1.5f);
}

TEST(OleChangeType, IntegerRanges) {
  OleVariant out;
  EXPECT_EQ(Convert(OleVariant(40000), VT_I2, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(OleVariant(-32768), VT_I2, out), S_OK);
  EXPECT_EQ(out.iVal, -32768);
  EXPECT_EQ(Convert(OleVariant(-1), VT_UI1, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(OleVariant(256), VT_UI1, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(OleVariant(-1), VT_UI8, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(OleVariant(int64_t(1) << 40), VT_I4, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(OleVariant(uint64_t(1) << 40), VT_R8, out), S_OK);
  EXPECT_EQ(out.dblVal, 1099511627776.0);
  EXPECT_EQ(Convert(Typed(VT_UI2, 65535), VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, 65535);
  EXPECT_EQ(Convert(Typed(VT_I1, 0x80), VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, -128);
}

// Signed and unsigned types of one width convert by keeping the bits.
TEST(OleChangeType, SameWidthSignednessKeepsBits) {
  OleVariant out;
  EXPECT_EQ(Convert(OleVariant(-1), VT_UI4, out), S_OK);
  EXPECT_EQ(out.ulVal, 0xFFFFFFFFu);
  EXPECT_EQ(Convert(Typed(VT_UI4, 0xFFFFFFFFu), VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, -1);
  EXPECT_EQ(Convert(Typed(VT_I2, 0xFFFF), VT_UI2, out), S_OK);
  EXPECT_EQ(out.uiVal, 65535);
  EXPECT_EQ(Convert(Typed(VT_UI1, 200), VT_I1, out), S_OK);
  EXPECT_EQ(out.cVal, static_cast<CHAR>(-56));
  EXPECT_EQ(Convert(Typed(VT_I8, ~0ull), VT_UI8, out), S_OK);
  EXPECT_EQ(out.ullVal, ~0ull);
}

TEST(OleChangeType, IntAndUintActAsFourByteIntegers) {
  OleVariant out;
  EXPECT_EQ(Convert(Real(2.5), VT_INT, out), S_OK);
  EXPECT_EQ(out.vt, VT_INT);
  EXPECT_EQ(out.intVal, 2);
  EXPECT_EQ(Convert(Typed(VT_INT, 7), VT_R8, out), S_OK);
  EXPECT_EQ(out.dblVal, 7.0);
  EXPECT_EQ(Convert(Typed(VT_UINT, 0xFFFFFFFFu), VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, -1);
  EXPECT_EQ(Convert(Typed(VT_INT, 3), VT_I4, out), S_OK);
  EXPECT_EQ(out.vt, VT_I4);
}

TEST(OleChangeType, Booleans) {
  OleVariant yes(true), no(false), out;
  EXPECT_EQ(ToI4(yes), -1);
  EXPECT_EQ(ToI4(no), 0);
  EXPECT_EQ(Convert(yes, VT_UI1, out), S_OK);
  EXPECT_EQ(out.bVal, 255);
  EXPECT_EQ(Convert(yes, VT_UI4, out), S_OK);
  EXPECT_EQ(out.ulVal, 0xFFFFFFFFu);
  EXPECT_EQ(Convert(yes, VT_R8, out), S_OK);
  EXPECT_EQ(out.dblVal, -1.0);
  EXPECT_EQ(Convert(yes, VT_CY, out), S_OK);
  EXPECT_EQ(out.cyVal.int64, -10000);
  EXPECT_EQ(Convert(yes, VT_DECIMAL, out), S_OK);
  EXPECT_EQ(out.decVal.sign, 0);
  EXPECT_EQ(out.decVal.Lo64, 1u);
  EXPECT_EQ(Convert(OleVariant(5), VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  EXPECT_EQ(Convert(Real(0.0), VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
  EXPECT_EQ(Convert(Real(0.25), VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
}

TEST(OleChangeType, CurrencyScalesAndRounds) {
  OleVariant out;
  EXPECT_EQ(Convert(OleVariant(7), VT_CY, out), S_OK);
  EXPECT_EQ(out.cyVal.int64, 70000);
  EXPECT_EQ(Convert(Real(1.23456), VT_CY, out), S_OK);
  EXPECT_EQ(out.cyVal.int64, 12346);
  EXPECT_EQ(Convert(Real(-1.23456), VT_CY, out), S_OK);
  EXPECT_EQ(out.cyVal.int64, -12346);
  EXPECT_EQ(Convert(Real(1e16), VT_CY, out), DISP_E_OVERFLOW);

  OleVariant money;
  money.vt = VT_CY;
  money.cyVal.int64 = 25000;  // 2.5
  EXPECT_EQ(ToI4(money), 2);
  money.cyVal.int64 = 35000;  // 3.5
  EXPECT_EQ(ToI4(money), 4);
  money.cyVal.int64 = -15000;
  EXPECT_EQ(ToI4(money), -2);
  money.cyVal.int64 = 12345;
  EXPECT_EQ(Convert(money, VT_R8, out), S_OK);
  EXPECT_DOUBLE_EQ(out.dblVal, 1.2345);
}

TEST(OleChangeType, Decimals) {
  OleVariant out;
  EXPECT_EQ(Convert(OleVariant(-42), VT_DECIMAL, out), S_OK);
  EXPECT_EQ(out.vt, VT_DECIMAL);
  EXPECT_EQ(out.decVal.sign, DECIMAL_NEG);
  EXPECT_EQ(out.decVal.scale, 0);
  EXPECT_EQ(out.decVal.Hi32, 0u);
  EXPECT_EQ(out.decVal.Lo64, 42u);

  EXPECT_EQ(Convert(Real(2.5), VT_DECIMAL, out), S_OK);
  EXPECT_EQ(out.decVal.scale, 1);
  EXPECT_EQ(out.decVal.Lo64, 25u);

  OleVariant dec;
  dec.decVal.scale = 2;
  dec.decVal.Lo64 = 12345;  // 123.45
  dec.vt = VT_DECIMAL;
  EXPECT_EQ(ToI4(dec), 123);
  EXPECT_EQ(Convert(dec, VT_R8, out), S_OK);
  EXPECT_DOUBLE_EQ(out.dblVal, 123.45);
  dec.decVal.scale = 1;
  dec.decVal.Lo64 = 25;
  EXPECT_EQ(ToI4(dec), 2);
  dec.decVal.Lo64 = 35;
  dec.decVal.sign = DECIMAL_NEG;
  EXPECT_EQ(ToI4(dec), -4);
  dec.decVal.sign = 0;
  dec.decVal.scale = 0;
  dec.decVal.Hi32 = 1;
  EXPECT_EQ(Convert(dec, VT_I8, out), DISP_E_OVERFLOW);
  // Far below the smallest decimal step: zero, never a division by a power of ten that
  // does not fit.
  for (double tiny : {1e-300, -4.9e-324, 1e-40}) {
    EXPECT_EQ(Convert(Real(tiny), VT_DECIMAL, out), S_OK) << tiny;
    EXPECT_EQ(out.decVal.Hi32, 0u) << tiny;
    EXPECT_EQ(out.decVal.Lo64, 0u) << tiny;
  }
}

TEST(OleChangeType, Dates) {
  OleVariant out;
  EXPECT_EQ(Convert(Real(2958465.5), VT_DATE, out), S_OK);
  EXPECT_EQ(out.date, 2958465.5);
  EXPECT_EQ(Convert(Real(2958466.0), VT_DATE, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(Real(-657434.5), VT_DATE, out), S_OK);
  EXPECT_EQ(Convert(Real(-657435.0), VT_DATE, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(OleVariant(3000000), VT_DATE, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(OleVariant(36526), VT_DATE, out), S_OK);
  EXPECT_EQ(out.date, 36526.0);
}

TEST(OleChangeType, EmptyAndNull) {
  OleVariant empty, null = OleVariant::Null(), out;
  EXPECT_EQ(ToI4(empty), 0);
  EXPECT_EQ(Convert(empty, VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
  EXPECT_EQ(Convert(empty, VT_R8, out), S_OK);
  EXPECT_EQ(out.dblVal, 0.0);
  EXPECT_EQ(Convert(empty, VT_BSTR, out), S_OK);
  ASSERT_EQ(out.vt, VT_BSTR);
  ASSERT_NE(out.bstrVal, nullptr);
  EXPECT_EQ(SysStringLen(out.bstrVal), 0u);

  EXPECT_EQ(Convert(null, VT_I4, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(null, VT_BSTR, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(null, VT_EMPTY, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(null, VT_NULL, out), S_OK);
  EXPECT_EQ(out.vt, VT_NULL);
  EXPECT_EQ(Convert(OleVariant(5), VT_NULL, out), S_OK);
  EXPECT_EQ(out.vt, VT_NULL);
  EXPECT_EQ(Convert(OleVariant(OLESTR("text")), VT_EMPTY, out), S_OK);
  EXPECT_EQ(out.vt, VT_EMPTY);

  OleVariant error;
  error.vt = VT_ERROR;
  error.scode = DISP_E_PARAMNOTFOUND;
  EXPECT_EQ(Convert(error, VT_I4, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(error, VT_EMPTY, out), DISP_E_TYPEMISMATCH);
}

TEST(OleChangeType, FailureLeavesTheDestinationAlone) {
  OleVariant out(7);
  EXPECT_EQ(Convert(Real(1e20), VT_I4, out), DISP_E_OVERFLOW);
  EXPECT_EQ(out.vt, VT_I4);
  EXPECT_EQ(out.lVal, 7);
  OleVariant source;
  source.vt = VT_I4;
  EXPECT_EQ(VariantChangeType(&out, &source, 0, 15), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&out, &source, 0, VT_CLSID), DISP_E_BADVARTYPE);
  EXPECT_EQ(out.lVal, 7);
}

TEST(OleChangeType, InPlaceAndByReference) {
  OleVariant v(OLESTR("42"));
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);  // the string is freed
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 42);

  double real = 2.5;
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_BYREF | VT_R8;
  reference.pdblVal = &real;
  OleVariant out;
  ASSERT_EQ(VariantChangeType(&out, &reference, 0, VT_I4), S_OK);
  EXPECT_EQ(out.lVal, 2);
  reference.pdblVal = nullptr;
  EXPECT_EQ(VariantChangeType(&out, &reference, 0, VT_I4), DISP_E_TYPEMISMATCH);
}

TEST(OleChangeType, ObjectsGiveTheirDefaultValue) {
  auto* object = new ole_test::ValueObject(42);
  OleVariant source(static_cast<IDispatch*>(object));
  object->Release();
  OleVariant out;
  EXPECT_EQ(Convert(source, VT_I4, out), S_OK);
  EXPECT_EQ(out.lVal, 42);
  EXPECT_EQ(Convert(source, VT_R8, out), S_OK);
  EXPECT_EQ(out.dblVal, 42.0);
  EXPECT_EQ(Convert(source, VT_I4, out, VARIANT_NOVALUEPROP), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(source, VT_UNKNOWN, out), S_OK);
  EXPECT_EQ(out.vt, VT_UNKNOWN);
  EXPECT_EQ(out.punkVal, static_cast<IUnknown*>(object));

  OleVariant nothing(static_cast<IDispatch*>(nullptr));
  EXPECT_NE(Convert(nothing, VT_I4, out), S_OK);
}

// The text conversions this layer supports: integers and booleans.
TEST(OleChangeType, IntegerTexts) {
  OleVariant out;
  auto text = [&](const OleVariant& source) {
    EXPECT_EQ(Convert(source, VT_BSTR, out), S_OK);
    return OleString::View(out.bstrVal, SysStringLen(out.bstrVal));
  };
  EXPECT_EQ(text(OleVariant(-123)), OleString::View(OLESTR("-123")));
  EXPECT_EQ(text(Typed(VT_UI8, ~0ull)), OleString::View(OLESTR("18446744073709551615")));
  EXPECT_EQ(text(Typed(VT_I8, 1ull << 63)), OleString::View(OLESTR("-9223372036854775808")));
  EXPECT_EQ(text(Typed(VT_UI1, 200)), OleString::View(OLESTR("200")));
  EXPECT_EQ(text(OleVariant(true)), OleString::View(OLESTR("-1")));
  EXPECT_EQ(text(OleVariant(false)), OleString::View(OLESTR("0")));
  EXPECT_EQ(Convert(OleVariant(true), VT_BSTR, out, VARIANT_ALPHABOOL), S_OK);
  EXPECT_EQ(OleString::View(out.bstrVal, SysStringLen(out.bstrVal)), OleString::View(OLESTR("True")));

  EXPECT_EQ(ToI4(OleVariant(OLESTR("42"))), 42);
  EXPECT_EQ(ToI4(OleVariant(OLESTR("  -17  "))), -17);
  EXPECT_EQ(ToI4(OleVariant(OLESTR("+5"))), 5);
  EXPECT_EQ(Convert(OleVariant(OLESTR("70000")), VT_I2, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Convert(OleVariant(OLESTR("abc")), VT_I4, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(OleVariant(OLESTR("")), VT_I4, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(OleVariant(OLESTR("12x")), VT_I4, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(OleVariant(OLESTR("300")), VT_R8, out), S_OK);
  EXPECT_EQ(out.dblVal, 300.0);

  EXPECT_EQ(Convert(OleVariant(OLESTR("True")), VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  EXPECT_EQ(Convert(OleVariant(OLESTR("false")), VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
  EXPECT_EQ(Convert(OleVariant(OLESTR("0")), VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
  EXPECT_EQ(Convert(OleVariant(OLESTR("2")), VT_BOOL, out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
}

TEST(OleChangeType, Arrays) {
  SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 4);
  std::memcpy(bytes->pvData, "abcd", 4);
  OleVariant array = OleVariant::AdoptArray(bytes, VT_UI1);
  OleVariant out;
  ASSERT_EQ(Convert(array, VT_BSTR, out), S_OK);
  EXPECT_EQ(SysStringByteLen(out.bstrVal), 4u);
  EXPECT_EQ(std::memcmp(out.bstrVal, "abcd", 4), 0);

  OleVariant back;
  ASSERT_EQ(Convert(out, VT_ARRAY | VT_UI1, back), S_OK);
  ASSERT_EQ(back.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(back.parray->rgsabound[0].cElements, 4u);
  EXPECT_EQ(std::memcmp(back.parray->pvData, "abcd", 4), 0);

  ASSERT_EQ(Convert(array, VT_ARRAY | VT_UI1, out), S_OK);
  EXPECT_NE(out.parray, bytes);
  EXPECT_EQ(Convert(array, VT_I4, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Convert(array, VT_ARRAY | VT_I4, out), DISP_E_TYPEMISMATCH);
}

}  // namespace
