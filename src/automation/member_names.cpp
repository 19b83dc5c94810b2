#include "automation/member_names.h"

namespace {

OLECHAR UpperLetter(OLECHAR c) {
  if (c >= u'a' && c <= u'z') return OLECHAR(c - 0x20);
  if (c >= 0x00E0 && c <= 0x00FE && c != 0x00F7) return OLECHAR(c - 0x20);  // Latin-1: à..þ except ÷
  if (c == 0x00FF) return OLECHAR(0x0178);                                   // ÿ
  if (c >= 0x0430 && c <= 0x044F) return OLECHAR(c - 0x20);                  // а..я
  if (c >= 0x0450 && c <= 0x045F) return OLECHAR(c - 0x50);                  // ѐ..џ (ё, ў, є, ...)
  if (c == 0x0491) return OLECHAR(0x0490);                                   // ґ
  return c;
}

}  // namespace

AnsiString UpperMemberName(const AnsiString& name) {
  bool ascii = true;
  for (unsigned char c : name) ascii = ascii && c < 0x80;
  if (ascii) {
    AnsiString upper = name;
    for (char& c : upper)
      if (c >= 'a' && c <= 'z') c = char(c - 0x20);
    return upper;
  }
  WideString wide = WideFromAnsi(name);
  for (OLECHAR& c : wide) c = UpperLetter(c);
  return AnsiFromWide(wide);
}

bool SameMemberName(const AnsiString& a, const AnsiString& b) {
  return UpperMemberName(a) == UpperMemberName(b);
}
