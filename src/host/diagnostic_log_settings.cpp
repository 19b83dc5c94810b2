#include "host/diagnostic_log_settings.h"

#include <algorithm>

#include "config/log_name.h"
#include "config/module_file.h"
#include "host/tuning_flags.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/process_info.h"

namespace {

constexpr char kFallbackLogName[] = "Vestrel.log";

// The file a File= value names, the value being relative to the plug-in's folder unless absolute.
std::string ResolveLogFile(const std::string& value, const std::string& pluginFolder) {
  std::string path = platform::IsAbsolutePath(value) ? value : pluginFolder + value;
  if (platform::IsPathDelimiter(path.back()) || platform::DirectoryExists(path)) {
    if (!platform::IsPathDelimiter(path.back())) path += platform::kPathDelimiter;
    const std::string processName = platform::ExtractFileName(LogFileName());
    path += processName.empty() ? kFallbackLogName : processName;
  }
  return path;
}

}  // namespace

TDiagnosticLogSettings ReadDiagnosticLogSettings(const std::string& tuningFile, const std::string& pluginFolder) {
  TDiagnosticLogSettings settings;
  std::string file = platform::ReadIniString(tuningFile, kLogSettingsSection, kLogFileKey).value_or("");
  if (std::optional<std::string> override = platform::EnvironmentVariable(kLogFileEnvironmentVariable);
      override && !override->empty()) {
    file = *override;
  }
  if (!file.empty()) settings.FileName = ResolveLogFile(file, pluginFolder);
  const int32_t sizeKB = platform::ReadIniInteger(tuningFile, kLogSettingsSection, kLogMaxSizeKey, kDefaultLogMaxSizeKB);
  settings.MaxFileBytes = static_cast<uint64_t>(std::clamp(sizeKB, kMinLogMaxSizeKB, kMaxLogMaxSizeKB)) * 1024;
  settings.FullCardNumbers = platform::ReadIniInteger(tuningFile, kLogSettingsSection, kLogFullCardNumbersKey, 0) == 1;
  return settings;
}

bool StartDiagnosticLogFromTuningFile() {
  const TDiagnosticLogSettings settings = ReadDiagnosticLogSettings(TuningFileName(), ModuleDirectory());
  if (settings.FileName.empty() || !StartDiagnosticLog(settings)) return false;
  DIAGNOSTIC_LOG("log started: %s, rotating at %u KB, card numbers %s (settings: %s)",
                 platform::Utf8FromPath(settings.FileName).c_str(),
                 static_cast<unsigned>(settings.MaxFileBytes / 1024),
                 settings.FullCardNumbers ? "in full" : "masked to their last four digits",
                 platform::Utf8FromPath(TuningFileName()).c_str());
  return true;
}
