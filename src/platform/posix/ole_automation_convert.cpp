// VariantChangeType(Ex) for the numeric and boolean types, VT_EMPTY and VT_NULL, with the
// results and codes of oleaut32:
//  - floating values become integers by rounding half to even ("banker's rounding");
//    a result outside the target's range is DISP_E_OVERFLOW;
//  - VT_NULL converts only to VT_NULL; VT_EMPTY converts to 0, false or an empty string;
//  - VT_INT and VT_UINT behave as VT_I4 and VT_UI4;
//  - signed and unsigned types of the same width convert into each other by reinterpreting
//    the bits, without an overflow check (as oleaut32 does; VT_I4 to VT_UI8 is checked);
//  - a boolean converts to the integer types as -1/0 truncated to the target's width
//    (VARIANT_TRUE becomes 255 as VT_UI1), to VT_DECIMAL as 1/0;
//  - an object (VT_DISPATCH) converts through its default property unless
//    VARIANT_NOVALUEPROP is given;
//  - VT_ERROR and the other types do not convert (DISP_E_TYPEMISMATCH).
//
// Texts (VT_BSTR): values and text are converted by the system's own fixed-format routines,
// not here. This implementation covers only the locale-free subset:
//  - to VT_BSTR: from VT_EMPTY (empty string), from the integer types (decimal digits with a
//    leading '-'), from VT_BOOL ("-1"/"0", or "True"/"False" with VARIANT_ALPHABOOL or
//    VARIANT_LOCALBOOL: never localized here);
//  - from VT_BSTR: decimal integers (blanks around, optional sign) to every numeric type and
//    VT_BOOL, and "True"/"False" (any case) to VT_BOOL; out of range is DISP_E_OVERFLOW.
//  Everything else (fractions, exponents, dates, currency, thousands separators, hexadecimal
//  "&H" forms, floating values to text) fails with DISP_E_TYPEMISMATCH, where Windows would
//  apply the locale's formats.
// Arrays convert only to the same array type (a copy) and between VT_ARRAY|VT_UI1 and VT_BSTR
// (the bytes of the string).
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>

#include "platform/ole_automation.h"
#include "platform/posix/ole_automation_internal.h"

namespace {

using uint128 = unsigned __int128;

constexpr double kDateMin = -657434.0;  // 1 January 100
constexpr double kDateMax = 2958465.0;  // 31 December 9999
const uint128 kDecimalLimit = uint128(1) << 96;

// An exact value: sign, magnitude and the count of decimal digits after the point.
struct Exact {
  bool negative = false;
  uint128 magnitude = 0;
  int scale = 0;
};

uint128 PowerOfTen(int n) {
  uint128 p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// The most decimal digits a 128-bit magnitude can have: 10^39 exceeds every such value.
constexpr int kMaxMagnitudeDigits = 39;

// Rounds to a whole number, half to even.
uint128 RoundHalfEven(const Exact& x) {
  if (x.scale == 0) return x.magnitude;
  // Below half of one: 10^scale would not fit the type (and wraps to 0 from 10^128 on).
  if (x.scale >= kMaxMagnitudeDigits) return 0;
  uint128 divisor = PowerOfTen(x.scale);
  uint128 quotient = x.magnitude / divisor;
  uint128 twiceRemainder = (x.magnitude % divisor) * 2;
  if (twiceRemainder > divisor || (twiceRemainder == divisor && (quotient & 1))) ++quotient;
  return quotient;
}

double ToDouble(const Exact& x) {
  double value = static_cast<double>(x.magnitude);
  if (x.scale) value /= std::pow(10.0, x.scale);
  return x.negative ? -value : value;
}

bool IsZero(const Exact& x) { return x.magnitude == 0; }

struct IntegerType {
  int bits;
  bool isSigned;
};

// Integer targets; bits 0 for anything else.
IntegerType IntegerTypeOf(VARTYPE vt) {
  switch (vt) {
    case VT_I1: return {8, true};
    case VT_UI1: return {8, false};
    case VT_I2: return {16, true};
    case VT_UI2: return {16, false};
    case VT_I4: return {32, true};
    case VT_UI4: return {32, false};
    case VT_I8: return {64, true};
    case VT_UI8: return {64, false};
    default: return {0, false};
  }
}

// Stores the low `bits` bits of `value` in the union member of that width.
void StoreBits(VARIANT* out, int bits, uint64_t value) {
  switch (bits) {
    case 8: out->bVal = static_cast<BYTE>(value); break;
    case 16: out->uiVal = static_cast<USHORT>(value); break;
    case 32: out->ulVal = static_cast<ULONG>(value); break;
    default: out->ullVal = value; break;
  }
}

HRESULT StoreInteger(VARIANT* out, IntegerType type, bool negative, uint128 magnitude) {
  if (magnitude == 0) negative = false;
  uint128 limit = type.isSigned ? (uint128(1) << (type.bits - 1)) - (negative ? 0 : 1)
                                : (uint128(1) << type.bits) - 1;
  if ((negative && !type.isSigned) || magnitude > limit) return DISP_E_OVERFLOW;
  uint64_t bits = static_cast<uint64_t>(magnitude);
  StoreBits(out, type.bits, negative ? ~bits + 1 : bits);
  return S_OK;
}

HRESULT StoreIntegerFromDouble(VARIANT* out, IntegerType type, double value) {
  if (std::isnan(value)) return DISP_E_OVERFLOW;
  double rounded = std::nearbyint(value);  // the default rounding mode: half to even
  double low = type.isSigned ? -std::ldexp(1.0, type.bits - 1) : 0.0;
  double high = std::ldexp(1.0, type.isSigned ? type.bits - 1 : type.bits);
  if (rounded < low || rounded >= high) return DISP_E_OVERFLOW;
  bool negative = rounded < 0;
  return StoreInteger(out, type, negative, static_cast<uint128>(negative ? -rounded : rounded));
}

HRESULT StoreCurrency(VARIANT* out, const Exact& x) {
  Exact scaled = x;
  uint128 units;
  if (x.scale <= 4) {
    units = x.magnitude * PowerOfTen(4 - x.scale);
  } else {
    scaled.scale = x.scale - 4;
    units = RoundHalfEven(scaled);
  }
  uint128 limit = (uint128(1) << 63) - (x.negative ? 0 : 1);
  if (units > limit) return DISP_E_OVERFLOW;
  uint64_t bits = static_cast<uint64_t>(units);
  out->cyVal.int64 = static_cast<LONGLONG>(x.negative ? ~bits + 1 : bits);
  return S_OK;
}

HRESULT StoreCurrencyFromDouble(VARIANT* out, double value) {
  double units = std::nearbyint(value * 10000.0);
  if (std::isnan(units) || units < -std::ldexp(1.0, 63) || units >= std::ldexp(1.0, 63)) return DISP_E_OVERFLOW;
  out->cyVal.int64 = static_cast<LONGLONG>(units);
  return S_OK;
}

HRESULT StoreDecimal(VARIANT* out, const Exact& x) {
  if (x.magnitude >= kDecimalLimit || x.scale > 28) return DISP_E_OVERFLOW;
  DECIMAL& d = out->decVal;
  d.scale = static_cast<BYTE>(x.scale);
  d.sign = x.negative && x.magnitude ? DECIMAL_NEG : 0;
  d.Hi32 = static_cast<ULONG>(x.magnitude >> 64);
  d.Lo64 = static_cast<ULONGLONG>(x.magnitude);
  return S_OK;
}

// A double as a decimal of at most 15 significant digits, trailing zeros dropped.
HRESULT StoreDecimalFromDouble(VARIANT* out, double value) {
  if (!std::isfinite(value)) return DISP_E_OVERFLOW;
  if (std::fabs(value) >= 7.9228162514264337593543950335e28) return DISP_E_OVERFLOW;
  Exact x;
  x.negative = value < 0;
  if (value != 0) {
    char text[40];
    std::snprintf(text, sizeof text, "%.14e", std::fabs(value));  // d.dddddddddddddde±x
    uint128 digits = 0;
    for (const char* p = text; *p && *p != 'e'; ++p)
      if (*p != '.') digits = digits * 10 + uint128(*p - '0');
    int exponent = std::atoi(std::strchr(text, 'e') + 1);
    int scale = 14 - exponent;
    if (scale < 0) {
      digits *= PowerOfTen(-scale);
      scale = 0;
    }
    while (scale > 0 && digits % 10 == 0) {
      digits /= 10;
      --scale;
    }
    if (scale > 28) {
      Exact excess{false, digits, scale - 28};
      digits = RoundHalfEven(excess);
      scale = 28;
    }
    x.magnitude = digits;
    x.scale = scale;
  }
  return StoreDecimal(out, x);
}

HRESULT StoreDate(VARIANT* out, double value) {
  if (value <= kDateMin - 1.0 || value >= kDateMax + 1.0) return DISP_E_OVERFLOW;
  out->date = value;
  return S_OK;
}

HRESULT StoreSingle(VARIANT* out, double value) {
  if (std::fabs(value) > FLT_MAX) return DISP_E_OVERFLOW;
  out->fltVal = static_cast<float>(value);
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Reading a source value.

bool IsRealType(VARTYPE vt) { return vt == VT_R4 || vt == VT_R8 || vt == VT_DATE; }

double RealOf(const VARIANT& v) { return v.vt == VT_R4 ? v.fltVal : v.vt == VT_R8 ? v.dblVal : v.date; }

// Integers, currency and decimals as exact values.
bool ExactOf(const VARIANT& v, Exact* x) {
  auto fromSigned = [x](int64_t value) {
    x->negative = value < 0;
    x->magnitude = value < 0 ? uint128(~static_cast<uint64_t>(value) + 1) : uint128(value);
  };
  switch (v.vt) {
    case VT_I1: fromSigned(static_cast<signed char>(v.cVal)); return true;
    case VT_I2: fromSigned(v.iVal); return true;
    case VT_I4: fromSigned(v.lVal); return true;
    case VT_I8: fromSigned(v.llVal); return true;
    case VT_UI1: x->magnitude = v.bVal; return true;
    case VT_UI2: x->magnitude = v.uiVal; return true;
    case VT_UI4: x->magnitude = v.ulVal; return true;
    case VT_UI8: x->magnitude = v.ullVal; return true;
    case VT_CY:
      fromSigned(v.cyVal.int64);
      x->scale = 4;
      return true;
    case VT_DECIMAL:
      x->negative = (v.decVal.sign & DECIMAL_NEG) != 0;
      x->magnitude = (uint128(v.decVal.Hi32) << 64) | v.decVal.Lo64;
      x->scale = v.decVal.scale;
      return true;
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------------------------
// Texts (the locale-free subset described above).

std::basic_string<OLECHAR> DecimalText(bool negative, uint128 magnitude) {
  std::basic_string<OLECHAR> digits;
  do {
    digits.insert(digits.begin(), OLECHAR(u'0' + int(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude);
  if (negative) digits.insert(digits.begin(), u'-');
  return digits;
}

HRESULT StoreText(VARIANT* out, const std::basic_string<OLECHAR>& text) {
  out->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return out->bstrVal ? S_OK : E_OUTOFMEMORY;
}

bool IsBlank(OLECHAR c) { return c == u' ' || c == u'\t'; }

bool SameLetters(const OLECHAR* text, size_t length, const char* word) {
  if (std::strlen(word) != length) return false;
  for (size_t i = 0; i < length; ++i) {
    OLECHAR c = text[i] >= u'A' && text[i] <= u'Z' ? OLECHAR(text[i] - u'A' + u'a') : text[i];
    if (c != OLECHAR(word[i])) return false;
  }
  return true;
}

// A decimal integer with optional blanks around it and an optional sign.
HRESULT ParseInteger(BSTR text, Exact* x) {
  const OLECHAR* p = text ? text : u"";
  const OLECHAR* end = p + SysStringLen(text);
  while (p < end && IsBlank(*p)) ++p;
  while (end > p && IsBlank(end[-1])) --end;
  if (p < end && (*p == u'-' || *p == u'+')) x->negative = *p++ == u'-';
  if (p == end) return DISP_E_TYPEMISMATCH;
  for (; p < end; ++p) {
    if (*p < u'0' || *p > u'9') return DISP_E_TYPEMISMATCH;
    x->magnitude = x->magnitude * 10 + uint128(*p - u'0');
    if (x->magnitude >= kDecimalLimit) return DISP_E_OVERFLOW;
  }
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Conversion of a by-value, non-array source.

HRESULT Coerce(VARIANT* out, LCID lcid, USHORT flags, VARIANT* source, VARTYPE target);

// An object's value: its default property, converted.
HRESULT FromObject(VARIANT* out, LCID lcid, IDispatch* object, VARTYPE target) {
  if (!object) return DISP_E_BADVARTYPE;
  DISPPARAMS noArguments = {nullptr, nullptr, 0, 0};
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = object->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &noArguments, &value, nullptr, nullptr);
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  VARIANT converted;
  VariantInit(&converted);
  hr = VariantChangeTypeEx(&converted, &value, lcid, 0, target);
  VariantClear(&value);
  if (SUCCEEDED(hr)) *out = converted;  // takes over what the conversion allocated
  return hr;
}

HRESULT CoerceFromBool(VARIANT* out, VARIANT_BOOL value, USHORT flags, VARTYPE target) {
  IntegerType integer = IntegerTypeOf(target);
  if (integer.bits) {
    StoreBits(out, integer.bits, static_cast<uint64_t>(static_cast<int64_t>(value)));
    return S_OK;
  }
  switch (target) {
    case VT_R4: out->fltVal = value; return S_OK;
    case VT_R8: out->dblVal = value; return S_OK;
    case VT_DATE: out->date = value; return S_OK;
    case VT_CY: out->cyVal.int64 = int64_t(value) * 10000; return S_OK;
    case VT_DECIMAL: return StoreDecimal(out, Exact{false, value ? 1u : 0u, 0});
    case VT_BSTR:
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) return StoreText(out, value ? u"True" : u"False");
      return StoreText(out, DecimalText(value < 0, uint128(value < 0 ? -int(value) : int(value))));
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT CoerceFromExact(VARIANT* out, const Exact& x, VARTYPE target) {
  IntegerType integer = IntegerTypeOf(target);
  if (integer.bits) return StoreInteger(out, integer, x.negative, RoundHalfEven(x));
  switch (target) {
    case VT_R4: return StoreSingle(out, ToDouble(x));
    case VT_R8: out->dblVal = ToDouble(x); return S_OK;
    case VT_DATE: return StoreDate(out, ToDouble(x));
    case VT_CY: return StoreCurrency(out, x);
    case VT_DECIMAL: return StoreDecimal(out, x);
    case VT_BOOL: out->boolVal = IsZero(x) ? VARIANT_FALSE : VARIANT_TRUE; return S_OK;
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT CoerceFromReal(VARIANT* out, double value, VARTYPE target) {
  IntegerType integer = IntegerTypeOf(target);
  if (integer.bits) return StoreIntegerFromDouble(out, integer, value);
  switch (target) {
    case VT_R4: return StoreSingle(out, value);
    case VT_R8: out->dblVal = value; return S_OK;
    case VT_DATE: return StoreDate(out, value);
    case VT_CY: return StoreCurrencyFromDouble(out, value);
    case VT_DECIMAL: return StoreDecimalFromDouble(out, value);
    case VT_BOOL: out->boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
    default: return DISP_E_TYPEMISMATCH;  // floating values to text: not in the subset
  }
}

HRESULT CoerceFromText(VARIANT* out, BSTR text, VARTYPE target) {
  if (target == VT_BOOL) {
    UINT length = SysStringLen(text);
    if (SameLetters(text, length, "true") || SameLetters(text, length, "false")) {
      out->boolVal = SameLetters(text, length, "true") ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    }
  }
  if (target == VT_DATE) return DISP_E_TYPEMISMATCH;  // date texts: not in the subset
  Exact x;
  HRESULT hr = ParseInteger(text, &x);
  if (FAILED(hr)) return hr;
  return CoerceFromExact(out, x, target);
}

HRESULT Coerce(VARIANT* out, LCID lcid, USHORT flags, VARIANT* source, VARTYPE target) {
  VARTYPE from = source->vt;
  if (target == VT_INT) target = VT_I4;
  if (target == VT_UINT) target = VT_UI4;
  if (from == VT_INT) from = VT_I4;
  if (from == VT_UINT) from = VT_UI4;
  VARIANT mapped = *source;  // plain integers: a shallow copy owns nothing
  if (from != source->vt) {
    mapped.vt = from;
    source = &mapped;
  }
  if (from == target) return VariantCopy(out, source);
  if ((flags & VARIANT_NOVALUEPROP) && from == VT_DISPATCH && target != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;

  if (target == VT_EMPTY || target == VT_NULL) {
    if (target == VT_EMPTY && from == VT_NULL) return DISP_E_TYPEMISMATCH;
    if (from > VT_UINT || from == 15 || from == VT_ERROR) return DISP_E_TYPEMISMATCH;
    VariantInit(out);
    out->vt = target;
    return S_OK;
  }
  if (target == VT_UNKNOWN || target == VT_DISPATCH) {
    VARTYPE other = target == VT_UNKNOWN ? VT_DISPATCH : VT_UNKNOWN;
    if (from != other) return DISP_E_TYPEMISMATCH;
    if (!source->punkVal) {
      out->punkVal = nullptr;
      return S_OK;
    }
    return source->punkVal->QueryInterface(target == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch,
                                           reinterpret_cast<void**>(&out->punkVal));
  }

  // Same-width signed and unsigned integers: the bits are kept.
  IntegerType fromInteger = IntegerTypeOf(from), toInteger = IntegerTypeOf(target);
  if (fromInteger.bits && fromInteger.bits == toInteger.bits) {
    std::memcpy(&out->llVal, &source->llVal, fromInteger.bits / 8);
    return S_OK;
  }

  switch (from) {
    case VT_EMPTY:
      if (target == VT_BSTR) return StoreText(out, u"");
      return CoerceFromExact(out, Exact{}, target);
    case VT_BOOL:
      return CoerceFromBool(out, source->boolVal, flags, target);
    case VT_BSTR:
      return CoerceFromText(out, source->bstrVal, target);
    case VT_DISPATCH:
      return FromObject(out, lcid, source->pdispVal, target);
    default:
      break;
  }
  if (IsRealType(from)) return CoerceFromReal(out, RealOf(*source), target);
  Exact x;
  if (!ExactOf(*source, &x)) return DISP_E_TYPEMISMATCH;
  if (target == VT_BSTR) {
    if (from == VT_CY || from == VT_DECIMAL) return DISP_E_TYPEMISMATCH;  // not in the subset
    return StoreText(out, DecimalText(x.negative, x.magnitude));
  }
  return CoerceFromExact(out, x, target);
}

HRESULT CoerceArray(VARIANT* out, VARIANT* source, VARTYPE target) {
  if (target == VT_BSTR && source->vt == (VT_ARRAY | VT_UI1)) {
    SAFEARRAY* bytes = source->parray;
    if (!bytes || bytes->cDims != 1) return E_INVALIDARG;
    out->bstrVal = SysAllocStringByteLen(static_cast<LPCSTR>(bytes->pvData), bytes->rgsabound[0].cElements);
    return out->bstrVal ? S_OK : E_OUTOFMEMORY;
  }
  if (source->vt == VT_BSTR && target == (VT_ARRAY | VT_UI1)) {
    UINT length = SysStringByteLen(source->bstrVal);
    out->parray = SafeArrayCreateVector(VT_UI1, 0, length);
    if (!out->parray) return E_OUTOFMEMORY;
    if (length) std::memcpy(out->parray->pvData, source->bstrVal, length);
    return S_OK;
  }
  if (source->vt == target) return SafeArrayCopy(source->parray, &out->parray);
  return DISP_E_TYPEMISMATCH;
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags, VARTYPE vt) {
  if (vt == VT_CLSID) return DISP_E_BADVARTYPE;
  HRESULT hr = ole_internal::ValidateVariantType(pvarSrc->vt);
  if (SUCCEEDED(hr)) hr = ole_internal::ValidateVariantType(vt);
  if (FAILED(hr)) return hr;
  if ((pvarSrc->vt & VT_BYREF) && !pvarSrc->byref) return DISP_E_TYPEMISMATCH;

  VARIANT value, result;
  VariantInit(&value);
  VariantInit(&result);
  hr = VariantCopyInd(&value, pvarSrc);
  if (FAILED(hr)) return hr;
  if ((value.vt & VT_ARRAY) || (vt & VT_ARRAY))
    hr = CoerceArray(&result, &value, vt);
  else
    hr = Coerce(&result, lcid, wFlags, &value, vt);
  if (SUCCEEDED(hr)) {
    result.vt = vt;
    hr = VariantCopy(pvargDest, &result);  // the destination changes only on success
  }
  VariantClear(&result);
  VariantClear(&value);
  return hr;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}
