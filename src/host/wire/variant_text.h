#pragma once
// Texts of variant values in the process-wide formats (decimal comma, dd.MM.yyyy,
// hh:mm:ss), independent of the user's regional settings. Used where the block and the
// variant stream turn a value into text (by-reference write-back, error texts).

#include "platform/ole_automation.h"
#include "platform/text_codec.h"

// The value as text; false for values without a text form (null, objects, arrays, errors).
bool VariantToText(const VARIANT& value, WideString& text);

// Conversions for writing through by-reference arguments; raise EConvertError when the
// value has no such form.
int32_t VariantToInt32(const VARIANT& value);
double VariantToDouble(const VARIANT& value);
WideString VariantToWideText(const VARIANT& value);
