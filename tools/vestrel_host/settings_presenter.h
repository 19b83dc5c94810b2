#pragma once
// The settings form of a Parsec device in a terminal: the same three fields, captions and
// rules as the plug-in's settings dialog (the device name; the repeat interval, a whole number
// of 1000 to 999999 ms, digits only; the old data format, which cannot change while the reader
// is on), for machines without a window system.
#include <functional>
#include <string>

#include "host_commands.h"

namespace vestrel_host {

struct SettingsForm {
  std::string Name;
  std::string Interval;  // as configured: a value below 1000 stays unless the user changes it
  bool OldFormat = true;
  bool OldFormatEnabled = true;
};

enum class FormResult { Ok, Cancel };

using ReadLineFunction = std::function<bool(std::string& line)>;  // false at the end of the input
using WriteFunction = std::function<void(const std::string& text)>;

// Asks for each field in turn (an empty answer keeps it; a wrong one is asked again) and then
// for OK or cancel. The end of the input cancels.
FormResult PresentSettingsForm(SettingsForm& form, const ReadLineFunction& readLine, const WriteFunction& write);

// Applies the answers of the command line by the same rules; false with the reason.
bool ApplySettingsAnswers(SettingsForm& form, const SettingsAnswers& answers, std::string& error);

// The dialog's rules for the interval: digits only, 1000..999999.
bool AcceptInterval(const std::string& text);
// 1/0, да/нет, yes/no (and their first letters).
bool ParseYesNo(const std::string& text, bool& value);

}  // namespace vestrel_host
