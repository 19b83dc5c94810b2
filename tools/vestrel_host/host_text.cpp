#include "host_text.h"

#include <cstdint>

#include "host_system.h"

namespace vestrel_host {

std::string Utf8FromUtf16(const OLECHAR* text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    uint32_t code = static_cast<uint16_t>(text[i]);
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < length) {
      const uint32_t low = static_cast<uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (code >= 0xD800 && code < 0xE000) code = 0xFFFD;  // a lone surrogate
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

namespace {

// Decodes one UTF-8 sequence at `i`; false (and i past the lead byte) for an invalid one.
bool NextUtf8(std::string_view text, size_t& i, uint32_t& code) {
  const unsigned char lead = static_cast<unsigned char>(text[i++]);
  size_t extra = 0;
  uint32_t minimum = 0;
  if (lead < 0x80) {
    code = lead;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    code = lead & 0x1F, extra = 1, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    code = lead & 0x0F, extra = 2, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    code = lead & 0x07, extra = 3, minimum = 0x10000;
  } else {
    return false;
  }
  size_t k = i;
  for (size_t n = 0; n < extra; ++n, ++k) {
    if (k >= text.size() || (static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) return false;
    code = (code << 6) | (static_cast<unsigned char>(text[k]) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return false;
  i = k;
  return true;
}

}  // namespace

OleText Utf16FromUtf8(std::string_view text) {
  OleText out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t code = 0;
    if (!NextUtf8(text, i, code)) code = 0xFFFD;
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<OLECHAR>(0xD800 + (code >> 10));
      out += static_cast<OLECHAR>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<OLECHAR>(code);
    }
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    uint32_t code = 0;
    if (!NextUtf8(text, i, code)) return false;
  }
  return true;
}

std::string Utf8OfBstr(BSTR text) { return text == nullptr ? std::string() : Utf8FromUtf16(text, SysStringLen(text)); }

BSTR AllocBstr(const OleText& text) { return SysAllocStringLen(text.data(), static_cast<UINT>(text.size())); }

OleText ReplaceAll(OleText text, const OleText& from, const OleText& to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != OleText::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

}  // namespace vestrel_host
