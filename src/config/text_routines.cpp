#include "config/text_routines.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string>

namespace {

// ASCII-only upper-casing: the fold table of the case-insensitive search.
constexpr std::array<uint8_t, 256> MakeFoldTable() {
  std::array<uint8_t, 256> table{};
  for (unsigned value = 0; value < 256; ++value)
    table[value] = static_cast<uint8_t>(value >= 'a' && value <= 'z' ? value - 'a' + 'A' : value);
  return table;
}
constexpr std::array<uint8_t, 256> kFoldTable = MakeFoldTable();

template <typename Char>
constexpr unsigned Unit(Char c) {
  return static_cast<std::make_unsigned_t<Char>>(c);
}

// A text unit as the search sees it: folded when the search ignores Latin case.
template <typename Char>
unsigned SearchUnit(Char c, bool caseSensitive) {
  const unsigned unit = Unit(c);
  if (caseSensitive || unit > 0xFF)
    return unit;
  return kFoldTable[unit];
}

// The first output capacity: enough for every byte of Source to be replaced when the
// replacement is longer than the pattern, else the source length; a computation that
// overflows or gives 0 falls back to (source + replacement) * 1.5. The guess never goes
// beyond the source and the replacement plus kMaxReserveAhead units: the output grows on
// demand past that, so a short pattern and a long replacement cannot reserve memory the
// text will never need.
constexpr size_t kMaxReserveAhead = size_t{1} << 20;

size_t InitialCapacity(size_t sourceLength, size_t findLength, size_t replaceLength) {
  size_t capacity = sourceLength;
  if (replaceLength > findLength) {
    if (sourceLength != 0 && replaceLength > std::numeric_limits<size_t>::max() / sourceLength)
      capacity = 0;
    else
      capacity = sourceLength * replaceLength / findLength;
  }
  if (capacity == 0)
    capacity = (sourceLength + replaceLength) * 3 / 2;
  return std::min(capacity, sourceLength + replaceLength + kMaxReserveAhead);
}

// Appends to an output whose capacity grows by half each time a piece does not fit
// (once per append at least; more often when one piece exceeds the grown capacity).
template <typename Char>
class GrowingOutput {
public:
  explicit GrowingOutput(size_t capacity) : FCapacity(capacity) { FText.reserve(FCapacity); }

  void Append(const Char* data, size_t length) {
    if (FText.size() + length > FCapacity) {
      do
        FCapacity = FCapacity * 3 / 2 + 1;
      while (FText.size() + length > FCapacity);
      FText.reserve(FCapacity);
    }
    FText.append(data, length);
  }

  std::basic_string<Char> Take() { return std::move(FText); }

private:
  size_t FCapacity;
  std::basic_string<Char> FText;
};

template <typename Char>
std::basic_string<Char> ReplaceAll(const std::basic_string<Char>& source,
                                   const std::basic_string<Char>& find,
                                   const std::basic_string<Char>& replaceWith, bool caseSensitive) {
  const size_t m = find.size();
  const size_t n = source.size();
  if (n == 0 || m == 0 || m > n)
    return source;

  // Horspool's skip table: the distance from a unit's last position in Find (before its
  // final unit) to the end of Find. UTF-16 units share entries by their low byte, which
  // keeps every shift no longer than the true one.
  std::array<size_t, 256> skip;
  skip.fill(m);
  for (size_t i = 0; i + 1 < m; ++i)
    skip[SearchUnit(find[i], caseSensitive) & 0xFF] = m - 1 - i;

  GrowingOutput<Char> output(InitialCapacity(n, m, replaceWith.size()));
  size_t copiedUpTo = 0;
  size_t window = 0;
  while (window + m <= n) {
    size_t k = m;
    while (k > 0 && SearchUnit(source[window + k - 1], caseSensitive) ==
                        SearchUnit(find[k - 1], caseSensitive))
      --k;
    if (k == 0) {
      output.Append(source.data() + copiedUpTo, window - copiedUpTo);
      output.Append(replaceWith.data(), replaceWith.size());
      window += m;
      copiedUpTo = window;
    } else {
      window += skip[SearchUnit(source[window + m - 1], caseSensitive) & 0xFF];
    }
  }
  output.Append(source.data() + copiedUpTo, n - copiedUpTo);
  return output.Take();
}

template <typename Char>
bool LooksLikePath(const std::basic_string<Char>& text) {
  const bool drive = text.size() >= 3 && text[1] == Char(':') && text[2] == Char('\\');
  const bool network = text.size() >= 2 && text[0] == Char('\\') && text[1] == Char('\\');
  return drive || network;
}

template <typename Char>
std::basic_string<Char> ConvertBreaks(const std::basic_string<Char>& text, bool toEscaped) {
  const std::basic_string<Char> lineBreak{Char('\r'), Char('\n')};
  const std::basic_string<Char> escaped{Char('\\'), Char('n')};
  if (toEscaped)
    return ReplaceAll(text, lineBreak, escaped, false);
  if (LooksLikePath(text))
    return text;
  return ReplaceAll(text, escaped, lineBreak, false);
}

template <typename Char>
std::basic_string<Char> SplitComma(const std::basic_string<Char>& text, bool takeRest) {
  const size_t comma = text.find(Char(','));
  if (comma == std::basic_string<Char>::npos)
    return takeRest ? std::basic_string<Char>() : text;
  return takeRest ? text.substr(comma + 1) : text.substr(0, comma);
}

}  // namespace

AnsiString ReplaceText(const AnsiString& Source, const AnsiString& Find,
                       const AnsiString& ReplaceWith, bool CaseSensitive) {
  return ReplaceAll(Source, Find, ReplaceWith, CaseSensitive);
}

WideString ReplaceText(const WideString& Source, const WideString& Find,
                       const WideString& ReplaceWith, bool CaseSensitive) {
  return ReplaceAll(Source, Find, ReplaceWith, CaseSensitive);
}

AnsiString ConvertLineBreaks(const AnsiString& Text, bool ToEscaped) {
  return ConvertBreaks(Text, ToEscaped);
}

WideString ConvertLineBreaks(const WideString& Text, bool ToEscaped) {
  return ConvertBreaks(Text, ToEscaped);
}

AnsiString SplitAtComma(const AnsiString& Text, bool TakeRest) { return SplitComma(Text, TakeRest); }

WideString SplitAtComma(const WideString& Text, bool TakeRest) { return SplitComma(Text, TakeRest); }
