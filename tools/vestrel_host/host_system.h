#pragma once
// What the tool takes from its operating system, in one place: the automation functions
// (declared by the public header; oleaut32 on Windows, outside Windows the platform layer
// stands in for the system), dynamic
// libraries, files by Unicode path, code pages, the user's language and the XML DOM.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "host_text.h"
#include "vestrel/plugin.h"

namespace vestrel_host {

// A loaded dynamic library; unloaded when the object goes.
class DynamicLibrary {
public:
  DynamicLibrary() = default;
  ~DynamicLibrary() { Unload(); }
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // False with the system's reason in `error`.
  bool Load(const std::string& path, std::string& error);
  void* Resolve(const char* name) const;
  void Unload();

private:
  void* FHandle = nullptr;
};

// The folder of this program, and the folder part of a path ("." for none).
std::string ExecutableFolder();
std::string FolderOf(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& name);

enum class PathKind { Missing, Folder, File };
PathKind KindOfPath(const std::string& path);
// Opens a file by its UTF-8 path (on Windows through the wide-character API). nullptr on failure.
FILE* OpenFile(const std::string& path, const char* mode);
// Replaces the file's contents with the bytes (a new file beside it, then renamed over it).
bool ReplaceFileContents(const std::string& path, const std::string& bytes);

// Text in an 8-bit code page (1251, 20866 KOI8-R, 866, 28595 ISO-8859-5, 28591 Latin-1) to
// UTF-16 and back; nullopt when a byte or a character has no counterpart.
std::optional<OleText> DecodeCodePage(std::string_view bytes, unsigned codePage);
std::optional<std::string> EncodeCodePage(const OleText& text, unsigned codePage);

// The user's language is Russian: the user's default language on Windows; LC_ALL,
// LC_MESSAGES or LANG elsewhere (as the plug-in decides for its own messages).
bool UserLanguageIsRussian();
std::optional<std::string> EnvironmentVariable(const char* name);
bool InputIsTerminal();
// One line of standard input in UTF-8, without its line end (the console's own characters on
// Windows); false at the end of the input.
bool ReadInputLine(std::string& line);
// The file version in this program's own version resource (Windows); empty elsewhere.
std::string OwnFileVersion();
// The file version of a file from its version resource ("1.2.3.4"); empty without one (and
// outside Windows, where files carry none the tool reads).
std::string FileVersionOf(const std::string& path);
// Sets a variable of the tool's environment, which the plug-in it loads reads too.
bool SetEnvironment(const char* name, const std::string& value);
// The path made absolute from the current folder.
std::string AbsolutePath(const std::string& path);
// Ends the process at once with `status` (the output flushed), running no library's exit code.
[[noreturn]] void EndProcessNow(int status);

// A new, empty XML document object: MSXML on Windows, the platform layer's DOM elsewhere.
// nullptr when none can be made.
IDispatch* CreateXmlDocument();

// Prepares the process for the automation objects (COM on this thread, as the trade
// application does) and the console for UTF-8; undone by the destructor.
class SystemSession {
public:
  SystemSession();
  ~SystemSession();
  SystemSession(const SystemSession&) = delete;
  SystemSession& operator=(const SystemSession&) = delete;
};

}  // namespace vestrel_host
