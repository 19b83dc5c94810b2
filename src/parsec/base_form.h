#pragma once
// The plug-in's base form: the components of a form as a tree of ownership, and the walk that
// paints them in the colours of the host's configuration (devices/form_colors.h).
//
// Forms hold no window: their components carry the state a user sees (texts, check marks,
// colours), and the window system shows them from there (platform/dialog_window.h).
#include <cstdint>
#include <vector>

#include "devices/form_colors.h"
#include "platform/text_codec.h"

// The component classes the plug-in's forms use.
enum class TComponentKind {
  Form,
  GroupBox,
  Label,
  BitBtn,    // a button with a glyph
  Panel,     // a plain container: the class the walk treats like a group box (see PaintColors)
  Edit,
  SpinEdit,
  CheckBox,
  Button,
};

struct TComponent {
  AnsiString Name;
  TComponentKind Kind = TComponentKind::Label;
  int32_t Color = kDesignedColor;      // background; kDesignedColor keeps the designed one
  int32_t FontColor = kDesignedColor;
  AnsiString Text;                     // caption or edit text
  bool Checked = false;
  bool Enabled = true;
  std::vector<TComponent*> Components;  // the components this one owns, in order (not freed here)
};

// The colour walk: sets the component's colours by its class from Colors, each one only when
// it is configured (not -1), then walks every component it owns, in order.
//   form: background ColorForm;  group box and panel: background ColorBody, font ColorFont;
//   label and bitmap button: font ColorFont;  every other class keeps its colours.
void PaintColors(TComponent& Component, const TFormColors& Colors);

class TfmBaseFormPlu : public TComponent {
public:
  // The designed form with the components it owns, then painted in the current colours.
  explicit TfmBaseFormPlu(std::vector<TComponent*> Owned);
  TfmBaseFormPlu(const TfmBaseFormPlu&) = delete;
  TfmBaseFormPlu& operator=(const TfmBaseFormPlu&) = delete;
};
