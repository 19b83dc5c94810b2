// The two-dimensional array object through both ways in: ISafeArray and late binding.
#include "automation/safe_array.h"
#include "automation/safe_array_dispids.h"

#include <gtest/gtest.h>

#include "auto_call.h"
#include <cstring>

#include "base/errors.h"
#include "host/wire/memory_stream.h"
#include "host/wire/variant_stream.h"
#include "platform/automation_classes.h"

namespace {

const std::string kOutOfRange = "Номер элемента массива за пределами границ.";

ComPtr<IDispatch> AsDispatch(const ComPtr<ISafeArray>& array) {
  ComPtr<IDispatch> dispatch;
  EXPECT_EQ(array.QueryInterface(IID_IDispatch, dispatch), S_OK);
  return dispatch;
}

// The description of the thread's automation error information after a failed operation.
std::string LastErrorDescription() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info) return "<none>";
  OleString description;
  info->GetDescription(description.Put());
  return Utf8FromWide(description.Text());
}

LONG GetLong(const OleVariant& value) {
  OleVariant copy(value);
  EXPECT_EQ(copy.ChangeType(VT_I4), S_OK);
  return copy.lVal;
}

VARIANT Text(OleVariant& holder, const char* utf8) {
  holder = OleVariant(WideFromUtf8(utf8));
  return holder;
}

}  // namespace

TEST(SafeArrayObject, NewObjectIsEmptyWithOneStorageElement) {
  auto array = CreateSafeArray();
  LONG empty = 0, x = -1, y = -1, type = 0;
  EXPECT_EQ(array->IsEmpty(&empty), S_OK);
  EXPECT_EQ(empty, 1);
  EXPECT_EQ(array->GetBounds(&x, &y), S_OK);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(array->GetVarType(&type), S_OK);
  EXPECT_EQ(type, VT_VARIANT);
  SAFEARRAY* storage = nullptr;
  EXPECT_EQ(array->GetPSA(&storage), S_OK);
  ASSERT_NE(storage, nullptr);
  EXPECT_EQ(SafeArrayGetDim(storage), 2u);
  LONG upper = -1;
  SafeArrayGetUBound(storage, 1, &upper);
  EXPECT_EQ(upper, 0);

  OleVariant value;
  EXPECT_EQ(array->GetValue(0, 0, value.Put()), E_FAIL);
  EXPECT_EQ(LastErrorDescription(), kOutOfRange);
}

TEST(SafeArrayObject, SetBoundsKeepsTheOverlap) {
  auto array = CreateSafeArray();
  ASSERT_EQ(array->SetBounds(3, 2), S_OK);
  for (LONG x = 0; x < 3; ++x)
    for (LONG y = 0; y < 2; ++y) ASSERT_EQ(array->SetValue(x, y, OleVariant(int32_t(10 * x + y))), S_OK);
  OleVariant value;
  EXPECT_EQ(array->GetValue(2, 1, value.Put()), S_OK);
  EXPECT_EQ(value.lVal, 21);
  EXPECT_EQ(array->GetValue(3, 0, value.Put()), E_FAIL);

  ASSERT_EQ(array->SetBounds(2, 5), S_OK);
  for (LONG x = 0; x < 2; ++x) {
    for (LONG y = 0; y < 5; ++y) {
      ASSERT_EQ(array->GetValue(x, y, value.Put()), S_OK);
      if (y < 2) {
        EXPECT_EQ(value.lVal, 10 * x + y);
      } else {
        EXPECT_EQ(value.vt, VT_EMPTY);
      }
    }
  }
  // Negative sizes are ignored.
  EXPECT_EQ(array->SetBounds(-1, 4), S_OK);
  LONG x = 0, y = 0;
  array->GetBounds(&x, &y);
  EXPECT_EQ(x, 2);
  EXPECT_EQ(y, 5);

  // Zero rows: an empty object over a one-row storage.
  EXPECT_EQ(array->SetBounds(0, 4), S_OK);
  LONG empty = 0;
  array->IsEmpty(&empty);
  EXPECT_EQ(empty, 1);
  SAFEARRAY* storage = nullptr;
  array->GetPSA(&storage);
  LONG upperX = -1, upperY = -1;
  SafeArrayGetUBound(storage, 1, &upperX);
  SafeArrayGetUBound(storage, 2, &upperY);
  EXPECT_EQ(upperX, 0);
  EXPECT_EQ(upperY, 3);
  auto outcome = InvokeByName(AsDispatch(array).Get(), "RowCount", DISPATCH_PROPERTYGET);
  EXPECT_EQ(GetLong(outcome.Result), 0);
}

TEST(SafeArrayObject, SetValueStoresReferencesByValue) {
  auto array = CreateSafeArray();
  array->SetBounds(1, 6);
  LONG integer = 5;
  double real = 1.25;
  CY money;
  money.int64 = 123456;  // 12.3456
  OleString text(WideFromUtf8("Код"));
  BSTR textSlot = text.Get();
  OleVariant inner(int32_t(77));
  VARIANT refs[5];
  refs[0].vt = VT_BYREF | VT_I4;
  refs[0].plVal = &integer;
  refs[1].vt = VT_BYREF | VT_R8;
  refs[1].pdblVal = &real;
  refs[2].vt = VT_BYREF | VT_CY;
  refs[2].pcyVal = &money;
  refs[3].vt = VT_BYREF | VT_BSTR;
  refs[3].pbstrVal = &textSlot;
  refs[4] = ByRef(&inner);
  for (LONG y = 0; y < 5; ++y) ASSERT_EQ(array->SetValue(0, y, refs[y]), S_OK) << y;
  integer = 0;
  real = 0;
  inner = OleVariant(int32_t(0));

  OleVariant value;
  array->GetValue(0, 0, value.Put());
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 5);
  array->GetValue(0, 1, value.Put());
  EXPECT_EQ(value.vt, VT_R8);
  EXPECT_EQ(value.dblVal, 1.25);
  array->GetValue(0, 2, value.Put());
  EXPECT_EQ(value.vt, VT_R8);
  EXPECT_DOUBLE_EQ(value.dblVal, 12.3456);
  array->GetValue(0, 3, value.Put());
  ASSERT_EQ(value.vt, VT_BSTR);
  EXPECT_EQ(Utf8FromWide(OleString(value.bstrVal).Text()), "Код");
  array->GetValue(0, 4, value.Put());
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 77);

  VARIANT_BOOL flag = VARIANT_TRUE;
  VARIANT boolRef;
  boolRef.vt = VT_BYREF | VT_BOOL;
  boolRef.pboolVal = &flag;
  EXPECT_EQ(array->SetValue(0, 5, boolRef), E_FAIL);
  EXPECT_EQ(LastErrorDescription(), "Ошибка типа параметра. 11");
  array->GetValue(0, 5, value.Put());
  EXPECT_EQ(value.vt, VT_EMPTY);

  EXPECT_EQ(array->SetValue(1, 0, OleVariant(WideFromUtf8("текст"))), E_FAIL);
  EXPECT_EQ(LastErrorDescription(), kOutOfRange + " X:1 Y:0 CountX:1 CountY:6\r\nтекст");
}

TEST(SafeArrayObject, SetPsaTakesTheArrayOver) {
  auto array = CreateSafeArray();
  SAFEARRAYBOUND bounds[2] = {{4, 0}, {3, 0}};
  SAFEARRAY* adopted = SafeArrayCreate(VT_VARIANT, 2, bounds);
  LONG index[2] = {3, 2};
  OleVariant last(int32_t(9));
  SafeArrayPutElement(adopted, index, last.Get());
  EXPECT_EQ(array->SetPSA(nullptr), S_OK);
  ASSERT_EQ(array->SetPSA(adopted), S_OK);
  SAFEARRAY* storage = nullptr;
  array->GetPSA(&storage);
  EXPECT_EQ(storage, adopted);  // no copy
  LONG x = 0, y = 0;
  array->GetBounds(&x, &y);
  EXPECT_EQ(x, 4);
  EXPECT_EQ(y, 3);
  OleVariant value;
  array->GetValue(3, 2, value.Put());
  EXPECT_EQ(value.lVal, 9);
  // Handing the object its own storage keeps it alive.
  EXPECT_EQ(array->SetPSA(storage), S_OK);
  array->GetValue(3, 2, value.Put());
  EXPECT_EQ(value.lVal, 9);

  SAFEARRAYBOUND byteBounds[2] = {{1, 0}, {4, 0}};
  SAFEARRAY* bytes = SafeArrayCreate(VT_UI1, 2, byteBounds);
  ASSERT_EQ(array->SetPSAOfType(bytes, VT_UI1), S_OK);
  LONG type = 0;
  array->GetVarType(&type);
  EXPECT_EQ(type, VT_UI1);
  array->GetBounds(&x, &y);
  EXPECT_EQ(x, 1);
  EXPECT_EQ(y, 4);
}

TEST(SafeArrayObject, IsSafeArrayAndClassRegistration) {
  auto array = CreateSafeArray();
  OleVariant holder(AsDispatch(array).Get());
  EXPECT_TRUE(IsSafeArray(holder));
  EXPECT_FALSE(IsSafeArray(OleVariant(int32_t(1))));
  OleVariant nothing;
  nothing.vt = VT_DISPATCH;
  EXPECT_FALSE(IsSafeArray(nothing));
  // The class is registered with COM once COM is ready in the process.
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  CreateSafeArray();
  ComPtr<IDispatch> created;
  ASSERT_EQ(platform::CreateAutomationObject(CLSID_SafeArray, created.Put()), S_OK);
  EXPECT_TRUE(IsSafeArray(OleVariant(created.Get())));
  // Every call gives a new object.
  EXPECT_NE(CreateSafeArray().Get(), array.Get());
}

TEST(SafeArrayLateBound, MembersHaveIdsZeroToThirteen) {
  auto dispatch = AsDispatch(CreateSafeArray());
  const char* names[] = {"GetBounds", "SetBounds", "GetValue", "SetValue", "Empty", "__PSA", "SetRowValues",
                         "__SetPSA", "LoadFromFile", "SaveToFile", "SaveToFileAsStream", "LoadFromFileAsStream",
                         "RowCount", "ColCount"};
  // The table the type library is compiled from holds the same ids.
  const DISPID shared[] = {DISPID_SAFEARRAY_GETBOUNDS, DISPID_SAFEARRAY_SETBOUNDS, DISPID_SAFEARRAY_GETVALUE,
                           DISPID_SAFEARRAY_SETVALUE, DISPID_SAFEARRAY_EMPTY, DISPID_SAFEARRAY_PSA,
                           DISPID_SAFEARRAY_SETROWVALUES, DISPID_SAFEARRAY_SETPSA, DISPID_SAFEARRAY_LOADFROMFILE,
                           DISPID_SAFEARRAY_SAVETOFILE, DISPID_SAFEARRAY_SAVETOFILEASSTREAM,
                           DISPID_SAFEARRAY_LOADFROMFILEASSTREAM, DISPID_SAFEARRAY_ROWCOUNT, DISPID_SAFEARRAY_COLCOUNT};
  for (DISPID expected = 0; expected < 14; ++expected) {
    WideString wide = WideFromUtf8(names[expected]);
    LPOLESTR name[1] = {wide.data()};
    DISPID id = -1;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, name, 1, 0, &id), S_OK) << names[expected];
    EXPECT_EQ(id, expected);
    EXPECT_EQ(shared[expected], expected) << names[expected];
  }
  // The interface's operations without a member here have ids the object does not know.
  for (DISPID unknown : {DISPID_SAFEARRAY_GETVARTYPE, DISPID_SAFEARRAY_SETPSAOFTYPE}) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    OleVariant result;
    EXPECT_TRUE(FAILED(dispatch->Invoke(unknown, IID_NULL, 0, DISPATCH_METHOD, &none, result.Put(), nullptr, nullptr)));
    EXPECT_EQ(result.vt, VT_EMPTY);
  }
  WideString lower = WideFromUtf8("getbounds");
  LPOLESTR name[1] = {lower.data()};
  DISPID id = -1;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, name, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 0);
}

TEST(SafeArrayLateBound, BoundsValuesAndRowsThroughInvoke) {
  auto array = CreateSafeArray();
  auto dispatch = AsDispatch(array);
  EXPECT_EQ(InvokeByName(dispatch.Get(), "SetBounds", DISPATCH_METHOD, {IntArg(2), IntArg(3)}).Status, S_OK);

  LONG rows = -1;
  OleVariant cols;
  EXPECT_EQ(InvokeByName(dispatch.Get(), "GetBounds", DISPATCH_METHOD, {ByRefInt(&rows), ByRef(&cols)}).Status, S_OK);
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(GetLong(cols), 3);

  OleVariant a, b, c, d;
  auto stored = InvokeByName(dispatch.Get(), "SetRowValues", DISPATCH_METHOD,
                             {IntArg(1), Text(a, "a"), Text(b, "b"), Text(c, "c")});
  EXPECT_EQ(stored.Status, S_OK);
  auto value = InvokeByName(dispatch.Get(), "GetValue", DISPATCH_METHOD, {IntArg(1), IntArg(2)});
  ASSERT_EQ(value.Result.vt, VT_BSTR);
  EXPECT_EQ(Utf8FromWide(OleString(value.Result.bstrVal).Text()), "c");

  auto tooMany = InvokeByName(dispatch.Get(), "SetRowValues", DISPATCH_METHOD,
                              {IntArg(0), Text(a, "x"), Text(b, "y"), Text(c, "z"), Text(d, "w")});
  EXPECT_EQ(tooMany.Status, DISP_E_EXCEPTION);
  EXPECT_EQ(tooMany.Description, kOutOfRange + " X:0 Y:3 CountX:2 CountY:3\r\nw");
  value = InvokeByName(dispatch.Get(), "GetValue", DISPATCH_METHOD, {IntArg(0), IntArg(2)});
  EXPECT_EQ(Utf8FromWide(OleString(value.Result.bstrVal).Text()), "z");

  EXPECT_EQ(InvokeByName(dispatch.Get(), "SetRowValues", DISPATCH_METHOD, {IntArg(0)}).Status, S_OK);

  OleVariant byRefValue(2.5);
  EXPECT_EQ(InvokeByName(dispatch.Get(), "SetValue", DISPATCH_METHOD, {IntArg(0), IntArg(0), ByRef(&byRefValue)}).Status,
            S_OK);
  value = InvokeByName(dispatch.Get(), "GetValue", DISPATCH_METHOD, {IntArg(0), IntArg(0)});
  EXPECT_EQ(value.Result.vt, VT_R8);

  EXPECT_EQ(GetLong(InvokeByName(dispatch.Get(), "Empty", DISPATCH_METHOD).Result), 0);
  EXPECT_EQ(GetLong(InvokeByName(dispatch.Get(), "ColCount", DISPATCH_PROPERTYGET).Result), 3);

  auto put = InvokeByName(dispatch.Get(), "RowCount", DISPATCH_PROPERTYPUT, {IntArg(5)});
  EXPECT_EQ(put.Status, DISP_E_EXCEPTION);
  EXPECT_EQ(put.Description, "Свойство недоступно для записи [ROWCOUNT]");

  auto wrongCount = InvokeByName(dispatch.Get(), "GetValue", DISPATCH_METHOD, {IntArg(0)});
  EXPECT_EQ(wrongCount.Description, "Неверное число параметров для [GETVALUE]");
  auto outside = InvokeByName(dispatch.Get(), "GetValue", DISPATCH_METHOD, {IntArg(5), IntArg(0)});
  EXPECT_EQ(outside.Status, DISP_E_EXCEPTION);
  EXPECT_EQ(outside.Description, kOutOfRange);
  EXPECT_EQ(outside.Source, "Exception");
}

TEST(SafeArrayLateBound, PsaHandleGoesOutAndComesBack) {
  auto source = CreateSafeArray();
  source->SetBounds(2, 2);
  source->SetValue(1, 1, OleVariant(int32_t(5)));
  auto handle = InvokeByName(AsDispatch(source).Get(), "__PSA", DISPATCH_METHOD);
  SAFEARRAY* storage = nullptr;
  source->GetPSA(&storage);
  OleVariant expected(reinterpret_cast<intptr_t>(storage));
  EXPECT_EQ(handle.Result.vt, expected.vt);

  SafeArrayPtr copy;
  ASSERT_EQ(SafeArrayCopy(storage, copy.Put()), S_OK);
  auto target = CreateSafeArray();
  OleVariant copyHandle(reinterpret_cast<intptr_t>(copy.Get()));
  ASSERT_EQ(InvokeByName(AsDispatch(target).Get(), "__SetPSA", DISPATCH_METHOD, {copyHandle}).Status, S_OK);
  (void)copy.Detach();  // the target owns it now
  OleVariant value;
  target->GetValue(1, 1, value.Put());
  EXPECT_EQ(value.lVal, 5);
}

TEST(SafeArrayStream, TwoDimensionalArraysReadBackAsArrayObjects) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  SafeArrayPtr plain(SafeArrayCreate(VT_VARIANT, 2, bounds));
  LONG index[2] = {1, 0};
  OleVariant element(int32_t(12));
  SafeArrayPutElement(plain.Get(), index, element.Get());
  OleVariant array = OleVariant::AdoptArray(plain.Detach(), VT_VARIANT);

  TMyMemoryStream stream;
  WriteVariant(stream, array);
  stream.Seek(0);
  OleVariant read;
  ReadVariant(stream, read);
  ASSERT_TRUE(IsSafeArray(read));
  ComPtr<ISafeArray> object;
  ASSERT_EQ(read.pdispVal->QueryInterface(IID_ISafeArray, object.PutVoid()), S_OK);
  LONG x = 0, y = 0;
  object->GetBounds(&x, &y);
  EXPECT_EQ(x, 2);
  EXPECT_EQ(y, 2);
  OleVariant value;
  object->GetValue(1, 0, value.Put());
  EXPECT_EQ(value.lVal, 12);

  // The object in a variant is written exactly as its array was.
  TMyMemoryStream again;
  WriteVariant(again, read);
  ASSERT_EQ(again.Size(), stream.Size());
  EXPECT_EQ(std::memcmp(again.Memory(), stream.Memory(), size_t(stream.Size())), 0);

  // One- and three-dimensional arrays stay plain arrays.
  SAFEARRAYBOUND line[1] = {{3, 0}};
  OleVariant vector = OleVariant::AdoptArray(SafeArrayCreate(VT_VARIANT, 1, line), VT_VARIANT);
  TMyMemoryStream vectorStream;
  WriteVariant(vectorStream, vector);
  vectorStream.Seek(0);
  ReadVariant(vectorStream, read);
  EXPECT_EQ(read.vt, VT_ARRAY | VT_VARIANT);
}
