#pragma once
// The tuning flags: a fixed table of named integer start parameters with built-in defaults,
// which an administrator may override in "<library>.ini" beside the plug-in (section "Start").
// At module start seven of them are read into process-wide settings and the execution mode is
// set to plug-in; at module end the six modifier keys of the keyboard are released, so that a
// key the user held while the host unloaded the plug-in does not stay pressed.

#include <cstdint>
#include <string>

#include "platform/text_codec.h"

// The values read at module start, kept for the life of the library.
struct TStartParams {
  int32_t ReleaseQueueLag;
  int32_t KeyDriblingTime;
  int32_t SynchronizerLag;
  int32_t DeleteHookedMsg;
  int32_t DoNotClearTasks;
  int32_t QueueToQuenMsgInt;
  int32_t TasksCheckTimer;
};

// The settings file: the plug-in module's full long path with its extension replaced by ".ini".
std::string TuningFileName();

// The value of one start parameter: its default, overridden by the integer under its name in
// section "Start" of the settings file (names compared without regard to case). A missing file,
// section or key, or a text that is not a decimal integer, gives the default. A name outside
// the table raises "Неизвестный параметр запуска [<name>]".
int32_t ReadStartParam(const AnsiString& name);

// The values read by the last StartTuningFlags (the defaults before).
const TStartParams& StartParams();

// Module start: reads the seven start-up values and sets the execution mode to plug-in.
void StartTuningFlags();
// Module end: key-up events for left Shift, left Ctrl, left Alt, right Shift, right Ctrl and
// right Alt, in that order.
void StopTuningFlags();

// The modifier keys released at module end, in order.
inline constexpr uint8_t kReleasedModifierKeys[] = {0xA0, 0xA2, 0xA4, 0xA1, 0xA3, 0xA5};
