#pragma once
// The root object's window.
//
// Windows: a hidden top-level window (never a child window) of the creating thread, created on
// demand, whose messages go to a handler first. POSIX: there are no windows, so no handle is
// ever created and messages sent to the window go straight to the handler.
#include <cstdint>
#include <functional>
#include <utility>


namespace platform {

class RootWindow {
public:
  // Returns true when it handled the message (result set), false for default handling.
  using Handler = std::function<bool(uint32_t message, uintptr_t wParam, intptr_t lParam, intptr_t& result)>;

  explicit RootWindow(Handler handler);
  ~RootWindow();
  RootWindow(const RootWindow&) = delete;
  RootWindow& operator=(const RootWindow&) = delete;

  // The window, created at the first call (Windows: HWND; POSIX: always nullptr).
  void* Handle();
  bool HandleAllocated() const noexcept { return FHandle != nullptr; }
  // Whether the window carries the child-window style (it never should).
  bool IsChildWindow() const;
  // Sends a message to the window and returns the result (POSIX: straight to the handler).
  intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam);

private:
  friend struct RootWindowAccess;
  Handler FHandler;
  void* FHandle = nullptr;
};

}  // namespace platform
