// vestrel-host: a command-line host for the Vestrel plug-in. It loads Vestrel.plu the way the
// trade application does (the exported PluginControl, the call handler, parameter blocks),
// installs its own event sink and prints what the plug-in reports:
//
//   vestrel-host info                             the plug-in's version, release, model and parameters
//   vestrel-host run CONFIG.xml [--seconds N] [--log FILE]
//                                                 switches the configured devices on and prints cards,
//                                                 then each reader's statistics
//   vestrel-host check [CONFIG.xml] [--card [SECONDS]]
//                                                 switches one device on, watches its readers read,
//                                                 says what is wrong
//   vestrel-host call [--config FILE] MEMBER [ARGS...] [+ MEMBER [ARGS...]]...
//                                                 calls by member name against one loaded plug-in
//   vestrel-host members                          the members with their kinds and both names
//   vestrel-host settings CONFIG.xml [DEVICE]     a device's settings in the terminal, written back
//
// It drives the plug-in only through the public headers: no code of the plug-in is linked in.
#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "host_commands.h"
#include "host_messages.h"
#include "host_output.h"
#include "host_system.h"
#include "simulator_script.h"

#ifndef VESTREL_HOST_VERSION
#define VESTREL_HOST_VERSION "0.0.0.0"
#endif

namespace vestrel_host {
namespace {

extern "C" void OnStopSignal(int) { RequestStop(); }

// After Ctrl+C or SIGTERM the tool ends within two seconds: a plug-in call that has not
// returned by then (a reader library that blocks) is named, and the process ends without it.
class StuckCallWatch {
public:
  StuckCallWatch() : FThread([this] { Watch(); }) {}
  ~StuckCallWatch() {
    FDone = true;
    FThread.join();
  }
  StuckCallWatch(const StuckCallWatch&) = delete;
  StuckCallWatch& operator=(const StuckCallWatch&) = delete;

private:
  static constexpr int64_t kGraceMilliseconds = 1500;

  void Watch() {
    std::optional<std::chrono::steady_clock::time_point> stopAsked;
    while (!FDone) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (!StopRequested()) continue;
      const auto now = std::chrono::steady_clock::now();
      if (!stopAsked) stopAsked = now;
      if (now - *stopAsked < std::chrono::milliseconds(kGraceMilliseconds)) continue;
      const std::optional<CallInProgress> call = CurrentCall();
      if (!call || call->Milliseconds < 500) continue;
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(call->Milliseconds) / 1000);
      Output::Fail(kExitDevice, Say(Msg::StuckCall, {call->Member, seconds}), {{"stuckCall", call->Member}});
      EndProcessNow(kExitDevice);
    }
  }

  std::atomic<bool> FDone{false};
  std::thread FThread;
};

// --json may stand anywhere on the line: it is taken out before the rest is parsed.
std::vector<std::string> WithoutJsonFlag(int argc, const char* const* argv, bool& json) {
  std::vector<std::string> rest;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && std::string(argv[i]) == "--json") {
      json = true;
    } else {
      rest.emplace_back(argv[i]);
    }
  }
  return rest;
}

// Everything after "call" and its own options is the calls': "-1" or "--x" is an argument
// there. Those tokens leave `arguments`, which keeps the part the parser reads.
std::vector<std::string> TakeCallTokens(std::vector<std::string>& arguments) {
  size_t i = 1;
  while (i < arguments.size() && arguments[i] != "call") {
    // Options of the program before the command (--plugin takes a value).
    i += arguments[i] == "--plugin" ? 2 : 1;
  }
  if (i >= arguments.size()) return {};
  ++i;
  while (i < arguments.size() && (arguments[i] == "--config" || arguments[i].rfind("--config=", 0) == 0 ||
                                  arguments[i] == "--plugin" || arguments[i].rfind("--plugin=", 0) == 0 ||
                                  arguments[i] == "--help" || arguments[i] == "-h"))
    i += (arguments[i] == "--config" || arguments[i] == "--plugin") ? 2 : 1;
  if (i > arguments.size()) return {};
  std::vector<std::string> tokens(arguments.begin() + static_cast<std::ptrdiff_t>(i), arguments.end());
  arguments.resize(i);
  return tokens;
}

std::string VersionText() {
#ifdef _WIN32
  // The version resource speaks for the file: a program without one says so.
  const std::string own = OwnFileVersion();
  return "vestrel-host " + (own.empty() ? std::string(VESTREL_HOST_VERSION) + " (no version resource)" : own);
#else
  return "vestrel-host " VESTREL_HOST_VERSION;
#endif
}

int Main(int argc, const char* const* argv) {
  UseRussian(UserLanguageIsRussian());
  bool jsonOutput = false;
  std::vector<std::string> arguments = WithoutJsonFlag(argc, argv, jsonOutput);
  Output::SetJson(jsonOutput);

  CLI::App app{Say(Msg::HelpProgram)};
  app.set_version_flag("--version", VersionText());
  app.fallthrough();
  std::string pluginPath;
  bool ignoredJson = false;
  app.add_flag("--json", ignoredJson, Say(Msg::HelpJson));
  app.add_option("--plugin", pluginPath, Say(Msg::HelpPlugin));
  app.require_subcommand(1);

  CLI::App* info = app.add_subcommand("info", Say(Msg::HelpInfo));
  std::string configuration;
  double seconds = 0;
  CLI::App* run = app.add_subcommand("run", Say(Msg::HelpRun));
  run->add_option("CONFIG", configuration, Say(Msg::HelpConfig))->required();
  run->add_option("--seconds", seconds, Say(Msg::HelpSeconds))->check(CLI::NonNegativeNumber);
  std::string logFile;
  run->add_option("--log", logFile, Say(Msg::HelpLog));
  CLI::App* check = app.add_subcommand("check", Say(Msg::HelpCheck));
  check->add_option("CONFIG", configuration, Say(Msg::HelpCheckConfig));
  constexpr double kDefaultCardSeconds = 15;
  double cardSeconds = kDefaultCardSeconds;
  CLI::Option* card = check->add_option("--card", cardSeconds, Say(Msg::HelpCard))
                          ->expected(0, 1)
                          ->default_str(std::to_string(static_cast<int>(kDefaultCardSeconds)))
                          ->check(CLI::PositiveNumber);
  CLI::App* call = app.add_subcommand("call", Say(Msg::HelpCall));
  call->add_option("--config", configuration, Say(Msg::HelpCallConfig));
  CLI::App* members = app.add_subcommand("members", Say(Msg::HelpMembers));
  CLI::App* settings = app.add_subcommand("settings", Say(Msg::HelpSettings));
  std::string device;
  SettingsAnswers answers;
  settings->add_option("CONFIG", configuration, Say(Msg::HelpConfig))->required();
  settings->add_option("DEVICE", device, Say(Msg::HelpDevice));
  settings->add_option("--name", answers.Name, Say(Msg::HelpName));
  settings->add_option("--interval", answers.Interval, Say(Msg::HelpInterval));
  settings->add_option("--old-format", answers.OldFormat, Say(Msg::HelpOldFormat));

  std::vector<CallRequest> calls;
  const std::vector<std::string> callTokens = TakeCallTokens(arguments);
  try {
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend() - 1);
    app.parse(reversed);
    if (call->parsed() && !SplitCalls(callTokens, calls)) throw CLI::ValidationError(Say(Msg::UsageCallMember));
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return Output::Fail(kExitUsage, Say(Msg::UsageWrong, {e.what()}));
  }

  if (pluginPath.empty()) pluginPath = JoinPath(ExecutableFolder(), "Vestrel.plu");
  const bool usesReader = run->parsed() || check->parsed() || call->parsed();
  if (usesReader)
    if (const std::optional<std::string> problem = SimulatorScriptError(pluginPath))
      return Output::Fail(kExitSimulatorScript, Say(Msg::SimulatorScriptBad, {*problem}), {{"script", *problem}});
  // The plug-in reads the log's file name from its environment when it starts.
  if (!logFile.empty()) SetEnvironment("VESTREL_LOG_FILE", AbsolutePath(logFile));
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  StuckCallWatch watch;
  Plugin plugin;
  std::string error;
  if (!plugin.Open(pluginPath, error)) return Output::Fail(kExitLoad, error);
  if (info->parsed()) return InfoCommand(plugin);
  if (run->parsed()) return RunCommand(plugin, configuration, seconds);
  if (check->parsed())
    return CheckCommand(plugin, configuration, card->count() > 0 ? std::optional<double>(cardSeconds) : std::nullopt);
  if (members->parsed()) return MembersCommand(plugin);
  if (settings->parsed()) return SettingsCommand(plugin, configuration, device, answers);
  return CallCommand(plugin, configuration, calls);
}

int Guarded(int argc, const char* const* argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    return Output::Fail(kExitDevice, e.what());
  }
}

}  // namespace
}  // namespace vestrel_host

#ifdef _WIN32
// The command line in Unicode: paths and texts with Cyrillic letters arrive whatever the
// system's code page.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> texts;
  for (int i = 0; i < argc; ++i)
    texts.push_back(vestrel_host::Utf8FromUtf16(reinterpret_cast<const OLECHAR*>(argv[i]), wcslen(argv[i])));
  std::vector<const char*> pointers;
  for (const std::string& text : texts) pointers.push_back(text.c_str());
  vestrel_host::SystemSession session;
  return vestrel_host::Guarded(argc, pointers.data());
}
#else
int main(int argc, char** argv) {
  vestrel_host::SystemSession session;
  return vestrel_host::Guarded(argc, argv);
}
#endif
