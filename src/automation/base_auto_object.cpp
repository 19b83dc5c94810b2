#include "automation/base_auto_object.h"

#include <exception>

#include "base/errors.h"
#include "base/guarded_entry.h"
#include "host/wire/params.h"
#include "host/wire/variant_text.h"
#include "platform/ole_ptr.h"
#include "platform/text_compare.h"

namespace {

AnsiString Message(const char* utf8) { return AnsiFromUtf8(utf8); }

AnsiString NotFoundMessage(const AnsiString& name, WORD flags) {
  return Message("Метод/Свойство [") + name + Message("] не обнаружено. Флаг:") + std::to_string(flags);
}
AnsiString WrongArgCountMessage(const AnsiString& name) {
  return Message("Неверное число параметров для [") + name + "]";
}
AnsiString NotReadableMessage(const AnsiString& name) {
  return Message("Свойство недоступно для чтения [") + name + "]";
}
AnsiString NotWritableMessage(const AnsiString& name) {
  return Message("Свойство недоступно для записи [") + name + "]";
}

// Hands a result to the caller's result place, which automation treats as uninitialised.
void DeliverResult(OleVariant& value, VARIANT* result) {
  if (!result) return;
  *result = value.Detach();
}

void CheckArgIndex(const DISPPARAMS* args, int index, const char* direction) {
  const int count = TBaseAutoObject::GetArgCount(args);
  if (index < 0 || index >= count) {
    const AnsiString pattern = Message("Неверный индекс (") + direction + ") Index=%d Count=%d";
    RaiseError(ERR_TEXT, {FormatText(pattern, {int64_t(index), int64_t(count)})});
  }
}

}  // namespace

// Automation allows one level: a VT_BYREF|VT_VARIANT reference leads to a variant that is no
// such reference itself. Following a chain further would never end for a variant that refers
// to itself.
const VARIANT& ReferencedValue(const VARIANT& value) {
  if (value.vt == (VT_BYREF | VT_VARIANT) && value.pvarVal) return *value.pvarVal;
  return value;
}

namespace {

VARIANT& ArgInCallerOrder(const DISPPARAMS* args, int index) {
  return args->rgvarg[TBaseAutoObject::GetArgCount(args) - 1 - index];
}

}  // namespace

void FillExceptionRecord(EXCEPINFO* exception, SCODE code, const AnsiString& description, const AnsiString& source) {
  if (!exception) return;
  *exception = EXCEPINFO{};
  exception->scode = code;
  exception->bstrDescription = OleString(WideFromAnsi(description)).Detach();
  exception->bstrSource = OleString(WideFromAnsi(source)).Detach();
}

TBaseAutoObject::~TBaseAutoObject() = default;

void TBaseAutoObject::Initialize() {
  FNameList.clear();
  FCount = 0;
  FOwnTable = UsesOwnNameTable();
  RegisterMembers();
}

// ---------------------------------------------------------------------------------------------
// IUnknown

HRESULT STDMETHODCALLTYPE TBaseAutoObject::QueryInterface(REFIID iid, void** object) {
  return GuardedComCall([&]() -> HRESULT {
    if (!object) return E_POINTER;
    *object = nullptr;
    IUnknown* found = nullptr;
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IDispatch)) {
      found = static_cast<IDispatch*>(this);
    } else {
      found = FindInterface(iid);
    }
    if (!found) return E_NOINTERFACE;
    found->AddRef();
    *object = found;
    return S_OK;
  });
}

ULONG STDMETHODCALLTYPE TBaseAutoObject::AddRef() {
  return GuardedComCount([&] { return ++FRefCount; });
}

ULONG STDMETHODCALLTYPE TBaseAutoObject::Release() {
  return GuardedComCount([&] {
    const ULONG remaining = --FRefCount;
    if (remaining == 0) delete this;
    return remaining;
  });
}

IUnknown* TBaseAutoObject::FindInterface(REFIID) { return nullptr; }

// ---------------------------------------------------------------------------------------------
// IDispatch

HRESULT STDMETHODCALLTYPE TBaseAutoObject::GetTypeInfoCount(UINT* count) {
  return GuardedComCall([&]() -> HRESULT {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE TBaseAutoObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  return GuardedComCall([&]() -> HRESULT {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  });
}

HRESULT STDMETHODCALLTYPE TBaseAutoObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT nameCount, LCID,
                                                         DISPID* ids) {
  return GuardedComCall([&]() -> HRESULT {
    if (!names || !ids || nameCount == 0) return E_INVALIDARG;
    const AnsiString name = AnsiFromWide(WideStringView(names[0], WideLength(names[0])));
    if (FOwnTable) {
      const DISPID id = FindOwnName(name);
      if (id < 0) return E_NOTIMPL;
      ids[0] = id;
    } else {
      ids[0] = FindOrAddBlockName(name);
    }
    return S_OK;
  }, E_OUTOFMEMORY);
}

HRESULT STDMETHODCALLTYPE TBaseAutoObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* args,
                                                  VARIANT* result, EXCEPINFO* exception, UINT*) {
  // Members raise their failures; automation callers learn of them through the exception
  // record, since no exception may unwind into the caller's frames.
  return GuardedComCall(
      DISP_E_EXCEPTION,
      [&]() -> HRESULT {
        if (!FOwnTable) return InvokeByBlock(id, flags, args, result, exception);
        InvokeOwnTable(id, flags, args, result);
        return S_OK;
      },
      [&](const std::exception* error) {
        if (const auto* coded = dynamic_cast<const EProtectException*>(error)) {
          FillExceptionRecord(exception, coded->Code, coded->Message(), coded->ClassName());
        } else if (error != nullptr) {
          FillExceptionRecord(exception, kAutoUncodedFailure, ExceptionMessage(*error), ExceptionClassName(*error));
        } else {
          FillExceptionRecord(exception, kAutoUncodedFailure, AnsiString(), "Exception");
        }
        return DISP_E_EXCEPTION;
      });
}

DISPID TBaseAutoObject::FindOwnName(const AnsiString& name) const {
  for (uint16_t i = 0; i < FCount; ++i) {
    if (platform::SameText(FEntries[i].Name, name)) return i;
  }
  return -1;
}

DISPID TBaseAutoObject::FindOrAddBlockName(const AnsiString& name) {
  for (size_t i = 0; i < FNameList.size(); ++i) {
    if (platform::SameText(FNameList[i], name)) return DISPID(i);
  }
  FNameList.push_back(name);
  return DISPID(FNameList.size() - 1);
}

void TBaseAutoObject::InvokeOwnTable(DISPID id, WORD flags, DISPPARAMS* args, VARIANT* result) {
  if (id < 0 || id >= DISPID(FCount)) throw Exception(NotFoundMessage(AnsiString(), flags));
  const TAutoMemberEntry& entry = FEntries[id];
  const TAutoCallArgs call{args, nullptr};
  OleVariant value;
  switch (flags) {
    case kAutoFlagMethod:
    case kAutoFlagMethod | kAutoFlagGet:
      if (entry.IsMethod && entry.ParamCount > 0 && GetArgCount(args) != entry.ParamCount)
        throw Exception(WrongArgCountMessage(entry.Name));
      if (!entry.Getter) throw Exception(NotReadableMessage(entry.Name));
      entry.Getter(call, value);
      DeliverResult(value, result);
      return;
    case kAutoFlagGet:
      if (entry.IsMethod) break;
      if (!entry.Getter) throw Exception(NotReadableMessage(entry.Name));
      entry.Getter(call, value);
      DeliverResult(value, result);
      return;
    case kAutoFlagPut:
    case kAutoFlagPutRef:
    case kAutoFlagPut | kAutoFlagPutRef:
      if (entry.IsMethod) break;
      if (!entry.Setter) throw Exception(NotWritableMessage(entry.Name));
      entry.Setter(call, value);
      return;
    default:
      break;
  }
  throw Exception(NotFoundMessage(entry.Name, flags));
}

// ---------------------------------------------------------------------------------------------
// Block mode

namespace {

void SetVariantText(VARIANT& target, const AnsiString& text) {
  OleVariant value(WideFromAnsi(text));
  VariantClear(&target);
  target = value.Detach();
}

AnsiString VariantAnsiText(const VARIANT& value) {
  WideString text;
  return VariantToText(value, text) ? AnsiFromWide(text) : AnsiString();
}

// Records a failure in the block: error flag, source and description; the code stays.
void RecordBlockError(TParams& params, const char* className, const AnsiString& message) {
  params.HasError = true;
  SetVariantText(params.ErrorSource, className);
  SetVariantText(params.ErrorText, message);
}

void DeliverBlockResult(TParams& params, OleVariant& value) {
  if (params.ResultRef) *params.ResultRef = value.Detach();
}

}  // namespace

HRESULT TBaseAutoObject::InvokeByBlock(DISPID id, WORD flags, DISPPARAMS* args, VARIANT* result,
                                       EXCEPINFO* exception) {
  try {
    // Both blocks are freed on every way out.
    TParamsPtr in = MakeParams();
    TParamsPtr out = MakeParams();
    if (id < 0 || size_t(id) >= FNameList.size())
      throw Exception(FormatText("List index out of bounds (%d)", {int64_t(id)}));
    const AnsiString name = platform::UpperCaseText(FNameList[size_t(id)]);

    in->AttachArgs(args);
    in->SetName(name);
    in->CallKind = flags;
    in->ResultRef = result;

    out->Clear();
    out->AllocArgs();
    for (int32_t i = 0; i < in->Count(); ++i) {
      OleVariant argument;
      in->GetParam(i, argument);
      out->AddParam(OleVariant(ReferencedValue(argument)));
    }
    out->SetName(name);
    out->CallKind = flags;
    out->ResultRef = result;

    CallByParams(*out);

    in->HasError = out->HasError;
    in->ErrorCode = out->ErrorCode;
    CheckOle(VariantCopy(&in->ErrorText, &out->ErrorText), "VariantCopy");
    CheckOle(VariantCopy(&in->ErrorSource, &out->ErrorSource), "VariantCopy");

    // Arguments go back to the caller: through by-reference variants directly, everything
    // else through the block, which writes only by-reference values.
    for (int32_t i = 0; i < in->Count(); ++i) {
      OleVariant value;
      out->GetParam(i, value);
      VARIANT& original = ArgInCallerOrder(args, i);
      if (original.vt == (VT_BYREF | VT_VARIANT) && original.pvarVal) {
        CheckOle(VariantCopy(original.pvarVal, &value), "VariantCopy");
      } else {
        in->SetParam(i, value);
      }
    }

    HRESULT status = S_OK;
    if (in->HasError) {
      FillExceptionRecord(exception, in->ErrorCode, VariantAnsiText(in->ErrorText), VariantAnsiText(in->ErrorSource));
      status = DISP_E_EXCEPTION;
    }
    out->ResultRef = nullptr;
    out->Clear();
    return status;
  } catch (const std::exception& error) {
    FillExceptionRecord(exception, kAutoUncodedFailure, ExceptionMessage(error), ExceptionClassName(error));
  } catch (...) {
    FillExceptionRecord(exception, kAutoUncodedFailure, AnsiString(), "Exception");
  }
  return DISP_E_EXCEPTION;
}

void TBaseAutoObject::CallByParams(TParams& params) {
  const AnsiString name = params.GetName();
  const WORD flags = params.CallKind;
  const TAutoCallArgs call{nullptr, &params};
  for (uint16_t i = 0; i < FCount; ++i) {
    const TAutoMemberEntry& entry = FEntries[i];
    if (entry.Name != name) continue;
    OleVariant value;
    switch (flags) {
      case kAutoFlagMethod:
      case kAutoFlagMethod | kAutoFlagGet:
        if (entry.IsMethod && entry.ParamCount > 0 && params.Count() != entry.ParamCount) {
          RecordBlockError(params, ClassName(), WrongArgCountMessage(entry.Name));
        } else if (!entry.Getter) {
          RecordBlockError(params, ClassName(), NotReadableMessage(entry.Name));
        } else {
          entry.Getter(call, value);
          DeliverBlockResult(params, value);
        }
        return;
      case kAutoFlagGet:
        if (entry.IsMethod) continue;
        if (!entry.Getter) {
          RecordBlockError(params, ClassName(), NotReadableMessage(entry.Name));
        } else {
          entry.Getter(call, value);
          DeliverBlockResult(params, value);
        }
        return;
      case kAutoFlagPut:
      case kAutoFlagPutRef:
      case kAutoFlagPut | kAutoFlagPutRef:
        if (entry.IsMethod) continue;
        if (!entry.Setter) {
          RecordBlockError(params, ClassName(), NotWritableMessage(entry.Name));
        } else {
          entry.Setter(call, value);
        }
        return;
      default:
        continue;
    }
  }
  if (HandleUnknownMember(params)) return;
  params.SetError(ERR_TEXT);
  RecordBlockError(params, ClassName(), NotFoundMessage(name, flags));
}

bool TBaseAutoObject::HandleUnknownMember(TParams&) { return false; }

// ---------------------------------------------------------------------------------------------
// Registration

void TBaseAutoObject::AddMethod(const AnsiString& name, int16_t paramCount, TAutoHandler handler) {
  AddEntry(TAutoMemberEntry{platform::UpperCaseText(name), paramCount, true, std::move(handler), nullptr});
}

void TBaseAutoObject::AddProperty(const AnsiString& name, TAutoHandler getter, TAutoHandler setter) {
  AddEntry(TAutoMemberEntry{platform::UpperCaseText(name), 0, false, std::move(getter), std::move(setter)});
}

void TBaseAutoObject::AddEntry(TAutoMemberEntry entry) {
  if (FCount >= kAutoMemberCapacity) throw Exception(Message("Массив имен заполнен."));
  FEntries[FCount] = std::move(entry);
  ++FCount;
}

void TBaseAutoObject::RegisterMembers() {}

bool TBaseAutoObject::UsesOwnNameTable() const { return false; }

// ---------------------------------------------------------------------------------------------
// Arguments

int TBaseAutoObject::GetArgCount(const DISPPARAMS* args) { return args ? int(args->cArgs) : 0; }

void TBaseAutoObject::GetArg(const DISPPARAMS* args, int index, VARIANT& value) {
  CheckArgIndex(args, index, "Get");
  VARIANT& argument = ArgInCallerOrder(args, index);
  OleVariant copy(ReferencedValue(argument));
  VariantClear(&value);
  value = copy.Detach();
}

void TBaseAutoObject::SetArg(DISPPARAMS* args, int index, const VARIANT& value) {
  CheckArgIndex(args, index, "Set");
  VARIANT& argument = ArgInCallerOrder(args, index);
  if (!(argument.vt & VT_BYREF)) return;
  switch (argument.vt & ~VT_BYREF) {
    case VT_VARIANT: {
      OleVariant copy(value);
      VariantClear(argument.pvarVal);
      *argument.pvarVal = copy.Detach();
      return;
    }
    case VT_I4:
      *argument.plVal = VariantToInt32(value);
      return;
    case VT_R8:
      *argument.pdblVal = VariantToDouble(value);
      return;
    case VT_BSTR: {
      OleString text(VariantToWideText(value));
      SysFreeString(*argument.pbstrVal);
      *argument.pbstrVal = text.Detach();
      return;
    }
    default:
      throw Exception(Message("Неподдерживаемый тип параметра."));
  }
}
