#include "automation/safe_array.h"

#include <algorithm>
#include <limits>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>

#include "automation/array_storage.h"
#include "automation/safe_array_dispids.h"
#include "base/errors.h"
#include "base/guarded_entry.h"
#include "host/wire/variant_stream.h"
#include "host/wire/variant_text.h"
#include "platform/automation_classes.h"

namespace {

AnsiString Message(const char* utf8) { return AnsiFromUtf8(utf8); }

// Lets other threads of the process run during long fill loops.
void YieldToOtherThreads() { std::this_thread::yield(); }

std::filesystem::path PathOf(BSTR fileName) {
  return std::filesystem::path(std::basic_string<OLECHAR>(fileName ? fileName : OLESTR(""), SysStringLen(fileName)));
}

// A two-dimensional array of variants with `countX` x `countY` elements, lower bounds 0.
SafeArrayPtr NewVariantStorage(int32_t countX, int32_t countY) {
  SAFEARRAYBOUND bounds[2] = {{ULONG(countX), 0}, {ULONG(countY), 0}};
  SafeArrayPtr array(SafeArrayCreate(VT_VARIANT, 2, bounds));
  if (!array) throw std::bad_alloc();
  return array;
}

LONG UpperBound(SAFEARRAY* array, UINT dimension) {
  LONG bound = 0;
  CheckOle(SafeArrayGetUBound(array, dimension, &bound), "SafeArrayGetUBound");
  return bound;
}
LONG LowerBound(SAFEARRAY* array, UINT dimension) {
  LONG bound = 0;
  CheckOle(SafeArrayGetLBound(array, dimension, &bound), "SafeArrayGetLBound");
  return bound;
}

// One element of an array of any element type, as a variant of that type.
OleVariant ReadElement(SAFEARRAY* array, VARTYPE elementType, LONG x, LONG y) {
  LONG indices[2] = {x, y};
  OleVariant value;
  if (elementType == VT_VARIANT) {
    CheckOle(SafeArrayGetElement(array, indices, value.Get()), "SafeArrayGetElement");
    return value;
  }
  if (elementType == VT_DECIMAL) {
    // A decimal fills the whole variant, its type field included.
    DECIMAL decimal{};
    CheckOle(SafeArrayGetElement(array, indices, &decimal), "SafeArrayGetElement");
    value.decVal = decimal;
    value.vt = VT_DECIMAL;
    return value;
  }
  if (SafeArrayGetElemsize(array) > sizeof(value.llVal)) CheckOle(DISP_E_BADVARTYPE, "SafeArrayGetElement");
  CheckOle(SafeArrayGetElement(array, indices, &value.llVal), "SafeArrayGetElement");
  value.vt = elementType;
  return value;
}

// Stores a variant into an element of an array of any element type (converted for arrays
// of another element type than variant).
void WriteElement(SAFEARRAY* array, VARTYPE elementType, LONG x, LONG y, const VARIANT& value) {
  LONG indices[2] = {x, y};
  if (elementType == VT_VARIANT) {
    CheckOle(SafeArrayPutElement(array, indices, const_cast<VARIANT*>(&value)), "SafeArrayPutElement");
    return;
  }
  OleVariant converted(value);
  CheckOle(converted.ChangeType(elementType), "VariantChangeType");
  void* element = &converted.llVal;
  if (elementType == VT_DECIMAL) element = &converted.decVal;
  else if (elementType == VT_BSTR) element = converted.bstrVal;
  else if (elementType == VT_DISPATCH || elementType == VT_UNKNOWN) element = converted.punkVal;
  CheckOle(SafeArrayPutElement(array, indices, element), "SafeArrayPutElement");
}

// The value's text for messages; objects and other values without a text give a word for them.
AnsiString ValueTextForMessage(const VARIANT& value) {
  WideString text;
  if (VariantToText(value, text)) return AnsiFromWide(text);
  const VARTYPE type = ReferencedValue(value).vt & ~VT_BYREF;
  return type == VT_DISPATCH || type == VT_UNKNOWN ? Message("Объект") : AnsiString();
}

// The variant's type without the by-reference flag; currency counts as double.
VARTYPE SimpleVarType(const VARIANT& value) {
  const VARTYPE type = VARTYPE(value.vt & ~VT_BYREF);
  return type == VT_CY ? VARTYPE(VT_R8) : type;
}

// The by-value form of a by-reference value: its base type decides (currency is kept as a
// double of the same amount).
OleVariant ValueBehindReference(const VARIANT& value) {
  const VARTYPE type = SimpleVarType(value);
  OleVariant stored;
  switch (type) {
    case VT_I4:
      stored = OleVariant(int32_t(*value.plVal));
      break;
    case VT_R8:
      stored = (value.vt & ~VT_BYREF) == VT_CY ? OleVariant(double(value.pcyVal->int64) / 10000.0)
                                               : OleVariant(*value.pdblVal);
      break;
    case VT_DATE:
      stored.vt = VT_DATE;
      stored.date = *value.pdate;
      break;
    case VT_BSTR:
      stored = OleVariant(OleString(*value.pbstrVal).Text());
      break;
    case VT_DISPATCH:
      stored = OleVariant(*value.ppdispVal);
      break;
    case VT_VARIANT:
      CheckOle(VariantCopyInd(stored.Put(), value.pvarVal), "VariantCopyInd");
      break;
    default:
      throw Exception(Message("Ошибка типа параметра. ") + std::to_string(type));
  }
  return stored;
}

// ISafeArray operations report failures as a status with automation error information.
void SetAutomationError(const AnsiString& description) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.Put())) || !create) return;
  create->SetGUID(IID_ISafeArray);
  OleString source(WideFromUtf8("TSafeArray"));
  OleString text(WideFromAnsi(description));
  create->SetSource(source.Get());
  create->SetDescription(text.Get());
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.QueryInterface(IID_IErrorInfo, info))) SetErrorInfo(0, info.Get());
}

// An ISafeArray operation: the body's failure, of whatever kind, becomes E_FAIL with the error
// information; a body returning a status returns it.
template <class TBody>
HRESULT SafeCall(TBody&& body) noexcept {
  return GuardedComCall(
      E_FAIL,
      [&]() -> HRESULT {
        if constexpr (std::is_void_v<decltype(body())>) {
          body();
          return S_OK;
        } else {
          return body();
        }
      },
      [](const std::exception* error) {
        SetAutomationError(error != nullptr ? ExceptionMessage(*error) : AnsiString());
        return E_FAIL;
      });
}

// The late-bound file members hand their argument over as the file name.
std::filesystem::path PathArgument(const TAutoCallArgs& call) {
  OleVariant argument;
  TBaseAutoObject::GetArg(call.Args, 0, argument);
  const WideString name = VariantToWideText(argument);
  return std::filesystem::path(std::basic_string<OLECHAR>(name));
}

int32_t IntArgument(const TAutoCallArgs& call, int index) {
  OleVariant argument;
  TBaseAutoObject::GetArg(call.Args, index, argument);
  return VariantToInt32(argument);
}

// A storage handle travels late-bound as an integer as wide as a pointer.
OleVariant HandleVariant(SAFEARRAY* array) { return OleVariant(reinterpret_cast<intptr_t>(array)); }

SAFEARRAY* HandleArgument(const TAutoCallArgs& call) {
  OleVariant argument;
  TBaseAutoObject::GetArg(call.Args, 0, argument);
  OleVariant value(ReferencedValue(argument));
  if (value.vt == VT_I8) return reinterpret_cast<SAFEARRAY*>(intptr_t(value.llVal));
  return reinterpret_cast<SAFEARRAY*>(uintptr_t(uint32_t(VariantToInt32(value))));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The object

TSafeArray::TSafeArray() { FArray = OleVariant::AdoptArray(NewVariantStorage(1, 1).Detach(), VT_VARIANT); }

TSafeArray::~TSafeArray() = default;

IUnknown* TSafeArray::FindInterface(REFIID iid) {
  if (IsEqualGUID(iid, IID_ISafeArray)) return static_cast<ISafeArray*>(this);
  if (IsEqualGUID(iid, IID_ISupportErrorInfo)) return static_cast<ISupportErrorInfo*>(this);
  return nullptr;
}

void TSafeArray::CheckElementIndex(int32_t x, int32_t y) const {
  if (x < 0 || x >= FCountX || y < 0 || y >= FCountY)
    throw Exception(Message("Номер элемента массива за пределами границ."));
}

void TSafeArray::Resize(int32_t countX, int32_t countY) {
  if (countX < 0 || countY < 0 || (countX == FCountX && countY == FCountY)) return;
  SafeArrayPtr fresh = NewVariantStorage(std::max(countX, 1), std::max(countY, 1));
  if (SAFEARRAY* old = StorageHandle()) {
    const VARTYPE oldType = ElementType();
    const int32_t keepX = std::min(countX, FCountX);
    const int32_t keepY = std::min(countY, FCountY);
    for (int32_t x = 0; x < keepX; ++x)
      for (int32_t y = 0; y < keepY; ++y) WriteElement(fresh.Get(), VT_VARIANT, x, y, ReadElement(old, oldType, x, y));
  }
  FArray = OleVariant::AdoptArray(fresh.Detach(), VT_VARIANT);
  FCountX = countX;
  FCountY = countY;
}

OleVariant TSafeArray::ElementAt(int32_t x, int32_t y) const {
  CheckElementIndex(x, y);
  OleVariant value = ReadElement(StorageHandle(), ElementType(), x, y);
  YieldToOtherThreads();
  return value;
}

void TSafeArray::StoreElement(int32_t x, int32_t y, const VARIANT& value) {
  if (x < 0 || x >= FCountX || y < 0 || y >= FCountY) {
    const AnsiString pattern =
        Message("Номер элемента массива за пределами границ. X:%d Y:%d CountX:%d CountY:%d\r\n%s");
    throw Exception(FormatText(pattern, {int64_t(x), int64_t(y), int64_t(FCountX), int64_t(FCountY),
                                         ValueTextForMessage(value)}));
  }
  if (value.vt & VT_BYREF) {
    WriteElement(StorageHandle(), ElementType(), x, y, ValueBehindReference(value));
  } else {
    WriteElement(StorageHandle(), ElementType(), x, y, value);
  }
  YieldToOtherThreads();
}

bool TSafeArray::DescribesTable(SAFEARRAY* array) {
  if (!array || SafeArrayGetDim(array) != 2) return false;
  LONG lower[2] = {}, upper[2] = {};
  for (UINT dimension = 1; dimension <= 2; ++dimension) {
    if (FAILED(SafeArrayGetLBound(array, dimension, &lower[dimension - 1])) ||
        FAILED(SafeArrayGetUBound(array, dimension, &upper[dimension - 1])))
      return false;
  }
  return HasTableBounds(lower, upper);
}

bool TSafeArray::HasTableBounds(const LONG lower[2], const LONG upper[2]) {
  for (int k = 0; k < 2; ++k) {
    if (lower[k] != 0 || upper[k] < 0 || upper[k] == std::numeric_limits<LONG>::max()) return false;
  }
  return true;
}

void TSafeArray::AdoptArray(SAFEARRAY* array, VARTYPE elementType) {
  if (!array) return;
  if (SafeArrayGetDim(array) != 2) throw Exception(Message("Массив должен быть двумерным."));
  const LONG upperX = UpperBound(array, 1);
  const LONG upperY = UpperBound(array, 2);
  // The counts are the upper bounds plus one: the largest bound has no count.
  if (upperX == std::numeric_limits<LONG>::max() || upperY == std::numeric_limits<LONG>::max())
    throw Exception(Message("Номер элемента массива за пределами границ."));
  if (array == StorageHandle()) {
    // Handing the object its own storage must not free it: only the type changes.
    FArray.vt = VARTYPE(VT_ARRAY | elementType);
  } else {
    FArray = OleVariant::AdoptArray(array, elementType);
  }
  FCountX = upperX + 1;
  FCountY = upperY + 1;
}

// ---------------------------------------------------------------------------------------------
// Files

bool TSafeArray::SaveStorageFile(const std::filesystem::path& path) const {
  WriteWholeFile(path, SaveStorage());
  return true;
}

std::vector<uint8_t> TSafeArray::SaveStorage() const {
  return PackStorage(EncodeArrayPayload(FArray), CurrentOleDateTime());
}

bool TSafeArray::LoadStorageFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return false;
  LoadStorage(ReadStorageFile(path));
  return true;
}

void TSafeArray::LoadStorage(std::span<const uint8_t> file) {
  const ByteBuffer payload = UnpackStorage(file);
  OleVariant item = DecodeArrayPayload(payload);
  ComPtr<ISafeArray> loaded;
  if (item.vt != VT_DISPATCH || !item.pdispVal ||
      FAILED(item.pdispVal->QueryInterface(IID_ISafeArray, loaded.PutVoid())) || !loaded)
    throw Exception(StorageMessageUnpackFailed());
  SAFEARRAY* storage = nullptr;
  CheckOle(loaded->GetPSA(&storage), "GetPSA");
  LONG elementType = VT_VARIANT;
  CheckOle(loaded->GetVarType(&elementType), "GetVarType");
  SafeArrayPtr copy;
  CheckOle(SafeArrayCopy(storage, copy.Put()), "SafeArrayCopy");
  AdoptArray(copy.Detach(), VARTYPE(elementType));
}

bool TSafeArray::SaveRawFile(const std::filesystem::path& path) const {
  if (ElementType() != VT_UI1) return false;
  SAFEARRAY* array = StorageHandle();
  size_t size = 1;
  for (UINT dimension = 1; dimension <= SafeArrayGetDim(array); ++dimension)
    size *= size_t(int64_t(UpperBound(array, dimension)) - LowerBound(array, dimension) + 1);
  SafeArrayDataLock data(array);
  WriteWholeFile(path, std::span(data.As<const uint8_t>(), size));
  return true;
}

bool TSafeArray::LoadRawFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return false;
  // One row of bytes: the row's length must fit the counts.
  const auto size = std::filesystem::file_size(path, error);
  if (!error && size > uintmax_t(INT32_MAX)) throw Exception(StorageMessageBadFileSize());
  const ByteBuffer bytes = ReadWholeFile(path);
  if (bytes.size() > size_t(INT32_MAX)) throw Exception(StorageMessageBadFileSize());
  SAFEARRAYBOUND bounds[2] = {{1, 0}, {ULONG(bytes.size()), 0}};
  SafeArrayPtr array(SafeArrayCreate(VT_UI1, 2, bounds));
  if (!array) throw std::bad_alloc();
  if (!bytes.empty()) {
    SafeArrayDataLock data(array.Get());
    std::copy(bytes.begin(), bytes.end(), data.As<uint8_t>());
  }
  FArray = OleVariant::AdoptArray(array.Detach(), VT_UI1);
  FCountX = 1;
  FCountY = int32_t(bytes.size());
  return true;
}

// ---------------------------------------------------------------------------------------------
// ISafeArray

HRESULT STDMETHODCALLTYPE TSafeArray::SetBounds(LONG X, LONG Y) {
  return SafeCall([&] { Resize(X, Y); });
}

HRESULT STDMETHODCALLTYPE TSafeArray::SetValue(LONG X, LONG Y, VARIANT Value) {
  return SafeCall([&] { StoreElement(X, Y, Value); });
}

HRESULT STDMETHODCALLTYPE TSafeArray::GetPSA(SAFEARRAY** Result) {
  return SafeCall([&]() -> HRESULT {
    if (!Result) return E_POINTER;
    *Result = StorageHandle();
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE TSafeArray::GetVarType(LONG* Result) {
  return SafeCall([&]() -> HRESULT {
    if (!Result) return E_POINTER;
    *Result = ElementType();
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE TSafeArray::IsEmpty(LONG* Result) {
  return SafeCall([&]() -> HRESULT {
    if (!Result) return E_POINTER;
    *Result = Empty() ? 1 : 0;
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE TSafeArray::SetPSA(SAFEARRAY* Value) {
  return SafeCall([&] { AdoptArray(Value, VT_VARIANT); });
}

HRESULT STDMETHODCALLTYPE TSafeArray::SetPSAOfType(SAFEARRAY* Value, LONG VarType) {
  return SafeCall([&] { AdoptArray(Value, VARTYPE(VarType)); });
}

HRESULT STDMETHODCALLTYPE TSafeArray::GetBounds(LONG* X, LONG* Y) {
  return SafeCall([&]() -> HRESULT {
    if (!X || !Y) return E_POINTER;
    *X = FCountX;
    *Y = FCountY;
    return S_OK;
  });
}

namespace {
HRESULT FileOperation(VARIANT_BOOL* Done, const std::function<bool()>& operation) {
  return SafeCall([&]() -> HRESULT {
    if (!Done) return E_POINTER;
    *Done = VARIANT_FALSE;
    *Done = operation() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}
}  // namespace

HRESULT STDMETHODCALLTYPE TSafeArray::SaveToFile(BSTR FileName, VARIANT_BOOL* Done) {
  return FileOperation(Done, [&] { return SaveStorageFile(PathOf(FileName)); });
}

HRESULT STDMETHODCALLTYPE TSafeArray::LoadFromFile(BSTR FileName, VARIANT_BOOL* Done) {
  return FileOperation(Done, [&] { return LoadStorageFile(PathOf(FileName)); });
}

HRESULT STDMETHODCALLTYPE TSafeArray::LoadFromFileAsStream(BSTR FileName, VARIANT_BOOL* Done) {
  return FileOperation(Done, [&] { return LoadRawFile(PathOf(FileName)); });
}

HRESULT STDMETHODCALLTYPE TSafeArray::SaveToFileAsStream(BSTR FileName, VARIANT_BOOL* Done) {
  return FileOperation(Done, [&] { return SaveRawFile(PathOf(FileName)); });
}

HRESULT STDMETHODCALLTYPE TSafeArray::GetValue(LONG X, LONG Y, VARIANT* Value) {
  return SafeCall([&]() -> HRESULT {
    if (!Value) return E_POINTER;
    VariantInit(Value);
    *Value = ElementAt(X, Y).Detach();
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE TSafeArray::InterfaceSupportsErrorInfo(REFIID iid) {
  return GuardedComCall([&]() -> HRESULT { return IsEqualGUID(iid, IID_ISafeArray) ? S_OK : S_FALSE; });
}

// ---------------------------------------------------------------------------------------------
// Late-bound members, registered in the order of their dispatch ids (safe_array_dispids.h,
// shared with the type library)

void TSafeArray::RegisterMembers() {
  // The name table numbers members in registration order: each one is checked against the
  // shared table as it is added.
  DISPID next = 0;
  auto method = [&](DISPID id, const char* name, int16_t count, TAutoHandler handler) {
    if (id != next++) throw std::logic_error(std::string("dispatch id out of order: ") + name);
    AddMethod(name, count, std::move(handler));
  };
  auto property = [&](DISPID id, const char* name, TAutoHandler getter) {
    if (id != next++) throw std::logic_error(std::string("dispatch id out of order: ") + name);
    AddProperty(name, std::move(getter), nullptr);
  };
  method(DISPID_SAFEARRAY_GETBOUNDS, "GetBounds", 2, [this](const TAutoCallArgs& call, VARIANT&) {
    SetArg(call.Args, 0, OleVariant(FCountX));
    SetArg(call.Args, 1, OleVariant(FCountY));
  });
  method(DISPID_SAFEARRAY_SETBOUNDS, "SetBounds", 2, [this](const TAutoCallArgs& call, VARIANT&) {
    Resize(IntArgument(call, 0), IntArgument(call, 1));
  });
  method(DISPID_SAFEARRAY_GETVALUE, "GetValue", 2, [this](const TAutoCallArgs& call, VARIANT& result) {
    result = ElementAt(IntArgument(call, 0), IntArgument(call, 1)).Detach();
  });
  method(DISPID_SAFEARRAY_SETVALUE, "SetValue", 3, [this](const TAutoCallArgs& call, VARIANT&) {
    const int32_t x = IntArgument(call, 0);
    const int32_t y = IntArgument(call, 1);
    OleVariant value;
    GetArg(call.Args, 2, value);
    StoreElement(x, y, value);
  });
  method(DISPID_SAFEARRAY_EMPTY, "Empty", 0, [this](const TAutoCallArgs&, VARIANT& result) {
    result = OleVariant(int32_t(Empty() ? 1 : 0)).Detach();
  });
  method(DISPID_SAFEARRAY_PSA, "__PSA", 0, [this](const TAutoCallArgs&, VARIANT& result) {
    result = HandleVariant(StorageHandle()).Detach();
  });
  method(DISPID_SAFEARRAY_SETROWVALUES, "SetRowValues", 0, [this](const TAutoCallArgs& call, VARIANT&) {
    const int count = GetArgCount(call.Args);
    if (count < 2) return;
    const int32_t x = IntArgument(call, 0);
    for (int index = 1; index < count; ++index) {
      OleVariant value;
      GetArg(call.Args, index, value);
      StoreElement(x, index - 1, value);
    }
  });
  method(DISPID_SAFEARRAY_SETPSA, "__SetPSA", 1, [this](const TAutoCallArgs& call, VARIANT&) {
    AdoptArray(HandleArgument(call), VT_VARIANT);
  });
  method(DISPID_SAFEARRAY_LOADFROMFILE, "LoadFromFile", 1,
         [this](const TAutoCallArgs& call, VARIANT&) { LoadStorageFile(PathArgument(call)); });
  method(DISPID_SAFEARRAY_SAVETOFILE, "SaveToFile", 1,
         [this](const TAutoCallArgs& call, VARIANT&) { SaveStorageFile(PathArgument(call)); });
  method(DISPID_SAFEARRAY_SAVETOFILEASSTREAM, "SaveToFileAsStream", 1,
         [this](const TAutoCallArgs& call, VARIANT&) { SaveRawFile(PathArgument(call)); });
  method(DISPID_SAFEARRAY_LOADFROMFILEASSTREAM, "LoadFromFileAsStream", 1,
         [this](const TAutoCallArgs& call, VARIANT&) { LoadRawFile(PathArgument(call)); });
  property(DISPID_SAFEARRAY_ROWCOUNT, "RowCount",
           [this](const TAutoCallArgs&, VARIANT& result) { result = OleVariant(FCountX).Detach(); });
  property(DISPID_SAFEARRAY_COLCOUNT, "ColCount",
           [this](const TAutoCallArgs&, VARIANT& result) { result = OleVariant(FCountY).Detach(); });
}

// ---------------------------------------------------------------------------------------------
// Creation

namespace {

// Makes one array object for the class factory registered under its class id.
HRESULT CreateSafeArrayInstance(REFIID iid, void** object) {
  ComPtr<ISafeArray> created;
  created.Attach(static_cast<ISafeArray*>(TBaseAutoObject::Create<TSafeArray>()));
  return created->QueryInterface(iid, object);
}

// Registers the class on first use. A process whose COM is not ready yet keeps working
// (objects are created directly) and registers on a later call.
void RegisterSafeArrayClass() {
  static platform::ProcessClassFactory factory(CreateSafeArrayInstance);
  static std::mutex lock;
  static std::atomic<bool> registered{false};
  if (registered) return;
  std::lock_guard guard(lock);
  if (registered) return;
  const HRESULT status = platform::RegisterAutomationClass(CLSID_SafeArray, OLESTR("AddIn.SafeArray"), &factory);
  registered = SUCCEEDED(status) || status == E_INVALIDARG;
}

// The variant stream hands every two-dimensional array it reads to this factory and asks
// this extractor for the array behind an object it writes.
void MakeArrayObjectFromStream(SAFEARRAY* array, VARTYPE elementType, VARIANT& result) {
  if (!TSafeArray::DescribesTable(array)) {
    // Not the storage of an array object (bounds not 0 ... n-1, an empty dimension): a
    // damaged or forged table, refused as a payload that does not unpack.
    SafeArrayDestroy(array);
    throw Exception(StorageMessageUnpackFailed());
  }
  ComPtr<ISafeArray> object = CreateSafeArrayOf(array, elementType);
  VariantClear(&result);
  result.vt = VT_DISPATCH;
  result.pdispVal = static_cast<IDispatch*>(object.Detach());
}

void CheckTableBounds(const LONG lower[2], const LONG upper[2]) {
  if (!TSafeArray::HasTableBounds(lower, upper)) throw Exception(StorageMessageUnpackFailed());
}

// The object may be anyone's, the host's too: the calls to it run under the guard.
bool ArrayBehindObject(IUnknown* object, SAFEARRAY*& array, VARTYPE& elementType) {
  return platform::CallGuarded([&] {
    ComPtr<ISafeArray> safeArray;
    if (!object || FAILED(object->QueryInterface(IID_ISafeArray, safeArray.PutVoid())) || !safeArray) return false;
    LONG type = VT_VARIANT;
    if (FAILED(safeArray->GetPSA(&array)) || FAILED(safeArray->GetVarType(&type)) || !array) return false;
    elementType = VARTYPE(type);
    return true;
  });
}

}  // namespace

void InstallSafeArrayStreamHooks() noexcept {
  SetTwoDimensionalArrayFactory(&MakeArrayObjectFromStream);
  SetTwoDimensionalBoundsCheck(&CheckTableBounds);
  SetSafeArrayExtractor(&ArrayBehindObject);
}

ComPtr<ISafeArray> CreateSafeArray() {
  RegisterSafeArrayClass();
  ComPtr<ISafeArray> created;
  created.Attach(static_cast<ISafeArray*>(TBaseAutoObject::Create<TSafeArray>()));
  return created;
}

ComPtr<ISafeArray> CreateSafeArrayOf(SAFEARRAY* array, VARTYPE elementType) {
  SafeArrayPtr owned(array);
  ComPtr<ISafeArray> created = CreateSafeArray();
  static_cast<TSafeArray*>(created.Get())->AdoptArray(owned.Get(), elementType);
  (void)owned.Detach();  // the object holds it now
  return created;
}

bool IsSafeArray(const VARIANT& value) {
  const VARIANT& direct = ReferencedValue(value);
  IDispatch* object = nullptr;
  if (direct.vt == VT_DISPATCH) object = direct.pdispVal;
  else if (direct.vt == (VT_BYREF | VT_DISPATCH) && direct.ppdispVal) object = *direct.ppdispVal;
  if (!object) return false;
  // The object may be anyone's, the host's too.
  return platform::CallGuarded([&] {
    ComPtr<ISafeArray> array;
    return SUCCEEDED(object->QueryInterface(IID_ISafeArray, array.PutVoid())) && array;
  });
}
