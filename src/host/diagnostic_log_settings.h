#pragma once
// The diagnostic log's settings in the tuning file (the plug-in's "<library>.ini", beside the
// section "Start"), and the start of the log from them.
//
//   [Log]
//   File=Vestrel.log        where to write: relative to the plug-in's folder, or absolute. A
//                           folder (ending in "\" or naming one that exists) gets the process's
//                           log name in it ("Vestrel_<computer>_<session>.log"), so that
//                           terminal sessions on one machine do not share a file. Missing or
//                           empty: the log is off (the default).
//   MaxSizeKB=1024          the size in KB at which the file rotates; the older part is kept
//                           as "<name>.old.<ext>" (two files in all). At least 16, at most
//                           1048576; a text that is not a number gives the default.
//   FullCardNumbers=0       1 writes card numbers in full; anything else only their last four
//                           digits (card numbers are access credentials).
//
// The environment variable VESTREL_LOG_FILE, when set and not empty, takes the place of File=
// (same rules), so that a tool switches the log on for one run without editing the file.
#include <cstdint>
#include <string>

#include "base/diagnostic_log.h"

inline constexpr char kLogSettingsSection[] = "Log";
inline constexpr char kLogFileKey[] = "File";
inline constexpr char kLogMaxSizeKey[] = "MaxSizeKB";
inline constexpr char kLogFullCardNumbersKey[] = "FullCardNumbers";
inline constexpr char kLogFileEnvironmentVariable[] = "VESTREL_LOG_FILE";
inline constexpr int32_t kDefaultLogMaxSizeKB = 1024;
inline constexpr int32_t kMinLogMaxSizeKB = 16;
inline constexpr int32_t kMaxLogMaxSizeKB = 1024 * 1024;

// The settings from `tuningFile` (a missing file: the defaults, log off), with a relative File=
// taken from `pluginFolder` (with its trailing delimiter). FileName is empty when the log is off.
TDiagnosticLogSettings ReadDiagnosticLogSettings(const std::string& tuningFile, const std::string& pluginFolder);

// Module start: reads the settings from the plug-in's tuning file and starts the log when they
// name a file; its first line then says where it writes and how. True when the log runs.
bool StartDiagnosticLogFromTuningFile();
