#include "base/global_id.h"

#include <cstring>

#include "base/errors.h"

namespace {

[[noreturn]] void RaiseNotAGlobalId() { throw Exception(AnsiFromUtf8(kNotAGlobalIdUtf8)); }

}  // namespace

TGlobalId StrToGlobalId(WideStringView Text) {
  TGlobalId id = GUID_NULL;
  if (Text.empty())
    return id;
  // CLSIDFromString needs a terminated text; an embedded zero would cut it short.
  const WideString terminated(Text);
  if (terminated.find(OLECHAR(0)) != WideString::npos || FAILED(CLSIDFromString(terminated.c_str(), &id)))
    RaiseNotAGlobalId();
  return id;
}

TGlobalId StrToGlobalId(std::string_view Text) { return StrToGlobalId(WideFromAnsi(Text)); }

bool IsGlobalId(const VARIANT& Value) {
  const VARIANT* value = &Value;
  if (V_VT(value) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(value) != nullptr)
    value = V_VARIANTREF(value);
  const BSTR* text = nullptr;
  if (V_VT(value) == VT_BSTR)
    text = &V_BSTR(value);
  else if (V_VT(value) == (VT_BSTR | VT_BYREF))
    text = V_BSTRREF(value);  // may be null
  if (text == nullptr)  // not a text, or a text reference that points nowhere
    return false;
  try {
    const BSTR bstr = *text;
    StrToGlobalId(WideStringView(bstr ? bstr : OLESTR(""), bstr ? SysStringLen(bstr) : 0));
    return true;
  } catch (...) {
    return false;
  }
}

WideString GlobalIdToStr(const TGlobalId& Id) {
  static const char kHex[] = "0123456789ABCDEF";
  WideString text;
  text.reserve(38);
  auto put = [&](uint64_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
      text.push_back(static_cast<OLECHAR>(kHex[(value >> shift) & 0xF]));
  };
  text.push_back('{');
  put(Id.Data1, 8);
  text.push_back('-');
  put(Id.Data2, 4);
  text.push_back('-');
  put(Id.Data3, 4);
  text.push_back('-');
  put(Id.Data4[0], 2);
  put(Id.Data4[1], 2);
  text.push_back('-');
  for (int i = 2; i < 8; ++i)
    put(Id.Data4[i], 2);
  text.push_back('}');
  return text;
}

AnsiString GlobalIdToAnsiStr(const TGlobalId& Id) { return AnsiFromWide(GlobalIdToStr(Id)); }

TGlobalId NewGlobalId() {
  TGlobalId id = GUID_NULL;
  if (FAILED(CoCreateGuid(&id)))
    RaiseText("CoCreateGuid");
  return id;
}

bool SameGlobalId(const TGlobalId& A, const TGlobalId& B) { return std::memcmp(&A, &B, sizeof(TGlobalId)) == 0; }
