#include "host/wire/variant_text.h"

#include <cmath>
#include <string>

#include "base/errors.h"
#include "config/locale_formats.h"
#include "host/wire/host_string.h"

namespace {

WideString WideFromAscii(const std::string& text) { return WideString(text.begin(), text.end()); }

std::string CurrencyText(int64_t scaled) {
  const bool negative = scaled < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string text = std::to_string(magnitude / 10000);
  std::string fraction = std::to_string(10000 + magnitude % 10000).substr(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (!fraction.empty()) text += "," + fraction;
  return negative ? "-" + text : text;
}

// The date and time in the process-wide formats; false outside the calendar's range.
bool DateText(double value, std::string& text) {
  try {
    text = DateTimeToText(value);
    return true;
  } catch (const EConvertError&) {
    return false;
  }
}

[[noreturn]] void RaiseConversion(const VARIANT& value, const char* target) {
  throw EConvertError("Could not convert variant of type (" + std::to_string(V_VT(&value)) + ") into type (" +
                      target + ")");
}

// The value itself for a by-reference variant.
const VARIANT& Dereferenced(const VARIANT& value, VARIANT& scratch) {
  if (V_VT(&value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&value) != nullptr) return *V_VARIANTREF(&value);
  if ((V_VT(&value) & VT_BYREF) == 0 || (V_VT(&value) & VT_ARRAY) != 0) return value;
  // A by-reference simple value: copy the referenced value into a by-value variant.
  VariantInit(&scratch);
  if (FAILED(VariantCopyInd(&scratch, const_cast<VARIANT*>(&value)))) return value;
  return scratch;
}

}  // namespace

bool VariantToText(const VARIANT& original, WideString& text) {
  VARIANT scratch;
  VariantInit(&scratch);
  const VARIANT& value = Dereferenced(original, scratch);
  bool done = true;
  std::string ascii;
  switch (V_VT(&value)) {
    case VT_EMPTY: text.clear(); break;
    case VT_BSTR: text = V_BSTR(&value) ? WideString(V_BSTR(&value), WideLength(V_BSTR(&value))) : WideString(); break;
    case kVarTypeHostString: text = WideFromAnsi(HostStringText(static_cast<const char*>(V_BYREF(&value)))); break;
    case VT_I1: ascii = std::to_string(static_cast<int>(V_I1(&value))); break;
    case VT_UI1: ascii = std::to_string(static_cast<unsigned>(V_UI1(&value))); break;
    case VT_I2: ascii = std::to_string(V_I2(&value)); break;
    case VT_UI2: ascii = std::to_string(V_UI2(&value)); break;
    case VT_I4: ascii = std::to_string(V_I4(&value)); break;
    case VT_UI4: ascii = std::to_string(V_UI4(&value)); break;
    case VT_INT: ascii = std::to_string(V_INT(&value)); break;
    case VT_UINT: ascii = std::to_string(V_UINT(&value)); break;
    case VT_I8: ascii = std::to_string(static_cast<long long>(V_I8(&value))); break;
    case VT_UI8: ascii = std::to_string(static_cast<unsigned long long>(V_UI8(&value))); break;
    case VT_BOOL: ascii = V_BOOL(&value) ? "True" : "False"; break;
    case VT_R4: ascii = FloatToText(V_R4(&value)); break;
    case VT_R8: ascii = FloatToText(V_R8(&value)); break;
    case VT_CY: ascii = CurrencyText(V_CY(&value).int64); break;
    case VT_DATE: done = DateText(V_DATE(&value), ascii); break;
    default: done = false; break;
  }
  if (done && !ascii.empty()) text = WideFromAscii(ascii);
  VariantClear(&scratch);
  return done;
}

namespace {

// The text of a text value (OLE or host string, also by reference); false for other values.
bool TextOfTextValue(const VARIANT& original, std::string& text) {
  VARIANT scratch;
  VariantInit(&scratch);
  const VARIANT& value = Dereferenced(original, scratch);
  const VARTYPE type = V_VT(&value);
  const bool isText = type == VT_BSTR || type == kVarTypeHostString;
  if (type == VT_BSTR) {
    text = AnsiFromWide(WideStringView(V_BSTR(&value) ? V_BSTR(&value) : OLESTR(""), SysStringLen(V_BSTR(&value))));
  } else if (type == kVarTypeHostString) {
    text = HostStringText(static_cast<const char*>(V_BYREF(&value)));
  }
  VariantClear(&scratch);
  return isText;
}

// A whole number from a fixed-format number text: an integer text as it stands, a
// fraction rounded half to even, as a conversion of the number would round it.
bool IntegerFromText(const std::string& text, int32_t& result) {
  if (TryTextToInt(text, result)) return true;
  double number = 0;
  if (!TryTextToFloat(text, number)) return false;
  const double rounded = std::nearbyint(number);
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return false;
  result = static_cast<int32_t>(rounded);
  return true;
}

}  // namespace

// Texts are read in the fixed formats on every platform (never through VariantChangeType,
// which follows the user's regional settings on Windows); other values convert as numbers.
int32_t VariantToInt32(const VARIANT& value) {
  std::string text;
  if (TextOfTextValue(value, text)) {
    int32_t result = 0;
    if (!IntegerFromText(text, result)) RaiseConversion(value, "Integer");
    return result;
  }
  VARIANT converted;
  VariantInit(&converted);
  if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_I4))) RaiseConversion(value, "Integer");
  return V_I4(&converted);
}

double VariantToDouble(const VARIANT& value) {
  std::string text;
  if (TextOfTextValue(value, text)) {
    double result = 0;
    if (!TryTextToFloat(text, result)) RaiseConversion(value, "Double");
    return result;
  }
  VARIANT converted;
  VariantInit(&converted);
  if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_R8))) RaiseConversion(value, "Double");
  return V_R8(&converted);
}

WideString VariantToWideText(const VARIANT& value) {
  WideString text;
  if (!VariantToText(value, text)) RaiseConversion(value, "String");
  return text;
}
