#include "host/wire/memory_stream.h"

#include <gtest/gtest.h>

#include <cstring>

#include "host/host_test_support.h"

TEST(MemoryStream, StartsEmpty) {
  TMyMemoryStream stream;
  EXPECT_EQ(stream.Position(), 0);
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Capacity(), 0);
  EXPECT_EQ(stream.Memory(), nullptr);
}

TEST(MemoryStream, GrowsByAtLeastTheStep) {
  TMyMemoryStream stream;
  const char data[] = "abc";
  EXPECT_EQ(stream.Write(data, 3), 3);
  EXPECT_EQ(stream.Capacity(), 500000);
  EXPECT_EQ(stream.Size(), 3);
  EXPECT_EQ(stream.Position(), 3);
  EXPECT_EQ(std::memcmp(stream.Memory(), "abc", 3), 0);

  // Filling up to capacity exactly does not grow.
  std::vector<char> fill(500000 - 3, 'x');
  stream.Write(fill.data(), static_cast<int32_t>(fill.size()));
  EXPECT_EQ(stream.Capacity(), 500000);
  stream.Write(data, 1);
  EXPECT_EQ(stream.Capacity(), 1000000);

  // A shortfall beyond the step grows by the shortfall.
  std::vector<char> big(1700000, 'y');
  stream.Write(big.data(), static_cast<int32_t>(big.size()));
  EXPECT_EQ(stream.Size(), 500001 + 1700000);
  EXPECT_EQ(stream.Capacity(), 500001 + 1700000);
  EXPECT_EQ(std::memcmp(stream.Memory(), "abcx", 4), 0);
}

TEST(MemoryStream, SeekAndCapacity) {
  TMyMemoryStream stream;
  stream.Seek(-1);
  EXPECT_EQ(stream.Position(), 0);
  stream.Seek(10);
  EXPECT_EQ(stream.Position(), 10);
  EXPECT_EQ(stream.Size(), 10);
  EXPECT_EQ(stream.Capacity(), 10);
  stream.Seek(0);  // rewinds without shrinking
  EXPECT_EQ(stream.Size(), 10);
  EXPECT_EQ(stream.Capacity(), 10);
  stream.SetCapacity(-5);
  EXPECT_EQ(stream.Capacity(), 10);
  stream.SetCapacity(64);
  EXPECT_EQ(stream.Capacity(), 64);
  stream.Clear();
  EXPECT_EQ(stream.Capacity(), 0);
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Position(), 0);
  EXPECT_EQ(stream.Memory(), nullptr);
}

TEST(MemoryStream, ReadsWhatWasWritten) {
  TMyMemoryStream stream;
  const int32_t values[] = {1, -2, 300000};
  stream.Write(values, sizeof(values));
  stream.Seek(4);
  int32_t value = 0;
  EXPECT_EQ(stream.Read(&value, 4), 4);
  EXPECT_EQ(value, -2);
  EXPECT_EQ(stream.Position(), 8);
  EXPECT_EQ(stream.Read(&value, 0), 0);
  EXPECT_EQ(stream.Read(&value, -3), 0);
  EXPECT_EQ(stream.Position(), 8);
}

TEST(MemoryStream, ReadingPastTheEndDumpsAndFails) {
  TempDumpFolder dumps;
  TMyMemoryStream stream;
  stream.Write("0123456789", 10);
  stream.Seek(8);
  char buffer[8];
  EXPECT_EQ(MessageOf<Exception>([&] { stream.Read(buffer, 4); }),
            Ansi("Ошибка чтения потока. Pos=8 Size=10 Count=4"));
  const auto dump = dumps.Path() / "Buffer8.txt";
  ASSERT_TRUE(std::filesystem::exists(dump));
  const std::vector<uint8_t> expected{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(FileBytes(dump), expected);
  EXPECT_EQ(stream.Position(), 8);
}

TEST(MemoryStream, SaveToFileWritesTheUsedBytesOnly) {
  TempDumpFolder folder;
  TMyMemoryStream stream;
  stream.Write("hello", 5);
  const auto path = folder.Path() / "saved.bin";
  stream.SaveToFile(path);
  EXPECT_EQ(FileBytes(path), (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(std::filesystem::file_size(path), 5u);
  stream.Clear();
  stream.SaveToFile(path);  // truncates
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST(MemoryStream, DefaultDumpFolderIsTheTemporaryOrRootFolder) {
  SetStreamDumpFolder({});
  EXPECT_FALSE(StreamDumpFolder().empty());
}

TEST(MemoryStream, ACapacityBelowTheSizeCutsTheStream) {
  TempDumpFolder folder;
  TMyMemoryStream stream;
  stream.Write("0123456789", 10);
  stream.SetCapacity(4);
  EXPECT_EQ(stream.Capacity(), 4);
  EXPECT_EQ(stream.Size(), 4);
  EXPECT_EQ(stream.Position(), 4);
  // Neither reading nor saving runs past the block.
  stream.Seek(2);
  char buffer[8] = {};
  EXPECT_EQ(MessageOf<Exception>([&] { stream.Read(buffer, 4); }),
            Ansi("Ошибка чтения потока. Pos=2 Size=4 Count=4"));
  EXPECT_EQ(stream.Read(buffer, 2), 2);
  EXPECT_EQ(std::string(buffer, 2), "23");
  const auto path = folder.Path() / "cut.bin";
  stream.SaveToFile(path);
  EXPECT_EQ(FileBytes(path), (std::vector<uint8_t>{'0', '1', '2', '3'}));
}
