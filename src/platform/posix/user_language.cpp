#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/user_language.h"

namespace {

constexpr uint16_t kLanguageIdRussian = 0x0419;
constexpr uint16_t kLanguageIdEnglishUs = 0x0409;

// The locale that governs messages, in the order the C library consults the environment.
const char* MessagesLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      return value;
    }
  }
  return "";
}

}  // namespace

uint16_t UserDefaultLanguageId() {
  const char* locale = MessagesLocale();
  const bool russian = std::strncmp(locale, "ru", 2) == 0 && (locale[2] == '\0' || locale[2] == '_' ||
                                                               locale[2] == '.' || locale[2] == '@');
  return russian ? kLanguageIdRussian : kLanguageIdEnglishUs;
}
