#include "config/module_file.h"

#include "platform/file_system.h"

std::string LongPathName(const std::string& Path) { return platform::LongPathName(Path); }

std::string ModuleFileName(bool NameOnly) {
  const std::string fileName = LongPathName(platform::ModuleFileName(reinterpret_cast<const void*>(&LongPathName)));
  if (!NameOnly)
    return fileName;
  return platform::ChangeFileExt(platform::ExtractFileName(fileName), "");
}

std::string ModuleDirectory() { return platform::ExtractFilePath(ModuleFileName(false)); }
