#include "host/variant_text.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "base/errors.h"
#include "host/host_string.h"

namespace {

WideString WideFromAscii(const std::string& text) { return WideString(text.begin(), text.end()); }

// Up to 15 significant digits, decimal comma, exponent without padding ("1,5", "1E20").
std::string FloatText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%.15G", value);
  std::string text = buffer;
  std::string result;
  const size_t exponent = text.find('E');
  std::string mantissa = text.substr(0, exponent);
  for (char& c : mantissa) {
    if (c == '.') c = ',';
  }
  result = mantissa;
  if (exponent != std::string::npos) {
    std::string digits = text.substr(exponent + 1);
    std::string sign;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
      if (digits[0] == '-') sign = "-";
      digits.erase(0, 1);
    }
    digits.erase(0, digits.find_first_not_of('0') == std::string::npos ? digits.size() - 1
                                                                        : digits.find_first_not_of('0'));
    result += "E" + sign + digits;
  }
  return result;
}

std::string CurrencyText(int64_t scaled) {
  const bool negative = scaled < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string text = std::to_string(magnitude / 10000);
  std::string fraction = std::to_string(10000 + magnitude % 10000).substr(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (!fraction.empty()) text += "," + fraction;
  return negative ? "-" + text : text;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  year = static_cast<int64_t>(yearOfEra) + era * 400;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  if (month <= 2) ++year;
}

constexpr int64_t kAutomationEpochToUnixDays = 25569;  // 1899-12-30 .. 1970-01-01
constexpr double kLargestAutomationDate = 2958465.99999999;  // 31.12.9999 23:59:59

// An automation date: days since 1899-12-30 with the time of day as the fraction (for
// dates before the epoch the fraction counts forward from the day part's start).
// "dd.MM.yyyy", followed by " hh:mm:ss" unless the time is exactly midnight.
bool DateText(double value, std::string& text) {
  if (!std::isfinite(value) || value < -657434.0 || value > kLargestAutomationDate) return false;
  double wholeDays = std::trunc(value);
  int64_t seconds = std::llround(std::fabs(value - wholeDays) * 86400.0);
  if (seconds >= 86400) {
    seconds = 0;
    wholeDays += value < 0 ? -1 : 1;
  }
  int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(static_cast<int64_t>(wholeDays) - kAutomationEpochToUnixDays, year, month, day);
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%02u.%02u.%04lld", day, month, static_cast<long long>(year));
  text = buffer;
  if (seconds != 0) {
    std::snprintf(buffer, sizeof(buffer), " %02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    text += buffer;
  }
  return true;
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
    case VT_R4: ascii = FloatText(V_R4(&value)); break;
    case VT_R8: ascii = FloatText(V_R8(&value)); break;
    case VT_CY: ascii = CurrencyText(V_CY(&value).int64); break;
    case VT_DATE: done = DateText(V_DATE(&value), ascii); break;
    default: done = false; break;
  }
  if (done && !ascii.empty()) text = WideFromAscii(ascii);
  VariantClear(&scratch);
  return done;
}

int32_t VariantToInt32(const VARIANT& value) {
  VARIANT converted;
  VariantInit(&converted);
  if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_I4))) RaiseConversion(value, "Integer");
  return V_I4(&converted);
}

double VariantToDouble(const VARIANT& value) {
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
