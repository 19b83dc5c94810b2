#include "host/plugin_entry.h"

#include <atomic>

#include "automation/safe_array.h"
#include "base/diagnostic_log.h"
#include "base/errors.h"
#include "config/locale_formats.h"
#include "config/log_name.h"
#include "config/module_file.h"
#include "config/version_info.h"
#include "host/diagnostic_log_settings.h"
#include "driver/driver_instance.h"
#include "driver/driver_object.h"
#include "host/tuning_flags.h"
#include "host/wire/variant_stream.h"
#include "parsec/reader_library.h"
#include "platform/file_system.h"
#include "platform/process_info.h"
#include "platform/structured_exception.h"

namespace {

std::atomic<IUnknown*> gPublishedControl{nullptr};
bool gModuleStarted = false;

// Runs one step of start or stop: a failure of one step never keeps the next from running.
template <class Step>
void RunStep(Step&& step) noexcept {
  try {
    platform::CallGuarded(std::forward<Step>(step));
  } catch (...) {
  }
}

// The log's first lines about the module: which file, which version, which process.
void LogModuleLoaded() {
  if (!DiagnosticLogOn()) return;
  const std::string path = ModuleFileName(false);
  const TVersionInfo version(path);
  DIAGNOSTIC_LOG("module loaded: %s, version %s, process %u", platform::Utf8FromPath(path).c_str(),
                 version.Valid() ? Utf8FromAnsi(version.FileVersionText()).c_str() : "unknown",
                 static_cast<unsigned>(platform::CurrentProcessId()));
}

}  // namespace

IUnknown* PublishedControl() noexcept { return gPublishedControl.load(); }
void SetPublishedControl(IUnknown* control) noexcept { gPublishedControl = control; }

void StorePublishedControl(IUnknown** slot) noexcept {
  if (slot == nullptr) return;
  RunStep([&] {
    IUnknown* control = PublishedControl();
    if (control != nullptr) control->AddRef();
    IUnknown* previous = *slot;
    *slot = control;
    if (previous != nullptr) previous->Release();
  });
}

void ModuleStart(TDriverFactory factory) noexcept {
  if (gModuleStarted) return;
  gModuleStarted = true;
  // Shared state first: the log name, the formats, the array object inside variant streams.
  RunStep([] { StartLogRendezvous(); });
  RunStep([] { ApplyLocaleFormats(); });
  RunStep([] { InstallSafeArrayStreamHooks(); });
  RunStep([] { StartTuningFlags(); });
  // The log before anything it should see; off unless the tuning file switches it on.
  RunStep([] {
    if (StartDiagnosticLogFromTuningFile()) LogModuleLoaded();
  });
  RunStep([] { InitializeReaderLibraryBinding(); });
  // The driver last; a failing construction leaves the library without one.
  if (DriverInstance() == nullptr && factory != nullptr) {
    RunStep([&] { DriverInstance() = factory().release(); });
  }
}

void ModuleStop() noexcept {
  if (!gModuleStarted) return;
  // The driver first: its devices stop their polling threads before the reader library goes.
  if (TBaseDllObj* driver = DriverInstance()) {
    DriverInstance() = nullptr;
    RunStep([&] { delete driver; });
  }
  RunStep([] { FinalizeReaderLibraryBinding(); });
  RunStep([] { StopTuningFlags(); });
  SetPublishedControl(nullptr);
  RunStep([] { StopLogRendezvous(); });
  SetTwoDimensionalArrayFactory(nullptr);
  SetSafeArrayExtractor(nullptr);
  // The log last, so that it sees the devices stop; its stop is bounded (loader lock).
  DIAGNOSTIC_LOG("module unloading");
  StopDiagnosticLog();
  gModuleStarted = false;
}

bool ModuleStarted() noexcept { return gModuleStarted; }
