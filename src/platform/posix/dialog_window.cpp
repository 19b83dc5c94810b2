#include "platform/dialog_window.h"

namespace platform {

// No window system: the dialog is closed before anyone could change it.
int32_t ShowModalDialog(DialogDescription&) { return kModalNone; }

void SetDialogCreatedHook(DialogCreatedHook) {}

}  // namespace platform
