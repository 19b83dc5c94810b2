#pragma once
// Identifiers (GUIDs) and their registry text form: 38 characters, braces, hexadecimal
// groups of 8-4-4-4-12 upper-case digits ("{0A1B06F1-BFF2-4B10-9B5B-159937A1F35B}").
// The all-zero GUID stands for "no identifier".

#include <string_view>

#include "platform/ole_automation.h"
#include "platform/text_codec.h"

using TGlobalId = GUID;

// The message of a text that is not an identifier.
inline constexpr const char* kNotAGlobalIdUtf8 = "Значение не является идентификатором объекта.";

// Empty text gives the all-zero GUID; otherwise the system's text-to-GUID conversion
// (CLSIDFromString) decides. A text it refuses raises a plain Exception with the message
// "Значение не является идентификатором объекта.".
TGlobalId StrToGlobalId(WideStringView Text);
TGlobalId StrToGlobalId(std::string_view Text);  // host code page text

// True for a text variant (by value or by reference) that StrToGlobalId accepts, the empty
// text included; false for every other value. Never raises.
bool IsGlobalId(const VARIANT& Value);

// The registry form, upper-case.
WideString GlobalIdToStr(const TGlobalId& Id);
AnsiString GlobalIdToAnsiStr(const TGlobalId& Id);

// A fresh identifier from the system's generator.
TGlobalId NewGlobalId();

// Byte-wise equality of the 16 bytes.
bool SameGlobalId(const TGlobalId& A, const TGlobalId& B);
