// POSIX has no windows: the root window never gets a handle and messages go straight to the
// handler.
#include "platform/root_window.h"

namespace platform {

struct RootWindowAccess {};

RootWindow::RootWindow(Handler handler) : FHandler(std::move(handler)) {}

RootWindow::~RootWindow() = default;

void* RootWindow::Handle() { return nullptr; }

bool RootWindow::IsChildWindow() const { return false; }

intptr_t RootWindow::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  intptr_t result = 0;
  if (FHandler) {
    try {
      FHandler(message, wParam, lParam, result);
    } catch (...) {
      result = 0;
    }
  }
  return result;
}

}  // namespace platform
