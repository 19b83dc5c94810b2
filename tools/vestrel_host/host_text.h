#pragma once
// Text and values between the host's UTF-8 and the plug-in's OLE types.
#include <string>

#include "vestrel/ole_types.h"
#ifndef _WIN32
// Outside Windows the automation functions (SysAllocString, VariantClear, ...) come from the
// platform layer that stands in for the system.
#include "platform/ole_automation.h"
#endif

std::string Utf8FromUtf16(const OLECHAR* text, size_t length);
std::basic_string<OLECHAR> Utf16FromUtf8(const std::string& text);
// A BSTR's text (empty for null).
std::string Utf8OfBstr(BSTR text);
// A variant as text for the user: numbers, texts, Booleans; objects as "<object>".
std::string VariantDisplay(const VARIANT& value);
// Text files: UTF-16 with its byte-order mark, or UTF-8 (with or without one).
std::basic_string<OLECHAR> DecodeTextFile(const std::string& bytes);
