// Shows the settings dialog of a sample Parsec device, as a user would see it, for a few
// seconds. Once the dialog has painted, its window rectangle on the screen (left top width
// height) is written to the file named by the first argument, so that a script can photograph
// it; the dialog closes itself after the number of seconds given second (default 5).
//   settings_dialog_demo <rectangle file> [seconds]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "parsec/manager_vestrel.h"
#include "parsec/vestrel_settings_form.h"
#include "platform/dialog_window.h"
#include "platform/text_codec.h"

namespace {

HWND gDialog = nullptr;
std::string gRectangleFile;
UINT gSeconds = 5;

void CALLBACK CloseDialog(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  PostMessageW(gDialog, WM_CLOSE, 0, 0);
}

void CALLBACK ReportRectangle(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  RECT r;
  GetWindowRect(gDialog, &r);
  if (FILE* file = std::fopen(gRectangleFile.c_str(), "w")) {
    std::fprintf(file, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    std::fclose(file);
  }
  SetTimer(nullptr, 0, gSeconds * 1000, &CloseDialog);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: settings_dialog_demo <rectangle file> [seconds]\n");
    return 2;
  }
  gRectangleFile = argv[1];
  if (argc > 2) gSeconds = static_cast<UINT>(std::atoi(argv[2]));
  OleInitialize(nullptr);
  int code = 1;
  {
    TManagerVestrelList list(ItemClassOf<TManagerVestrel>());
    auto* device = static_cast<TManagerVestrel*>(list.NewDevice());
    device->SetDeviceName(AnsiFromUtf8("Считыватель проксимити карт Parsec №1"));
    device->SetParamValue(RepeatIntervalParamName(), "2000");
    device->SetParamValue(OldDataFormatParamName(), "1");
    // The dialog as it opens, then shown: the hook is the moment it exists with all controls.
    platform::SetDialogCreatedHook([](void* window) {
      gDialog = static_cast<HWND>(window);
      ShowWindow(gDialog, SW_SHOWNORMAL);
      SetForegroundWindow(gDialog);
      UpdateWindow(gDialog);
      SetFocus(GetNextDlgTabItem(gDialog, nullptr, FALSE));
      SetTimer(nullptr, 0, 1500, &ReportRectangle);
    });
    code = device->ShowSettings();
    platform::SetDialogCreatedHook(nullptr);
    std::printf("ShowSettings: %d\n", code);
  }
  OleUninitialize();
  return code == 8 ? 0 : 1;
}
