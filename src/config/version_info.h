#pragma once
// The version information of a file, in particular of the plug-in module itself: version
// numbers, the translation, and the version texts.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/text_codec.h"
#include "platform/version_resource.h"

class TVersionInfo {
public:
  // Reads the version information and the file's date. A file without version information
  // gives Valid false and empty answers.
  explicit TVersionInfo(const std::string& FileName);

  const std::string& FileName() const { return FFileName; }
  bool Valid() const { return FInfo.Valid(); }
  uint32_t InfoSize() const { return FInfo.Size(); }
  uint32_t InfoHandle() const { return FInfo.SizeHandle(); }
  // The packed date and time of a directory search (date high, time low); 0 when the
  // file was not found.
  int32_t FileDate() const { return FFileDate; }

  // The first language/code-page pair as stored (language low, code page high).
  std::optional<uint32_t> Translation() const;
  // That pair language first as 8 upper-case hexadecimal digits ("041904E3"), or empty.
  AnsiString TranslationText() const;
  std::optional<platform::FixedFileVersion> FixedInfo() const;
  // The file version words (most significant, least significant), or 0 and 0.
  std::pair<uint32_t, uint32_t> FileVersionNumbers() const;
  // The text of the first translation's string table under Name, or empty.
  AnsiString GetValue(const std::string& Name) const;
  // The "FileVersion" text; without one, the four version numbers ("1.2.3.4").
  AnsiString FileVersionText() const;

  // The version information of the module this code is linked into (the plug-in library,
  // or the program when linked into one).
  static std::unique_ptr<TVersionInfo> ModuleVersionInfo();

private:
  std::string FFileName;
  platform::FileVersionInfo FInfo;
  int32_t FFileDate = 0;
};
