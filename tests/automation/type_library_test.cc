// The module's type library, read by the real oleaut32: its ISafeArray matches the object's
// slot order, and oleaut32's standard dispatch over it drives the object through the
// vtable with real DISPPARAMS, by-reference results and exception records.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "automation/safe_array.h"
#include "platform/process_info.h"

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

// A client bound to the type library calls the object's own IDispatch with the library's
// ids: every operation with a member of the object's name table has that member's id, so
// "LoadFromFile" loads and never saves over the file.
TEST(TypeLibrary, DispatchIdsAreTheObjectsOwn) {
  auto info = SafeArrayInterfaceInfo();
  ASSERT_TRUE(info);
  // The dispatch description of the dual interface carries the ids a bound client uses.
  ComPtr<ITypeLib> library;
  UINT index = 0;
  ASSERT_EQ(info->GetContainingTypeLib(library.Put(), &index), S_OK);
  ComPtr<ITypeInfo> dispatchInfo;
  ASSERT_EQ(library->GetTypeInfoOfGuid(IID_ISafeArray, dispatchInfo.Put()), S_OK);
  auto array = CreateSafeArray();
  ComPtr<IDispatch> object;
  ASSERT_EQ(array.QueryInterface(IID_IDispatch, object), S_OK);

  const std::pair<const wchar_t*, const wchar_t*> sameMember[] = {
      {L"SetBounds", L"SetBounds"}, {L"SetValue", L"SetValue"}, {L"GetValue", L"GetValue"},
      {L"GetBounds", L"GetBounds"}, {L"IsEmpty", L"Empty"}, {L"GetPSA", L"__PSA"}, {L"SetPSA", L"__SetPSA"},
      {L"SaveToFile", L"SaveToFile"}, {L"LoadFromFile", L"LoadFromFile"},
      {L"LoadFromFileAsStream", L"LoadFromFileAsStream"}, {L"SaveToFileAsStream", L"SaveToFileAsStream"}};
  for (auto [operation, member] : sameMember) {
    LPOLESTR names[1] = {const_cast<LPOLESTR>(operation)};
    MEMBERID libraryId = -1;
    ASSERT_EQ(dispatchInfo->GetIDsOfNames(names, 1, &libraryId), S_OK) << operation;
    names[0] = const_cast<LPOLESTR>(member);
    DISPID objectId = -2;
    ASSERT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &objectId), S_OK) << member;
    EXPECT_EQ(libraryId, objectId) << operation;
  }

  // LoadFromFile by the library's id on a file that is no storage, while the object holds a
  // byte table (which a raw save would write): it fails to load, and the file keeps its bytes.
  const std::wstring path = std::filesystem::temp_directory_path().wstring() + L"vestrel_typelib_load_" + std::to_wstring(platform::CurrentProcessId()) + L".bin";
  const std::wstring bytesPath = std::filesystem::temp_directory_path().wstring() + L"vestrel_typelib_bytes_" + std::to_wstring(platform::CurrentProcessId()) + L".bin";
  { std::ofstream(std::filesystem::path(path), std::ios::binary) << "not a table"; }
  { std::ofstream(std::filesystem::path(bytesPath), std::ios::binary) << "bytes of the object"; }
  OleString bytesName(bytesPath.c_str());
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(array->LoadFromFileAsStream(bytesName.Get(), &done), S_OK);
  ASSERT_EQ(done, VARIANT_TRUE);
  std::filesystem::remove(std::filesystem::path(bytesPath));
  LPOLESTR names[1] = {const_cast<LPOLESTR>(L"LoadFromFile")};
  MEMBERID loadId = -1;
  ASSERT_EQ(dispatchInfo->GetIDsOfNames(names, 1, &loadId), S_OK);
  OleVariant fileName(path);
  DISPPARAMS params{&fileName, nullptr, 1, 0};
  OleVariant result;
  EXCEPINFO exception{};
  object->Invoke(loadId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Put(), &exception, nullptr);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  std::ifstream check(std::filesystem::path(path), std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(check)), std::istreambuf_iterator<char>());
  check.close();
  EXPECT_EQ(content, "not a table");
  std::filesystem::remove(std::filesystem::path(path));
}
