#include "config/version_info.h"

#include <cstdio>

#include "platform/file_system.h"

TVersionInfo::TVersionInfo(const std::string& FileName) : FFileName(FileName), FInfo(FileName) {
  FFileDate = static_cast<int32_t>(platform::FileDosDateTime(FileName).value_or(0));
}

std::optional<uint32_t> TVersionInfo::Translation() const {
  const std::vector<uint32_t> translations = FInfo.Translations();
  if (translations.empty())
    return std::nullopt;
  return translations.front();
}

AnsiString TVersionInfo::TranslationText() const {
  const std::optional<uint32_t> pair = Translation();
  if (!pair)
    return AnsiString();
  const uint32_t languageFirst = (*pair << 16) | (*pair >> 16);
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(languageFirst));
  return text;
}

std::optional<platform::FixedFileVersion> TVersionInfo::FixedInfo() const { return FInfo.Fixed(); }

std::pair<uint32_t, uint32_t> TVersionInfo::FileVersionNumbers() const {
  const std::optional<platform::FixedFileVersion> fixed = FixedInfo();
  if (!fixed)
    return {0, 0};
  return {fixed->FileVersionMS, fixed->FileVersionLS};
}

AnsiString TVersionInfo::GetValue(const std::string& Name) const {
  const AnsiString translation = TranslationText();
  if (translation.empty())
    return AnsiString();
  return FInfo.StringValue(translation, Name).value_or(AnsiString());
}

AnsiString TVersionInfo::FileVersionText() const {
  AnsiString text = GetValue("FileVersion");
  if (!text.empty() || !Valid())
    return text;
  const auto [most, least] = FileVersionNumbers();
  char numbers[48];
  std::snprintf(numbers, sizeof numbers, "%u.%u.%u.%u", most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF);
  return numbers;
}

std::unique_ptr<TVersionInfo> TVersionInfo::ModuleVersionInfo() {
  static const int kThisModule = 0;
  return std::make_unique<TVersionInfo>(platform::ModuleFileName(&kThisModule));
}
