#include "host_system.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <iconv.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/xml_dom.h"
#endif

namespace vestrel_host {
namespace {

// A line of bytes from standard input, without its CR LF or LF.
bool ReadBytesLine(std::string& line) {
  line.clear();
  int c = 0;
  bool any = false;
  while ((c = std::fgetc(stdin)) != EOF) {
    any = true;
    if (c == '\n') break;
    line += static_cast<char>(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

}  // namespace

#ifdef _WIN32

namespace {

std::wstring Wide(const std::string& utf8) {
  const OleText text = Utf16FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string FromWide(const wchar_t* text, size_t length) {
  return Utf8FromUtf16(reinterpret_cast<const OLECHAR*>(text), length);
}

}  // namespace

bool DynamicLibrary::Load(const std::string& path, std::string& error) {
  Unload();
  FHandle = LoadLibraryW(Wide(path).c_str());
  if (FHandle == nullptr) error = "system error " + std::to_string(GetLastError());
  return FHandle != nullptr;
}

void* DynamicLibrary::Resolve(const char* name) const {
  return FHandle == nullptr ? nullptr : reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FHandle), name));
}

void DynamicLibrary::Unload() {
  if (FHandle != nullptr) FreeLibrary(static_cast<HMODULE>(FHandle));
  FHandle = nullptr;
}

std::string ExecutableFolder() {
  std::vector<wchar_t> buffer(32768);
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  return FolderOf(FromWide(buffer.data(), length));
}

PathKind KindOfPath(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
}

FILE* OpenFile(const std::string& path, const char* mode) { return _wfopen(Wide(path).c_str(), Wide(mode).c_str()); }

static void RemoveFile(const std::string& path) { DeleteFileW(Wide(path).c_str()); }

static bool RenameOver(const std::string& from, const std::string& to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::optional<OleText> DecodeCodePage(std::string_view bytes, unsigned codePage) {
  if (bytes.empty()) return OleText();
  const int size = static_cast<int>(bytes.size());
  const int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring out(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, out.data(), length);
  return OleText(out.begin(), out.end());
}

std::optional<std::string> EncodeCodePage(const OleText& text, unsigned codePage) {
  if (text.empty()) return std::string();
  const std::wstring wide(text.begin(), text.end());
  BOOL lost = FALSE;
  const int size = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0, nullptr, &lost);
  if (length <= 0 || lost) return std::nullopt;
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, out.data(), length, nullptr, &lost);
  if (lost) return std::nullopt;
  return out;
}

bool UserLanguageIsRussian() { return PRIMARYLANGID(GetUserDefaultLangID()) == LANG_RUSSIAN; }

std::optional<std::string> EnvironmentVariable(const char* name) {
  const wchar_t* value = _wgetenv(Wide(name).c_str());
  if (value == nullptr) return std::nullopt;
  return FromWide(value, wcslen(value));
}

bool InputIsTerminal() { return _isatty(_fileno(stdin)) != 0; }

bool ReadInputLine(std::string& line) {
  line.clear();
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(input, &mode)) {
    std::wstring wide;
    wchar_t c = 0;
    DWORD read = 0;
    while (ReadConsoleW(input, &c, 1, &read, nullptr) && read == 1 && c != L'\n') wide += c;
    if (wide.empty() && read == 0) return false;
    if (!wide.empty() && wide.back() == L'\r') wide.pop_back();
    line = FromWide(wide.data(), wide.size());
    return true;
  }
  return ReadBytesLine(line);
}

namespace {

std::string FileVersionOfWide(const wchar_t* path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return {};
  std::vector<char> info(size);
  if (!GetFileVersionInfoW(path, 0, size, info.data())) return {};
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr) return {};
  return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
}

}  // namespace

std::string OwnFileVersion() {
  std::vector<wchar_t> path(32768);
  GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return FileVersionOfWide(path.data());
}

std::string FileVersionOf(const std::string& path) { return FileVersionOfWide(Wide(path).c_str()); }

std::string AbsolutePath(const std::string& path) {
  const std::wstring wide = Wide(path);
  std::vector<wchar_t> full(32768);
  const DWORD length = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length == 0 || length >= full.size()) return path;
  return FromWide(full.data(), length);
}

void EndProcessNow(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  // No detach routines: a library stuck in a call may hang in its own.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  _exit(status);
}

bool SetEnvironment(const char* name, const std::string& value) {
  return SetEnvironmentVariableW(Wide(name).c_str(), Wide(value).c_str()) != 0 &&
         _wputenv_s(Wide(name).c_str(), Wide(value).c_str()) == 0;
}

SystemSession::SystemSession() {
  SetConsoleOutputCP(CP_UTF8);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

SystemSession::~SystemSession() { CoUninitialize(); }

#else

bool DynamicLibrary::Load(const std::string& path, std::string& error) {
  Unload();
  FHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (FHandle == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : "dlopen failed";
  }
  return FHandle != nullptr;
}

void* DynamicLibrary::Resolve(const char* name) const { return FHandle == nullptr ? nullptr : dlsym(FHandle, name); }

void DynamicLibrary::Unload() {
  if (FHandle != nullptr) dlclose(FHandle);
  FHandle = nullptr;
}

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  return FolderOf(std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0));
}

PathKind KindOfPath(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return PathKind::Missing;
  return S_ISDIR(status.st_mode) ? PathKind::Folder : PathKind::File;
}

FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

static void RemoveFile(const std::string& path) { unlink(path.c_str()); }

static bool RenameOver(const std::string& from, const std::string& to) { return rename(from.c_str(), to.c_str()) == 0; }

namespace {

const char* IconvName(unsigned codePage) {
  switch (codePage) {
    case 1251: return "WINDOWS-1251";
    case 20866: return "KOI8-R";
    case 866: return "CP866";
    case 28595: return "ISO-8859-5";
    case 28591: return "ISO-8859-1";
    default: return nullptr;
  }
}

// The whole input through one conversion; nullopt when a character has no counterpart.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view input) {
  if (to == nullptr || from == nullptr) return std::nullopt;
  iconv_t conversion = iconv_open(to, from);
  if (conversion == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(input.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  char* outAt = out.data();
  size_t outLeft = out.size();
  const size_t result = iconv(conversion, &in, &inLeft, &outAt, &outLeft);
  iconv_close(conversion);
  if (result == static_cast<size_t>(-1) || inLeft != 0 || result != 0) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace

std::optional<OleText> DecodeCodePage(std::string_view bytes, unsigned codePage) {
  const std::optional<std::string> units = Convert("UTF-16LE", IconvName(codePage), bytes);
  if (!units) return std::nullopt;
  OleText out;
  for (size_t i = 0; i + 1 < units->size(); i += 2)
    out += static_cast<OLECHAR>(static_cast<unsigned char>((*units)[i]) | (static_cast<unsigned char>((*units)[i + 1]) << 8));
  return out;
}

std::optional<std::string> EncodeCodePage(const OleText& text, unsigned codePage) {
  std::string units;
  for (OLECHAR unit : text) {
    units += static_cast<char>(unit & 0xFF);
    units += static_cast<char>(unit >> 8);
  }
  return Convert(IconvName(codePage), "UTF-16LE", units);
}

bool UserLanguageIsRussian() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    return std::strncmp(value, "ru", 2) == 0 && (value[2] == '\0' || value[2] == '_' || value[2] == '.' || value[2] == '@');
  }
  return false;
}

std::optional<std::string> EnvironmentVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool InputIsTerminal() { return isatty(STDIN_FILENO) != 0; }

bool ReadInputLine(std::string& line) { return ReadBytesLine(line); }

std::string OwnFileVersion() { return {}; }

std::string FileVersionOf(const std::string&) { return {}; }

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char folder[PATH_MAX];
  if (getcwd(folder, sizeof folder) == nullptr) return path;
  return JoinPath(folder, path);
}

void EndProcessNow(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
}

bool SetEnvironment(const char* name, const std::string& value) { return setenv(name, value.c_str(), 1) == 0; }

SystemSession::SystemSession() = default;
SystemSession::~SystemSession() = default;

#endif

bool ReplaceFileContents(const std::string& path, const std::string& bytes) {
  const std::string fresh = path + ".new";
  FILE* file = OpenFile(fresh, "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !written) {
    RemoveFile(fresh);
    return false;
  }
  return RenameOver(fresh, path);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
#ifdef _WIN32
  return folder + "\\" + name;
#else
  return folder + "/" + name;
#endif
}

IDispatch* CreateXmlDocument() {
#ifndef _WIN32
  platform::EnsureXmlDomClasses();
#endif
  for (const char* progId : {"Msxml2.DOMDocument", "MSXML.DOMDocument"}) {
    const OleText name = Utf16FromUtf8(progId);
    CLSID classId{};
    if (FAILED(CLSIDFromProgID(name.c_str(), &classId))) continue;
    IDispatch* document = nullptr;
    if (SUCCEEDED(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(&document))) &&
        document != nullptr)
      return document;
  }
  return nullptr;
}

}  // namespace vestrel_host
