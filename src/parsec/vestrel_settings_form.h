#pragma once
// The settings dialog of a Parsec device: its name, repeat interval and old-data-format flag.
//
// TfmVestrelSettings is the form's model: loaded from the device when it is created, read back
// through GetRepeatInterval, GetDeviceName and GetOldFormat after the user confirms. Storing
// the results is the device's task (TManagerVestrel::ShowSettings).
//
// ShowModal shows it through the presenter the host process installed (a scripted one in tests,
// a text-mode one in a terminal host), else through the window system: a real dialog on
// Windows, while POSIX has none and answers as a user who closes the dialog would.
#include <array>
#include <cstdint>
#include <functional>

#include "parsec/base_form.h"
#include "platform/dialog_window.h"

class TManagerVestrel;

// The spin edit's range and its longest text.
inline constexpr int32_t kSettingsMinInterval = 1000;
inline constexpr int32_t kSettingsMaxInterval = 999999;
inline constexpr int32_t kSettingsIntervalDigits = 6;

// One control of the designed form: where it sits in its parent's client area (pixels), its
// text (UTF-8 source), tab order (-1: none) and anchors (platform::DialogAnchor bits).
struct TControlDesign {
  const char* Name;
  TComponentKind Kind;
  const char* Parent;  // nullptr: the form
  int32_t Left, Top, Width, Height;
  const char* Text;
  int32_t TabOrder;
  uint8_t Anchors;
};

inline constexpr int32_t kSettingsClientWidth = 382;
inline constexpr int32_t kSettingsClientHeight = 187;
inline constexpr char kSettingsCaption[] = "Настройки авторизатора";
inline constexpr char kSettingsFontName[] = "MS Sans Serif";
inline constexpr int32_t kSettingsFontPoints = 8;
// The designed controls, in creation order (a group box before the controls inside it).
const std::array<TControlDesign, 8>& SettingsFormDesign();

namespace vestrel_settings_detail {
// The controls, constructed before the base form paints them.
struct TSettingsControls {
  TSettingsControls();
  TComponent Label3, edIdentif, GroupBox1, Label7, edTimeOut, cbOldFormat, btnOk, btnCancel;
  std::vector<TComponent*> Owned();
};
}  // namespace vestrel_settings_detail

class TfmVestrelSettings : private vestrel_settings_detail::TSettingsControls, public TfmBaseFormPlu {
public:
  // Loads the controls from the device; a device parameter that is not numeric raises here,
  // before anything is shown.
  explicit TfmVestrelSettings(TManagerVestrel& Device);

  int32_t GetRepeatInterval() const;  // the spin edit's value, within its range
  AnsiString GetDeviceName() const;   // the edit's text
  int32_t GetOldFormat() const;       // 1 when the check box is checked, else 0
  // What the user changed since the form was loaded: a control left as it was shown is not
  // stored back, so a value the dialog cannot show as it is stays as it was configured.
  bool RepeatIntervalChanged() const { return edTimeOut.Text != FShownInterval; }
  bool OldFormatChanged() const { return cbOldFormat.Checked != FShownOldFormat; }
  bool DeviceNameChanged() const { return edIdentif.Text != FShownName; }

  // What a user can do with the controls (a presenter calls these).
  void SetDeviceNameText(const AnsiString& Text) { edIdentif.Text = Text; }
  // Keeps the spin edit's own rules: digits only (others are refused as a key would be), at
  // most 6 of them.
  void SetIntervalText(const AnsiString& Text);
  // False, changing nothing, while the check box is disabled.
  bool SetOldFormatChecked(bool Checked);

  const AnsiString& IntervalText() const { return edTimeOut.Text; }
  bool OldFormatChecked() const { return cbOldFormat.Checked; }
  bool OldFormatEnabled() const { return cbOldFormat.Enabled; }
  // A control by its designed name, nullptr for none.
  const TComponent* FindComponent(const AnsiString& Name) const;

  // Shows the form modally: the modal result (platform::kModalOk, kModalCancel, kModalNone).
  int32_t ShowModal();
  // The window system's description of this form in its current state.
  platform::DialogDescription Describe() const;

private:
  void TakeFromDialog(const platform::DialogDescription& Dialog);
  TManagerVestrel& FDevice;
  AnsiString FShownInterval, FShownName;
  bool FShownOldFormat = false;
};

// The host process's own way to show the dialog; nullptr leaves it to the window system.
using TSettingsPresenter = std::function<int32_t(TfmVestrelSettings& Form)>;
void SetSettingsPresenter(TSettingsPresenter Presenter);
