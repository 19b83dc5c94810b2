#include "platform/append_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace platform {

bool AppendFile::Open(const std::string& path, bool truncate) {
  Close();
  const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0);
  const int file = ::open(path.c_str(), flags, 0644);
  if (file < 0) return false;
  struct stat status {};
  FSize = fstat(file, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
  FHandle = file;
  return true;
}

bool AppendFile::Write(const void* data, size_t length) {
  if (!IsOpen()) return false;
  const auto* bytes = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t written = ::write(static_cast<int>(FHandle), bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    FSize += static_cast<uint64_t>(written);
    bytes += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

void AppendFile::Close() noexcept {
  if (!IsOpen()) return;
  ::close(static_cast<int>(FHandle));
  FHandle = kNoHandle;
  FSize = 0;
}

bool RenameFileReplacing(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

}  // namespace platform
