// Path text helpers shared by every platform.
#include "platform/file_system.h"

#include "platform/text_codec.h"

namespace platform {

bool IsPathDelimiter(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

bool IsAbsolutePath(std::string_view path) {
  if (!path.empty() && IsPathDelimiter(path[0])) return true;
#ifdef _WIN32
  const bool driveLetter = path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return driveLetter && path[1] == ':' && IsPathDelimiter(path[2]);
#else
  return false;
#endif
}

std::string Utf8FromPath(std::string_view path) {
#ifdef _WIN32
  return Utf8FromAnsi(path);
#else
  return std::string(path);
#endif
}

namespace {

size_t NamePosition(std::string_view path) {
  size_t position = path.size();
  while (position > 0 && !IsPathDelimiter(path[position - 1])) {
#ifdef _WIN32
    if (path[position - 1] == ':') break;  // "C:name"
#endif
    --position;
  }
  return position;
}

}  // namespace

std::string ExtractFilePath(std::string_view path) {
  return std::string(path.substr(0, NamePosition(path)));
}

std::string ExtractFileName(std::string_view path) {
  return std::string(path.substr(NamePosition(path)));
}

std::string ChangeFileExt(std::string_view path, std::string_view extension) {
  size_t nameStart = NamePosition(path);
  size_t dot = path.rfind('.');
  std::string_view stem = (dot != std::string_view::npos && dot >= nameStart) ? path.substr(0, dot) : path;
  std::string result(stem);
  result.append(extension);
  return result;
}

}  // namespace platform
