#pragma once
// Comparison and case mapping of 8-bit texts (host code page) as the user's locale does it,
// for Latin and Cyrillic letters.
//
// Windows: CompareStringA on the user's default locale (NORM_IGNORECASE when case is ignored),
// CharUpperBuffA / CharLowerBuffA. POSIX: our own rules over code page 1251: Latin A-Z/a-z and
// Cyrillic А-Я/а-я with Ё/ё are case pairs, letters order alphabetically (Ё right after Е), and
// with case observed a lower-case letter sorts before its upper-case pair.
#include <string>
#include <string_view>

namespace platform {

// <0, 0 or >0 as a sorts before, equal to or after b.
int CompareText(std::string_view a, std::string_view b, bool ignoreCase);
inline bool SameText(std::string_view a, std::string_view b) { return CompareText(a, b, true) == 0; }

// The code page the comparison reads the bytes in: the user locale's ANSI code page on Windows
// (GetACP), 1251 elsewhere.
unsigned TextCompareCodePage();

std::string UpperCaseText(std::string_view text);
std::string LowerCaseText(std::string_view text);

}  // namespace platform
