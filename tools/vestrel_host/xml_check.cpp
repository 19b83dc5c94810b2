#include "xml_check.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "host_messages.h"

namespace vestrel_host {
namespace {

constexpr uint32_t kNoCharacter = 0xFFFFFFFF;

bool IsSpace(uint32_t c) { return c == 0x20 || c == 0x9 || c == 0xA || c == 0xD; }

bool IsXmlChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

bool IsNameStart(uint32_t c) {
  return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c <= 0xD6) ||
         (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
         (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
         (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
         (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(uint32_t c) {
  return IsNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
         (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

std::string CodeText(uint32_t c) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
  return text;
}

class Checker {
public:
  explicit Checker(const OleText& text) : T(text) {}

  std::optional<XmlProblem> Run() {
    if (Starts("<?xml") && P + 5 < T.size() && (IsSpace(T[P + 5]) || T[P + 5] == '?')) ProcessingInstruction(true);
    bool rootSeen = false;
    while (!FProblem && P < T.size()) {
      if (Starts("<!--")) {
        Comment();
      } else if (Starts("<?")) {
        ProcessingInstruction(false);
      } else if (Starts("<!DOCTYPE")) {
        Fail(P, Say(Msg::XmlDoctype));
      } else if (Starts("<![CDATA[")) {
        Fail(P, Say(Msg::XmlCdataOutsideRoot));
      } else if (Starts("</")) {
        const size_t at = P;
        P += 2;
        Fail(at, Say(Msg::XmlEndTagWithoutStart, {Utf8FromUtf16(Name())}));
      } else if (T[P] == '<') {
        if (rootSeen) {
          const size_t at = P++;
          Fail(at, Say(Msg::XmlSecondRoot, {Utf8FromUtf16(Name())}));
        } else {
          Element();
          rootSeen = true;
        }
      } else {
        const size_t at = P;
        const uint32_t c = Next();
        if (!IsXmlChar(c)) Fail(at, Say(Msg::XmlBadCharacter, {CodeText(c)}));
        else if (!IsSpace(c)) Fail(at, Say(Msg::XmlTextOutsideRoot));
      }
    }
    if (!FProblem && !rootSeen) Fail(P, Say(Msg::XmlNoRoot));
    return FProblem;
  }

private:
  bool Starts(const char* ascii) const {
    size_t k = P;
    for (; *ascii != '\0'; ++ascii, ++k)
      if (k >= T.size() || T[k] != static_cast<OLECHAR>(*ascii)) return false;
    return true;
  }

  // The code point at P (kNoCharacter for a lone surrogate); P moves past it.
  uint32_t Next() {
    const uint32_t unit = static_cast<uint16_t>(T[P++]);
    if (unit >= 0xD800 && unit < 0xDC00 && P < T.size()) {
      const uint32_t low = static_cast<uint16_t>(T[P]);
      if (low >= 0xDC00 && low < 0xE000) {
        ++P;
        return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      }
    }
    return unit >= 0xD800 && unit < 0xE000 ? kNoCharacter : unit;
  }
  uint32_t Peek() const {
    size_t saved = P;
    uint32_t c = const_cast<Checker*>(this)->Next();
    const_cast<Checker*>(this)->P = saved;
    return c;
  }

  bool Fail(size_t at, std::string message) {
    if (!FProblem) {
      XmlProblem problem;
      LineAndColumn(T, at, problem.Line, problem.Column);
      problem.Message = std::move(message);
      FProblem = std::move(problem);
    }
    P = T.size();
    return false;
  }
  bool FailAtEnd(Msg id, std::initializer_list<std::string> args = {}) { return Fail(T.size(), Say(id, args)); }

  size_t LineOf(size_t at) const {
    size_t line = 1, column = 1;
    LineAndColumn(T, at, line, column);
    return line;
  }

  bool SkipSpaces() {
    const size_t start = P;
    while (P < T.size() && IsSpace(T[P])) ++P;
    return P > start;
  }

  // A name at P (empty, P unchanged, when there is none).
  OleText Name() {
    const size_t start = P;
    if (P >= T.size() || !IsNameStart(Peek())) return {};
    Next();
    while (P < T.size() && IsNameChar(Peek())) Next();
    return T.substr(start, P - start);
  }

  bool Text(size_t at) {
    const uint32_t c = Next();
    return IsXmlChar(c) || Fail(at, Say(Msg::XmlBadCharacter, {CodeText(c)}));
  }

  bool Comment() {
    const size_t start = P;
    P += 4;
    while (P < T.size()) {
      if (Starts("--")) {
        if (Starts("-->")) {
          P += 3;
          return true;
        }
        return Fail(P, Say(Msg::XmlDoubleHyphenInComment));
      }
      if (!Text(P)) return false;
    }
    return Fail(start, Say(Msg::XmlUnterminatedComment));
  }

  bool ProcessingInstruction(bool declaration) {
    const size_t start = P;
    P += 2;
    const OleText target = Name();
    if (target.empty()) return Fail(P, Say(Msg::XmlNameExpected, {"<?"}));
    OleText lower = target;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](OLECHAR c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
    if (!declaration && lower == Utf16FromUtf8("xml")) return Fail(start, Say(Msg::XmlDeclarationNotFirst));
    return UpTo(start, "?>", Msg::XmlUnterminatedInstruction);
  }

  bool CharacterData() {
    const size_t start = P;
    P += 9;
    return UpTo(start, "]]>", Msg::XmlUnterminatedCdata);
  }

  // Characters up to and past `closing`; a construct that the file ends inside is reported
  // where it began.
  bool UpTo(size_t start, const char* closing, Msg unterminated) {
    const size_t length = std::char_traits<char>::length(closing);
    while (P < T.size()) {
      if (Starts(closing)) {
        P += length;
        return true;
      }
      if (!Text(P)) return false;
    }
    return Fail(start, Say(unterminated));
  }

  bool Reference() {
    const size_t start = P++;
    if (P < T.size() && T[P] == '#') {
      ++P;
      const bool hex = P < T.size() && T[P] == 'x';
      if (hex) ++P;
      uint64_t value = 0;
      size_t digits = 0;
      for (; P < T.size() && T[P] != ';'; ++P, ++digits) {
        const OLECHAR c = T[P];
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0 || digits > 8) return Fail(start, Say(Msg::XmlBadReference));
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
      }
      if (P >= T.size() || digits == 0 || !IsXmlChar(static_cast<uint32_t>(value))) return Fail(start, Say(Msg::XmlBadReference));
      ++P;
      return true;
    }
    const OleText name = Name();
    if (name.empty() || P >= T.size() || T[P] != ';') return Fail(start, Say(Msg::XmlBadReference));
    ++P;
    for (const char* known : {"lt", "gt", "amp", "quot", "apos"})
      if (name == Utf16FromUtf8(known)) return true;
    return Fail(start, Say(Msg::XmlUndefinedEntity, {Utf8FromUtf16(name)}));
  }

  // A start tag at P; pushes the element unless it closes itself.
  bool StartTag() {
    const size_t start = P++;
    const OleText name = Name();
    if (name.empty()) return Fail(P, Say(Msg::XmlNameExpected, {"<"}));
    std::vector<OleText> attributes;
    while (true) {
      const bool spaced = SkipSpaces();
      if (P >= T.size()) return Fail(start, Say(Msg::XmlUnterminatedTag, {Utf8FromUtf16(name)}));
      if (Starts("/>")) {
        P += 2;
        return true;
      }
      if (T[P] == '>') {
        ++P;
        FOpen.emplace_back(name, start);
        return true;
      }
      if (!spaced) return Fail(P, Say(Msg::XmlExpected, {"'>'"}));
      const size_t attributeAt = P;
      const OleText attribute = Name();
      if (attribute.empty()) return Fail(P, Say(Msg::XmlExpected, {"'>'"}));
      const std::string attributeText = Utf8FromUtf16(attribute);
      if (std::find(attributes.begin(), attributes.end(), attribute) != attributes.end())
        return Fail(attributeAt, Say(Msg::XmlDuplicateAttribute, {attributeText}));
      attributes.push_back(attribute);
      SkipSpaces();
      if (P >= T.size()) return Fail(start, Say(Msg::XmlUnterminatedTag, {Utf8FromUtf16(name)}));
      if (T[P] != '=') return Fail(P, Say(Msg::XmlExpected, {"'=' (" + attributeText + ")"}));
      ++P;
      SkipSpaces();
      if (P < T.size() && T[P] != '"' && T[P] != '\'') return Fail(P, Say(Msg::XmlUnquotedValue, {attributeText}));
      if (P >= T.size()) return Fail(P, Say(Msg::XmlUnquotedValue, {attributeText}));
      const OLECHAR quote = T[P++];
      while (true) {
        if (P >= T.size()) return Fail(start, Say(Msg::XmlUnterminatedTag, {Utf8FromUtf16(name)}));
        if (T[P] == quote) break;
        if (T[P] == '<') return Fail(P, Say(Msg::XmlLessThanInValue, {attributeText}));
        if (T[P] == '&') {
          if (!Reference()) return false;
        } else if (!Text(P)) {
          return false;
        }
      }
      ++P;
    }
  }

  bool EndTag() {
    const size_t start = P;
    P += 2;
    const OleText name = Name();
    if (name.empty()) return Fail(P, Say(Msg::XmlNameExpected, {"</"}));
    SkipSpaces();
    if (P >= T.size() || T[P] != '>') return Fail(P, Say(Msg::XmlExpected, {"'>'"}));
    ++P;
    if (name != FOpen.back().first)
      return Fail(start, Say(Msg::XmlMismatchedEndTag, {Utf8FromUtf16(name), Utf8FromUtf16(FOpen.back().first),
                                                        std::to_string(LineOf(FOpen.back().second))}));
    FOpen.pop_back();
    return true;
  }

  // The root element with everything inside it, without recursion (nesting costs no stack).
  void Element() {
    if (!StartTag()) return;
    while (!FProblem && !FOpen.empty()) {
      if (P >= T.size()) {
        FailAtEnd(Msg::XmlUnclosedElement, {Utf8FromUtf16(FOpen.back().first), std::to_string(LineOf(FOpen.back().second))});
      } else if (Starts("</")) {
        EndTag();
      } else if (Starts("<!--")) {
        Comment();
      } else if (Starts("<![CDATA[")) {
        CharacterData();
      } else if (Starts("<!DOCTYPE")) {
        Fail(P, Say(Msg::XmlDoctype));
      } else if (Starts("<?")) {
        ProcessingInstruction(false);
      } else if (T[P] == '<') {
        StartTag();
      } else if (T[P] == '&') {
        Reference();
      } else if (Starts("]]>")) {
        Fail(P, Say(Msg::XmlCdataEndInText));
      } else {
        Text(P);
      }
    }
  }

  const OleText& T;
  size_t P = 0;
  std::vector<std::pair<OleText, size_t>> FOpen;  // open elements and where their start tags begin
  std::optional<XmlProblem> FProblem;
};

}  // namespace

void LineAndColumn(const OleText& text, size_t position, size_t& line, size_t& column) {
  line = 1, column = 1;
  const size_t end = std::min(position, text.size());
  for (size_t i = 0; i < end; ++i) {
    const OLECHAR c = text[i];
    if (c == '\n' || (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
      ++line, column = 1;
    } else if (c == '\r' || (c >= 0xDC00 && c < 0xE000 && i > 0 && text[i - 1] >= 0xD800 && text[i - 1] < 0xDC00)) {
      // CR of a CR LF pair, or the second half of a surrogate pair: no column of its own
    } else {
      ++column;
    }
  }
}

std::optional<XmlProblem> CheckWellFormed(const OleText& text) { return Checker(text).Run(); }

}  // namespace vestrel_host
