#include "platform/named_mutex.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/child_role.h"

namespace {

using platform::NamedMutex;
using platform::NamedMutexExists;
using test_support::StartChildRole;
using test_support::UniqueName;

// Wine starts a process in seconds.
constexpr uint32_t kChildTimeout = 60000;

TEST(NamedMutex, ExistsOnlyWhileSomeHandleIsOpen) {
  std::string name = UniqueName("marker");
  EXPECT_FALSE(NamedMutexExists(name));

  NamedMutex first = NamedMutex::Create(name, true);
  ASSERT_TRUE(first.IsOpen());
  EXPECT_FALSE(first.AlreadyExisted());
  EXPECT_TRUE(NamedMutexExists(name));

  NamedMutex second = NamedMutex::Create(name, false);
  ASSERT_TRUE(second.IsOpen());
  EXPECT_TRUE(second.AlreadyExisted());

  EXPECT_TRUE(first.Close());
  EXPECT_FALSE(first.IsOpen());
  EXPECT_TRUE(NamedMutexExists(name)) << "the second handle still holds it";

  second = NamedMutex();  // moving an empty mutex in closes the held one
  EXPECT_FALSE(NamedMutexExists(name));

  NamedMutex again = NamedMutex::Create(name, true);
  EXPECT_FALSE(again.AlreadyExisted()) << "a closed marker is gone for good";
}

#ifndef _WIN32
// A marker's file goes with its last holder: a process that ends leaves nothing in the folder.
TEST(NamedMutex, TheLastHolderToCloseRemovesItsFile) {
  const auto markerFiles = [] {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(platform::NamedObjectFolder()))
      count += entry.path().filename().string().rfind("mutex-", 0) == 0 ? 1 : 0;
    return count;
  };
  const std::string name = UniqueName("file");
  NamedMutex first = NamedMutex::Create(name, true);
  const size_t withOne = markerFiles();
  NamedMutex second = NamedMutex::Create(name, false);
  EXPECT_EQ(markerFiles(), withOne) << "one file per marker, whatever the number of holders";
  first.Close();
  EXPECT_EQ(markerFiles(), withOne) << "the second holder keeps it";
  second.Close();
  EXPECT_EQ(markerFiles(), withOne - 1);
  NamedMutex again = NamedMutex::Create(name, true);
  EXPECT_FALSE(again.AlreadyExisted());
  EXPECT_TRUE(NamedMutexExists(name));
}
#endif

TEST(NamedMutex, NamesAreDistinctAndMayHoldOddCharacters) {
  std::string name = UniqueName("odd name/with:colons*and dots..");
  NamedMutex odd = NamedMutex::Create(name, true);
  ASSERT_TRUE(odd.IsOpen());
  EXPECT_TRUE(NamedMutexExists(name));
  EXPECT_FALSE(NamedMutexExists(name + "x"));
  EXPECT_FALSE(NamedMutexExists(UniqueName("marker")));
}

TEST(NamedMutex, MovingKeepsTheHandle) {
  std::string name = UniqueName("moved");
  NamedMutex original = NamedMutex::Create(name, true);
  NamedMutex moved(std::move(original));
  EXPECT_FALSE(original.IsOpen());
  EXPECT_TRUE(moved.IsOpen());
  EXPECT_TRUE(NamedMutexExists(name));
  moved.Close();
  EXPECT_FALSE(NamedMutexExists(name));
}

TEST(NamedMutexAcrossProcesses, AnotherProcessSeesOursAndVanishesWhenItDies) {
  std::string ours = UniqueName("ours");
  NamedMutex held = NamedMutex::Create(ours, true);
  ASSERT_TRUE(held.IsOpen());

  // A child creating our marker learns that it existed.
  auto creator = StartChildRole("create-mutex", ours);
  ASSERT_TRUE(creator.IsStarted());
  EXPECT_EQ(creator.Wait(kChildTimeout), 11);

  // A child holding a marker: we see it, our own creation reports it as existing, and it
  // vanishes when the child is killed.
  std::string theirs = UniqueName("theirs");
  auto holder = StartChildRole("hold-mutex", theirs);
  ASSERT_TRUE(holder.IsStarted());
  ASSERT_TRUE(test_support::WaitForNamedMutex(theirs, kChildTimeout));
  {
    NamedMutex opened = NamedMutex::Create(theirs, false);
    ASSERT_TRUE(opened.IsOpen());
    EXPECT_TRUE(opened.AlreadyExisted());
  }
  EXPECT_TRUE(NamedMutexExists(theirs)) << "closing our handle leaves the child's";
  holder.Kill();
  EXPECT_FALSE(NamedMutexExists(theirs));
}

}  // namespace
