#pragma once
// The one place where the tool writes: every report goes out as one text line or as one JSON
// object per line (--json), from any thread, whole lines at a time.
#include <string>

#include <nlohmann/json.hpp>

namespace vestrel_host {

using json = nlohmann::json;

// Exit statuses.
enum ExitStatus : int {
  kExitOk = 0,
  kExitUsage = 2,          // the command line is wrong
  kExitLoad = 3,           // Vestrel.plu could not be loaded or has no driver
  kExitDevice = 4,         // a device or a call failed
  kExitConfiguration = 5,  // the configuration file is missing, not XML, or names no device to switch on
  kExitSimulatorScript = 6 // the reader simulator's script (PRX08_SIM_SCRIPT) is missing or wrong
};

class Output {
public:
  static void SetJson(bool on);
  static bool Json();

  // A report: in JSON mode the object, else the text (several lines allowed) on stdout.
  static void Report(const json& object, const std::string& text);
  // A line of text on stdout in text mode; nothing in JSON mode.
  static void Text(const std::string& text);
  // A failure: JSON mode adds "error" and "status" to `extra` and prints it on stdout; text
  // mode prints "vestrel-host: " + message on stderr. Returns the status.
  static int Fail(int status, const std::string& message, json extra = json::object());
  // A warning on stderr (text mode) or a {"warning": ...} object.
  static void Warn(const std::string& message);
};

}  // namespace vestrel_host
