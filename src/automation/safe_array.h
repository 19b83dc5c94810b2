#pragma once
// TSafeArray: a two-dimensional table of variants handed to the host as an automation
// object. Rows are addressed by X, columns by Y, both from 0. The host reaches it late-bound
// through the object's own name table (GetBounds, SetValue, SaveToFile, ...) or early-bound
// through ISafeArray; it can be saved to and loaded from the array storage file.

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "automation/base_auto_object.h"
#include "platform/ole_ptr.h"
#include "vestrel/plugin_abi.h"
#include "vestrel/safe_array.h"


// The class id of the array object ({6E623B63-B6B8-4429-83A2-C25724FBDFE8}).
inline constexpr CLSID CLSID_SafeArray = {
    0x6E623B63, 0xB6B8, 0x4429, {0x83, 0xA2, 0xC2, 0x57, 0x24, 0xFB, 0xDF, 0xE8}};

class TSafeArray : public TBaseAutoObject, public ISafeArray, public ISupportErrorInfo {
public:
  // IUnknown and IDispatch, shared by the object's interfaces.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return TBaseAutoObject::QueryInterface(iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return TBaseAutoObject::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return TBaseAutoObject::Release(); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    return TBaseAutoObject::GetTypeInfoCount(count);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    return TBaseAutoObject::GetTypeInfo(index, locale, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT nameCount, LCID locale,
                                          DISPID* ids) override {
    return TBaseAutoObject::GetIDsOfNames(iid, names, nameCount, locale, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* args,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
    return TBaseAutoObject::Invoke(id, iid, locale, flags, args, result, exception, argError);
  }

  // ISafeArray
  HRESULT STDMETHODCALLTYPE SetBounds(LONG X, LONG Y) override;
  HRESULT STDMETHODCALLTYPE SetValue(LONG X, LONG Y, VARIANT Value) override;
  HRESULT STDMETHODCALLTYPE GetPSA(SAFEARRAY** Result) override;
  HRESULT STDMETHODCALLTYPE GetVarType(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE IsEmpty(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE SetPSA(SAFEARRAY* Value) override;
  HRESULT STDMETHODCALLTYPE SetPSAOfType(SAFEARRAY* Value, LONG VarType) override;
  HRESULT STDMETHODCALLTYPE GetBounds(LONG* X, LONG* Y) override;
  HRESULT STDMETHODCALLTYPE SaveToFile(BSTR FileName, VARIANT_BOOL* Done) override;
  HRESULT STDMETHODCALLTYPE LoadFromFile(BSTR FileName, VARIANT_BOOL* Done) override;
  HRESULT STDMETHODCALLTYPE LoadFromFileAsStream(BSTR FileName, VARIANT_BOOL* Done) override;
  HRESULT STDMETHODCALLTYPE SaveToFileAsStream(BSTR FileName, VARIANT_BOOL* Done) override;
  HRESULT STDMETHODCALLTYPE GetValue(LONG X, LONG Y, VARIANT* Value) override;

  // ISupportErrorInfo: ISafeArray failures carry automation error information.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  const char* ClassName() const override { return "TSafeArray"; }

  // The operations behind both ways in; failures raise exceptions.
  void Resize(int32_t countX, int32_t countY);
  OleVariant ElementAt(int32_t x, int32_t y) const;
  void StoreElement(int32_t x, int32_t y, const VARIANT& value);
  // True when `array` can be an object's storage: two dimensions, each with lower bound 0
  // and at least one element, and counts (upper bound + 1) that fit 32 bits.
  static bool DescribesTable(SAFEARRAY* array);
  static bool HasTableBounds(const LONG lower[2], const LONG upper[2]);
  // Takes the array over (null changes nothing); the counts follow its upper bounds.
  void AdoptArray(SAFEARRAY* array, VARTYPE elementType);
  SAFEARRAY* StorageHandle() const { return FArray.parray; }
  // The element type of the storage (VT_VARIANT unless an array of another type was adopted).
  VARTYPE ElementType() const { return VARTYPE(FArray.vt & ~VT_ARRAY); }
  bool Empty() const { return FCountX <= 0 || FCountY <= 0; }
  int32_t CountX() const { return FCountX; }
  int32_t CountY() const { return FCountY; }

  // The storage file and the raw form; each returns done. A missing file is no failure.
  bool SaveStorageFile(const std::filesystem::path& path) const;
  bool LoadStorageFile(const std::filesystem::path& path);
  bool SaveRawFile(const std::filesystem::path& path) const;
  bool LoadRawFile(const std::filesystem::path& path);
  // The storage file's contents, already read: checked, unpacked and taken over as
  // LoadStorageFile does. Failures raise the storage file's messages; the object is unchanged.
  void LoadStorage(std::span<const uint8_t> file);
  // The storage file's contents for the object as it stands (what SaveStorageFile writes).
  std::vector<uint8_t> SaveStorage() const;

protected:
  friend class TBaseAutoObject;
  TSafeArray();
  ~TSafeArray() override;

  void RegisterMembers() override;
  bool UsesOwnNameTable() const override { return true; }
  IUnknown* FindInterface(REFIID iid) override;

private:
  void CheckElementIndex(int32_t x, int32_t y) const;

  OleVariant FArray;  // VT_ARRAY | element type, two dimensions, lower bounds 0
  int32_t FCountX = 0;
  int32_t FCountY = 0;
};

// A new, empty array object (1 x 1 storage, counts 0 and 0). The first call registers the
// class with the process's automation classes.
ComPtr<ISafeArray> CreateSafeArray();

// A new array object holding `array` (taken over) with the given element type.
ComPtr<ISafeArray> CreateSafeArrayOf(SAFEARRAY* array, VARTYPE elementType);

// Connects the variant stream to the array object: two-dimensional arrays read from a
// stream become array objects, and array objects are written as their arrays. Runs when the
// module is loaded; calling it again does no harm.
void InstallSafeArrayStreamHooks() noexcept;

// True when the value is an object (dispatch) that answers ISafeArray.
bool IsSafeArray(const VARIANT& value);
