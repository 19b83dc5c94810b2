#pragma once
// Text routines shared by the configuration code: a fast replace over whole configuration
// texts, the escaping of line breaks in one-line values, and splitting bilingual names.

#include "platform/text_codec.h"

// Replaces every non-overlapping occurrence of Find in Source, left to right; replaced
// text is not searched again. The search is Boyer-Moore-Horspool over the text's units.
// Without CaseSensitive only the Latin letters a-z/A-Z are folded: Cyrillic and other
// bytes must match exactly. An empty Find leaves Source unchanged.
AnsiString ReplaceText(const AnsiString& Source, const AnsiString& Find,
                       const AnsiString& ReplaceWith, bool CaseSensitive);
// The same over UTF-16 texts (case folding again only for a-z/A-Z).
WideString ReplaceText(const WideString& Source, const WideString& Find,
                       const WideString& ReplaceWith, bool CaseSensitive);

// ToEscaped: every CR LF pair becomes the two characters '\' 'n'.
// Back (ToEscaped false): every '\' 'n' pair becomes CR LF, except in a text that looks
// like a path ("C:\..." or "\\server\..."), which comes back unchanged.
AnsiString ConvertLineBreaks(const AnsiString& Text, bool ToEscaped);
WideString ConvertLineBreaks(const WideString& Text, bool ToEscaped);

// TakeRest false: the text before the first comma (all of Text when there is none).
// TakeRest true: the text after the first comma (empty when there is none).
AnsiString SplitAtComma(const AnsiString& Text, bool TakeRest);
WideString SplitAtComma(const WideString& Text, bool TakeRest);
