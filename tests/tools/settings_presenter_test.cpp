#include "settings_presenter.h"

#include <gtest/gtest.h>

#include <deque>

#include "host_messages.h"
#include "member_catalogue.h"

namespace vestrel_host {
namespace {

// The form with scripted answers; what it wrote is kept.
struct Terminal {
  std::deque<std::string> Answers;
  std::string Written;
  FormResult Present(SettingsForm& form) {
    return PresentSettingsForm(
        form,
        [this](std::string& line) {
          if (Answers.empty()) return false;
          line = Answers.front();
          Answers.pop_front();
          return true;
        },
        [this](const std::string& text) { Written += text; });
  }
};

TEST(SettingsForm, KeepsTheDialogsRules) {
  for (const char* good : {"1000", "999999", "2500"}) EXPECT_TRUE(AcceptInterval(good)) << good;
  for (const char* bad : {"999", "1000000", "", "12a4", "-1500", "0001000"}) EXPECT_FALSE(AcceptInterval(bad)) << bad;
  bool value = false;
  EXPECT_TRUE(ParseYesNo("да", value) && value);
  EXPECT_TRUE(ParseYesNo(" No ", value) && !value);
  EXPECT_FALSE(ParseYesNo("2", value));
}

TEST(SettingsForm, AsksAgainKeepsWhatIsLeftEmptyAndStoresTheAnswers) {
  UseRussian(false);
  SettingsForm form{"Касса 1", "500", true, true};
  Terminal terminal{{"", "abc", "1500", "0", "OK"}, ""};
  EXPECT_EQ(terminal.Present(form), FormResult::Ok);
  EXPECT_EQ(form.Name, "Касса 1");
  EXPECT_EQ(form.Interval, "1500");
  EXPECT_FALSE(form.OldFormat);
  EXPECT_NE(terminal.Written.find("[500]"), std::string::npos) << "a configured interval below the range is shown as it is";
  EXPECT_NE(terminal.Written.find("Enter a whole number from 1000 to 999999."), std::string::npos);

  SettingsForm kept{"Касса 1", "500", true, true};
  Terminal enter{{"", "", "", ""}, ""};
  EXPECT_EQ(enter.Present(kept), FormResult::Ok);
  EXPECT_EQ(kept.Interval, "500") << "Enter keeps even a value the form would not accept";

  SettingsForm cut{"Касса 1", "2000", true, true};
  Terminal ended{{"Касса 2"}, ""};
  EXPECT_EQ(ended.Present(cut), FormResult::Cancel) << "the end of the input cancels";
  Terminal cancelled{{"", "", "", "Cancel"}, ""};
  EXPECT_EQ(cancelled.Present(cut), FormResult::Cancel);
}

TEST(SettingsForm, TheOldFormatCannotChangeWhileTheReaderIsOn) {
  UseRussian(false);
  SettingsForm form{"Касса 1", "2000", true, false};
  Terminal terminal{{"", "", ""}, ""};
  EXPECT_EQ(terminal.Present(form), FormResult::Ok) << "the locked field is shown, not asked";
  EXPECT_TRUE(form.OldFormat);
  std::string error;
  EXPECT_FALSE(ApplySettingsAnswers(form, {std::nullopt, std::nullopt, std::string("0")}, error));
  EXPECT_TRUE(ApplySettingsAnswers(form, {std::string("X"), std::string("3000"), std::string("1")}, error)) << error;
  EXPECT_EQ(form.Interval, "3000");
  EXPECT_FALSE(ApplySettingsAnswers(form, {std::nullopt, std::string("100"), std::nullopt}, error));
}

TEST(CallLine, SplitsCallsAndFindsMembersByEitherName) {
  std::vector<CallRequest> calls;
  ASSERT_TRUE(SplitCalls({"ВыбратьУстройство", "1", "+", "SwitchOn", "+", "DeviceIsOn", "-1"}, calls));
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].Arguments, std::vector<std::string>{"1"});
  EXPECT_EQ(calls[2].Arguments, std::vector<std::string>{"-1"});
  EXPECT_FALSE(SplitCalls({"SwitchOn", "+"}, calls));
  EXPECT_FALSE(SplitCalls({}, calls));
  ASSERT_NE(FindMember("информацияоплагине"), nullptr);
  EXPECT_STREQ(FindMember("информацияоплагине")->English, "GetPlgInfo");
  EXPECT_EQ(FindMember("getplginfo")->Arguments, 13);
  EXPECT_EQ(FindMember("Нечто"), nullptr);
}

}  // namespace
}  // namespace vestrel_host
