#include "config/late_bound.h"

#include <cstdio>
#include <vector>

#include "platform/automation_classes.h"
#include "platform/structured_exception.h"

namespace {

const VARIANT& Dereferenced(const VARIANT& value) noexcept {
  const VARIANT* v = &value;
  while (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
  return *v;
}

IUnknown* ObjectPointer(const VARIANT& value) noexcept {
  const VARIANT& v = Dereferenced(value);
  switch (v.vt) {
    case VT_DISPATCH: return v.pdispVal;
    case VT_UNKNOWN: return v.punkVal;
    case VT_DISPATCH | VT_BYREF: return v.ppdispVal ? *v.ppdispVal : nullptr;
    case VT_UNKNOWN | VT_BYREF: return v.ppunkVal ? *v.ppunkVal : nullptr;
    default: return nullptr;
  }
}

AnsiString CodeText(HRESULT code) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(code));
  return buffer;
}

[[noreturn]] void RaiseCallError(std::string_view member, HRESULT code, EXCEPINFO* info) {
  AnsiString description, source;
  if (info) {
    if (info->pfnDeferredFillIn) info->pfnDeferredFillIn(info);
    if (info->scode) code = info->scode;
    OleString text = OleString::Adopt(info->bstrDescription);
    OleString origin = OleString::Adopt(info->bstrSource);
    OleString help = OleString::Adopt(info->bstrHelpFile);
    description = AnsiFromWide(text.Text());
    source = AnsiFromWide(origin.Text());
  }
  if (description.empty())
    description = FormatText(AnsiFromUtf8("Ошибка вызова \"%s\" объекта автоматизации (%s)"),
                             {AnsiString(member), CodeText(code)});
  throw EOleException(description, code, source);
}

ComPtr<IDispatch> DispatchOf(const VARIANT& object, std::string_view member) {
  IUnknown* pointer = ObjectPointer(object);
  if (!pointer)
    throw EInvalidOperation(FormatText(AnsiFromUtf8("Значение не является объектом автоматизации (вызов \"%s\")"),
                                       {AnsiString(member)}));
  ComPtr<IDispatch> dispatch;
  HRESULT hr = pointer->QueryInterface(IID_IDispatch, dispatch.PutVoid());
  if (FAILED(hr)) RaiseCallError(member, hr, nullptr);
  return dispatch;
}

OleVariant InvokeUnguarded(const VARIANT& object, std::string_view member, WORD flags, std::vector<OleVariant>& args) {
  ComPtr<IDispatch> dispatch = DispatchOf(object, member);
  WideString name = WideFromUtf8(member);
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) RaiseCallError(member, hr, nullptr);

  // DISPPARAMS takes the arguments last-first.
  std::vector<VARIANTARG> reversed;
  for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(*it);
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  if (put) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  OleVariant result;
  EXCEPINFO info{};
  UINT argumentError = 0;
  hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, put ? nullptr : result.Put(), &info,
                        &argumentError);
  if (FAILED(hr)) RaiseCallError(member, hr, hr == DISP_E_EXCEPTION ? &info : nullptr);
  return result;
}

// The object is foreign code (MSXML, the host's objects): a structured exception inside it
// arrives as platform::StructuredException. A fault skips the releases of this call's references.
OleVariant Invoke(const VARIANT& object, std::string_view member, WORD flags, std::vector<OleVariant> args) {
  return platform::CallGuarded([&] { return InvokeUnguarded(object, member, flags, args); });
}

}  // namespace

bool HasObject(const VARIANT& value) noexcept { return ObjectPointer(value) != nullptr; }

OleVariant CreateOleObject(WideStringView progId) {
  WideString id(progId);
  ComPtr<IDispatch> object;
  HRESULT hr = platform::CreateAutomationObject(id.c_str(), object.Put());
  if (FAILED(hr)) RaiseCallError(AnsiFromWide(progId), hr, nullptr);
  return OleVariant(object.Get());
}

OleVariant CallMethod(const VARIANT& object, std::string_view member, std::initializer_list<OleVariant> args) {
  // Methods with results are invoked as VB and Delphi do: method or property get.
  return Invoke(object, member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, std::vector<OleVariant>(args));
}

OleVariant GetProperty(const VARIANT& object, std::string_view member) {
  return Invoke(object, member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {});
}

void SetProperty(const VARIANT& object, std::string_view member, const OleVariant& value) {
  WORD flags = HasObject(value) ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
  Invoke(object, member, flags, {value});
}
