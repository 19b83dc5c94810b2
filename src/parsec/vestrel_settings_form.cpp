#include "parsec/vestrel_settings_form.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "base/application_object.h"
#include "config/locale_formats.h"
#include "parsec/manager_vestrel.h"

namespace {

using platform::AnchorBottom;
using platform::AnchorLeft;
using platform::AnchorRight;
using platform::AnchorTop;
constexpr uint8_t kTopLeft = AnchorLeft | AnchorTop;
constexpr uint8_t kStretch = AnchorLeft | AnchorTop | AnchorRight;
constexpr uint8_t kBottomRight = AnchorRight | AnchorBottom;

const std::array<TControlDesign, 8> kDesign = {{
    {"Label3", TComponentKind::Label, nullptr, 8, 16, 83, 13, "Идентификатор:", -1, kTopLeft},
    {"edIdentif", TComponentKind::Edit, nullptr, 97, 12, 278, 21, "", 0, kStretch},
    {"GroupBox1", TComponentKind::GroupBox, nullptr, 8, 44, 367, 101, " Параметры работы с prx08.dll ", 1, kStretch},
    {"Label7", TComponentKind::Label, "GroupBox1", 8, 24, 233, 13, "Мин. интервал отправки повтора кода, мсек.:", -1, kTopLeft},
    {"edTimeOut", TComponentKind::SpinEdit, "GroupBox1", 247, 20, 109, 21, "", 0, kStretch},
    {"cbOldFormat", TComponentKind::CheckBox, "GroupBox1", 8, 52, 348, 33,
     "Выдача результата в старом формате (для совместимости с ПО прошлых версий)", 1, kStretch},
    {"btnOk", TComponentKind::Button, nullptr, 207, 154, 80, 25, "OK", 3, kBottomRight},
    {"btnCancel", TComponentKind::Button, nullptr, 295, 154, 80, 25, "Отмена", 2, kBottomRight},
}};

std::mutex gPresenterLock;
TSettingsPresenter gPresenter;

TSettingsPresenter CurrentPresenter() {
  std::lock_guard<std::mutex> lock(gPresenterLock);
  return gPresenter;
}

int32_t IntoRange(int64_t Value) {
  return static_cast<int32_t>(std::clamp<int64_t>(Value, kSettingsMinInterval, kSettingsMaxInterval));
}

std::u16string U16(const AnsiString& Text) {
  const WideString wide = WideFromAnsi(Text);
  return std::u16string(wide.begin(), wide.end());
}

AnsiString FromU16(const std::u16string& Text) {
  const WideString wide(Text.begin(), Text.end());
  return AnsiFromWide(wide);
}

platform::DialogControlKind DialogKind(TComponentKind Kind) {
  switch (Kind) {
    case TComponentKind::Edit: return platform::DialogControlKind::Edit;
    case TComponentKind::SpinEdit: return platform::DialogControlKind::SpinEdit;
    case TComponentKind::GroupBox:
    case TComponentKind::Panel: return platform::DialogControlKind::GroupBox;
    case TComponentKind::CheckBox: return platform::DialogControlKind::CheckBox;
    case TComponentKind::Button:
    case TComponentKind::BitBtn: return platform::DialogControlKind::Button;
    default: return platform::DialogControlKind::Label;
  }
}

}  // namespace

const std::array<TControlDesign, 8>& SettingsFormDesign() { return kDesign; }

void SetSettingsPresenter(TSettingsPresenter Presenter) {
  std::lock_guard<std::mutex> lock(gPresenterLock);
  gPresenter = std::move(Presenter);
}

namespace vestrel_settings_detail {

TSettingsControls::TSettingsControls() {
  TComponent* controls[] = {&Label3, &edIdentif, &GroupBox1, &Label7, &edTimeOut, &cbOldFormat, &btnOk, &btnCancel};
  for (size_t i = 0; i < kDesign.size(); ++i) {
    controls[i]->Name = kDesign[i].Name;
    controls[i]->Kind = kDesign[i].Kind;
    controls[i]->Text = AnsiFromUtf8(kDesign[i].Text);
  }
}

std::vector<TComponent*> TSettingsControls::Owned() {
  return {&Label3, &edIdentif, &GroupBox1, &Label7, &edTimeOut, &cbOldFormat, &btnOk, &btnCancel};
}

}  // namespace vestrel_settings_detail

TfmVestrelSettings::TfmVestrelSettings(TManagerVestrel& Device) : TfmBaseFormPlu(Owned()), FDevice(Device) {
  Name = "fmVestrelSettings";
  Text = AnsiFromUtf8(kSettingsCaption);
  edTimeOut.Text = IntToText(IntoRange(FDevice.GetIntParam(RepeatIntervalParamName())));
  edIdentif.Text = FDevice.DeviceName();
  // The old data format is chosen by exactly 1, as the polling thread reads it.
  cbOldFormat.Checked = FDevice.GetIntParam(OldDataFormatParamName()) == 1;
  // The data format cannot change under a running reader.
  cbOldFormat.Enabled = FDevice.GetActive() == 0;
  FShownInterval = edTimeOut.Text;
  FShownName = edIdentif.Text;
  FShownOldFormat = cbOldFormat.Checked;
}

int32_t TfmVestrelSettings::GetRepeatInterval() const {
  const AnsiString& text = edTimeOut.Text;
  // The spin edit's value: its text within the range, the minimum when it holds no number.
  if (text.empty() || text.size() > static_cast<size_t>(kSettingsIntervalDigits) ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return kSettingsMinInterval;
  return IntoRange(std::stoll(text));
}

AnsiString TfmVestrelSettings::GetDeviceName() const { return edIdentif.Text; }

int32_t TfmVestrelSettings::GetOldFormat() const { return cbOldFormat.Checked ? 1 : 0; }

void TfmVestrelSettings::SetIntervalText(const AnsiString& Text) {
  AnsiString digits;
  for (char c : Text)
    if (c >= '0' && c <= '9' && digits.size() < static_cast<size_t>(kSettingsIntervalDigits)) digits += c;
  edTimeOut.Text = digits;
}

bool TfmVestrelSettings::SetOldFormatChecked(bool Checked) {
  if (!cbOldFormat.Enabled) return false;
  cbOldFormat.Checked = Checked;
  return true;
}

const TComponent* TfmVestrelSettings::FindComponent(const AnsiString& ComponentName) const {
  for (const TComponent* component : Components)
    if (component->Name == ComponentName) return component;
  return nullptr;
}

platform::DialogDescription TfmVestrelSettings::Describe() const {
  platform::DialogDescription dialog;
  dialog.Caption = U16(Text);
  dialog.ClientWidth = kSettingsClientWidth;
  dialog.ClientHeight = kSettingsClientHeight;
  dialog.FontName = U16(kSettingsFontName);
  dialog.FontPoints = kSettingsFontPoints;
  dialog.Color = Color;
  void* application = CurrentApplication();
  dialog.HostApplication = application == kPluginApplication ? nullptr : application;
  for (size_t i = 0; i < kDesign.size(); ++i) {
    const TControlDesign& design = kDesign[i];
    const TComponent& component = *Components[i];
    platform::DialogControl control;
    control.Kind = DialogKind(design.Kind);
    control.Text = U16(component.Text);
    control.Parent = -1;
    if (design.Parent != nullptr)
      for (size_t p = 0; p < i; ++p)
        if (AnsiString(kDesign[p].Name) == design.Parent) control.Parent = static_cast<int32_t>(p);
    control.Left = design.Left;
    control.Top = design.Top;
    control.Width = design.Width;
    control.Height = design.Height;
    control.TabOrder = design.TabOrder;
    control.Anchors = design.Anchors;
    control.Enabled = component.Enabled;
    control.Checked = component.Checked;
    control.BoldCaption = design.Kind == TComponentKind::GroupBox;
    control.WordWrap = design.Kind == TComponentKind::CheckBox;
    if (design.Kind == TComponentKind::SpinEdit) {
      control.MaxLength = kSettingsIntervalDigits;
      control.MinValue = kSettingsMinInterval;
      control.MaxValue = kSettingsMaxInterval;
    }
    if (&component == &btnOk) control.ModalResult = platform::kModalOk;
    if (&component == &btnCancel) control.ModalResult = platform::kModalCancel;
    control.Color = component.Color;
    control.FontColor = component.FontColor;
    dialog.Controls.push_back(std::move(control));
  }
  return dialog;
}

void TfmVestrelSettings::TakeFromDialog(const platform::DialogDescription& Dialog) {
  for (size_t i = 0; i < Dialog.Controls.size() && i < Components.size(); ++i) {
    TComponent& component = *Components[i];
    if (&component == &edIdentif) component.Text = FromU16(Dialog.Controls[i].Text);
    if (&component == &edTimeOut) SetIntervalText(FromU16(Dialog.Controls[i].Text));
    if (&component == &cbOldFormat && component.Enabled) component.Checked = Dialog.Controls[i].Checked;
  }
}

int32_t TfmVestrelSettings::ShowModal() {
  if (TSettingsPresenter presenter = CurrentPresenter()) return presenter(*this);
  platform::DialogDescription dialog = Describe();
  const int32_t result = platform::ShowModalDialog(dialog);
  TakeFromDialog(dialog);
  return result;
}
