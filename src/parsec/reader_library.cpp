#include "parsec/reader_library.h"

#include <utility>

#include "config/module_file.h"
#include "base/errors.h"
#include "config/named_mutexes.h"
#include "platform/file_system.h"

platform::DynamicLibrary ReaderLibraryHandle;
std::atomic<bool> ReaderLibraryInUse{false};
std::string ReaderLibraryMutexName = kReaderLibraryMutexName;
platform::NamedMutex ReaderLibraryMutex;
TReaderLibraryEntryPoints ReaderLibrary;

namespace {

std::string folderOverride;

// Resolves one name into its slot; false when the library lacks it.
template <class Function>
bool ResolveEntryPoint(const char* name, Function& slot) {
  slot = ReaderLibraryHandle.ResolveAs<Function>(name);
  return slot != nullptr;
}

// Every name is tried, also after one is found missing, in the table's order.
bool ResolveEntryPoints() {
  bool complete = true;
  complete &= ResolveEntryPoint("Enumerate", ReaderLibrary.Enumerate);
  complete &= ResolveEntryPoint("GetFirstReader", ReaderLibrary.GetFirstReader);
  complete &= ResolveEntryPoint("GetNextReader", ReaderLibrary.GetNextReader);
  complete &= ResolveEntryPoint("OpenReader", ReaderLibrary.OpenReader);
  complete &= ResolveEntryPoint("CloseReader", ReaderLibrary.CloseReader);
  complete &= ResolveEntryPoint("ReadCardNumberRaw", ReaderLibrary.ReadCardNumberRaw);
  complete &= ResolveEntryPoint("ReadCardNumber", ReaderLibrary.ReadCardNumber);
  complete &= ResolveEntryPoint("SetBeepBlinkMode", ReaderLibrary.SetBeepBlinkMode);
  complete &= ResolveEntryPoint("BeepBlink", ReaderLibrary.BeepBlink);
  complete &= ResolveEntryPoint("GetReaderInfo", ReaderLibrary.GetReaderInfo);
  complete &= ResolveEntryPoint("SetWiegand26", ReaderLibrary.SetWiegand26);
  return complete;
}

bool BindReaderLibrary() {
  std::string folder = ReaderLibraryFolder();
  // The library may load companions of its own by relative name.
  if (folder.empty() || !platform::ChangeCurrentDirectory(folder)) return false;
  // Loading runs the library's own start code: foreign code, under the guard.
  ReaderLibraryHandle =
      platform::CallGuarded([&] { return platform::DynamicLibrary::Load(folder + kReaderLibraryFileName); });
  if (!ReaderLibraryHandle.IsLoaded()) return false;
  if (!ResolveEntryPoints()) {
    UnloadReaderLibrary();
    return false;
  }
  // A mutex that cannot be created raises; the caller's guard unloads again.
  ReaderLibraryMutex = CreateNamedMutex(nullptr, true, ReaderLibraryMutexName);
  if (ReaderLibraryMutex.AlreadyExisted()) {
    // Another holder bound the library between our existence test and now: it keeps it.
    UnloadReaderLibrary();
    ReaderLibraryInUse = true;
    return false;
  }
  return true;
}

}  // namespace

std::string ReaderLibraryFolder() {
  if (!folderOverride.empty()) return folderOverride;
  return ModuleDirectory();
}

void SetReaderLibraryFolder(const std::string& folder) {
  folderOverride = folder;
  if (!folderOverride.empty() && !platform::IsPathDelimiter(folderOverride.back())) {
    folderOverride += platform::kPathDelimiter;
  }
}

bool LoadReaderLibrary() {
  try {
    ReaderLibraryInUse = false;
    if (MutexExists(ReaderLibraryMutexName)) {
      ReaderLibraryInUse = true;
      return false;
    }
    UnloadReaderLibrary();
    try {
      return BindReaderLibrary();
    } catch (...) {
      UnloadReaderLibrary();
      return false;
    }
  } catch (...) {
    return false;
  }
}

bool UnloadReaderLibrary() {
  if (ReaderLibraryHandle.IsLoaded()) {
    try {
      // Freeing runs the library's own end code. The handle is given up before it runs.
      platform::CallGuarded([] { ReaderLibraryHandle.Free(); });
    } catch (...) {
      // A library that failed in its end code counts as unloaded all the same.
    }
    ReaderLibrary = TReaderLibraryEntryPoints{};
    if (ReaderLibraryMutex.IsOpen()) {
      try {
        CloseNamedMutex(ReaderLibraryMutex);
      } catch (...) {
        // The handle is given up either way; unloading reports no failure.
      }
    }
  }
  return true;
}

bool IsReaderLibraryLoaded() { return ReaderLibraryHandle.IsLoaded(); }

void RaiseReaderLibraryNotBound() {
  throw Exception(AnsiFromUtf8("Библиотека считывателя prx08.dll не загружена"));
}

void InitializeReaderLibraryBinding() {
  ReaderLibraryHandle = platform::DynamicLibrary();
  ReaderLibraryInUse = false;
  ReaderLibraryMutexName = kReaderLibraryMutexName;
  ReaderLibraryMutex = platform::NamedMutex();
  ReaderLibrary = TReaderLibraryEntryPoints{};
}

void FinalizeReaderLibraryBinding() {
  UnloadReaderLibrary();
  ReaderLibraryMutexName.clear();
}
