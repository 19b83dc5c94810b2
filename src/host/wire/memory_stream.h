#pragma once
// TMyMemoryStream: a growable byte stream in a movable global-heap block, the buffer the
// variant stream and the array storage file work in.

#include <cstdint>
#include <filesystem>

#include "platform/global_memory.h"

class TMyMemoryStream {
public:
  // Create: empty, no memory.
  TMyMemoryStream() = default;
  TMyMemoryStream(const TMyMemoryStream&) = delete;
  TMyMemoryStream& operator=(const TMyMemoryStream&) = delete;

  int32_t Position() const { return FPosition; }
  int32_t Size() const { return FSize; }
  int32_t Capacity() const { return FCapacity; }
  // The data, or null while the stream has no memory.
  std::byte* Memory() const { return FMemory.Data(); }

  // Ignored for negative sizes and the current capacity; otherwise allocates or resizes
  // the block (0 releases it). Size and Position are cut back to a smaller capacity.
  void SetCapacity(int32_t capacity);
  void Clear();
  // Moves to `position` (ignored when negative), growing capacity and size to reach it.
  void Seek(int32_t position);
  // Copies `count` bytes in at Position, growing by at least kGrowthStep; returns count.
  int32_t Write(const void* buffer, int32_t count);
  // Copies `count` bytes out of Position. Reading past the end saves the stream to the
  // dump file "Buffer<Position>.txt" and raises "Ошибка чтения потока. Pos=.. Size=.. Count=..".
  int32_t Read(void* buffer, int32_t count);
  // Bytes left between Position and Size.
  int64_t Remaining() const { return FPosition < 0 ? 0 : int64_t{FSize} - FPosition; }
  // Writes the first Size bytes to a new (or truncated) file; raises on failure.
  void SaveToFile(const std::filesystem::path& path) const;

  // The read error of this stream for a request of `count` bytes: dump, then raise. Also
  // used by readers that find that what the stream holds cannot fit their request.
  [[noreturn]] void RaiseReadError(int64_t count) const;
  // Saves the stream to `path`, swallowing failures (diagnostic dumps must not hide the
  // error that caused them).
  void DumpTo(const std::filesystem::path& path) const noexcept;

  static constexpr int32_t kGrowthStep = 500000;

private:
  int32_t FPosition = 0;
  int32_t FSize = 0;
  int32_t FCapacity = 0;
  platform::GlobalMemoryBlock FMemory;
};

// The folder diagnostic dumps go to: the root of drive C: on Windows, the temporary folder
// elsewhere. Tests point it somewhere else; an empty path restores the default.
void SetStreamDumpFolder(const std::filesystem::path& folder);
std::filesystem::path StreamDumpFolder();
