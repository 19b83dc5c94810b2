#pragma once
// The tool's commands, one function each. Every one reports through Output and returns the
// exit status.
#include <optional>
#include <string>
#include <vector>

#include "plugin_session.h"

namespace vestrel_host {

int InfoCommand(Plugin& plugin);
int RunCommand(Plugin& plugin, const std::string& configuration, double seconds);
// Switches one device on, watches its readers' opens and reads for about two seconds and
// names every fault; with cardSeconds also asks for a card at each reader in turn.
int CheckCommand(Plugin& plugin, const std::string& configuration, std::optional<double> cardSeconds = std::nullopt);
int MembersCommand(Plugin& plugin);

// One call: a member name and its arguments as the command line gives them.
struct CallRequest {
  std::string Member;
  std::vector<std::string> Arguments;
};
// The calls separated by a lone "+"; false when a call has no member name.
bool SplitCalls(const std::vector<std::string>& tokens, std::vector<CallRequest>& calls);
int CallCommand(Plugin& plugin, const std::string& configuration, const std::vector<CallRequest>& calls);

// What the settings command was told on its command line (the rest is asked).
struct SettingsAnswers {
  std::optional<std::string> Name, Interval, OldFormat;
  bool Given() const { return Name || Interval || OldFormat; }
};
int SettingsCommand(Plugin& plugin, const std::string& configuration, const std::string& device,
                    const SettingsAnswers& answers);

// Set by Ctrl+C and SIGTERM: a run ends.
void RequestStop();
bool StopRequested();

}  // namespace vestrel_host
