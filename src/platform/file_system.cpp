// Path text helpers shared by every platform.
#include "platform/file_system.h"

namespace platform {

bool IsPathDelimiter(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
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
