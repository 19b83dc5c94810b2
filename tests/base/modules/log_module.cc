// A library that starts the diagnostic log when it is loaded and stops it when it is unloaded,
// as the plug-in does: in DllMain (under the loader lock) on Windows, in the shared object's
// start and stop routines elsewhere. The file comes from VESTREL_TEST_LOG_MODULE_FILE.
// (Named .cc so that the test program's own source glob leaves it out.)
#include "base/diagnostic_log.h"
#include "platform/process_info.h"

#ifdef _WIN32
#include <windows.h>
#define LOG_MODULE_EXPORT __declspec(dllexport)
#else
#define LOG_MODULE_EXPORT __attribute__((visibility("default")))
#endif

namespace {

void StartLog() {
  TDiagnosticLogSettings settings;
  settings.FileName = platform::EnvironmentVariable("VESTREL_TEST_LOG_MODULE_FILE").value_or("");
  settings.MaxFileBytes = 64 << 20;
  StartDiagnosticLog(settings);
}

}  // namespace

// Queues `lines` lines; 1 when the log is on.
extern "C" LOG_MODULE_EXPORT int LogModuleWrite(int cycle, int lines) {
  for (int line = 0; line < lines; ++line) DIAGNOSTIC_LOG("cycle %d line %d", cycle, line);
  return DiagnosticLogOn() ? 1 : 0;
}

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) StartLog();
  if (reason == DLL_PROCESS_DETACH) StopDiagnosticLog();
  return TRUE;
}
#else
__attribute__((constructor)) static void LogModuleLoaded() { StartLog(); }
__attribute__((destructor)) static void LogModuleUnloaded() { StopDiagnosticLog(); }
#endif
