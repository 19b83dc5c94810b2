#pragma once
// The reader simulator loads the script named by PRX08_SIM_SCRIPT when it is loaded itself and
// plays nothing when the script is missing or has a bad line. With that variable set, the
// tool asks the prx08.dll beside the plug-in, before any device starts, whether it is the
// simulator (it exports SimGetScriptError; a real reader library does not) and whether its
// script failed.
#include <optional>
#include <string>

namespace vestrel_host {

// "FILE:LINE: what is wrong" as the simulator reports it; nullopt when PRX08_SIM_SCRIPT is not
// set, the library is missing or is not the simulator, or the script loaded fine.
std::optional<std::string> SimulatorScriptError(const std::string& pluginPath);

}  // namespace vestrel_host
