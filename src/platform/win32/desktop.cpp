#include "platform/desktop.h"

#include <windows.h>

#include "platform/desktop_record.h"

namespace platform {

bool DispatchOneMessage() {
  MSG message{};
  bool taken = PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != 0;
  if (taken) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  detail::RecordMessagePoll(taken);
  return taken;
}

bool WaitForMessage(uint32_t timeoutMilliseconds) {
  return MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMilliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0;
}

void InjectKeyUp(uint8_t virtualKey) {
  detail::RecordKeyUp(virtualKey);
  keybd_event(virtualKey, 0, KEYEVENTF_KEYUP, 0);
}

bool SpeakerBeep(uint32_t frequency, uint32_t durationMilliseconds) {
  detail::RecordBeep(frequency, durationMilliseconds);
  return Beep(frequency, durationMilliseconds) != 0;
}

}  // namespace platform
