#include "simulator_script.h"

#include <cstdint>
#include <vector>

#include "host_system.h"

namespace vestrel_host {
namespace {

// The simulator's exports use the Windows API convention: stdcall on 32-bit x86.
#if defined(__i386__)
#define VESTREL_SIM_CALL __attribute__((stdcall))
#else
#define VESTREL_SIM_CALL
#endif
// Copies the script's error text zero-terminated, cut to size - 1 characters, and returns
// its full length; 0 when the script loaded or none was named.
using SimGetScriptErrorFunction = int32_t(VESTREL_SIM_CALL*)(char* buffer, int32_t size);

constexpr char kSimulatorPrefix[] = "prx08 simulator: ";
constexpr int32_t kLongestText = 64 * 1024;

}  // namespace

std::optional<std::string> SimulatorScriptError(const std::string& pluginPath) {
  if (!EnvironmentVariable("PRX08_SIM_SCRIPT")) return std::nullopt;
  // Loaded for the question only and unloaded again: the plug-in loads its own copy when a
  // device starts, and the script plays from then on.
  DynamicLibrary library;
  std::string ignored;
  if (!library.Load(JoinPath(FolderOf(pluginPath), "prx08.dll"), ignored)) return std::nullopt;
  auto scriptError = reinterpret_cast<SimGetScriptErrorFunction>(library.Resolve("SimGetScriptError"));
  if (scriptError == nullptr) return std::nullopt;
  std::vector<char> buffer(512, '\0');
  int32_t length = scriptError(buffer.data(), static_cast<int32_t>(buffer.size()));
  if (length <= 0) return std::nullopt;
  if (length >= static_cast<int32_t>(buffer.size()) && length < kLongestText) {
    buffer.assign(static_cast<size_t>(length) + 1, '\0');
    length = scriptError(buffer.data(), static_cast<int32_t>(buffer.size()));
    if (length <= 0) return std::nullopt;
  }
  std::string text(buffer.data());
  if (text.compare(0, sizeof kSimulatorPrefix - 1, kSimulatorPrefix) == 0) text.erase(0, sizeof kSimulatorPrefix - 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  // The text is the simulator's bytes; anything that is not UTF-8 is shown as such.
  return Utf8FromUtf16(Utf16FromUtf8(text));
}

}  // namespace vestrel_host
