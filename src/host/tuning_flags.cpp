#include "host/tuning_flags.h"

#include <filesystem>
#include <system_error>

#include "base/errors.h"
#include "base/execution_mode.h"
#include "config/module_file.h"
#include "platform/desktop.h"
#include "platform/ini_file.h"
#include "platform/text_compare.h"

namespace {

struct TStartParamEntry {
  const char* Name;
  int32_t Default;
};

// The table, in its fixed order; only some entries are read at start.
constexpr TStartParamEntry kStartParamTable[] = {
    {"ServerMTtimeout", 5000}, {"ReleaseQueueLag", 1000}, {"KeyDriblingTime", 200},
    {"SynchronizerLag", 300},  {"DeleteHookedMsg", 1},    {"SystemTimeCheck", 0},
    {"DoNotClearTasks", 0},    {"QueueToQuenMsgInt", 50}, {"TasksCheckTimer", 0},
    {"ProximityReaderDriblingTime", 1000},
};

constexpr TStartParams kDefaultStartParams = {1000, 200, 300, 1, 0, 50, 0};
TStartParams gStartParams = kDefaultStartParams;

constexpr const char kTuningSection[] = "Start";

}  // namespace

std::string TuningFileName() {
  std::filesystem::path path(ModuleFileName(false));
  path.replace_extension(".ini");
  return path.string();
}

int32_t ReadStartParam(const AnsiString& name) {
  const TStartParamEntry* found = nullptr;
  for (const TStartParamEntry& entry : kStartParamTable) {
    if (platform::SameText(name, entry.Name)) {
      found = &entry;
      break;
    }
  }
  if (found == nullptr) throw Exception(AnsiFromUtf8("Неизвестный параметр запуска [") + name + "]");
  const std::string file = TuningFileName();
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(file, ignored)) return found->Default;
  return platform::ReadIniInteger(file, kTuningSection, found->Name, found->Default);
}

const TStartParams& StartParams() { return gStartParams; }

void StartTuningFlags() {
  gStartParams.ReleaseQueueLag = ReadStartParam("ReleaseQueueLag");
  gStartParams.KeyDriblingTime = ReadStartParam("KeyDriblingTime");
  gStartParams.SynchronizerLag = ReadStartParam("SynchronizerLag");
  gStartParams.DeleteHookedMsg = ReadStartParam("DeleteHookedMsg");
  gStartParams.DoNotClearTasks = ReadStartParam("DoNotClearTasks");
  gStartParams.QueueToQuenMsgInt = ReadStartParam("QueueToQuenMsgInt");
  gStartParams.TasksCheckTimer = ReadStartParam("TasksCheckTimer");
  SetExecutionMode(EXECUTION_MODE_PLUGIN);
}

void StopTuningFlags() {
  for (uint8_t key : kReleasedModifierKeys) platform::InjectKeyUp(key);
}
