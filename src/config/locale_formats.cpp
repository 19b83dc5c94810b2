#include "config/locale_formats.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "base/errors.h"

namespace {

constexpr TFormatSettings kFixedFormats{',', '.', ':', "dd.MM.yyyy", "hh:mm", "hh:mm:ss"};
TFormatSettings gFormatSettings = kFixedFormats;

constexpr int64_t kMillisecondsPerDay = 86'400'000;
// OLE DATE day 0 is 30.12.1899, which is day -25569 counted from 01.01.1970.
constexpr int64_t kOleEpochFromUnixDays = -25'569;
constexpr double kMinDateValue = -657'434.0;  // 01.01.0100
constexpr double kMaxDateValue = 2'958'466.0; // 01.01.10000 (exclusive)

[[noreturn]] void RaiseConvert(std::string_view text, const char* what) {
  throw EConvertError("'" + AnsiString(text) + "' is not a valid " + what);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  return text;
}

std::string_view Trim(std::string_view text) {
  text = TrimLeft(text);
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Days since 01.01.1970 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned mp = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2));
}

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

AnsiString TwoDigits(int value) {
  return AnsiString{static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
}

AnsiString FourDigits(int value) { return TwoDigits(value / 100) + TwoDigits(value % 100); }

TDateTimeParts DecodeOrRaise(TDateTime value) {
  TDateTimeParts parts{};
  if (!TryDecodeDateTime(value, parts))
    throw EConvertError("Invalid date value: " + FloatToText(value));
  return parts;
}

// Reads one to maxDigits decimal digits; returns false if there is none.
bool ReadNumber(std::string_view& text, int maxDigits, int& value, int& digits) {
  value = 0;
  digits = 0;
  while (!text.empty() && IsDigit(text.front()) && digits < maxDigits) {
    value = value * 10 + (text.front() - '0');
    text.remove_prefix(1);
    ++digits;
  }
  return digits > 0 && (text.empty() || !IsDigit(text.front()));
}

bool ReadSeparator(std::string_view& text, char separator) {
  if (text.empty() || text.front() != separator)
    return false;
  text.remove_prefix(1);
  return true;
}

int CurrentYear() {
  const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
  return static_cast<int>(std::chrono::year_month_day(today).year());
}

// A one- or two-digit year lies within 50 years before or after the current year.
int ExpandShortYear(int year) {
  constexpr int kCenturyWindow = 50;
  const int pivot = CurrentYear() - kCenturyWindow;
  year += pivot / 100 * 100;
  if (year < pivot)
    year += 100;
  return year;
}

bool ParseDatePart(std::string_view text, int& year, int& month, int& day) {
  const char separator = FormatSettings().DateSeparator;
  int digits = 0;
  if (!ReadNumber(text, 2, day, digits) || !ReadSeparator(text, separator) ||
      !ReadNumber(text, 2, month, digits) || !ReadSeparator(text, separator) ||
      !ReadNumber(text, 4, year, digits) || !text.empty())
    return false;
  if (digits <= 2)
    year = ExpandShortYear(year);
  return true;
}

bool ParseTimePart(std::string_view text, int& hour, int& minute, int& second) {
  const char separator = FormatSettings().TimeSeparator;
  int digits = 0;
  second = 0;
  if (!ReadNumber(text, 2, hour, digits) || !ReadSeparator(text, separator) ||
      !ReadNumber(text, 2, minute, digits))
    return false;
  if (!text.empty() && (!ReadSeparator(text, separator) || !ReadNumber(text, 2, second, digits)))
    return false;
  return text.empty();
}

template <typename Int>
bool ParseInteger(std::string_view text, Int& value) {
  using Unsigned = std::make_unsigned_t<Int>;
  text = TrimLeft(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (!text.empty() && text.front() == '$') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty())
    return false;
  Unsigned magnitude = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, magnitude, base);
  if (error != std::errc() || stop != end)
    return false;
  if (base == 16) {
    // Hexadecimal texts give the bit pattern: "$FFFFFFFF" is -1 as a 32-bit integer.
    value = static_cast<Int>(negative ? Unsigned(0) - magnitude : magnitude);
    return true;
  }
  const Unsigned limit = negative ? Unsigned(std::numeric_limits<Int>::max()) + 1
                                  : Unsigned(std::numeric_limits<Int>::max());
  if (magnitude > limit)
    return false;
  value = negative ? static_cast<Int>(Unsigned(0) - magnitude) : static_cast<Int>(magnitude);
  return true;
}

}  // namespace

void ApplyLocaleFormats() { gFormatSettings = kFixedFormats; }

const TFormatSettings& FormatSettings() { return gFormatSettings; }

AnsiString IntToText(int64_t value) { return std::to_string(value); }

bool TryTextToInt(std::string_view text, int32_t& value) { return ParseInteger(text, value); }

bool TryTextToInt64(std::string_view text, int64_t& value) { return ParseInteger(text, value); }

int32_t TextToInt(std::string_view text) {
  int32_t value = 0;
  if (!TryTextToInt(text, value))
    RaiseConvert(text, "integer value");
  return value;
}

int32_t TextToIntDef(std::string_view text, int32_t defaultValue) {
  int32_t value = 0;
  return TryTextToInt(text, value) ? value : defaultValue;
}

AnsiString FloatToText(double value) {
  if (std::isnan(value))
    return "NAN";
  if (std::isinf(value))
    return value < 0 ? "-INF" : "INF";
  if (value == 0)
    return "0";
  // Fifteen significant digits, rounded: d.dddddddddddddde±x.
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
  const std::string scientific(buffer, result.ptr);
  const size_t ePosition = scientific.find('e');
  const bool negative = scientific[0] == '-';
  std::string digits;
  for (size_t i = negative ? 1 : 0; i < ePosition; ++i)
    if (IsDigit(scientific[i]))
      digits.push_back(scientific[i]);
  while (digits.size() > 1 && digits.back() == '0')
    digits.pop_back();
  const int exponent = std::atoi(scientific.c_str() + ePosition + 1);
  const char comma = FormatSettings().DecimalSeparator;

  AnsiString text = negative ? "-" : "";
  // Digits before the comma: exponent + 1.
  if (exponent + 1 > 15 || exponent < -5) {
    text += digits[0];
    if (digits.size() > 1)
      text += comma + digits.substr(1);
    text += 'E' + std::to_string(exponent);
  } else if (exponent < 0) {
    text += '0';
    text += comma;
    text += std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  } else {
    const size_t whole = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      text += digits + std::string(whole - digits.size(), '0');
    } else {
      text += digits.substr(0, whole);
      text += comma;
      text += digits.substr(whole);
    }
  }
  return text;
}

bool TryTextToFloat(std::string_view text, double& value) {
  text = Trim(text);
  const char comma = FormatSettings().DecimalSeparator;
  // Rebuild the number in the form from_chars reads (point, no plus sign).
  std::string plain;
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+'))
    if (text[i++] == '-')
      plain.push_back('-');
  size_t mantissaDigits = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i, ++mantissaDigits)
    plain.push_back(text[i]);
  if (i < text.size() && text[i] == comma) {
    plain.push_back('.');
    for (++i; i < text.size() && IsDigit(text[i]); ++i, ++mantissaDigits)
      plain.push_back(text[i]);
  }
  if (mantissaDigits == 0)
    return false;
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    plain.push_back('e');
    ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
      plain.push_back(text[i++]);
    size_t exponentDigits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++exponentDigits)
      plain.push_back(text[i]);
    if (exponentDigits == 0)
      return false;
  }
  if (i != text.size())
    return false;
  double parsed = 0;
  const char* end = plain.data() + plain.size();
  const auto [stop, error] = std::from_chars(plain.data(), end, parsed);
  if (error != std::errc() || stop != end)
    return false;
  value = parsed;
  return true;
}

double TextToFloat(std::string_view text) {
  double value = 0;
  if (!TryTextToFloat(text, value))
    RaiseConvert(text, "floating point value");
  return value;
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                       int millisecond, TDateTime& value) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    return false;
  const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                       kOleEpochFromUnixDays;
  const double time = ((hour * 60 + minute) * 60 + second) * 1000.0 + millisecond;
  const double fraction = time / kMillisecondsPerDay;
  value = days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
  return true;
}

bool TryDecodeDateTime(TDateTime value, TDateTimeParts& parts) {
  if (!(value >= kMinDateValue && value < kMaxDateValue))
    return false;
  int64_t days = static_cast<int64_t>(std::trunc(value));
  int64_t milliseconds = std::llround(std::fabs(value - static_cast<double>(days)) * kMillisecondsPerDay);
  if (milliseconds >= kMillisecondsPerDay) {
    milliseconds -= kMillisecondsPerDay;
    ++days;
  }
  CivilFromDays(days + kOleEpochFromUnixDays, parts.Year, parts.Month, parts.Day);
  if (parts.Year > 9999)
    return false;
  parts.Millisecond = static_cast<int>(milliseconds % 1000);
  parts.Second = static_cast<int>(milliseconds / 1000 % 60);
  parts.Minute = static_cast<int>(milliseconds / 60'000 % 60);
  parts.Hour = static_cast<int>(milliseconds / 3'600'000);
  return true;
}

AnsiString DateToText(TDateTime value) {
  const TDateTimeParts parts = DecodeOrRaise(value);
  const char separator = FormatSettings().DateSeparator;
  return TwoDigits(parts.Day) + separator + TwoDigits(parts.Month) + separator + FourDigits(parts.Year);
}

AnsiString ShortTimeToText(TDateTime value) {
  const TDateTimeParts parts = DecodeOrRaise(value);
  return TwoDigits(parts.Hour) + FormatSettings().TimeSeparator + TwoDigits(parts.Minute);
}

AnsiString TimeToText(TDateTime value) {
  const TDateTimeParts parts = DecodeOrRaise(value);
  const char separator = FormatSettings().TimeSeparator;
  return TwoDigits(parts.Hour) + separator + TwoDigits(parts.Minute) + separator + TwoDigits(parts.Second);
}

AnsiString DateTimeToText(TDateTime value) {
  const TDateTimeParts parts = DecodeOrRaise(value);
  AnsiString text = DateToText(value);
  if (parts.Hour != 0 || parts.Minute != 0 || parts.Second != 0 || parts.Millisecond != 0)
    text += ' ' + TimeToText(value);
  return text;
}

bool TryTextToDateTime(std::string_view text, TDateTime& value) {
  text = Trim(text);
  std::string_view datePart, timePart;
  const size_t blank = text.find_first_of(" \t");
  if (blank != std::string_view::npos) {
    datePart = text.substr(0, blank);
    timePart = TrimLeft(text.substr(blank));
  } else if (text.find(FormatSettings().TimeSeparator) != std::string_view::npos) {
    timePart = text;
  } else {
    datePart = text;
  }
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
  if (!datePart.empty() && !ParseDatePart(datePart, year, month, day))
    return false;
  if (!timePart.empty() && !ParseTimePart(timePart, hour, minute, second))
    return false;
  if (datePart.empty() && timePart.empty())
    return false;
  return TryEncodeDateTime(year, month, day, hour, minute, second, 0, value);
}

TDateTime TextToDateTime(std::string_view text) {
  TDateTime value = 0;
  if (!TryTextToDateTime(text, value))
    RaiseConvert(text, "date and time");
  return value;
}
