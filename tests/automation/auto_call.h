#pragma once
// Late-bound calls as an automation client makes them: the name looked up with
// GetIDsOfNames, then Invoke with the arguments reversed in DISPPARAMS and an exception
// record for failures.

#include <string>
#include <vector>

#include "platform/ole_ptr.h"
#include "platform/text_codec.h"

struct AutoCallOutcome {
  HRESULT Status = S_OK;
  OleVariant Result;
  SCODE Code = 0;
  std::string Description;  // UTF-8
  std::string Source;       // UTF-8
};

// Arguments in caller order; by-reference arguments are variants with VT_BYREF set.
inline AutoCallOutcome InvokeByName(IDispatch* object, const char* name, WORD flags, std::vector<VARIANT> args = {}) {
  AutoCallOutcome outcome;
  WideString wideName = WideFromUtf8(name);
  LPOLESTR names[1] = {wideName.data()};
  DISPID id = 0;
  outcome.Status = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (FAILED(outcome.Status)) return outcome;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, UINT(reversed.size()), 0};
  EXCEPINFO info{};
  UINT argError = 0;
  outcome.Status = object->Invoke(id, IID_NULL, 0, flags, &params, outcome.Result.Put(), &info, &argError);
  outcome.Code = info.scode;
  if (info.bstrDescription) outcome.Description = Utf8FromWide(OleString::Adopt(info.bstrDescription).Text());
  if (info.bstrSource) outcome.Source = Utf8FromWide(OleString::Adopt(info.bstrSource).Text());
  if (info.bstrHelpFile) SysFreeString(info.bstrHelpFile);
  return outcome;
}

inline VARIANT ByRef(VARIANT* target) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF | VT_VARIANT;
  v.pvarVal = target;
  return v;
}
inline VARIANT ByRefInt(LONG* target) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF | VT_I4;
  v.plVal = target;
  return v;
}
inline VARIANT IntArg(LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}
