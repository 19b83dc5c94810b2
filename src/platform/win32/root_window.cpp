// The root object's hidden top-level window.
#include "platform/root_window.h"

#include <windows.h>

namespace platform {

struct RootWindowAccess {
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
      SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<RootWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr && self->FHandler) {
      // Nothing may leave a window procedure: the caller is the system.
      try {
        intptr_t result = 0;
        if (self->FHandler(message, wParam, lParam, result))
          return result;
      } catch (...) {
        return 0;
      }
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }
};

namespace {

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<const char*>(&ThisModule), &module);
  return module;
}

constexpr char kClassName[] = "VestrelRootObject";

bool EnsureWindowClass() {
  WNDCLASSA existing{};
  if (GetClassInfoA(ThisModule(), kClassName, &existing))
    return true;
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &RootWindowAccess::Procedure;
  windowClass.hInstance = ThisModule();
  windowClass.lpszClassName = kClassName;
  return RegisterClassA(&windowClass) != 0;
}

}  // namespace

RootWindow::RootWindow(Handler handler) : FHandler(std::move(handler)) {}

RootWindow::~RootWindow() {
  if (FHandle != nullptr)
    DestroyWindow(static_cast<HWND>(FHandle));
}

void* RootWindow::Handle() {
  if (FHandle == nullptr && EnsureWindowClass()) {
    // A pop-up without parent: a top-level window, hidden, never a child. Where the desktop
    // refuses top-level windows (a service session, Wine without a display), a message-only
    // window still receives the object's messages.
    FHandle = CreateWindowExA(0, kClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, ThisModule(), this);
    if (FHandle == nullptr)
      FHandle = CreateWindowExA(0, kClassName, "", WS_POPUP, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), this);
  }
  return FHandle;
}

bool RootWindow::IsChildWindow() const {
  return FHandle != nullptr && (GetWindowLongPtrA(static_cast<HWND>(FHandle), GWL_STYLE) & WS_CHILD) != 0;
}

intptr_t RootWindow::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return SendMessageA(static_cast<HWND>(Handle()), message, wParam, lParam);
}

}  // namespace platform
