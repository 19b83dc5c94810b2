#pragma once
// Modal dialogs built from a description: controls at pixel positions in their parent's client
// area, texts in UTF-16, anchors, tab order and colours.
//
// Windows: a real top-level dialog window of the calling thread, centred on the desktop,
// owned by a given window, run in its own modal loop (Tab, Enter and Escape work as in every
// dialog). POSIX has no window system in the product: ShowModalDialog answers kModalNone at
// once, as a user who closes the dialog would.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

inline constexpr int32_t kModalNone = 0;
inline constexpr int32_t kModalOk = 1;
inline constexpr int32_t kModalCancel = 2;

// A colour value as the host's configuration gives it: 0x00BBGGRR, or a system colour index
// with the top bit set (0x8000000F: button face); kKeepColor keeps the designed colour.
inline constexpr int32_t kKeepColor = -1;

enum class DialogControlKind { Label, Edit, GroupBox, SpinEdit, CheckBox, Button };

// Which sides of its parent a control keeps its distance to when the dialog changes size.
enum DialogAnchor : uint8_t { AnchorLeft = 1, AnchorTop = 2, AnchorRight = 4, AnchorBottom = 8 };

struct DialogControl {
  DialogControlKind Kind = DialogControlKind::Label;
  std::u16string Text;        // caption, edit text or spin edit value; read back after the dialog
  int32_t Parent = -1;        // index of the group box it sits in, -1 for the dialog itself
  int32_t Left = 0, Top = 0, Width = 0, Height = 0;  // in the parent's client area, pixels
  int32_t TabOrder = -1;      // among the controls of the same parent; -1: no tab stop
  uint8_t Anchors = AnchorLeft | AnchorTop;
  bool Enabled = true;
  bool Checked = false;       // check box; read back after the dialog
  bool BoldCaption = false;   // group box
  bool WordWrap = false;      // check box
  int32_t MaxLength = 0;      // edits: at most this many characters (0: no limit)
  int32_t MinValue = 0, MaxValue = 0;  // spin edit
  int32_t ModalResult = kModalNone;    // button: ends the dialog with this result
  int32_t Color = kKeepColor;          // background
  int32_t FontColor = kKeepColor;
};

struct DialogDescription {
  std::u16string Caption;
  int32_t ClientWidth = 0, ClientHeight = 0;
  std::u16string FontName;
  int32_t FontPoints = 8;
  int32_t Color = kKeepColor;   // the dialog's background
  std::vector<DialogControl> Controls;  // in creation order
  // The host's application object, whose window owns the dialog; nullptr: no owner.
  void* HostApplication = nullptr;
};

// Shows the dialog modally and returns its modal result; the controls' Text and Checked hold
// what the user left in them (for any result).
int32_t ShowModalDialog(DialogDescription& Dialog);

// For tests of the real dialog: when set, dialogs are created hidden, and the hook runs with the
// dialog's window (HWND) once all controls exist, before the modal loop starts. It may inspect
// the dialog and post the messages that end it. Never called on POSIX.
using DialogCreatedHook = std::function<void(void* window)>;
void SetDialogCreatedHook(DialogCreatedHook Hook);

}  // namespace platform
