#include "host/wire/memory_stream.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>
#include <string>

#include "base/errors.h"
#include "platform/text_codec.h"

namespace {

std::mutex gDumpFolderLock;
std::filesystem::path gDumpFolder;

}  // namespace

void SetStreamDumpFolder(const std::filesystem::path& folder) {
  std::lock_guard lock(gDumpFolderLock);
  gDumpFolder = folder;
}

std::filesystem::path StreamDumpFolder() {
  std::lock_guard lock(gDumpFolderLock);
  return gDumpFolder.empty() ? platform::DefaultDumpFolder() : gDumpFolder;
}

void TMyMemoryStream::SetCapacity(int32_t capacity) {
  if (capacity < 0 || capacity == FCapacity) return;
  FMemory.Resize(static_cast<size_t>(capacity));
  FCapacity = capacity;
  // A smaller block cuts the stream: what lay beyond is gone, and neither reading nor
  // saving may run past the block.
  FSize = std::min(FSize, capacity);
  FPosition = std::min(FPosition, capacity);
}

void TMyMemoryStream::Clear() {
  SetCapacity(0);
  FSize = 0;
  FPosition = 0;
}

void TMyMemoryStream::Seek(int32_t position) {
  if (position < 0) return;
  if (position > FCapacity) SetCapacity(position);
  FPosition = position;
  if (position > FSize) FSize = position;
}

int32_t TMyMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0 || FPosition < 0) return 0;
  const int64_t end = int64_t{FPosition} + count;
  if (end > std::numeric_limits<int32_t>::max()) {
    throw Exception(AnsiFromUtf8("Ошибка записи в поток: превышен размер потока."));
  }
  if (end > FCapacity) {
    const int64_t grown = FCapacity + std::max<int64_t>(end - FCapacity, kGrowthStep);
    SetCapacity(static_cast<int32_t>(std::min<int64_t>(grown, std::numeric_limits<int32_t>::max())));
  }
  std::memcpy(FMemory.Data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition = static_cast<int32_t>(end);
  FSize = std::max(FSize, FPosition);
  return count;
}

int32_t TMyMemoryStream::Read(void* buffer, int32_t count) {
  if (FPosition < 0 || count < 1) return 0;
  if (int64_t{FPosition} + count > FSize) RaiseReadError(count);
  const int32_t available = std::min(count, FSize - FPosition);
  std::memcpy(buffer, FMemory.Data() + FPosition, static_cast<size_t>(available));
  FPosition += available;
  return available;
}

void TMyMemoryStream::SaveToFile(const std::filesystem::path& path) const {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (file && FSize > 0) file.write(reinterpret_cast<const char*>(FMemory.Data()), FSize);
  if (!file) {
    const std::u8string name = path.u8string();
    throw Exception(AnsiFromUtf8("Ошибка записи файла " + std::string(name.begin(), name.end())));
  }
}

void TMyMemoryStream::DumpTo(const std::filesystem::path& path) const noexcept {
  try {
    SaveToFile(path);
  } catch (...) {
  }
}

void TMyMemoryStream::RaiseReadError(int64_t count) const {
  DumpTo(StreamDumpFolder() / ("Buffer" + std::to_string(FPosition) + ".txt"));
  const int64_t shownCount = std::min<int64_t>(count, std::numeric_limits<int32_t>::max());
  throw Exception(AnsiFromUtf8("Ошибка чтения потока. ") +
                  FormatText("Pos=%d Size=%d Count=%d", {int64_t{FPosition}, int64_t{FSize}, shownCount}));
}
