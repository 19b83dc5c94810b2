#pragma once
// The file name and folder of the module this code is linked into (the plug-in library).

#include <string>

// The long form of a path (no 8.3 short names on Windows).
std::string LongPathName(const std::string& Path);
// The module's full file name in long form; with NameOnly only the name, without folder
// and extension ("Vestrel").
std::string ModuleFileName(bool NameOnly);
// The module's folder with a trailing path delimiter.
std::string ModuleDirectory();
