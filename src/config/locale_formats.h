#pragma once
// The plug-in's own number and date texts. Every number and date the plug-in writes or
// parses follows one fixed set of formats (decimal comma, dd.MM.yyyy, hh:mm:ss), on every
// platform and whatever the user's regional settings are: these routines never consult
// the system locale (nor VariantChangeType).

#include <cstdint>
#include <string_view>

#include "platform/text_codec.h"

// The process-wide formatting settings.
struct TFormatSettings {
  char DecimalSeparator;
  char DateSeparator;
  char TimeSeparator;
  const char* ShortDateFormat;
  const char* ShortTimeFormat;
  const char* LongTimeFormat;
};

// Fixes the settings at module start: ",", ".", ":", "dd.MM.yyyy", "hh:mm", "hh:mm:ss".
// The settings hold these values from the start as well, so no caller depends on the
// order in which modules start.
void ApplyLocaleFormats();
const TFormatSettings& FormatSettings();

// Integers: optional blanks before, an optional sign, then decimal digits, or hexadecimal
// digits after "$" or "0x". Out of range or malformed text raises EConvertError with
// "'<text>' is not a valid integer value".
AnsiString IntToText(int64_t value);
bool TryTextToInt(std::string_view text, int32_t& value);
bool TryTextToInt64(std::string_view text, int64_t& value);
int32_t TextToInt(std::string_view text);
int32_t TextToIntDef(std::string_view text, int32_t defaultValue);

// Floating point: up to 15 significant digits with the decimal comma, trailing zeros cut;
// the scientific form ("1,5E-7", "1E15") when the value is below 0,00001 or has more than
// 15 digits before the comma. NaN and infinities give "NAN", "INF", "-INF".
AnsiString FloatToText(double value);
// Accepts blanks around, a sign, digits with at most one decimal comma, and an exponent
// ("E" or "e", optional sign, digits). A point is not a decimal separator here. Failure
// raises EConvertError with "'<text>' is not a valid floating point value".
bool TryTextToFloat(std::string_view text, double& value);
double TextToFloat(std::string_view text);

// Dates and times as OLE DATE values: days since 30.12.1899, the fraction of the day as
// the time (for negative values the time is the fraction's absolute value).
using TDateTime = double;

// Out-of-range values (outside 01.01.0100 .. 31.12.9999) raise EConvertError.
AnsiString DateToText(TDateTime value);      // "dd.MM.yyyy"
AnsiString TimeToText(TDateTime value);      // "hh:mm:ss"
AnsiString ShortTimeToText(TDateTime value); // "hh:mm"
// The date, then a blank and the time unless the time is exactly midnight.
AnsiString DateTimeToText(TDateTime value);

// Parses "d.M.yyyy", "h:m[:s]" or both separated by blanks. Day and month take one or
// two digits; a year of one or two digits lies within 50 years of the current year.
// Failure raises EConvertError with "'<text>' is not a valid date and time".
bool TryTextToDateTime(std::string_view text, TDateTime& value);
TDateTime TextToDateTime(std::string_view text);

// Building and taking apart OLE DATE values; false when a part is out of range.
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                       int millisecond, TDateTime& value);
struct TDateTimeParts {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};
bool TryDecodeDateTime(TDateTime value, TDateTimeParts& parts);
