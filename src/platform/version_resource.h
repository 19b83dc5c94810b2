#pragma once
// Raw access to the version information of a file.
//
// Windows: the file's VERSIONINFO resource (GetFileVersionInfoSizeA, GetFileVersionInfoA,
// VerQueryValueA). POSIX has no version resources: a build embeds the same facts as a text
// record inside the binary (CMake: vestrel_add_version_info in src/platform/version_info.cmake),
// and the reader finds that record in the file. Either way the answers are the same.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The fixed part ("\\"): version numbers as two 32-bit words each, most significant first.
struct FixedFileVersion {
  uint32_t FileVersionMS = 0;
  uint32_t FileVersionLS = 0;
  uint32_t ProductVersionMS = 0;
  uint32_t ProductVersionLS = 0;
};

class FileVersionInfo {
public:
  // Reads the version information of the file; Valid() tells whether there was any.
  explicit FileVersionInfo(const std::string& path);

  bool Valid() const noexcept { return FValid; }
  // The size of the raw information as the size query reports it (0 when there is none).
  uint32_t Size() const noexcept { return static_cast<uint32_t>(FBlock.size()); }
  // The dummy handle value the size query returns (always 0 on POSIX).
  uint32_t SizeHandle() const noexcept { return FSizeHandle; }

  std::optional<FixedFileVersion> Fixed() const;
  // "\\VarFileInfo\\Translation": each entry as stored, language in the low 16 bits and code
  // page in the high 16 bits (Russian with code page 1251 is 0x04E30419).
  std::vector<uint32_t> Translations() const;
  // "\\StringFileInfo\\" + translation + "\\" + name, translation as 8 hexadecimal digits,
  // language first ("041904E3"). Nothing when there is no such value.
  std::optional<std::string> StringValue(std::string_view translation,
                                         std::string_view name) const;

private:
  std::vector<uint8_t> FBlock;  // Windows: the raw resource; POSIX: the embedded text record
  uint32_t FSizeHandle = 0;
  bool FValid = false;
};

}  // namespace platform
