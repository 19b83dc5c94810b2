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

#include "vestrel/ole_types.h"

namespace platform {

// Letter case of UTF-16 texts the same on every system, whatever the user's regional settings
// and code page: the system's own names (member names, parameter names) compare by it. Capital
// letters of Latin, Latin-1, Greek and Cyrillic fold to their small letters; every other unit
// stands for itself.
constexpr OLECHAR FoldedUnit(OLECHAR unit) {
  if (unit < 0x80) return unit >= u'A' && unit <= u'Z' ? static_cast<OLECHAR>(unit + 0x20) : unit;
  if ((unit >= 0x00C0 && unit <= 0x00DE && unit != 0x00D7) || (unit >= 0x0391 && unit <= 0x03AB && unit != 0x03A2) ||
      (unit >= 0x0410 && unit <= 0x042F))
    return static_cast<OLECHAR>(unit + 0x20);
  if (unit >= 0x0400 && unit <= 0x040F) return static_cast<OLECHAR>(unit + 0x50);
  return unit;
}
// FoldedUnit of count units from source into target (through a table: the lookups that run on
// every host call use this).
void FoldUnits(const OLECHAR* source, size_t count, OLECHAR* target);
std::basic_string<OLECHAR> FoldedText(std::basic_string_view<OLECHAR> text);
bool SameFoldedText(std::basic_string_view<OLECHAR> a, std::basic_string_view<OLECHAR> b);

// <0, 0 or >0 as a sorts before, equal to or after b.
int CompareText(std::string_view a, std::string_view b, bool ignoreCase);
inline bool SameText(std::string_view a, std::string_view b) { return CompareText(a, b, true) == 0; }

// The code page the comparison reads the bytes in: the user locale's ANSI code page on Windows
// (GetACP), 1251 elsewhere.
unsigned TextCompareCodePage();

std::string UpperCaseText(std::string_view text);
std::string LowerCaseText(std::string_view text);

}  // namespace platform
