// The module's type library, read by the real oleaut32: its ISafeArray matches the object's
// slot order, and oleaut32's standard dispatch over it drives the object through the
// vtable with real DISPPARAMS, by-reference results and exception records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "automation/safe_array.h"

namespace {

ComPtr<ITypeInfo> SafeArrayInterfaceInfo() {
  wchar_t module[MAX_PATH];
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  ComPtr<ITypeLib> library;
  EXPECT_EQ(LoadTypeLibEx(module, REGKIND_NONE, library.Put()), S_OK);
  if (!library) return nullptr;
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(library->GetTypeInfoOfGuid(IID_ISafeArray, info.Put()), S_OK);
  if (!info) return nullptr;
  // A dual interface: the dispatch description leads to the vtable one.
  HREFTYPE vtableRef = 0;
  if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &vtableRef))) {
    ComPtr<ITypeInfo> vtableInfo;
    if (SUCCEEDED(info->GetRefTypeInfo(vtableRef, vtableInfo.Put()))) return vtableInfo;
  }
  return info;
}

struct StdCall {
  HRESULT Status;
  OleVariant Result;
  std::wstring Description;
};

StdCall CallThrough(IDispatch* dispatch, const wchar_t* name, std::vector<VARIANT> args) {
  StdCall call{};
  LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
  DISPID id = 0;
  call.Status = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(call.Status)) return call;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.data(), nullptr, UINT(reversed.size()), 0};
  EXCEPINFO info{};
  UINT argError = 0;
  call.Status = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, call.Result.Put(),
                                 &info, &argError);
  if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
  if (info.bstrDescription) call.Description = OleString::Adopt(info.bstrDescription).Str();
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrHelpFile);
  return call;
}

VARIANT Long(LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

}  // namespace

TEST(TypeLibrary, DescribesTheSlotOrderOfISafeArray) {
  auto info = SafeArrayInterfaceInfo();
  ASSERT_TRUE(info);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_ISafeArray));
  const WORD functions = attributes->cFuncs;
  info->ReleaseTypeAttr(attributes);
  ASSERT_EQ(functions, 13);
  const wchar_t* expected[] = {L"SetBounds", L"SetValue", L"GetPSA", L"GetVarType", L"IsEmpty", L"SetPSA",
                               L"SetPSAOfType", L"GetBounds", L"SaveToFile", L"LoadFromFile",
                               L"LoadFromFileAsStream", L"SaveToFileAsStream", L"GetValue"};
  for (UINT i = 0; i < functions; ++i) {
    FUNCDESC* function = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &function), S_OK);
    BSTR name = nullptr;
    UINT count = 0;
    info->GetNames(function->memid, &name, 1, &count);
    EXPECT_EQ(OleString::Adopt(name).Str(), expected[i]);
    // After the seven operations of IUnknown and IDispatch.
    EXPECT_EQ(function->oVft, SHORT((7 + i) * sizeof(void*))) << i;
    info->ReleaseFuncDesc(function);
  }
}

TEST(TypeLibrary, StandardDispatchDrivesTheVtable) {
  auto info = SafeArrayInterfaceInfo();
  ASSERT_TRUE(info);
  auto array = CreateSafeArray();
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(CreateStdDispatch(nullptr, array.Get(), info.Get(), unknown.Put()), S_OK);
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(unknown.QueryInterface(IID_IDispatch, dispatch), S_OK);

  EXPECT_EQ(CallThrough(dispatch.Get(), L"SetBounds", {Long(3), Long(2)}).Status, S_OK);
  OleVariant text(std::wstring(L"значение"));
  EXPECT_EQ(CallThrough(dispatch.Get(), L"SetValue", {Long(2), Long(1), text}).Status, S_OK);
  auto value = CallThrough(dispatch.Get(), L"GetValue", {Long(2), Long(1)});
  ASSERT_EQ(value.Status, S_OK);
  ASSERT_EQ(value.Result.vt, VT_BSTR);
  EXPECT_EQ(OleString(value.Result.bstrVal).Str(), L"значение");

  LONG rows = 0, columns = 0;
  VARIANT rowsRef, columnsRef;
  rowsRef.vt = VT_BYREF | VT_I4;
  rowsRef.plVal = &rows;
  columnsRef.vt = VT_BYREF | VT_I4;
  columnsRef.plVal = &columns;
  EXPECT_EQ(CallThrough(dispatch.Get(), L"GetBounds", {rowsRef, columnsRef}).Status, S_OK);
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(columns, 2);
  auto empty = CallThrough(dispatch.Get(), L"IsEmpty", {});
  EXPECT_EQ(empty.Result.vt, VT_I4);
  EXPECT_EQ(empty.Result.lVal, 0);

  auto failure = CallThrough(dispatch.Get(), L"GetValue", {Long(3), Long(0)});
  EXPECT_EQ(failure.Status, DISP_E_EXCEPTION);
  EXPECT_EQ(failure.Description, L"Номер элемента массива за пределами границ.");
}
