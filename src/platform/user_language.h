#pragma once
// The user's default language as a Windows language identifier (LANGID).
#include <cstdint>

// Windows: GetUserDefaultLangID(). Elsewhere: derived from the locale environment
// (LC_ALL, then LC_MESSAGES, then LANG): a Russian locale ("ru", "ru_RU.UTF-8", ...) gives
// 0x0419, any other (or none) 0x0409.
uint16_t UserDefaultLanguageId();

// The primary language the plug-in tests for: the low 8 bits of the identifier.
constexpr uint16_t kPrimaryLanguageRussian = 0x19;
