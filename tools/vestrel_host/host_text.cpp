#include "host_text.h"

#include <cstdint>
#include <cstdio>

std::string Utf8FromUtf16(const OLECHAR* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    uint32_t code = static_cast<uint16_t>(text[i]);
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < length) {
      const uint32_t low = static_cast<uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
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

std::basic_string<OLECHAR> Utf16FromUtf8(const std::string& text) {
  std::basic_string<OLECHAR> out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    uint32_t code = 0xFFFD;
    size_t extra = 0;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      code = lead & 0x1F, extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      code = lead & 0x0F, extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
      code = lead & 0x07, extra = 3;
    }
    ++i;
    for (size_t k = 0; k < extra; ++k, ++i) {
      if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
        code = 0xFFFD;
        break;
      }
      code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    }
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

std::string Utf8OfBstr(BSTR text) { return text == nullptr ? std::string() : Utf8FromUtf16(text, SysStringLen(text)); }

std::string VariantDisplay(const VARIANT& value) {
  VARIANT plain;
  VariantInit(&plain);
  std::string text;
  const VARTYPE type = V_VT(&value) & ~VT_BYREF;
  if (type == VT_EMPTY || type == VT_NULL) return {};
  if (type == VT_DISPATCH || type == VT_UNKNOWN) return "<object>";
  if (type == VT_BOOL) {
    if (SUCCEEDED(VariantChangeType(&plain, const_cast<VARIANT*>(&value), 0, VT_BOOL)))
      text = V_BOOL(&plain) ? "true" : "false";
  } else if (SUCCEEDED(VariantChangeType(&plain, const_cast<VARIANT*>(&value), 0, VT_BSTR))) {
    text = Utf8OfBstr(V_BSTR(&plain));
  } else {
    text = "<value>";
  }
  VariantClear(&plain);
  return text;
}

std::basic_string<OLECHAR> DecodeTextFile(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::basic_string<OLECHAR> out;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      out += static_cast<OLECHAR>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return out;
  }
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return Utf16FromUtf8(bytes.substr(3));
  return Utf16FromUtf8(bytes);
}
