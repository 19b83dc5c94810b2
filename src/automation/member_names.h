#pragma once
// Member names of the automation name tables: stored upper-cased, compared with case
// ignored. Case folding covers the letters of the host code pages (Latin, Latin-1 and
// Cyrillic), so "getbounds" finds "GetBounds" and "строка" finds "СТРОКА".

#include "platform/text_codec.h"

AnsiString UpperMemberName(const AnsiString& name);
bool SameMemberName(const AnsiString& a, const AnsiString& b);
