#pragma once
// Values of initialization files ("[Section]" headers and "Key=Value" lines).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The text of key in section: section and key names compared without regard to case, the first
// section of that name and the first key in it taking effect, blanks around the value removed
// and one pair of enclosing quotes dropped. Nothing when the file, section or key is missing.
// Windows: GetPrivateProfileStringA. POSIX: our own reader with the same rules.
std::optional<std::string> ReadIniString(const std::string& path, std::string_view section,
                                         std::string_view key);

// The value of key as a decimal integer (optional sign, blanks around it allowed). The default
// when the key is missing, and also when its text is not a decimal integer that fits 32 bits
// (GetPrivateProfileInt would give the number of a leading digit run, or 0, there).
int32_t ReadIniInteger(const std::string& path, std::string_view section, std::string_view key,
                       int32_t defaultValue);

}  // namespace platform
