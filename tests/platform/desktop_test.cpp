#include "platform/desktop.h"

#include <gtest/gtest.h>

#include "platform/security.h"

namespace {

TEST(Desktop, KeyUpsBeepsAndMessagePollsAreRecorded) {
  platform::ResetDesktopRecord();
  for (uint8_t key : {0xA0, 0xA2, 0xA4}) platform::InjectKeyUp(key);
  platform::SpeakerBeep(1000, 1);
  while (platform::DispatchOneMessage()) {
  }
  auto record = platform::RecordedDesktopActivity();
  EXPECT_EQ(record.KeyUps, (std::vector<uint8_t>{0xA0, 0xA2, 0xA4}));
  ASSERT_EQ(record.Beeps.size(), 1u);
  EXPECT_EQ(record.Beeps[0], std::make_pair(1000u, 1u));
  EXPECT_GE(record.MessagePolls, 1u);
  EXPECT_EQ(record.MessagePolls, record.MessagesDispatched + 1) << "the last poll found the queue empty";

  platform::ResetDesktopRecord();
  EXPECT_TRUE(platform::RecordedDesktopActivity().KeyUps.empty());
}

TEST(Security, AttributesPrepareOnce) {
  platform::SecurityAttributes attributes;
  EXPECT_FALSE(attributes.Prepared());
  EXPECT_EQ(attributes.Native(), nullptr);
  EXPECT_FALSE(attributes.Prepare());
  EXPECT_TRUE(attributes.Prepared());
  EXPECT_TRUE(platform::IsNtPlatform());
}

}  // namespace
