// The real settings dialog on Windows, read back through the window system: every control's
// class, text, position in its parent, style and tab order, the fonts, the owner, the colour
// messages, the anchors, and the buttons pressed with the message a click sends.
#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/application_object.h"
#include "parsec/manager_vestrel.h"
#include "parsec/vestrel_settings_form.h"
#include "platform/text_codec.h"
#include "vestrel/plugin_abi.h"

namespace {

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string TextOf(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return Utf8FromWide(WideString(reinterpret_cast<const OLECHAR*>(text)));
}

RECT RectInParent(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

std::vector<HWND> Descendants(HWND dialog) {
  std::vector<HWND> found;
  EnumChildWindows(dialog, &CollectWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND FindControl(HWND dialog, const std::string& className, const std::string& text) {
  for (HWND window : Descendants(dialog))
    if (ClassOf(window) == className && TextOf(window) == text) return window;
  return nullptr;
}

void Click(HWND button) {
  PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

LOGFONTW FontOf(HWND window) {
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)), sizeof font, &font);
  return font;
}

class SettingsDialogWindow : public ::testing::Test {
protected:
  void TearDown() override {
    platform::SetDialogCreatedHook(nullptr);
    SetFormColors(TFormColors{});
  }
  TManagerVestrelList FList{ItemClassOf<TManagerVestrel>()};
};

struct Row {
  const char* Class;
  const char* Text;
  bool InGroup;
  LONG Left, Top, Width, Height;
  DWORD StyleBits;  // all of them must be set
};

TEST_F(SettingsDialogWindow, EveryControlStandsAsDesignedAndTheButtonsEndTheDialog) {
  auto* device = static_cast<TManagerVestrel*>(FList.NewDevice());
  device->SetParamValue(RepeatIntervalParamName(), "2500");
  device->SetParamValue(OldDataFormatParamName(), "1");
  device->SetDeviceName(AnsiFromUtf8("Касса №1"));
  TFormColors colors;
  colors.ColorForm = 0x00F0E0D0;
  colors.ColorBody = 0x00C0FFC0;
  colors.ColorFont = 0x00800000;
  SetFormColors(colors);

  bool inspected = false;
  platform::SetDialogCreatedHook([&](void* handle) {
    HWND dialog = static_cast<HWND>(handle);
    inspected = true;
    EXPECT_FALSE(IsWindowVisible(dialog)) << "tests create the dialog hidden";
    EXPECT_EQ(TextOf(dialog), "Настройки авторизатора");
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, 382);
    EXPECT_EQ(client.bottom, 187);
    const LONG_PTR style = GetWindowLongPtrW(dialog, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & WS_THICKFRAME) << "a dialog border, not sizeable";
    EXPECT_TRUE(GetWindowLongPtrW(dialog, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
    RECT frame;
    GetWindowRect(dialog, &frame);
    EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1) << "centred on the desktop";
    EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);

    const Row rows[] = {
        {"Static", "Идентификатор:", false, 8, 16, 83, 13, SS_NOPREFIX},
        {"Edit", "Касса №1", false, 97, 12, 278, 21, WS_TABSTOP | ES_AUTOHSCROLL},
        {"Button", " Параметры работы с prx08.dll ", false, 8, 44, 367, 101, BS_GROUPBOX},
        {"Static", "Мин. интервал отправки повтора кода, мсек.:", true, 8, 24, 233, 13, SS_NOPREFIX},
        {"Edit", "2500", true, 247, 20, 109, 21, WS_TABSTOP | ES_NUMBER},
        {"Button", "Выдача результата в старом формате (для совместимости с ПО прошлых версий)", true, 8, 52, 348, 33,
         WS_TABSTOP | BS_AUTOCHECKBOX | BS_MULTILINE},
        {"Button", "OK", false, 207, 154, 80, 25, WS_TABSTOP},
        {"Button", "Отмена", false, 295, 154, 80, 25, WS_TABSTOP},
    };
    HWND controls[8] = {};
    HWND group = FindControl(dialog, "Button", rows[2].Text);
    ASSERT_NE(group, nullptr);
    for (int i = 0; i < 8; ++i) {
      const Row& row = rows[i];
      controls[i] = FindControl(dialog, row.Class, row.Text);
      ASSERT_NE(controls[i], nullptr) << row.Text;
      EXPECT_EQ(GetParent(controls[i]), row.InGroup ? group : dialog) << row.Text;
      const RECT r = RectInParent(controls[i]);
      // A label grows to the right where the system's font draws its text wider.
      const LONG width = ClassOf(controls[i]) == "Static" ? std::min<LONG>(r.right - r.left, row.Width) : r.right - r.left;
      EXPECT_EQ((std::vector<LONG>{r.left, r.top, width, r.bottom - r.top}),
                (std::vector<LONG>{row.Left, row.Top, row.Width, row.Height}))
          << row.Text;
      EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(controls[i], GWL_STYLE)) & row.StyleBits, row.StyleBits) << row.Text;
      EXPECT_TRUE(IsWindowEnabled(controls[i])) << row.Text;
    }
    EXPECT_EQ(GetDlgCtrlID(controls[6]), IDOK);
    EXPECT_EQ(GetDlgCtrlID(controls[7]), IDCANCEL);
    EXPECT_EQ(SendMessageW(controls[5], BM_GETCHECK, 0, 0), BST_CHECKED);

    // Tab order: the name, into the group (interval, flag), then Cancel before OK.
    std::vector<HWND> tabs;
    HWND at = GetNextDlgTabItem(dialog, nullptr, FALSE);
    for (int guard = 0; at != nullptr && guard < 10 && (tabs.empty() || at != tabs.front()); ++guard) {
      tabs.push_back(at);
      at = GetNextDlgTabItem(dialog, at, FALSE);
    }
    EXPECT_EQ(tabs, (std::vector<HWND>{controls[1], controls[4], controls[5], controls[7], controls[6]}));

    // The spin edit: at most six digits, arrows bound to it over 1000..999999.
    EXPECT_EQ(SendMessageW(controls[4], EM_GETLIMITTEXT, 0, 0), 6);
    HWND arrows = nullptr;
    for (HWND window : Descendants(dialog))
      if (ClassOf(window) == "msctls_updown32") arrows = window;
    ASSERT_NE(arrows, nullptr);
    EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(arrows, UDM_GETBUDDY, 0, 0)), controls[4]);
    int low = 0, high = 0;
    SendMessageW(arrows, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(low, 1000);
    EXPECT_EQ(high, 999999);

    // Fonts: MS Sans Serif 8 pt, the group's caption bold.
    const LOGFONTW labelFont = FontOf(controls[0]);
    EXPECT_EQ(std::wstring(labelFont.lfFaceName), L"MS Sans Serif");
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(labelFont.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72));
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(labelFont.lfWeight, FW_NORMAL);
    EXPECT_EQ(FontOf(group).lfWeight, FW_BOLD);

    // The configured colours through the colour messages: labels in the font colour on their
    // container's background, the group box in the body colour.
    HDC dc = CreateCompatibleDC(nullptr);
    SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(controls[0]));
    EXPECT_EQ(GetTextColor(dc), 0x00800000u);
    EXPECT_EQ(GetBkColor(dc), 0x00F0E0D0u);
    SendMessageW(group, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(controls[3]));
    EXPECT_EQ(GetTextColor(dc), 0x00800000u);
    EXPECT_EQ(GetBkColor(dc), 0x00C0FFC0u);
    SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(group));
    EXPECT_EQ(GetBkColor(dc), 0x00C0FFC0u);
    DeleteDC(dc);

    // Wider by 40 and taller by 20: the edit and the group stretch, the buttons keep to the
    // bottom right corner.
    RECT bigger = frame;
    SetWindowPos(dialog, nullptr, 0, 0, bigger.right - bigger.left + 40, bigger.bottom - bigger.top + 20,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT r = RectInParent(controls[1]);
    EXPECT_EQ(r.right - r.left, 318);
    r = RectInParent(controls[4]);
    EXPECT_EQ(r.right - r.left, 149) << "the spin edit stretches with the group";
    r = RectInParent(controls[6]);
    EXPECT_EQ((std::vector<LONG>{r.left, r.top}), (std::vector<LONG>{247, 174}));
    SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    // What the user types, then OK.
    SetWindowTextW(controls[1], L"Касса 2");
    SetWindowTextW(controls[4], L"4500");
    SendMessageW(controls[5], BM_SETCHECK, BST_UNCHECKED, 0);
    Click(controls[6]);
  });
  EXPECT_EQ(device->ShowSettings(), 0);
  EXPECT_TRUE(inspected);
  EXPECT_EQ(device->GetParamValue(RepeatIntervalParamName()), "4500");
  EXPECT_EQ(device->GetParamValue(OldDataFormatParamName()), "0");
  EXPECT_EQ(Utf8FromAnsi(device->DeviceName()), "Касса 2");

  // Cancel, after changes in the dialog: nothing is stored.
  platform::SetDialogCreatedHook([](void* handle) {
    HWND dialog = static_cast<HWND>(handle);
    for (HWND window : Descendants(dialog))
      if (ClassOf(window) == "Edit") SetWindowTextW(window, L"7777");
    Click(GetDlgItem(dialog, IDCANCEL));
  });
  EXPECT_EQ(device->ShowSettings(), 8);
  EXPECT_EQ(device->GetParamValue(RepeatIntervalParamName()), "4500");
  EXPECT_EQ(Utf8FromAnsi(device->DeviceName()), "Касса 2");
}

TEST_F(SettingsDialogWindow, OwnedByTheHostsApplicationWindowAndCancelledByItsClose) {
  auto* device = static_cast<TManagerVestrel*>(FList.NewDevice());
  HWND hostWindow = CreateWindowExW(0, L"STATIC", L"host", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hostWindow, nullptr);
  // The host's application object keeps its window at the agreed offset.
  std::vector<char> application(256, 0);
  *reinterpret_cast<HWND*>(application.data() + vestrel::kHostApplicationHandleOffset) = hostWindow;
  void* before = CurrentApplication();
  SetCurrentApplication(application.data());

  HWND owner = nullptr;
  bool ownerDisabled = false;
  platform::SetDialogCreatedHook([&](void* handle) {
    HWND dialog = static_cast<HWND>(handle);
    owner = GetWindow(dialog, GW_OWNER);
    ownerDisabled = !IsWindowEnabled(hostWindow);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(device->ShowSettings(), 8);
  EXPECT_EQ(owner, hostWindow);
  EXPECT_TRUE(ownerDisabled) << "modal to the host's window";
  EXPECT_TRUE(IsWindowEnabled(hostWindow)) << "enabled again afterwards";

  // A value there that is no window of this process: the dialog has no owner.
  *reinterpret_cast<HWND*>(application.data() + vestrel::kHostApplicationHandleOffset) = reinterpret_cast<HWND>(0x1234);
  EXPECT_EQ(device->ShowSettings(), 8);
  EXPECT_EQ(owner, nullptr);
  SetCurrentApplication(before);
  DestroyWindow(hostWindow);
}

}  // namespace
#endif  // _WIN32
