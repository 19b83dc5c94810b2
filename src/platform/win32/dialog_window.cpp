// Modal dialogs as real Win32 windows, built control by control at pixel positions.
#include "platform/dialog_window.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "platform/structured_exception.h"
#include "vestrel/plugin_abi.h"

namespace platform {

namespace {

std::mutex gHookLock;
DialogCreatedHook gCreatedHook;

DialogCreatedHook CreatedHook() {
  std::lock_guard<std::mutex> lock(gHookLock);
  return gCreatedHook;
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// A configured colour as a COLORREF: system colour indexes carry the top bit.
COLORREF ColorRef(int32_t color) {
  if (color < 0) return GetSysColor(color & 0xFF);
  return static_cast<COLORREF>(color) & 0x00FFFFFF;
}

constexpr wchar_t kDialogClass[] = L"VestrelSettingsDialog";
constexpr int kFirstControlId = 1000;

struct DialogState {
  DialogDescription* Description = nullptr;
  HWND Window = nullptr;
  std::vector<HWND> Controls;          // by description index
  std::map<HWND, size_t> IndexOf;
  std::map<COLORREF, HBRUSH> Brushes;
  bool Done = false;
  int32_t Result = kModalNone;

  ~DialogState() {
    for (auto& [color, brush] : Brushes) DeleteObject(brush);
  }

  HBRUSH Brush(COLORREF color) {
    auto found = Brushes.find(color);
    if (found != Brushes.end()) return found->second;
    HBRUSH brush = CreateSolidBrush(color);
    Brushes.emplace(color, brush);
    return brush;
  }

  // Background and font colour a control shows: its own where configured, else its parent's
  // (labels, check boxes and group boxes take their container's colours).
  COLORREF Background(int32_t index) const {
    for (; index >= 0; index = Description->Controls[index].Parent)
      if (Description->Controls[index].Color != kKeepColor) return ColorRef(Description->Controls[index].Color);
    return Description->Color != kKeepColor ? ColorRef(Description->Color) : GetSysColor(COLOR_BTNFACE);
  }
  COLORREF FontColor(int32_t index) const {
    for (; index >= 0; index = Description->Controls[index].Parent)
      if (Description->Controls[index].FontColor != kKeepColor)
        return ColorRef(Description->Controls[index].FontColor);
    return GetSysColor(COLOR_WINDOWTEXT);
  }

  void End(int32_t result) {
    Result = result;
    Done = true;
  }
};

DialogState* StateOf(HWND window) {
  return reinterpret_cast<DialogState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// The colour messages of labels, check boxes and group boxes; edits and buttons keep the
// system's colours unless a colour of their own is configured.
LRESULT ControlColor(DialogState& state, HDC dc, HWND control, bool isEdit) {
  auto found = state.IndexOf.find(control);
  if (found == state.IndexOf.end()) return 0;
  const int32_t index = static_cast<int32_t>(found->second);
  const DialogControl& description = state.Description->Controls[index];
  if (isEdit && description.Color == kKeepColor && description.FontColor == kKeepColor) return 0;
  const COLORREF background = isEdit && description.Color == kKeepColor ? GetSysColor(COLOR_WINDOW) : state.Background(index);
  if (!isEdit || description.FontColor != kKeepColor) SetTextColor(dc, state.FontColor(index));
  SetBkColor(dc, background);
  return reinterpret_cast<LRESULT>(state.Brush(background));
}

void LayOut(DialogState& state, int width, int height) {
  const DialogDescription& dialog = *state.Description;
  std::vector<SIZE> growth(dialog.Controls.size());
  for (size_t i = 0; i < dialog.Controls.size(); ++i) {
    const DialogControl& c = dialog.Controls[i];
    const SIZE parentGrowth = c.Parent < 0 ? SIZE{width - dialog.ClientWidth, height - dialog.ClientHeight}
                                           : growth[c.Parent];
    RECT r{c.Left, c.Top, c.Left + c.Width, c.Top + c.Height};
    if (c.Anchors & AnchorRight) {
      r.right += parentGrowth.cx;
      if (!(c.Anchors & AnchorLeft)) r.left += parentGrowth.cx;
    }
    if (c.Anchors & AnchorBottom) {
      r.bottom += parentGrowth.cy;
      if (!(c.Anchors & AnchorTop)) r.top += parentGrowth.cy;
    }
    growth[i] = SIZE{(r.right - r.left) - c.Width, (r.bottom - r.top) - c.Height};
    if (state.Controls[i] != nullptr)
      MoveWindow(state.Controls[i], r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
  }
}

LRESULT CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  DialogState* state = StateOf(window);
  if (state == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  try {
    switch (message) {
      case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(window, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, state->Brush(state->Background(-1)));
        return 1;
      }
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLORBTN:
        return ControlColor(*state, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), false);
      case WM_CTLCOLOREDIT: {
        LRESULT brush = ControlColor(*state, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), true);
        if (brush != 0) return brush;
        break;
      }
      case WM_COMMAND: {
        auto found = state->IndexOf.find(reinterpret_cast<HWND>(lParam));
        if (found != state->IndexOf.end()) {
          const DialogControl& control = state->Description->Controls[found->second];
          if (control.Kind == DialogControlKind::Button && HIWORD(wParam) == BN_CLICKED && control.ModalResult != kModalNone) {
            state->End(control.ModalResult);
            return 0;
          }
        } else if (LOWORD(wParam) == IDCANCEL) {  // Escape
          state->End(kModalCancel);
          return 0;
        }
        break;
      }
      case WM_CLOSE:
        state->End(kModalCancel);
        return 0;
      case WM_SIZE:
        if (!state->Controls.empty()) LayOut(*state, LOWORD(lParam), HIWORD(lParam));
        return 0;
      default:
        break;
    }
  } catch (...) {
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A group box holds controls of its own: their notifications and colour requests go to the
// group box, which hands them on to the dialog; it also fills its inside in its colour.
LRESULT CALLBACK GroupBoxProcedure(HWND group, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR dialog) {
  HWND dialogWindow = reinterpret_cast<HWND>(dialog);
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_VSCROLL:
      return SendMessageW(dialogWindow, message, wParam, lParam);
    case WM_ERASEBKGND: {
      DialogState* state = StateOf(dialogWindow);
      if (state == nullptr) break;
      auto found = state->IndexOf.find(group);
      if (found == state->IndexOf.end()) break;
      RECT client;
      GetClientRect(group, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, state->Brush(state->Background(static_cast<int32_t>(found->second))));
      return 1;
    }
    default:
      break;
  }
  return DefSubclassProc(group, message, wParam, lParam);
}

bool EnsureDialogClass() {
  WNDCLASSW existing{};
  if (GetClassInfoW(ThisModule(), kDialogClass, &existing)) return true;
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = &DialogProcedure;
  windowClass.hInstance = ThisModule();
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.lpszClassName = kDialogClass;
  return RegisterClassW(&windowClass) != 0;
}

// The window of the host's application object, when it names a live window of this process.
HWND HostApplicationWindow(void* application) {
  if (application == nullptr) return nullptr;
  HWND window = nullptr;
  try {
    window = CallGuarded([application] {
      return *reinterpret_cast<HWND const*>(static_cast<const char*>(application) + vestrel::kHostApplicationHandleOffset);
    });
  } catch (...) {
    return nullptr;
  }
  DWORD process = 0;
  if (window == nullptr || !IsWindow(window)) return nullptr;
  GetWindowThreadProcessId(window, &process);
  return process == GetCurrentProcessId() ? window : nullptr;
}

struct Font {
  HFONT Handle = nullptr;
  Font(const std::u16string& name, int points, bool bold) {
    HDC screen = GetDC(nullptr);
    const int height = -MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    Handle = CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, Wide(name));
  }
  ~Font() {
    if (Handle != nullptr) DeleteObject(Handle);
  }
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;
};

struct ControlClass {
  const wchar_t* ClassName;
  DWORD Style;
  DWORD ExStyle;
};

ControlClass ClassFor(const DialogControl& c) {
  switch (c.Kind) {
    case DialogControlKind::Label:
      return {L"STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0};  // one line, as the text is designed
    case DialogControlKind::Edit:
      return {L"EDIT", ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case DialogControlKind::SpinEdit:
      return {L"EDIT", ES_LEFT | ES_AUTOHSCROLL | ES_NUMBER | WS_CLIPSIBLINGS, WS_EX_CLIENTEDGE};
    case DialogControlKind::GroupBox:
      return {L"BUTTON", BS_GROUPBOX, WS_EX_CONTROLPARENT};
    case DialogControlKind::CheckBox:
      return {L"BUTTON", static_cast<DWORD>(BS_AUTOCHECKBOX | (c.WordWrap ? BS_MULTILINE : 0) | BS_TOP), 0};
    case DialogControlKind::Button:
      return {L"BUTTON", BS_PUSHBUTTON, 0};
  }
  return {L"STATIC", 0, 0};
}

int ControlId(const DialogControl& c, size_t index) {
  if (c.Kind == DialogControlKind::Button && c.ModalResult == kModalOk) return IDOK;
  if (c.Kind == DialogControlKind::Button && c.ModalResult == kModalCancel) return IDCANCEL;
  return kFirstControlId + static_cast<int>(index);
}

// Places every parent's children in tab order in the window order, which the system's Tab
// navigation follows; controls without a tab stop go first.
void ApplyTabOrder(DialogState& state) {
  const auto& controls = state.Description->Controls;
  for (int32_t parent = -1; parent < static_cast<int32_t>(controls.size()); ++parent) {
    std::vector<size_t> children;
    for (size_t i = 0; i < controls.size(); ++i)
      if (controls[i].Parent == parent) children.push_back(i);
    std::stable_sort(children.begin(), children.end(),
                     [&](size_t a, size_t b) { return controls[a].TabOrder < controls[b].TabOrder; });
    HWND after = HWND_TOP;
    for (size_t i : children) {
      SetWindowPos(state.Controls[i], after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      after = state.Controls[i];
    }
  }
}

// The spin edit's arrows: an up-down control over the right end of the edit, which counts
// the edit's number within the range.
void AddSpinButtons(HWND parent, HWND edit, const DialogControl& c) {
  const int width = GetSystemMetrics(SM_CXVSCROLL);
  HWND spin = CreateWindowExW(0, UPDOWN_CLASSW, L"",
                              WS_CHILD | WS_VISIBLE | UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, c.Left + c.Width - 2 - width,
                              c.Top + 2, width, c.Height - 4, parent, nullptr, ThisModule(), nullptr);
  if (spin == nullptr) return;
  SendMessageW(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
  SendMessageW(spin, UDM_SETRANGE32, static_cast<WPARAM>(c.MinValue), static_cast<LPARAM>(c.MaxValue));
  SendMessageW(edit, EM_SETMARGINS, EC_RIGHTMARGIN, MAKELPARAM(0, width + 2));
  SetWindowTextW(edit, Wide(c.Text));
  SetWindowPos(spin, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// A label is as wide as its text at least: where the system's font draws the text wider than
// designed, the label grows to the right instead of cutting its end off.
int32_t LabelWidth(const DialogControl& c, HFONT font) {
  HDC screen = GetDC(nullptr);
  HGDIOBJ previous = SelectObject(screen, font);
  SIZE extent{};
  GetTextExtentPoint32W(screen, Wide(c.Text), static_cast<int>(c.Text.size()), &extent);
  SelectObject(screen, previous);
  ReleaseDC(nullptr, screen);
  // Two pixels more than the text's advance: glyphs may reach past it (Wine's static control
  // cut the final colon of a label exactly as wide as its text).
  constexpr int32_t kOverhang = 2;
  return extent.cx + kOverhang > c.Width ? extent.cx + kOverhang : c.Width;
}

bool CreateControls(DialogState& state, const Font& normal, const Font& bold) {
  auto& controls = state.Description->Controls;
  state.Controls.assign(controls.size(), nullptr);
  for (size_t i = 0; i < controls.size(); ++i) {
    DialogControl& c = controls[i];
    if (c.Kind == DialogControlKind::Label) c.Width = LabelWidth(c, normal.Handle);
    const ControlClass kind = ClassFor(c);
    HWND parent = c.Parent < 0 ? state.Window : state.Controls[c.Parent];
    DWORD style = WS_CHILD | WS_VISIBLE | kind.Style | (c.TabOrder >= 0 && c.Kind != DialogControlKind::GroupBox ? WS_TABSTOP : 0);
    if (!c.Enabled) style |= WS_DISABLED;
    HWND window = CreateWindowExW(kind.ExStyle, kind.ClassName, Wide(c.Text), style, c.Left, c.Top, c.Width, c.Height, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(c, i))), ThisModule(), nullptr);
    if (window == nullptr) return false;
    state.Controls[i] = window;
    state.IndexOf[window] = i;
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(c.BoldCaption ? bold.Handle : normal.Handle), FALSE);
    if (c.MaxLength > 0) SendMessageW(window, EM_SETLIMITTEXT, static_cast<WPARAM>(c.MaxLength), 0);
    if (c.Kind == DialogControlKind::CheckBox) SendMessageW(window, BM_SETCHECK, c.Checked ? BST_CHECKED : BST_UNCHECKED, 0);
    if (c.Kind == DialogControlKind::GroupBox) SetWindowSubclass(window, &GroupBoxProcedure, 1, reinterpret_cast<DWORD_PTR>(state.Window));
  }
  ApplyTabOrder(state);
  for (size_t i = 0; i < controls.size(); ++i)
    if (controls[i].Kind == DialogControlKind::SpinEdit)
      AddSpinButtons(controls[i].Parent < 0 ? state.Window : state.Controls[controls[i].Parent], state.Controls[i], controls[i]);
  return true;
}

std::u16string TextOf(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::u16string text(static_cast<size_t>(length) + 1, u'\0');
  const int copied = GetWindowTextW(window, reinterpret_cast<wchar_t*>(text.data()), length + 1);
  text.resize(static_cast<size_t>(copied < 0 ? 0 : copied));
  return text;
}

void ReadBack(DialogState& state) {
  auto& controls = state.Description->Controls;
  for (size_t i = 0; i < controls.size(); ++i) {
    if (state.Controls[i] == nullptr) continue;
    if (controls[i].Kind == DialogControlKind::Edit || controls[i].Kind == DialogControlKind::SpinEdit)
      controls[i].Text = TextOf(state.Controls[i]);
    if (controls[i].Kind == DialogControlKind::CheckBox)
      controls[i].Checked = SendMessageW(state.Controls[i], BM_GETCHECK, 0, 0) == BST_CHECKED;
  }
}

// Messages for the host's own windows run the host's code: a structured exception there must
// not end the process, the dialog goes on.
void DispatchGuarded(MSG& message) {
  try {
    CallGuarded([&message] {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    });
  } catch (...) {
  }
}

void EnableOwner(HWND owner, bool enable) {
  if (owner == nullptr) return;
  try {
    CallGuarded([owner, enable] { EnableWindow(owner, enable ? TRUE : FALSE); });
  } catch (...) {
  }
}

}  // namespace

void SetDialogCreatedHook(DialogCreatedHook Hook) {
  std::lock_guard<std::mutex> lock(gHookLock);
  gCreatedHook = std::move(Hook);
}

int32_t ShowModalDialog(DialogDescription& Dialog) {
  INITCOMMONCONTROLSEX common{sizeof(common), ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&common);
  if (!EnsureDialogClass()) return kModalNone;

  const DialogCreatedHook hook = CreatedHook();
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | DS_MODALFRAME;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT frame{0, 0, Dialog.ClientWidth, Dialog.ClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  // Centred on the desktop.
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

  HWND owner = HostApplicationWindow(Dialog.HostApplication);
  DialogState state;
  state.Description = &Dialog;
  state.Window = CreateWindowExW(exStyle, kDialogClass, Wide(Dialog.Caption), style, left, top, width, height, owner, nullptr,
                                 ThisModule(), &state);
  if (state.Window == nullptr) return kModalNone;
  Font normal(Dialog.FontName, Dialog.FontPoints, false);
  Font bold(Dialog.FontName, Dialog.FontPoints, true);
  SendMessageW(state.Window, WM_SETFONT, reinterpret_cast<WPARAM>(normal.Handle), FALSE);
  if (!CreateControls(state, normal, bold)) {
    DestroyWindow(state.Window);
    return kModalNone;
  }
  HWND first = GetNextDlgTabItem(state.Window, nullptr, FALSE);
  if (first != nullptr) SetFocus(first);

  EnableOwner(owner, false);
  if (!hook) {
    ShowWindow(state.Window, SW_SHOW);
    UpdateWindow(state.Window);
    if (first != nullptr) SetFocus(first);
  } else {
    hook(state.Window);
  }
  MSG message;
  bool quit = false;
  while (!state.Done) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      quit = true;
      break;
    }
    if (got < 0) break;
    if (!IsDialogMessageW(state.Window, &message)) DispatchGuarded(message);
  }
  ReadBack(state);
  EnableOwner(owner, true);
  SetWindowLongPtrW(state.Window, GWLP_USERDATA, 0);
  DestroyWindow(state.Window);
  if (quit) PostQuitMessage(static_cast<int>(message.wParam));  // the application's quit goes on
  return state.Done ? state.Result : kModalNone;
}

}  // namespace platform
