#include "platform/append_file.h"

#include <windows.h>

namespace platform {

bool AppendFile::Open(const std::string& path, bool truncate) {
  Close();
  // Appending needs only FILE_APPEND_DATA; emptying an existing file needs the right to write.
  HANDLE file = CreateFileA(path.c_str(), truncate ? GENERIC_WRITE : FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, truncate ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  FSize = GetFileSizeEx(file, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
  FHandle = reinterpret_cast<intptr_t>(file);
  return true;
}

bool AppendFile::Write(const void* data, size_t length) {
  if (!IsOpen()) return false;
  const auto* bytes = static_cast<const char*>(data);
  while (length > 0) {
    const DWORD chunk = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(FHandle), bytes, chunk, &written, nullptr) || written == 0) return false;
    FSize += written;
    bytes += written;
    length -= written;
  }
  return true;
}

void AppendFile::Close() noexcept {
  if (!IsOpen()) return;
  CloseHandle(reinterpret_cast<HANDLE>(FHandle));
  FHandle = kNoHandle;
  FSize = 0;
}

bool RenameFileReplacing(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

}  // namespace platform
