#pragma once
// Paths and files: the current directory, the module's own file name, long paths, file dates.
// Paths are byte strings as the system takes them: the ANSI code page on Windows (the host code
// page of AnsiString), the file system's bytes on POSIX.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

#ifdef _WIN32
constexpr char kPathDelimiter = '\\';
#else
constexpr char kPathDelimiter = '/';
#endif

// '\\' and '/' on Windows, '/' on POSIX.
bool IsPathDelimiter(char c);

std::string CurrentDirectory();
// False (LastSystemError set) when the folder cannot become the current directory.
bool ChangeCurrentDirectory(const std::string& path);

// The full file name of the module (executable or library) that contains the address.
// Windows: GetModuleHandleExA(FROM_ADDRESS) + GetModuleFileNameA. POSIX: dladdr, made absolute.
// Empty when it cannot be told.
std::string ModuleFileName(const void* addressInModule);
// The running program's file name.
std::string ExecutableFileName();

// The long form of a path (Windows: GetLongPathNameA, at most 260 characters; POSIX: the path
// with symbolic links resolved). The path as given when it cannot be resolved.
std::string LongPathName(const std::string& path);

// Whether the path names its place without reference to a current folder: on Windows a drive
// ("C:\\logs", "C:/logs"), a share ("\\\\server\\logs") or the current drive's root ("\\logs");
// on POSIX a path beginning with '/'.
bool IsAbsolutePath(std::string_view path);

// A path as UTF-8 text, for people to read (the diagnostic log): Windows converts from the ANSI
// code page; on POSIX the file system's bytes are UTF-8 already.
std::string Utf8FromPath(std::string_view path);

// The folder part with a trailing delimiter ("" when there is none); the name after the last
// delimiter; the name with its extension replaced (extension includes the dot, may be empty).
std::string ExtractFilePath(std::string_view path);
std::string ExtractFileName(std::string_view path);
std::string ChangeFileExt(std::string_view path, std::string_view extension);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// The folder for temporary files, with a trailing delimiter.
std::string TempDirectory();

// The file's last-write time as the packed date and time of a directory search (date in the
// high 16 bits, time in the low 16 bits, local time), or nothing when the file is not found.
std::optional<uint32_t> FileDosDateTime(const std::string& path);

}  // namespace platform
