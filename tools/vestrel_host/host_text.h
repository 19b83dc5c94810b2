#pragma once
// Text between the tool's UTF-8 and the UTF-16 of OLE automation.
#include <string>
#include <string_view>

#include "vestrel/ole_types.h"

namespace vestrel_host {

using OleText = std::basic_string<OLECHAR>;

std::string Utf8FromUtf16(const OLECHAR* text, size_t length);
inline std::string Utf8FromUtf16(const OleText& text) { return Utf8FromUtf16(text.data(), text.size()); }
// Invalid sequences become U+FFFD.
OleText Utf16FromUtf8(std::string_view text);
// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view text);
// A BSTR's text (empty for null).
std::string Utf8OfBstr(BSTR text);
// A new BSTR with the text (the caller frees it).
BSTR AllocBstr(const OleText& text);

// Every occurrence of `from` replaced by `to`.
OleText ReplaceAll(OleText text, const OleText& from, const OleText& to);

}  // namespace vestrel_host
