// The host code page on Windows is the system ANSI code page.
#include "platform/text_codec.h"

unsigned HostCodePage() { return GetACP(); }

WideString WideFromAnsi(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  WideString out(static_cast<size_t>(length), 0);
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, out.data(), length);
  return out;
}

AnsiString AnsiFromWide(WideStringView text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  AnsiString out(static_cast<size_t>(length), 0);
  WideCharToMultiByte(CP_ACP, 0, text.data(), size, out.data(), length, nullptr, nullptr);
  return out;
}
