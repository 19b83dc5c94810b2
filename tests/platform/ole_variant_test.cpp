// VariantClear / VariantCopy / VariantCopyInd for the types the variant stream carries.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/ole_automation.h"
#include "platform/ole_ptr.h"
#include "platform/ole_test_objects.h"

namespace {

using ole_test::ValueObject;

OleString::View TextOf(BSTR s) { return OleString::View(s, SysStringLen(s)); }

TEST(OleVariant, ClearFreesStringsReleasesObjectsAndKeepsReferencedValues) {
  auto* object = new ValueObject();
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DISPATCH;
  v.pdispVal = object;
  object->AddRef();
  EXPECT_EQ(object->References(), 2u);
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(object->References(), 1u);

  // A reference variant owns nothing: the referenced string survives.
  BSTR text = SysAllocString(OLESTR("kept"));
  v.vt = VT_BYREF | VT_BSTR;
  v.pbstrVal = &text;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(TextOf(text), OleString::View(OLESTR("kept")));
  SysFreeString(text);

  // An array of objects releases its elements.
  SAFEARRAY* array = SafeArrayCreateVector(VT_DISPATCH, 0, 2);
  LONG index = 1;
  ASSERT_EQ(SafeArrayPutElement(array, &index, static_cast<IDispatch*>(object)), S_OK);
  EXPECT_EQ(object->References(), 2u);
  v.vt = VT_ARRAY | VT_DISPATCH;
  v.parray = array;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(object->References(), 1u);
  object->Release();
}

TEST(OleVariant, ClearRefusesInvalidTypes) {
  VARIANT v;
  VariantInit(&v);
  v.vt = 15;  // not a variant type
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(v.vt, 15);
  v.vt = VT_BYREF | VT_NULL;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  v.vt = VT_VECTOR | VT_I4;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
}

TEST(OleVariant, ClearOfLockedArrayFailsButEmptiesTheVariant) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 3);
  ASSERT_EQ(SafeArrayLock(array), S_OK);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_I4;
  v.parray = array;
  EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(SafeArrayUnlock(array), S_OK);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

// Every simple type of the stream is copied bit for bit.
TEST(OleVariant, CopyKeepsEverySimpleValue) {
  struct Case {
    VARTYPE vt;
    size_t bytes;
  };
  const Case cases[] = {{VT_I2, 2},  {VT_I4, 4},   {VT_R4, 4},   {VT_R8, 8},  {VT_CY, 8},
                        {VT_DATE, 8}, {VT_ERROR, 4}, {VT_BOOL, 2}, {VT_I1, 1},  {VT_UI1, 1},
                        {VT_UI2, 2}, {VT_UI4, 4},  {VT_I8, 8},   {VT_UI8, 8}, {VT_INT, 4},
                        {VT_UINT, 4}};
  for (const Case& c : cases) {
    VARIANT source, copy;
    VariantInit(&source);
    VariantInit(&copy);
    source.vt = c.vt;
    source.ullVal = 0x8877665544332211ull;
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK) << c.vt;
    EXPECT_EQ(copy.vt, c.vt);
    EXPECT_EQ(std::memcmp(&copy.ullVal, &source.ullVal, c.bytes), 0) << c.vt;
  }

  VARIANT source, copy;
  VariantInit(&source);
  VariantInit(&copy);
  source.decVal.scale = 3;
  source.decVal.sign = DECIMAL_NEG;
  source.decVal.Hi32 = 0x12345678;
  source.decVal.Lo64 = 0x1122334455667788ull;
  source.vt = VT_DECIMAL;
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  EXPECT_EQ(copy.vt, VT_DECIMAL);
  EXPECT_EQ(copy.decVal.scale, 3);
  EXPECT_EQ(copy.decVal.sign, DECIMAL_NEG);
  EXPECT_EQ(copy.decVal.Hi32, 0x12345678u);
  EXPECT_EQ(copy.decVal.Lo64, 0x1122334455667788ull);

  source.vt = VT_NULL;
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  EXPECT_EQ(copy.vt, VT_NULL);
}

TEST(OleVariant, CopyDuplicatesStringsWithTheirByteLength) {
  OleVariant source;
  source.vt = VT_BSTR;
  source.bstrVal = SysAllocStringByteLen("abc", 3);  // odd byte count
  OleVariant copy;
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  ASSERT_EQ(copy.vt, VT_BSTR);
  EXPECT_NE(copy.bstrVal, source.bstrVal);
  EXPECT_EQ(SysStringByteLen(copy.bstrVal), 3u);
  EXPECT_EQ(std::memcmp(copy.bstrVal, "abc", 3), 0);

  const OLECHAR withZero[] = {u'x', 0, u'y'};
  OleVariant zeros(OleString::View(withZero, 3));
  ASSERT_EQ(VariantCopy(&copy, &zeros), S_OK);
  EXPECT_EQ(TextOf(copy.bstrVal), OleString::View(withZero, 3));
}

TEST(OleVariant, CopyAddsReferencesAndReleasesTheOldDestination) {
  auto* first = new ValueObject();
  auto* second = new ValueObject();
  OleVariant a(static_cast<IDispatch*>(first));
  OleVariant b(static_cast<IDispatch*>(second));
  EXPECT_EQ(first->References(), 2u);
  ASSERT_EQ(VariantCopy(&b, &a), S_OK);
  EXPECT_EQ(first->References(), 3u);
  EXPECT_EQ(second->References(), 1u);  // cleared out of the destination
  EXPECT_EQ(b.pdispVal, first);
  EXPECT_EQ(VariantCopy(&a, &a), S_OK);  // onto itself: nothing changes
  EXPECT_EQ(first->References(), 3u);
  b.Clear();
  a.Clear();
  first->Release();
  second->Release();
}

TEST(OleVariant, CopyOfArrayIsDeep) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 1, 2);
  LONG index = 2;
  BSTR text = SysAllocString(OLESTR("cell"));
  ASSERT_EQ(SafeArrayPutElement(array, &index, text), S_OK);
  SysFreeString(text);
  OleVariant source = OleVariant::AdoptArray(array, VT_BSTR);
  OleVariant copy;
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  ASSERT_EQ(copy.vt, VT_ARRAY | VT_BSTR);
  EXPECT_NE(copy.parray, array);
  BSTR original = static_cast<BSTR*>(array->pvData)[1];
  BSTR copied = static_cast<BSTR*>(copy.parray->pvData)[1];
  EXPECT_NE(copied, original);
  EXPECT_EQ(TextOf(copied), OleString::View(OLESTR("cell")));
  LONG lower = 0;
  EXPECT_EQ(SafeArrayGetLBound(copy.parray, 1, &lower), S_OK);
  EXPECT_EQ(lower, 1);
}

TEST(OleVariant, CopyOfReferenceCopiesOnlyThePointer) {
  LONG value = 5;
  VARIANT reference, copy;
  VariantInit(&reference);
  VariantInit(&copy);
  reference.vt = VT_BYREF | VT_I4;
  reference.plVal = &value;
  ASSERT_EQ(VariantCopy(&copy, &reference), S_OK);
  EXPECT_EQ(copy.vt, VT_BYREF | VT_I4);
  EXPECT_EQ(copy.plVal, &value);
}

TEST(OleVariant, CopyRefusesInvalidSources) {
  VARIANT source, copy;
  VariantInit(&source);
  VariantInit(&copy);
  source.vt = VT_BYREF | VT_EMPTY;
  EXPECT_EQ(VariantCopy(&copy, &source), DISP_E_BADVARTYPE);
  source.vt = 15;
  EXPECT_EQ(VariantCopy(&copy, &source), DISP_E_BADVARTYPE);
  EXPECT_EQ(copy.vt, VT_EMPTY);
}

TEST(OleVariant, CopyIndDereferencesPlainValues) {
  double real = 2.75;
  SHORT small = -3;
  VARIANT_BOOL flag = VARIANT_TRUE;
  CY money;
  money.int64 = 123456;
  DECIMAL dec{};
  dec.scale = 2;
  dec.Lo64 = 314;
  VARIANT reference;
  OleVariant copy;

  VariantInit(&reference);
  reference.vt = VT_BYREF | VT_R8;
  reference.pdblVal = &real;
  ASSERT_EQ(VariantCopyInd(&copy, &reference), S_OK);
  EXPECT_EQ(copy.vt, VT_R8);
  EXPECT_EQ(copy.dblVal, 2.75);

  reference.vt = VT_BYREF | VT_I2;
  reference.piVal = &small;
  ASSERT_EQ(VariantCopyInd(&copy, &reference), S_OK);
  EXPECT_EQ(copy.vt, VT_I2);
  EXPECT_EQ(copy.iVal, -3);

  reference.vt = VT_BYREF | VT_BOOL;
  reference.pboolVal = &flag;
  ASSERT_EQ(VariantCopyInd(&copy, &reference), S_OK);
  EXPECT_EQ(copy.vt, VT_BOOL);
  EXPECT_EQ(copy.boolVal, VARIANT_TRUE);

  reference.vt = VT_BYREF | VT_CY;
  reference.pcyVal = &money;
  ASSERT_EQ(VariantCopyInd(&copy, &reference), S_OK);
  EXPECT_EQ(copy.vt, VT_CY);
  EXPECT_EQ(copy.cyVal.int64, 123456);

  reference.vt = VT_BYREF | VT_DECIMAL;
  reference.pdecVal = &dec;
  ASSERT_EQ(VariantCopyInd(&copy, &reference), S_OK);
  EXPECT_EQ(copy.vt, VT_DECIMAL);
  EXPECT_EQ(copy.decVal.scale, 2);
  EXPECT_EQ(copy.decVal.Lo64, 314u);
}

TEST(OleVariant, CopyIndCopiesReferencedStringsObjectsAndArrays) {
  BSTR text = SysAllocString(OLESTR("referenced"));
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_BYREF | VT_BSTR;
  reference.pbstrVal = &text;
  OleVariant copy;
  ASSERT_EQ(VariantCopyInd(&copy, &reference), S_OK);
  ASSERT_EQ(copy.vt, VT_BSTR);
  EXPECT_NE(copy.bstrVal, text);
  EXPECT_EQ(TextOf(copy.bstrVal), OleString::View(OLESTR("referenced")));
  SysFreeString(text);

  auto* object = new ValueObject();
  IDispatch* slot = object;
  reference.vt = VT_BYREF | VT_DISPATCH;
  reference.ppdispVal = &slot;
  ASSERT_EQ(VariantCopyInd(&copy, &reference), S_OK);
  EXPECT_EQ(copy.vt, VT_DISPATCH);
  EXPECT_EQ(object->References(), 2u);
  copy.Clear();
  EXPECT_EQ(object->References(), 1u);
  object->Release();

  SafeArrayPtr array(SafeArrayCreateVector(VT_I4, 0, 4));
  SAFEARRAY* arraySlot = array.Get();
  reference.vt = VT_BYREF | VT_ARRAY | VT_I4;
  reference.pparray = &arraySlot;
  ASSERT_EQ(VariantCopyInd(&copy, &reference), S_OK);
  EXPECT_EQ(copy.vt, VT_ARRAY | VT_I4);
  EXPECT_NE(copy.parray, array.Get());
  EXPECT_EQ(copy.parray->rgsabound[0].cElements, 4u);
}

TEST(OleVariant, CopyIndFollowsOneVariantReference) {
  OleVariant inner(OLESTR("inner"));
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_BYREF | VT_VARIANT;
  reference.pvarVal = &inner;
  OleVariant copy;
  ASSERT_EQ(VariantCopyInd(&copy, &reference), S_OK);
  EXPECT_EQ(copy.vt, VT_BSTR);  // the referenced variant's type
  EXPECT_EQ(TextOf(copy.bstrVal), OleString::View(OLESTR("inner")));

  // A reference to a variant that is itself a reference: not followed.
  VARIANT outer;
  VariantInit(&outer);
  outer.vt = VT_BYREF | VT_VARIANT;
  outer.pvarVal = &reference;
  EXPECT_EQ(VariantCopyInd(&copy, &outer), E_INVALIDARG);

  // A reference to a variant holding a reference to a value: that one is followed too.
  LONG number = 9;
  VARIANT byRefNumber;
  VariantInit(&byRefNumber);
  byRefNumber.vt = VT_BYREF | VT_I4;
  byRefNumber.plVal = &number;
  reference.pvarVal = &byRefNumber;
  ASSERT_EQ(VariantCopyInd(&copy, &reference), S_OK);
  EXPECT_EQ(copy.vt, VT_I4);
  EXPECT_EQ(copy.lVal, 9);
}

TEST(OleVariant, CopyIndInPlaceAndInvalidReferences) {
  LONG number = 77;
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF | VT_I4;
  v.plVal = &number;
  ASSERT_EQ(VariantCopyInd(&v, &v), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 77);

  VARIANT bad;
  VariantInit(&bad);
  bad.vt = VT_BYREF | VT_NULL;
  OleVariant copy;
  EXPECT_EQ(VariantCopyInd(&copy, &bad), E_INVALIDARG);
  bad.vt = VT_BYREF | VT_EMPTY;
  EXPECT_EQ(VariantCopyInd(&copy, &bad), E_INVALIDARG);
}

}  // namespace
