#include "platform/ini_file.h"

#include <windows.h>

#include <vector>

namespace platform {

std::optional<std::string> ReadIniString(const std::string& path, std::string_view section, std::string_view key) {
  // A default no file holds tells a missing key from an empty value.
  static const char kMissing[] = "\x01\x02\x03";
  std::string sectionName(section), keyName(key);
  std::vector<char> buffer(256);
  for (;;) {
    DWORD length = GetPrivateProfileStringA(sectionName.c_str(), keyName.c_str(), kMissing, buffer.data(),
                                            static_cast<DWORD>(buffer.size()), path.c_str());
    if (length + 1 < buffer.size()) {
      std::string value(buffer.data(), length);
      if (value == kMissing) return std::nullopt;
      return value;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace platform
