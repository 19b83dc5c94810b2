// SAFEARRAY: descriptor layout, bounds, element order, element copies, locks, copies and
// resizing, as oleaut32 does them.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/ole_automation.h"
#include "platform/ole_ptr.h"
#include "platform/ole_test_objects.h"

namespace {

using ole_test::ValueObject;

constexpr USHORT kCreatedAsVector = 0x2000;

OleString::View TextOf(BSTR s) { return OleString::View(s, SysStringLen(s)); }

LONG Lower(SAFEARRAY* a, UINT dim) {
  LONG value = 0;
  EXPECT_EQ(SafeArrayGetLBound(a, dim, &value), S_OK);
  return value;
}
LONG Upper(SAFEARRAY* a, UINT dim) {
  LONG value = 0;
  EXPECT_EQ(SafeArrayGetUBound(a, dim, &value), S_OK);
  return value;
}

TEST(OleSafeArray, OneDimensionWithNegativeLowerBound) {
  SAFEARRAYBOUND bound = {5, -2};
  SafeArrayPtr a(SafeArrayCreate(VT_I4, 1, &bound));
  ASSERT_TRUE(a);
  EXPECT_EQ(SafeArrayGetDim(a.Get()), 1u);
  EXPECT_EQ(SafeArrayGetElemsize(a.Get()), 4u);
  EXPECT_EQ(a->cDims, 1);
  EXPECT_EQ(a->cbElements, 4u);
  EXPECT_EQ(a->cLocks, 0u);
  EXPECT_EQ(a->fFeatures, FADF_HAVEVARTYPE);
  EXPECT_EQ(Lower(a.Get(), 1), -2);
  EXPECT_EQ(Upper(a.Get(), 1), 2);

  LONG value = 0;
  EXPECT_EQ(SafeArrayGetLBound(a.Get(), 0, &value), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(a.Get(), 2, &value), DISP_E_BADINDEX);

  for (LONG i = -2; i <= 2; ++i) {
    LONG v = i * 10;
    ASSERT_EQ(SafeArrayPutElement(a.Get(), &i, &v), S_OK);
  }
  const LONG* data = static_cast<const LONG*>(a->pvData);
  EXPECT_EQ(data[0], -20);
  EXPECT_EQ(data[4], 20);
  LONG index = 1, read = 0;
  EXPECT_EQ(SafeArrayGetElement(a.Get(), &index, &read), S_OK);
  EXPECT_EQ(read, 10);
  index = 3;
  EXPECT_EQ(SafeArrayGetElement(a.Get(), &index, &read), DISP_E_BADINDEX);
  index = -3;
  EXPECT_EQ(SafeArrayPutElement(a.Get(), &index, &read), DISP_E_BADINDEX);
}

// Bounds are given leftmost dimension first; the descriptor keeps them in reverse; the first
// index runs fastest in memory.
TEST(OleSafeArray, TwoDimensionsBoundsOrderAndElementOrder) {
  SAFEARRAYBOUND bounds[2] = {{3, 1}, {4, 10}};  // rows 1..3, columns 10..13
  SafeArrayPtr a(SafeArrayCreate(VT_I4, 2, bounds));
  ASSERT_TRUE(a);
  EXPECT_EQ(Lower(a.Get(), 1), 1);
  EXPECT_EQ(Upper(a.Get(), 1), 3);
  EXPECT_EQ(Lower(a.Get(), 2), 10);
  EXPECT_EQ(Upper(a.Get(), 2), 13);
  EXPECT_EQ(a->rgsabound[0].cElements, 4u);
  EXPECT_EQ(a->rgsabound[0].lLbound, 10);
  EXPECT_EQ(a->rgsabound[1].cElements, 3u);
  EXPECT_EQ(a->rgsabound[1].lLbound, 1);

  for (LONG row = 1; row <= 3; ++row)
    for (LONG column = 10; column <= 13; ++column) {
      LONG indices[2] = {row, column};
      LONG value = row * 100 + column;
      ASSERT_EQ(SafeArrayPutElement(a.Get(), indices, &value), S_OK);
    }
  SafeArrayDataLock lock(a.Get());
  const LONG* data = lock.As<LONG>();
  for (LONG row = 1; row <= 3; ++row)
    for (LONG column = 10; column <= 13; ++column)
      EXPECT_EQ(data[(column - 10) * 3 + (row - 1)], row * 100 + column);
}

TEST(OleSafeArray, ThreeDimensionsPointerOfIndex) {
  SAFEARRAYBOUND bounds[3] = {{2, -1}, {3, 0}, {4, 5}};
  SafeArrayPtr a(SafeArrayCreate(VT_R8, 3, bounds));
  ASSERT_TRUE(a);
  EXPECT_EQ(SafeArrayGetDim(a.Get()), 3u);
  EXPECT_EQ(Lower(a.Get(), 1), -1);
  EXPECT_EQ(Upper(a.Get(), 3), 8);
  char* base = static_cast<char*>(a->pvData);
  for (LONG i = -1; i <= 0; ++i)
    for (LONG j = 0; j <= 2; ++j)
      for (LONG k = 5; k <= 8; ++k) {
        LONG indices[3] = {i, j, k};
        void* cell = nullptr;
        ASSERT_EQ(SafeArrayPtrOfIndex(a.Get(), indices, &cell), S_OK);
        ptrdiff_t expected = ((i + 1) + j * 2 + (k - 5) * 6) * ptrdiff_t(sizeof(double));
        EXPECT_EQ(static_cast<char*>(cell) - base, expected);
      }
  LONG outside[3] = {-1, 3, 5};
  void* cell = nullptr;
  EXPECT_EQ(SafeArrayPtrOfIndex(a.Get(), outside, &cell), DISP_E_BADINDEX);
}

TEST(OleSafeArray, ElementTypesOfTheStream) {
  struct Case {
    VARTYPE vt;
    UINT size;
    USHORT features;
  };
  const Case cases[] = {
      {VT_I2, 2, FADF_HAVEVARTYPE},     {VT_I4, 4, FADF_HAVEVARTYPE},
      {VT_R4, 4, FADF_HAVEVARTYPE},     {VT_R8, 8, FADF_HAVEVARTYPE},
      {VT_CY, 8, FADF_HAVEVARTYPE},     {VT_DATE, 8, FADF_HAVEVARTYPE},
      {VT_ERROR, 4, FADF_HAVEVARTYPE},  {VT_BOOL, 2, FADF_HAVEVARTYPE},
      {VT_I1, 1, FADF_HAVEVARTYPE},     {VT_UI1, 1, FADF_HAVEVARTYPE},
      {VT_UI2, 2, FADF_HAVEVARTYPE},    {VT_UI4, 4, FADF_HAVEVARTYPE},
      {VT_I8, 8, FADF_HAVEVARTYPE},     {VT_UI8, 8, FADF_HAVEVARTYPE},
      {VT_INT, 4, FADF_HAVEVARTYPE},    {VT_UINT, 4, FADF_HAVEVARTYPE},
      {VT_DECIMAL, 16, FADF_HAVEVARTYPE},
      {VT_BSTR, sizeof(BSTR), FADF_HAVEVARTYPE | FADF_BSTR},
      {VT_VARIANT, sizeof(VARIANT), FADF_HAVEVARTYPE | FADF_VARIANT},
      {VT_UNKNOWN, sizeof(void*), FADF_HAVEIID | FADF_UNKNOWN},
      {VT_DISPATCH, sizeof(void*), FADF_HAVEIID | FADF_DISPATCH},
  };
  for (const Case& c : cases) {
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 1}};
    SafeArrayPtr a(SafeArrayCreate(c.vt, 2, bounds));
    ASSERT_TRUE(a) << c.vt;
    EXPECT_EQ(SafeArrayGetElemsize(a.Get()), c.size) << c.vt;
    EXPECT_EQ(a->fFeatures, c.features) << c.vt;
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(a.Get(), &vt), S_OK);
    EXPECT_EQ(vt, c.vt);
  }
  GUID iid;
  SafeArrayPtr objects(SafeArrayCreateVector(VT_DISPATCH, 0, 1));
  ASSERT_EQ(SafeArrayGetIID(objects.Get(), &iid), S_OK);
  EXPECT_TRUE(IsEqualGUID(iid, IID_IDispatch));
  SafeArrayPtr numbers(SafeArrayCreateVector(VT_I4, 0, 1));
  EXPECT_EQ(SafeArrayGetIID(numbers.Get(), &iid), E_INVALIDARG);
}

TEST(OleSafeArray, RefusedShapesAndTypes) {
  SAFEARRAYBOUND bound = {1, 0};
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &bound), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, &bound), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_NULL, 1, &bound), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
  SAFEARRAY* out = nullptr;
  EXPECT_EQ(SafeArrayAllocDescriptor(0, &out), E_INVALIDARG);
}

TEST(OleSafeArray, DescriptorThenData) {
  SAFEARRAY* plain = nullptr;
  ASSERT_EQ(SafeArrayAllocDescriptor(1, &plain), S_OK);
  EXPECT_EQ(plain->cDims, 1);
  EXPECT_EQ(plain->fFeatures, 0);
  EXPECT_EQ(plain->cbElements, 0u);
  VARTYPE vt;
  EXPECT_EQ(SafeArrayGetVartype(plain, &vt), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroyDescriptor(plain), S_OK);

  SAFEARRAY* typed = nullptr;
  ASSERT_EQ(SafeArrayAllocDescriptorEx(VT_BSTR, 2, &typed), S_OK);
  EXPECT_EQ(typed->fFeatures, FADF_HAVEVARTYPE);  // no FADF_BSTR from the descriptor alone
  EXPECT_EQ(typed->cbElements, sizeof(BSTR));
  EXPECT_EQ(SafeArrayGetVartype(typed, &vt), S_OK);
  EXPECT_EQ(vt, VT_BSTR);
  typed->rgsabound[0] = {2, 0};
  typed->rgsabound[1] = {3, 0};
  ASSERT_EQ(SafeArrayAllocData(typed), S_OK);
  ASSERT_NE(typed->pvData, nullptr);
  EXPECT_EQ(static_cast<BSTR*>(typed->pvData)[5], nullptr);  // zero-filled
  EXPECT_EQ(SafeArrayDestroyData(typed), S_OK);
  EXPECT_EQ(typed->pvData, nullptr);
  EXPECT_EQ(SafeArrayDestroyDescriptor(typed), S_OK);
}

TEST(OleSafeArray, VectorKeepsItsDataWithTheDescriptor) {
  SafeArrayPtr v(SafeArrayCreateVector(VT_UI1, 1, 3));
  ASSERT_TRUE(v);
  EXPECT_EQ(v->fFeatures, kCreatedAsVector | FADF_HAVEVARTYPE);
  EXPECT_EQ(Lower(v.Get(), 1), 1);
  EXPECT_EQ(Upper(v.Get(), 1), 3);
  EXPECT_EQ(static_cast<char*>(v->pvData), reinterpret_cast<char*>(v.Get()) + sizeof(SAFEARRAY));
  LONG index = 3;
  BYTE value = 0xAB;
  ASSERT_EQ(SafeArrayPutElement(v.Get(), &index, &value), S_OK);
  EXPECT_EQ(static_cast<BYTE*>(v->pvData)[2], 0xAB);
}

TEST(OleSafeArray, StringElementsAreCopiedInAndOut) {
  SafeArrayPtr a(SafeArrayCreateVector(VT_BSTR, 0, 2));
  BSTR original = SysAllocString(OLESTR("Сканер"));
  LONG index = 1;
  ASSERT_EQ(SafeArrayPutElement(a.Get(), &index, original), S_OK);
  BSTR stored = static_cast<BSTR*>(a->pvData)[1];
  EXPECT_NE(stored, original);
  SysFreeString(original);
  EXPECT_EQ(TextOf(stored), OleString::View(OLESTR("Сканер")));

  OleString read;
  ASSERT_EQ(SafeArrayGetElement(a.Get(), &index, read.Put()), S_OK);
  EXPECT_NE(read.Get(), stored);
  EXPECT_EQ(read.Text(), OleString::View(OLESTR("Сканер")));

  // Replacing frees the old element (no leak under the sanitizers).
  BSTR other = SysAllocString(OLESTR("x"));
  ASSERT_EQ(SafeArrayPutElement(a.Get(), &index, other), S_OK);
  SysFreeString(other);
  EXPECT_EQ(TextOf(static_cast<BSTR*>(a->pvData)[1]), OleString::View(OLESTR("x")));

  // A never-written element reads as a null string.
  index = 0;
  BSTR empty = SysAllocString(OLESTR("junk"));
  BSTR previous = empty;
  ASSERT_EQ(SafeArrayGetElement(a.Get(), &index, &empty), S_OK);
  EXPECT_EQ(empty, nullptr);
  SysFreeString(previous);
}

TEST(OleSafeArray, VariantElementsAreCopiedInAndOut) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  SafeArrayPtr a(SafeArrayCreate(VT_VARIANT, 2, bounds));
  OleVariant text(OLESTR("value"));
  LONG indices[2] = {1, 0};
  ASSERT_EQ(SafeArrayPutElement(a.Get(), indices, &text), S_OK);
  VARIANT* cell = static_cast<VARIANT*>(a->pvData) + 1;
  ASSERT_EQ(cell->vt, VT_BSTR);
  EXPECT_NE(cell->bstrVal, text.bstrVal);
  text = OleVariant(OLESTR("changed"));
  EXPECT_EQ(TextOf(cell->bstrVal), OleString::View(OLESTR("value")));

  OleVariant read;
  ASSERT_EQ(SafeArrayGetElement(a.Get(), indices, read.Put()), S_OK);
  ASSERT_EQ(read.vt, VT_BSTR);
  EXPECT_NE(read.bstrVal, cell->bstrVal);
  EXPECT_EQ(TextOf(read.bstrVal), OleString::View(OLESTR("value")));
}

TEST(OleSafeArray, ObjectElementsHoldReferences) {
  auto* first = new ValueObject();
  auto* second = new ValueObject();
  {
    SafeArrayPtr a(SafeArrayCreateVector(VT_DISPATCH, 0, 1));
    LONG index = 0;
    ASSERT_EQ(SafeArrayPutElement(a.Get(), &index, static_cast<IDispatch*>(first)), S_OK);
    EXPECT_EQ(first->References(), 2u);
    ASSERT_EQ(SafeArrayPutElement(a.Get(), &index, static_cast<IDispatch*>(second)), S_OK);
    EXPECT_EQ(first->References(), 1u);
    EXPECT_EQ(second->References(), 2u);
    ComPtr<IDispatch> read;
    ASSERT_EQ(SafeArrayGetElement(a.Get(), &index, read.Put()), S_OK);
    EXPECT_EQ(read.Get(), second);
    EXPECT_EQ(second->References(), 3u);
  }
  EXPECT_EQ(second->References(), 1u);  // destroying the array released its element
  first->Release();
  second->Release();
}

TEST(OleSafeArray, LockedArraysRefuseDestruction) {
  SAFEARRAYBOUND bound = {4, 0};
  SAFEARRAY* a = SafeArrayCreate(VT_I4, 1, &bound);
  ASSERT_EQ(SafeArrayLock(a), S_OK);
  EXPECT_EQ(a->cLocks, 1u);
  EXPECT_EQ(SafeArrayDestroy(a), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayDestroyData(a), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayDestroyDescriptor(a), DISP_E_ARRAYISLOCKED);
  SAFEARRAYBOUND bigger = {8, 0};
  EXPECT_EQ(SafeArrayRedim(a, &bigger), DISP_E_ARRAYISLOCKED);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(a, &data), S_OK);
  EXPECT_EQ(data, a->pvData);
  EXPECT_EQ(a->cLocks, 2u);
  EXPECT_EQ(SafeArrayUnaccessData(a), S_OK);
  EXPECT_EQ(SafeArrayUnlock(a), S_OK);
  EXPECT_EQ(SafeArrayUnlock(a), E_UNEXPECTED);
  EXPECT_EQ(a->cLocks, 0u);
  EXPECT_EQ(SafeArrayDestroy(a), S_OK);
}

TEST(OleSafeArray, RedimChangesTheLastDimensionKeepingElements) {
  SAFEARRAYBOUND bounds[2] = {{3, 1}, {2, 0}};
  SafeArrayPtr a(SafeArrayCreate(VT_I4, 2, bounds));
  for (LONG row = 1; row <= 3; ++row)
    for (LONG column = 0; column <= 1; ++column) {
      LONG indices[2] = {row, column};
      LONG value = row * 10 + column;
      ASSERT_EQ(SafeArrayPutElement(a.Get(), indices, &value), S_OK);
    }
  SAFEARRAYBOUND last = {4, 5};
  ASSERT_EQ(SafeArrayRedim(a.Get(), &last), S_OK);
  EXPECT_EQ(Lower(a.Get(), 1), 1);
  EXPECT_EQ(Upper(a.Get(), 1), 3);
  EXPECT_EQ(Lower(a.Get(), 2), 5);
  EXPECT_EQ(Upper(a.Get(), 2), 8);
  for (LONG row = 1; row <= 3; ++row) {
    for (LONG column = 5; column <= 8; ++column) {
      LONG indices[2] = {row, column};
      LONG value = -1;
      ASSERT_EQ(SafeArrayGetElement(a.Get(), indices, &value), S_OK);
      // The old columns 0 and 1 are now 5 and 6; the new ones start zeroed.
      EXPECT_EQ(value, column <= 6 ? row * 10 + (column - 5) : 0);
    }
  }
  SAFEARRAYBOUND shorter = {1, 0};
  ASSERT_EQ(SafeArrayRedim(a.Get(), &shorter), S_OK);
  EXPECT_EQ(Upper(a.Get(), 2), 0);
  LONG indices[2] = {3, 0}, value = 0;
  ASSERT_EQ(SafeArrayGetElement(a.Get(), indices, &value), S_OK);
  EXPECT_EQ(value, 30);
}

TEST(OleSafeArray, RedimShrinkReleasesStringsAndGrowsVectors) {
  SafeArrayPtr a(SafeArrayCreateVector(VT_BSTR, 0, 3));
  for (LONG i = 0; i < 3; ++i) {
    OleString text(OLESTR("element"));
    ASSERT_EQ(SafeArrayPutElement(a.Get(), &i, text.Get()), S_OK);
  }
  SAFEARRAYBOUND shorter = {1, 0};
  ASSERT_EQ(SafeArrayRedim(a.Get(), &shorter), S_OK);  // the sanitizers see any leak
  SAFEARRAYBOUND longer = {5, 0};
  ASSERT_EQ(SafeArrayRedim(a.Get(), &longer), S_OK);
  EXPECT_EQ(TextOf(static_cast<BSTR*>(a->pvData)[0]), OleString::View(OLESTR("element")));
  EXPECT_EQ(static_cast<BSTR*>(a->pvData)[4], nullptr);
}

TEST(OleSafeArray, CopyIsDeepAndKeepsShapeAndType) {
  SAFEARRAYBOUND bounds[2] = {{2, -1}, {2, 3}};
  SafeArrayPtr a(SafeArrayCreate(VT_BSTR, 2, bounds));
  LONG indices[2] = {0, 4};
  OleString text(OLESTR("deep"));
  ASSERT_EQ(SafeArrayPutElement(a.Get(), indices, text.Get()), S_OK);
  SafeArrayPtr copy = a.Copy();
  ASSERT_TRUE(copy);
  EXPECT_NE(copy.Get(), a.Get());
  EXPECT_EQ(copy->fFeatures, a->fFeatures);
  EXPECT_EQ(Lower(copy.Get(), 1), -1);
  EXPECT_EQ(Lower(copy.Get(), 2), 3);
  VARTYPE vt;
  EXPECT_EQ(SafeArrayGetVartype(copy.Get(), &vt), S_OK);
  EXPECT_EQ(vt, VT_BSTR);
  void* original = nullptr;
  void* copied = nullptr;
  ASSERT_EQ(SafeArrayPtrOfIndex(a.Get(), indices, &original), S_OK);
  ASSERT_EQ(SafeArrayPtrOfIndex(copy.Get(), indices, &copied), S_OK);
  EXPECT_NE(*static_cast<BSTR*>(copied), *static_cast<BSTR*>(original));
  EXPECT_EQ(TextOf(*static_cast<BSTR*>(copied)), OleString::View(OLESTR("deep")));

  SAFEARRAY* none = reinterpret_cast<SAFEARRAY*>(1);
  EXPECT_EQ(SafeArrayCopy(nullptr, &none), S_OK);
  EXPECT_EQ(none, nullptr);

  // A copied vector is an ordinary array.
  SafeArrayPtr vector(SafeArrayCreateVector(VT_I4, 0, 2));
  SafeArrayPtr vectorCopy = vector.Copy();
  EXPECT_EQ(vectorCopy->fFeatures, FADF_HAVEVARTYPE);
}

TEST(OleSafeArray, CopyDataNeedsTheSameShape) {
  SafeArrayPtr source(SafeArrayCreateVector(VT_I4, 0, 3));
  SafeArrayPtr same(SafeArrayCreateVector(VT_I4, 7, 3));
  SafeArrayPtr other(SafeArrayCreateVector(VT_I4, 0, 4));
  static_cast<LONG*>(source->pvData)[2] = 99;
  EXPECT_EQ(SafeArrayCopyData(source.Get(), same.Get()), S_OK);
  EXPECT_EQ(static_cast<LONG*>(same->pvData)[2], 99);
  EXPECT_EQ(SafeArrayCopyData(source.Get(), other.Get()), E_INVALIDARG);
}

}  // namespace
