#include "config/locale_formats.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "base/errors.h"

TEST(LocaleFormats, FixedSettings) {
  ApplyLocaleFormats();
  const TFormatSettings& settings = FormatSettings();
  EXPECT_EQ(settings.DecimalSeparator, ',');
  EXPECT_EQ(settings.DateSeparator, '.');
  EXPECT_EQ(settings.TimeSeparator, ':');
  EXPECT_STREQ(settings.ShortDateFormat, "dd.MM.yyyy");
  EXPECT_STREQ(settings.ShortTimeFormat, "hh:mm");
  EXPECT_STREQ(settings.LongTimeFormat, "hh:mm:ss");
}

TEST(IntegerText, ParsesDecimalAndHexadecimal) {
  EXPECT_EQ(TextToInt("42"), 42);
  EXPECT_EQ(TextToInt("  -17"), -17);
  EXPECT_EQ(TextToInt("+5"), 5);
  EXPECT_EQ(TextToInt("$1A2B"), 0x1A2B);
  EXPECT_EQ(TextToInt("0x10"), 16);
  EXPECT_EQ(TextToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(TextToInt("2147483647"), 2147483647);
  EXPECT_EQ(TextToInt("-2147483648"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(IntToText(-9'000'000'000), "-9000000000");
}

TEST(IntegerText, RejectsMalformedAndOutOfRange) {
  for (const char* bad : {"", " ", "-", "12a", "1 2", "5 ", "2147483648", "-2147483649", "1,5", "$", "0x",
                          "$100000000"}) {
    int32_t value = 77;
    EXPECT_FALSE(TryTextToInt(bad, value)) << bad;
    EXPECT_EQ(value, 77) << bad;
  }
  EXPECT_EQ(TextToIntDef("abc", -3), -3);
  try {
    TextToInt("12a");
    FAIL() << "no exception";
  } catch (const EConvertError& error) {
    EXPECT_EQ(error.Message(), "'12a' is not a valid integer value");
  }
}

TEST(FloatText, WritesDecimalCommaAndFifteenDigits) {
  EXPECT_EQ(FloatToText(0.0), "0");
  EXPECT_EQ(FloatToText(-0.0), "0");
  EXPECT_EQ(FloatToText(3.0), "3");
  EXPECT_EQ(FloatToText(3.5), "3,5");
  EXPECT_EQ(FloatToText(-1234.25), "-1234,25");
  EXPECT_EQ(FloatToText(0.1), "0,1");
  EXPECT_EQ(FloatToText(1.0 / 3.0), "0,333333333333333");
  EXPECT_EQ(FloatToText(2.0 / 3.0), "0,666666666666667");
  EXPECT_EQ(FloatToText(0.1 + 0.2), "0,3");
  EXPECT_EQ(FloatToText(100.0), "100");
  EXPECT_EQ(FloatToText(123456789012345.0), "123456789012345");
}

TEST(FloatText, SwitchesToScientificAtTheBoundaries) {
  EXPECT_EQ(FloatToText(1e15), "1E15");
  EXPECT_EQ(FloatToText(1.5e20), "1,5E20");
  EXPECT_EQ(FloatToText(0.00001), "0,00001");
  EXPECT_EQ(FloatToText(0.000012), "0,000012");
  EXPECT_EQ(FloatToText(0.000009), "9E-6");
  EXPECT_EQ(FloatToText(-1.5e-7), "-1,5E-7");
  EXPECT_EQ(FloatToText(std::numeric_limits<double>::quiet_NaN()), "NAN");
  EXPECT_EQ(FloatToText(-std::numeric_limits<double>::infinity()), "-INF");
}

TEST(FloatText, ParsesOnlyTheDecimalComma) {
  EXPECT_DOUBLE_EQ(TextToFloat("3,5"), 3.5);
  EXPECT_DOUBLE_EQ(TextToFloat(" -0,25 "), -0.25);
  EXPECT_DOUBLE_EQ(TextToFloat("+7"), 7.0);
  EXPECT_DOUBLE_EQ(TextToFloat(",5"), 0.5);
  EXPECT_DOUBLE_EQ(TextToFloat("5,"), 5.0);
  EXPECT_DOUBLE_EQ(TextToFloat("1,5E-7"), 1.5e-7);
  EXPECT_DOUBLE_EQ(TextToFloat("2e3"), 2000.0);
  for (const char* bad : {"", ",", "3.5", "1,2,3", "1E", "1e+", "abc", "1 000", "--1", "0x10"}) {
    double value = 9;
    EXPECT_FALSE(TryTextToFloat(bad, value)) << bad;
  }
  EXPECT_THROW(TextToFloat("3.5"), EConvertError);
}

TEST(FloatText, RoundTripsThroughText) {
  for (double value : {0.5, -12.75, 1e-3, 123456.789, 9.87654321e-10, 4.2e100, 1e15, 0.000009}) {
    EXPECT_DOUBLE_EQ(TextToFloat(FloatToText(value)), value) << FloatToText(value);
  }
}

TEST(FloatText, IgnoresTheCRuntimeLocale) {
  // Whatever numeric locale the process has, the texts keep the comma.
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(FloatToText(2.5), "2,5");
  EXPECT_DOUBLE_EQ(TextToFloat("2,5"), 2.5);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(DateText, WritesFixedDateAndTimeFormats) {
  EXPECT_EQ(DateToText(0.0), "30.12.1899");
  EXPECT_EQ(DateTimeToText(0.0), "30.12.1899");
  EXPECT_EQ(DateToText(2.0), "01.01.1900");
  EXPECT_EQ(DateToText(45351.0), "29.02.2024");
  EXPECT_EQ(DateTimeToText(45351.5), "29.02.2024 12:00:00");
  EXPECT_EQ(TimeToText(0.75), "18:00:00");
  EXPECT_EQ(ShortTimeToText(0.75), "18:00");
  // Negative dates run backwards, their time still forwards from midnight.
  EXPECT_EQ(DateTimeToText(-1.25), "29.12.1899 06:00:00");
  // A time that rounds up to midnight moves to the next day.
  EXPECT_EQ(DateTimeToText(45351.0 - 1e-10), "29.02.2024");
  EXPECT_EQ(DateTimeToText(45350.9999999), "28.02.2024 23:59:59");
  EXPECT_THROW(DateToText(3e6), EConvertError);
  EXPECT_THROW(DateToText(std::numeric_limits<double>::quiet_NaN()), EConvertError);
}

TEST(DateText, EncodesAndDecodes) {
  TDateTime value = 0;
  ASSERT_TRUE(TryEncodeDateTime(2024, 2, 29, 13, 45, 30, 0, value));
  EXPECT_EQ(DateTimeToText(value), "29.02.2024 13:45:30");
  EXPECT_FALSE(TryEncodeDateTime(2023, 2, 29, 0, 0, 0, 0, value));
  EXPECT_FALSE(TryEncodeDateTime(2024, 13, 1, 0, 0, 0, 0, value));
  EXPECT_FALSE(TryEncodeDateTime(2024, 1, 1, 24, 0, 0, 0, value));
  ASSERT_TRUE(TryEncodeDateTime(100, 1, 1, 0, 0, 0, 0, value));
  EXPECT_DOUBLE_EQ(value, -657434.0);
  ASSERT_TRUE(TryEncodeDateTime(9999, 12, 31, 0, 0, 0, 0, value));
  EXPECT_DOUBLE_EQ(value, 2958465.0);
  TDateTimeParts parts{};
  ASSERT_TRUE(TryDecodeDateTime(-657434.0, parts));
  EXPECT_EQ(parts.Year, 100);
  EXPECT_FALSE(TryDecodeDateTime(2958466.0, parts));
}

TEST(DateText, ParsesDatesTimesAndBoth) {
  EXPECT_DOUBLE_EQ(TextToDateTime("29.02.2024"), 45351.0);
  EXPECT_DOUBLE_EQ(TextToDateTime("1.3.2024"), 45352.0);
  EXPECT_DOUBLE_EQ(TextToDateTime("29.02.2024 12:00"), 45351.5);
  EXPECT_DOUBLE_EQ(TextToDateTime(" 29.02.2024   18:00:00 "), 45351.75);
  EXPECT_DOUBLE_EQ(TextToDateTime("06:00"), 0.25);
  EXPECT_EQ(DateTimeToText(TextToDateTime("31.12.99")).substr(0, 6), "31.12.");
  for (const char* bad : {"", "29.02.2023", "2024-02-29", "29/02/2024", "12:60", "25:00", "29.02.2024 x",
                          "1.2", "12:", "123.1.2024", "29.02.2024 12:00:00:00"}) {
    TDateTime value = 0;
    EXPECT_FALSE(TryTextToDateTime(bad, value)) << bad;
  }
  try {
    TextToDateTime("2024-02-29");
    FAIL() << "no exception";
  } catch (const EConvertError& error) {
    EXPECT_EQ(error.Message(), "'2024-02-29' is not a valid date and time");
  }
}
