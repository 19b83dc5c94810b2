// The owners of ole_ptr.h: references, strings, variants and arrays are released exactly once.
#include "platform/ole_ptr.h"

#include <gtest/gtest.h>

#include <utility>

#include "platform/ole_test_objects.h"

namespace {

using ole_test::ValueObject;

TEST(OlePtr, ComPtrCountsReferences) {
  auto* object = new ValueObject();
  {
    ComPtr<IDispatch> a(object);
    EXPECT_EQ(object->References(), 2u);
    ComPtr<IDispatch> b = a;
    EXPECT_EQ(object->References(), 3u);
    ComPtr<IDispatch> c = std::move(b);
    EXPECT_FALSE(b);
    EXPECT_EQ(object->References(), 3u);
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(c.QueryInterface(IID_IUnknown, unknown), S_OK);
    EXPECT_EQ(object->References(), 4u);
    IDispatch* out = nullptr;
    ASSERT_EQ(c.CopyTo(&out), S_OK);
    EXPECT_EQ(object->References(), 5u);
    out->Release();
    IDispatch* detached = c.Detach();
    EXPECT_FALSE(c);
    c.Attach(detached);  // takes the reference back without adding one
    EXPECT_EQ(object->References(), 4u);
  }
  EXPECT_EQ(object->References(), 1u);
  object->Release();
}

TEST(OlePtr, OleStringOwnsItsBstr) {
  OleString a(OLESTR("text"));
  OleString b = a;
  EXPECT_NE(a.Get(), b.Get());
  EXPECT_EQ(b.Text(), a.Text());
  BSTR raw = b.Detach();
  EXPECT_EQ(b.Get(), nullptr);
  OleString adopted = OleString::Adopt(raw);
  EXPECT_EQ(adopted.Get(), raw);
  EXPECT_EQ(OleString().Length(), 0u);
  EXPECT_TRUE(OleString().Empty());
}

TEST(OlePtr, OleVariantValuesAndOwnership) {
  EXPECT_EQ(OleVariant(5).vt, VT_I4);
  EXPECT_EQ(OleVariant(5u).vt, VT_UI4);
  EXPECT_EQ(OleVariant(int64_t(5)).vt, VT_I8);
  EXPECT_EQ(OleVariant(short(5)).vt, VT_I4);
  EXPECT_EQ(OleVariant(2.5).vt, VT_R8);
  OleVariant flag(true);
  EXPECT_EQ(flag.vt, VT_BOOL);
  EXPECT_EQ(flag.boolVal, VARIANT_TRUE);
  OleVariant text(OLESTR("abc"));
  EXPECT_EQ(text.vt, VT_BSTR);
  EXPECT_EQ(SysStringLen(text.bstrVal), 3u);

  OleVariant copy = text;
  EXPECT_NE(copy.bstrVal, text.bstrVal);
  OleVariant moved = std::move(copy);
  EXPECT_EQ(copy.vt, VT_EMPTY);
  EXPECT_EQ(moved.vt, VT_BSTR);

  auto* object = new ValueObject();
  {
    OleVariant holder(static_cast<IDispatch*>(object));
    EXPECT_EQ(object->References(), 2u);
    VARIANT raw = holder.Detach();
    EXPECT_EQ(holder.vt, VT_EMPTY);
    OleVariant back = OleVariant::Adopt(raw);
    EXPECT_EQ(raw.vt, VT_EMPTY);
    EXPECT_EQ(object->References(), 2u);
  }
  EXPECT_EQ(object->References(), 1u);
  object->Release();

  OleVariant number(OLESTR("12"));
  ASSERT_EQ(number.ChangeType(VT_I4), S_OK);
  EXPECT_EQ(number.lVal, 12);
}

TEST(OlePtr, SafeArrayOwnersAndDataLock) {
  SafeArrayPtr array(SafeArrayCreateVector(VT_I4, 0, 3));
  {
    SafeArrayDataLock lock(array.Get());
    lock.As<LONG>()[1] = 8;
    EXPECT_EQ(array->cLocks, 1u);
  }
  EXPECT_EQ(array->cLocks, 0u);
  SafeArrayPtr copy = array.Copy();
  EXPECT_EQ(static_cast<LONG*>(copy->pvData)[1], 8);
  SafeArrayPtr moved = std::move(copy);
  EXPECT_FALSE(copy);
  EXPECT_THROW(SafeArrayDataLock(nullptr), OleError);
}

}  // namespace
