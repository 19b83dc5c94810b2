#include "settings_presenter.h"

#include <algorithm>

#include "host_messages.h"

namespace vestrel_host {
namespace {

constexpr int kMinInterval = 1000, kMaxInterval = 999999;

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string YesNo(bool value) { return Say(value ? Msg::FormYes : Msg::FormNo); }

// One field: the prompt with the current value, until an acceptable answer or the end of input.
bool AskField(const std::string& prompt, const std::string& current, const ReadLineFunction& readLine,
              const WriteFunction& write, const std::function<bool(const std::string&)>& accept,
              const std::string& refusal, std::string& answer) {
  while (true) {
    write(prompt + " [" + current + "]: ");
    std::string line;
    if (!readLine(line)) return false;
    answer = Trimmed(line);
    if (answer.empty() || accept(answer)) return true;
    write(refusal + "\n");
  }
}

}  // namespace

bool AcceptInterval(const std::string& text) {
  if (text.empty() || text.size() > 6 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  const int value = std::stoi(text);
  return value >= kMinInterval && value <= kMaxInterval;
}

bool ParseYesNo(const std::string& text, bool& value) {
  std::string lower = Trimmed(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* yes : {"1", "y", "yes", "да", "д", "Д", "ДА", "Да"})
    if (lower == yes) return value = true;
  for (const char* no : {"0", "n", "no", "нет", "н", "Н", "НЕТ", "Нет"})
    if (lower == no) return !(value = false);
  return false;
}

FormResult PresentSettingsForm(SettingsForm& form, const ReadLineFunction& readLine, const WriteFunction& write) {
  write(Say(Msg::FormCaption) + "\n");
  std::string answer;
  if (!AskField(Say(Msg::FormName), form.Name, readLine, write, [](const std::string&) { return true; }, "", answer))
    return FormResult::Cancel;
  if (!answer.empty()) form.Name = answer;
  if (!AskField(Say(Msg::FormInterval), form.Interval, readLine, write, AcceptInterval, Say(Msg::FormIntervalRefused), answer))
    return FormResult::Cancel;
  if (!answer.empty()) form.Interval = answer;
  if (form.OldFormatEnabled) {
    bool value = form.OldFormat;
    if (!AskField(Say(Msg::FormOldFormat), YesNo(form.OldFormat), readLine, write,
                  [&](const std::string& text) { return ParseYesNo(text, value); }, Say(Msg::FormYesNoRefused), answer))
      return FormResult::Cancel;
    form.OldFormat = value;
  } else {
    write(Say(Msg::FormOldFormat) + ": " + YesNo(form.OldFormat) + " " + Say(Msg::FormOldFormatLocked) + "\n");
  }
  while (true) {
    write(Say(Msg::FormConfirm));
    std::string line;
    if (!readLine(line)) return FormResult::Cancel;
    const std::string choice = Trimmed(line);
    bool yes = false;
    if (choice.empty() || choice == "OK" || choice == "ok" || choice == "ОК") return FormResult::Ok;
    if (ParseYesNo(choice, yes)) return yes ? FormResult::Ok : FormResult::Cancel;
    if (choice == Say(Msg::FormCancelWord) || choice == "cancel" || choice == "Отмена" || choice == "отмена") return FormResult::Cancel;
  }
}

bool ApplySettingsAnswers(SettingsForm& form, const SettingsAnswers& answers, std::string& error) {
  if (answers.Interval && !AcceptInterval(*answers.Interval)) {
    error = "--interval " + *answers.Interval + ": " + Say(Msg::FormIntervalRefused);
    return false;
  }
  bool oldFormat = form.OldFormat;
  if (answers.OldFormat && !ParseYesNo(*answers.OldFormat, oldFormat)) {
    error = "--old-format " + *answers.OldFormat + ": " + Say(Msg::FormYesNoRefused);
    return false;
  }
  if (answers.OldFormat && !form.OldFormatEnabled && oldFormat != form.OldFormat) {
    error = Say(Msg::FormOldFormatLocked);
    return false;
  }
  if (answers.Name) form.Name = *answers.Name;
  if (answers.Interval) form.Interval = *answers.Interval;
  form.OldFormat = oldFormat;
  return true;
}

}  // namespace vestrel_host
