// The settings dialog's model without a screen: what it loads from the device, the spin edit's
// rules, the colour walk, what it hands the window system, and what ShowSettings stores.
#include "parsec/vestrel_settings_form.h"

#include <gtest/gtest.h>

#include "base/application_object.h"
#include "base/host_call_lock.h"
#include "config/locale_formats.h"
#include "parsec/manager_vestrel.h"
#include "platform/text_codec.h"

namespace {

// A device that reports itself switched on without a reader behind it.
class TRunningVestrel : public TManagerVestrel {
public:
  using TManagerVestrel::TManagerVestrel;
  int32_t GetActive() override { return 1; }
};

std::u16string U16(const char* utf8) {
  const WideString wide = WideFromUtf8(utf8);
  return std::u16string(wide.begin(), wide.end());
}

// Restores the presenter and the colours whatever a test leaves behind.
class SettingsForm : public ::testing::Test {
protected:
  void TearDown() override {
    SetSettingsPresenter(nullptr);
    SetFormColors(TFormColors{});
  }
  TManagerVestrel* NewDevice(const char* interval, const char* oldFormat, const char* name) {
    auto* device = static_cast<TManagerVestrel*>(FList.NewDevice());
    device->SetParamValue(RepeatIntervalParamName(), interval);
    device->SetParamValue(OldDataFormatParamName(), oldFormat);
    device->SetDeviceName(AnsiFromUtf8(name));
    return device;
  }
  TManagerVestrelList FList{ItemClassOf<TManagerVestrel>()};
};

TEST_F(SettingsForm, LoadsTheDeviceAndKeepsTheSpinEditsRules) {
  TfmVestrelSettings form(*NewDevice("2500", "1", "Касса 1"));
  EXPECT_EQ(form.IntervalText(), "2500");
  EXPECT_EQ(form.GetRepeatInterval(), 2500);
  EXPECT_EQ(Utf8FromAnsi(form.GetDeviceName()), "Касса 1");
  EXPECT_EQ(form.GetOldFormat(), 1);
  EXPECT_TRUE(form.OldFormatEnabled()) << "the device is off";
  EXPECT_TRUE(form.SetOldFormatChecked(false));
  EXPECT_EQ(form.GetOldFormat(), 0);

  // Typed text: digits only, at most six of them; the value stays within 1000..999999.
  form.SetIntervalText("12a3456789");
  EXPECT_EQ(form.IntervalText(), "123456");
  EXPECT_EQ(form.GetRepeatInterval(), 123456);
  form.SetIntervalText("999");
  EXPECT_EQ(form.GetRepeatInterval(), 1000);
  form.SetIntervalText("");
  EXPECT_EQ(form.GetRepeatInterval(), 1000) << "an empty spin edit holds its minimum";

  // Intervals from the configuration outside the range show at the nearest end of it.
  EXPECT_EQ(TfmVestrelSettings(*NewDevice("100", "0", "")).IntervalText(), "1000");
  EXPECT_EQ(TfmVestrelSettings(*NewDevice("5000000", "0", "")).IntervalText(), "999999");
  TfmVestrelSettings other(*NewDevice("3000", "7", ""));
  EXPECT_EQ(other.GetOldFormat(), 0) << "only 1 chooses the old format";
}

// OK stores what the user changed and nothing else: an interval below the dialog's minimum and
// an old-format value other than 0 and 1 stay as configured, with the device off or on.
TEST_F(SettingsForm, OkStoresOnlyWhatTheUserChanged) {
  SetSettingsPresenter([](TfmVestrelSettings&) { return platform::kModalOk; });
  TManagerVestrel* device = NewDevice("500", "2", "Касса");
  EXPECT_EQ(device->ShowSettings(), 0);
  EXPECT_EQ(device->GetParamValue(RepeatIntervalParamName()), "500");
  EXPECT_EQ(device->GetParamValue(OldDataFormatParamName()), "2");
  EXPECT_EQ(Utf8FromAnsi(device->DeviceName()), "Касса");

  TManagerVestrelList list(ItemClassOf<TRunningVestrel>());
  auto* running = static_cast<TManagerVestrel*>(list.NewDevice());
  running->SetParamValue(RepeatIntervalParamName(), "500");
  running->SetParamValue(OldDataFormatParamName(), "2");
  SetSettingsPresenter([](TfmVestrelSettings& form) {
    form.SetDeviceNameText("Касса 2");
    return platform::kModalOk;
  });
  EXPECT_EQ(running->ShowSettings(), 0);
  EXPECT_EQ(running->GetParamValue(OldDataFormatParamName()), "2") << "the disabled box changes nothing";
  EXPECT_EQ(running->GetParamValue(RepeatIntervalParamName()), "500");
  EXPECT_EQ(running->DeviceName(), "Касса 2");
}

// The dialog's loop lets the host's calls run: the host call lock is given up around it, and
// a call that deletes the device leaves the dialog a live device to store into.
TEST_F(SettingsForm, HostCallsRunWhileTheDialogIsOpenAndMayDeleteTheDevice) {
  TManagerVestrel* device = NewDevice("2500", "1", "Касса");
  bool lockHeldInLoop = false;
  SetSettingsPresenter([&](TfmVestrelSettings& form) {
    lockHeldInLoop = HostCallLockHeldByThisThread();
    device->ReleaseItem();  // "УдалитьУстройство" from the dialog's loop
    form.SetIntervalText("3000");
    form.SetDeviceNameText("Другая");
    return platform::kModalOk;
  });
  THostCallScope call;
  EXPECT_EQ(device->ShowSettings(), 0);
  EXPECT_TRUE(lockHeldInLoop) << "the host's calls from the loop enter on this thread; other threads wait";
  EXPECT_EQ(FList.Count(), 0);
}

TEST_F(SettingsForm, WithTheDeviceOnTheFlagShowsButCannotChange) {
  TManagerVestrelList list(ItemClassOf<TRunningVestrel>());
  auto* device = static_cast<TManagerVestrel*>(list.NewDevice());
  device->SetParamValue(OldDataFormatParamName(), "1");
  TfmVestrelSettings form(*device);
  EXPECT_TRUE(form.OldFormatChecked());
  EXPECT_FALSE(form.OldFormatEnabled());
  EXPECT_FALSE(form.SetOldFormatChecked(false));
  EXPECT_EQ(form.GetOldFormat(), 1);
  EXPECT_FALSE(form.Describe().Controls[5].Enabled) << "the window's check box is disabled too";

  // Confirmed with the device on: interval and name are stored, the flag stays.
  SetSettingsPresenter([](TfmVestrelSettings& shown) {
    shown.SetOldFormatChecked(false);
    shown.SetIntervalText("4000");
    return platform::kModalOk;
  });
  EXPECT_EQ(device->ShowSettings(), 0);
  EXPECT_EQ(device->GetParamValue(OldDataFormatParamName()), "1");
  EXPECT_EQ(device->GetParamValue(RepeatIntervalParamName()), "4000");
}

TEST_F(SettingsForm, ColourWalkPaintsByClassAndKeepsUnconfiguredColours) {
  {
    TfmVestrelSettings form(*NewDevice("2000", "1", ""));
    EXPECT_EQ(form.Color, kDesignedColor);
    for (const TComponent* component : form.Components) {
      EXPECT_EQ(component->Color, kDesignedColor) << component->Name;
      EXPECT_EQ(component->FontColor, kDesignedColor) << component->Name;
    }
  }
  TFormColors colors;
  colors.ColorForm = 0x00112233;
  colors.ColorBody = 0x00445566;
  colors.ColorFont = 0x000000FF;
  colors.ColorButton = 0x00ABCDEF;  // no class of this form takes it
  colors.ColorEdit = 0x00FEDCBA;
  SetFormColors(colors);
  TfmVestrelSettings form(*NewDevice("2000", "1", ""));
  EXPECT_EQ(form.Color, 0x00112233);
  EXPECT_EQ(form.FontColor, kDesignedColor);
  struct Expected {
    const char* Name;
    int32_t Color, FontColor;
  };
  const Expected expected[] = {
      {"Label3", kDesignedColor, 0xFF},         {"edIdentif", kDesignedColor, kDesignedColor},
      {"GroupBox1", 0x00445566, 0xFF},          {"Label7", kDesignedColor, 0xFF},
      {"edTimeOut", kDesignedColor, kDesignedColor}, {"cbOldFormat", kDesignedColor, kDesignedColor},
      {"btnOk", kDesignedColor, kDesignedColor}, {"btnCancel", kDesignedColor, kDesignedColor},
  };
  for (const Expected& e : expected) {
    const TComponent* component = form.FindComponent(e.Name);
    ASSERT_NE(component, nullptr) << e.Name;
    EXPECT_EQ(component->Color, e.Color) << e.Name;
    EXPECT_EQ(component->FontColor, e.FontColor) << e.Name;
  }

  // Only the configured ones change, and the walk reaches components owned at any depth:
  // a panel takes the body and font colours, a bitmap button the font colour.
  TComponent label{"Inner", TComponentKind::Label, 7, 8, "", false, true, {}};
  TComponent button{"Glyph", TComponentKind::BitBtn, 5, 6, "", false, true, {&label}};
  TComponent panel{"Panel", TComponentKind::Panel, 3, 4, "", false, true, {&button}};
  TComponent root{"Form", TComponentKind::Form, 1, 2, "", false, true, {&panel}};
  TFormColors onlyBody;
  onlyBody.ColorBody = 0x0A0B0C;
  PaintColors(root, onlyBody);
  EXPECT_EQ((std::vector<int32_t>{root.Color, root.FontColor, panel.Color, panel.FontColor, button.Color,
                                  button.FontColor, label.Color, label.FontColor}),
            (std::vector<int32_t>{1, 2, 0x0A0B0C, 4, 5, 6, 7, 8}));
  TFormColors all;
  all.ColorForm = 10;
  all.ColorBody = 11;
  all.ColorFont = 12;
  PaintColors(root, all);
  EXPECT_EQ((std::vector<int32_t>{root.Color, root.FontColor, panel.Color, panel.FontColor, button.Color,
                                  button.FontColor, label.Color, label.FontColor}),
            (std::vector<int32_t>{10, 2, 11, 12, 5, 12, 7, 12}));
}

TEST_F(SettingsForm, DescribesTheDialogForTheWindowSystem) {
  TfmVestrelSettings form(*NewDevice("2500", "0", "Касса"));
  platform::DialogDescription dialog = form.Describe();
  EXPECT_EQ(dialog.Caption, U16("Настройки авторизатора"));
  EXPECT_EQ(dialog.FontName, U16("MS Sans Serif"));
  EXPECT_EQ(dialog.FontPoints, 8);
  EXPECT_EQ(dialog.ClientWidth, 382);
  EXPECT_EQ(dialog.ClientHeight, 187);
  EXPECT_EQ(dialog.HostApplication, nullptr) << "no host application installed";
  ASSERT_EQ(dialog.Controls.size(), 8u);
  const auto& group = dialog.Controls[2];
  EXPECT_EQ(group.Text, U16(" Параметры работы с prx08.dll "));
  EXPECT_TRUE(group.BoldCaption);
  const auto& spin = dialog.Controls[4];
  EXPECT_EQ(spin.Kind, platform::DialogControlKind::SpinEdit);
  EXPECT_EQ(spin.Parent, 2);
  EXPECT_EQ(spin.Text, U16("2500"));
  EXPECT_EQ((std::vector<int32_t>{spin.MinValue, spin.MaxValue, spin.MaxLength}), (std::vector<int32_t>{1000, 999999, 6}));
  EXPECT_EQ(dialog.Controls[1].Text, U16("Касса"));
  EXPECT_EQ(dialog.Controls[5].Parent, 2);
  EXPECT_TRUE(dialog.Controls[5].WordWrap);
  EXPECT_EQ(dialog.Controls[6].ModalResult, platform::kModalOk);
  EXPECT_EQ(dialog.Controls[7].ModalResult, platform::kModalCancel);
  EXPECT_EQ(dialog.Controls[7].Text, U16("Отмена"));
  EXPECT_EQ(dialog.Controls[7].Anchors, platform::AnchorRight | platform::AnchorBottom);
  EXPECT_EQ(dialog.Controls[1].Anchors, platform::AnchorLeft | platform::AnchorTop | platform::AnchorRight);

  char hostApplication[128] = {};
  void* before = CurrentApplication();
  SetCurrentApplication(hostApplication);
  EXPECT_EQ(form.Describe().HostApplication, hostApplication) << "owned by the host's application";
  SetCurrentApplication(before);
}

TEST_F(SettingsForm, ShowSettingsStoresOnOkOnlyAndRaisesBeforeShowingForBadParameters) {
  TManagerVestrel* device = NewDevice("2500", "1", "Касса");
  int shown = 0;
  // Every way of not confirming stores nothing and answers 8.
  for (int32_t result : {platform::kModalCancel, platform::kModalNone}) {
    SetSettingsPresenter([&, result](TfmVestrelSettings& form) {
      ++shown;
      form.SetIntervalText("7000");
      form.SetOldFormatChecked(false);
      form.SetDeviceNameText("Другая");
      return result;
    });
    EXPECT_EQ(device->ShowSettings(), 8);
    EXPECT_EQ(device->GetParamValue(RepeatIntervalParamName()), "2500");
    EXPECT_EQ(device->GetParamValue(OldDataFormatParamName()), "1");
    EXPECT_EQ(Utf8FromAnsi(device->DeviceName()), "Касса");
  }
  EXPECT_EQ(shown, 2);

  // OK through the host's interface and through the list.
  SetSettingsPresenter([&](TfmVestrelSettings& form) {
    ++shown;
    form.SetIntervalText("7000");
    form.SetOldFormatChecked(false);
    form.SetDeviceNameText(AnsiFromUtf8("Другая"));
    return platform::kModalOk;
  });
  LONG code = -1;
  EXPECT_EQ(static_cast<IDeviceItem*>(device)->ShowSettings(&code), S_OK);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(device->GetParamValue(RepeatIntervalParamName()), "7000");
  EXPECT_EQ(device->GetParamValue(OldDataFormatParamName()), "0");
  EXPECT_EQ(Utf8FromAnsi(device->DeviceName()), "Другая");
  EXPECT_EQ(FList.ShowSettingsById(device->DeviceId()), 0);

  // A parameter that is not numeric raises before anything shows, and nothing changes. (The
  // device refuses such values; they are put in place behind its back.)
  auto storeRaw = [device](const AnsiString& name, const char* value) {
    device->WithProps([&](TPropList& props) { props.SetValueText(name, value); });
  };
  shown = 0;
  storeRaw(OldDataFormatParamName(), "да");
  EXPECT_ANY_THROW(device->ShowSettings());
  code = -1;
  EXPECT_TRUE(FAILED(static_cast<IDeviceItem*>(device)->ShowSettings(&code)));
  storeRaw(OldDataFormatParamName(), "0");
  storeRaw(RepeatIntervalParamName(), "2s");
  EXPECT_ANY_THROW(device->ShowSettings());
  EXPECT_EQ(shown, 0);
  EXPECT_EQ(device->GetParamValue(RepeatIntervalParamName()), "2s");
}

#ifndef _WIN32
TEST_F(SettingsForm, WithoutAPresenterThereIsNoWindowSystemAndTheDialogIsClosed) {
  TManagerVestrel* device = NewDevice("2500", "1", "Касса");
  EXPECT_EQ(device->ShowSettings(), 8);
  EXPECT_EQ(device->GetParamValue(RepeatIntervalParamName()), "2500");
}
#endif

}  // namespace
