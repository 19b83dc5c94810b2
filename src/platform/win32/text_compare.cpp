#include "platform/text_compare.h"

#include <windows.h>

namespace platform {

int CompareText(std::string_view a, std::string_view b, bool ignoreCase) {
  int result = CompareStringA(LOCALE_USER_DEFAULT, ignoreCase ? NORM_IGNORECASE : 0, a.data(), static_cast<int>(a.size()),
                              b.data(), static_cast<int>(b.size()));
  return result == 0 ? 0 : result - CSTR_EQUAL;
}

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
