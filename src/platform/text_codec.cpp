// UTF-8 <-> UTF-16 conversions, the same on every platform (literals in the sources are UTF-8).
#include "platform/text_codec.h"

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes one UTF-8 sequence at text[pos]; malformed input yields U+FFFD and skips one byte.
char32_t DecodeUtf8(std::string_view text, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    ++pos;
    return kReplacementCharacter;
  }
  if (pos + length > text.size()) {
    ++pos;
    return kReplacementCharacter;
  }
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(pos + i);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return kReplacementCharacter;
    }
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++pos;
    return kReplacementCharacter;
  }
  pos += length;
  return value;
}

void AppendUtf8(std::string& out, char32_t value) {
  if (value < 0x80) {
    out += static_cast<char>(value);
  } else if (value < 0x800) {
    out += static_cast<char>(0xC0 | (value >> 6));
    out += static_cast<char>(0x80 | (value & 0x3F));
  } else if (value < 0x10000) {
    out += static_cast<char>(0xE0 | (value >> 12));
    out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (value >> 18));
    out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
  }
}

}  // namespace

WideString WideFromUtf8(std::string_view text) {
  WideString out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const char32_t value = DecodeUtf8(text, pos);
    if (value >= 0x10000) {
      const char32_t offset = value - 0x10000;
      out += static_cast<OLECHAR>(0xD800 + (offset >> 10));
      out += static_cast<OLECHAR>(0xDC00 + (offset & 0x3FF));
    } else {
      out += static_cast<OLECHAR>(value);
    }
  }
  return out;
}

std::string Utf8FromWide(WideStringView text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    const char32_t unit = static_cast<char16_t>(text[i]);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
      const char32_t low = static_cast<char16_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    // A lone surrogate has no UTF-8 form.
    AppendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? kReplacementCharacter : unit);
  }
  return out;
}

AnsiString AnsiFromUtf8(std::string_view text) { return AnsiFromWide(WideFromUtf8(text)); }

std::string Utf8FromAnsi(std::string_view text) { return Utf8FromWide(WideFromAnsi(text)); }

size_t WideLength(const OLECHAR* text) {
  if (text == nullptr) {
    return 0;
  }
  size_t length = 0;
  while (text[length] != 0) {
    ++length;
  }
  return length;
}
