#pragma once
// Texts inside the plug-in and texts crossing COM.
//
// AnsiString: the host's 8-bit texts, bytes in the host's code page (the system ANSI code
// page on Windows, code page 1251 elsewhere). Member names, error messages and every
// 8-bit text the host hands over or receives are kept in this form.
// WideString: UTF-16 texts as OLE automation carries them (BSTR contents).
// Source literals are UTF-8; AnsiFromUtf8/WideFromUtf8 turn them into the two forms.

#include <string>
#include <string_view>

#include "platform/ole_automation.h"

using AnsiString = std::string;
using WideString = std::basic_string<OLECHAR>;
using WideStringView = std::basic_string_view<OLECHAR>;

// The code page of AnsiString: GetACP() on Windows, 1251 elsewhere.
unsigned HostCodePage();

WideString WideFromAnsi(std::string_view text);
// Characters without a representation in the host code page become '?'.
AnsiString AnsiFromWide(WideStringView text);

WideString WideFromUtf8(std::string_view text);
std::string Utf8FromWide(WideStringView text);

AnsiString AnsiFromUtf8(std::string_view text);
std::string Utf8FromAnsi(std::string_view text);

// Counts UTF-16 units up to the first zero unit.
size_t WideLength(const OLECHAR* text);
