#include "parsec/reader_library.h"

#include <chrono>
#include <mutex>
#include <utility>

#include "base/diagnostic_log.h"
#include "base/errors.h"
#include "config/module_file.h"
#include "config/named_mutexes.h"
#include "config/version_info.h"
#include "platform/file_system.h"
#include "platform/sync.h"

platform::DynamicLibrary ReaderLibraryHandle;
std::atomic<bool> ReaderLibraryInUse{false};
std::string ReaderLibraryMutexName = kReaderLibraryMutexName;
platform::NamedMutex ReaderLibraryMutex;
TReaderLibraryEntryPoints ReaderLibrary;

namespace {

std::string folderOverride;

// The binding's lock and its owner. The loaded flag mirrors ReaderLibraryHandle for readers
// outside the lock (the owner's polling loop).
std::mutex bindingLock;
TReaderLibraryOwner bindingOwner = nullptr;
bool bindingOwnerStuck = false;
std::atomic<bool> bindingLoaded{false};
// The owner of a binding made through the module's own LoadReaderLibrary.
const char moduleOwner = 0;

class TBindingLock {
public:
  TBindingLock() : FLocked(platform::TryLockWithin(bindingLock, kBindingLockWaitMilliseconds)) {}
  ~TBindingLock() {
    if (FLocked) bindingLock.unlock();
  }
  TBindingLock(const TBindingLock&) = delete;
  TBindingLock& operator=(const TBindingLock&) = delete;
  bool Locked() const { return FLocked; }

private:
  bool FLocked;
};

// Frees the library and closes the marker; the caller holds the binding's lock.
void UnloadLocked() {
  if (ReaderLibraryHandle.IsLoaded()) {
    bindingLoaded = false;
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
  bindingOwner = nullptr;
  bindingOwnerStuck = false;
}

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

// The reader library's file and version, for the log (read only when the log is on).
void LogReaderLibraryBound(const std::string& path) {
  if (!DiagnosticLogOn()) return;
  const TVersionInfo version(path);
  DIAGNOSTIC_LOG("reader library bound: %s, file version %s", platform::Utf8FromPath(path).c_str(),
                 version.Valid() ? Utf8FromAnsi(version.FileVersionText()).c_str() : "unknown (no version information)");
}

bool BindReaderLibrary() {
  std::string folder = ReaderLibraryFolder();
  // The library may load companions of its own by relative name.
  if (folder.empty() || !platform::ChangeCurrentDirectory(folder)) {
    DIAGNOSTIC_LOG("reader library: the folder %s cannot be entered", platform::Utf8FromPath(folder).c_str());
    return false;
  }
  const std::string path = folder + kReaderLibraryFileName;
  // Loading runs the library's own start code: foreign code, under the guard.
  ReaderLibraryHandle = platform::CallGuarded([&] { return platform::DynamicLibrary::Load(path); });
  if (!ReaderLibraryHandle.IsLoaded()) {
    DIAGNOSTIC_LOG("reader library: %s does not load", platform::Utf8FromPath(path).c_str());
    return false;
  }
  if (!ResolveEntryPoints()) {
    DIAGNOSTIC_LOG("reader library: %s lacks entry points of the reader's interface", platform::Utf8FromPath(path).c_str());
    UnloadLocked();
    return false;
  }
  // A mutex that cannot be created raises; the caller's guard unloads again.
  ReaderLibraryMutex = CreateNamedMutex(nullptr, true, ReaderLibraryMutexName);
  if (ReaderLibraryMutex.AlreadyExisted()) {
    // Another holder bound the library between our existence test and now: it keeps it.
    UnloadLocked();
    ReaderLibraryInUse = true;
    return false;
  }
  LogReaderLibraryBound(path);
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

TReaderLibraryLoad LoadReaderLibraryFor(TReaderLibraryOwner owner) {
  try {
    ReaderLibraryInUse = false;
    TBindingLock lock;
    // A library whose own start or end code hangs holds the lock (its load or unload runs
    // under it): that is a stuck call as well.
    if (!lock.Locked() || (bindingOwner != nullptr && bindingOwnerStuck)) {
      DIAGNOSTIC_LOG("reader library: held by a call that has not returned");
      return TReaderLibraryLoad::HeldByStuckCall;
    }
    if (MutexExists(ReaderLibraryMutexName)) {
      DIAGNOSTIC_LOG("reader library: in use by another program (its marker exists)");
      ReaderLibraryInUse = true;
      return TReaderLibraryLoad::InUse;
    }
    UnloadLocked();  // a binding of this module without its marker
    try {
      if (!BindReaderLibrary()) {
        UnloadLocked();
        return ReaderLibraryInUse ? TReaderLibraryLoad::InUse : TReaderLibraryLoad::Failed;
      }
    } catch (...) {
      DIAGNOSTIC_LOG("reader library: its load failed with an exception");
      UnloadLocked();
      return TReaderLibraryLoad::Failed;
    }
    bindingOwner = owner;
    bindingLoaded = true;
    return TReaderLibraryLoad::Bound;
  } catch (...) {
    return TReaderLibraryLoad::Failed;
  }
}

void UnloadReaderLibraryFor(TReaderLibraryOwner owner) {
  try {
    TBindingLock lock;
    if (lock.Locked() && owner != nullptr && bindingOwner == owner) UnloadLocked();
  } catch (...) {
  }
}

void MarkReaderLibraryOwnerStuck(TReaderLibraryOwner owner) {
  TBindingLock lock;
  if (lock.Locked() && owner != nullptr && bindingOwner == owner) bindingOwnerStuck = true;
}

bool LoadReaderLibrary() { return LoadReaderLibraryFor(&moduleOwner) == TReaderLibraryLoad::Bound; }

bool UnloadReaderLibrary() {
  try {
    TBindingLock lock;
    if (lock.Locked()) UnloadLocked();
  } catch (...) {
  }
  return true;
}

bool IsReaderLibraryLoaded() { return bindingLoaded.load(); }

void RaiseReaderLibraryNotBound() {
  throw Exception(AnsiFromUtf8("Библиотека считывателя prx08.dll не загружена"));
}

void InitializeReaderLibraryBinding() {
  TBindingLock lock;
  ReaderLibraryHandle = platform::DynamicLibrary();
  bindingLoaded = false;
  bindingOwner = nullptr;
  bindingOwnerStuck = false;
  ReaderLibraryInUse = false;
  ReaderLibraryMutexName = kReaderLibraryMutexName;
  ReaderLibraryMutex = platform::NamedMutex();
  ReaderLibrary = TReaderLibraryEntryPoints{};
}

void FinalizeReaderLibraryBinding() {
  UnloadReaderLibrary();
  ReaderLibraryMutexName.clear();
}
