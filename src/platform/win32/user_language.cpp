#include "platform/ole_automation.h"
#include "platform/user_language.h"

uint16_t UserDefaultLanguageId() { return GetUserDefaultLangID(); }
