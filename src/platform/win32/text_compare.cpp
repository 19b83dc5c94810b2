#include "platform/text_compare.h"

#include <windows.h>

namespace platform {

int CompareText(std::string_view a, std::string_view b, bool ignoreCase) {
  int result = CompareStringA(LOCALE_USER_DEFAULT, ignoreCase ? NORM_IGNORECASE : 0, a.data(), static_cast<int>(a.size()),
                              b.data(), static_cast<int>(b.size()));
  if (result != 0) return result - CSTR_EQUAL;
  int bytes = a.compare(b);  // the system refused: fall back to the bytes' order
  return (bytes > 0) - (bytes < 0);
}

unsigned TextCompareCodePage() { return GetACP(); }

std::string UpperCaseText(std::string_view text) {
  std::string result(text);
  if (!result.empty()) CharUpperBuffA(result.data(), static_cast<DWORD>(result.size()));
  return result;
}

std::string LowerCaseText(std::string_view text) {
  std::string result(text);
  if (!result.empty()) CharLowerBuffA(result.data(), static_cast<DWORD>(result.size()));
  return result;
}

}  // namespace platform
