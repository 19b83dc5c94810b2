#pragma once
// A file that a log writes to: opened for appending (created when missing), written in whole
// blocks, and shared so that a person may open, copy or delete it while it is written (Windows:
// FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE). It takes no user-mode lock, so a
// thread that ends while writing leaves nothing behind that another writer could wait for.
// Windows: CreateFileA / WriteFile. POSIX: open(O_APPEND) / write.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class AppendFile {
public:
  AppendFile() noexcept = default;
  ~AppendFile() { Close(); }
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens (or creates) the file; with `truncate` it starts empty. False when it cannot be
  // opened (a missing folder, a folder of that name, no right to write); LastSystemError tells why.
  bool Open(const std::string& path, bool truncate = false);
  bool IsOpen() const noexcept { return FHandle != kNoHandle; }
  // The file's size: what it held at Open plus what was written since.
  uint64_t Size() const noexcept { return FSize; }
  // Appends all `length` bytes; false when the system took less (a full disk) or the file is not open.
  bool Write(const void* data, size_t length);
  void Close() noexcept;

private:
  static constexpr intptr_t kNoHandle = -1;
  intptr_t FHandle = kNoHandle;  // Windows: HANDLE; POSIX: the descriptor
  uint64_t FSize = 0;
};

// Renames `from` to `to`, replacing a file that `to` names. False when it cannot.
// Windows: MoveFileExA(MOVEFILE_REPLACE_EXISTING). POSIX: rename.
bool RenameFileReplacing(const std::string& from, const std::string& to);

// Removes the file. False when it cannot (or there is none).
bool RemoveFile(const std::string& path);

}  // namespace platform
