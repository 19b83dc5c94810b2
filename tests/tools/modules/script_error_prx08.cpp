// A stand-in for the reader simulator after a script failed to load: it exports only
// SimGetScriptError, with the simulator's signature and convention, and reports the script
// named by PRX08_SIM_SCRIPT as bad at line 3.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#if defined(_WIN32)
#define STAND_IN_EXPORT
#else
#define STAND_IN_EXPORT __attribute__((visibility("default")))
#endif
#if defined(__i386__)
#define STAND_IN_CALL __attribute__((stdcall))
#else
#define STAND_IN_CALL
#endif

extern "C" STAND_IN_EXPORT int32_t STAND_IN_CALL SimGetScriptError(char* buffer, int32_t size) {
  const char* script = std::getenv("PRX08_SIM_SCRIPT");
  if (script == nullptr) return 0;
  const std::string text = std::string("prx08 simulator: ") + script + ":3: unknown action \"tapp\"";
  if (buffer != nullptr && size > 0) {
    const size_t copied = std::min(text.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
  }
  return static_cast<int32_t>(text.size());
}
