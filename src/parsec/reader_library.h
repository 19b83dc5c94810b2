#pragma once
// The binding to the reader maker's library prx08.dll: loading it from the plug-in's folder,
// resolving its eleven entry points into one table, and marking it as taken with the named
// mutex "Vestrel_M", so that a second holder (another process, or a second device of this one)
// finds it in use. The polling thread is the only caller of the library.
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/call_convention.h"
#include "platform/dynamic_library.h"
#include "platform/named_mutex.h"
#include "platform/structured_exception.h"

// The entry points as the plug-in calls them. The library uses the stdcall convention on 32-bit
// x86 (the native one elsewhere); 16-bit results are signed.
using TReaderEnumerate = int16_t(PLATFORM_STDCALL*)();
using TReaderGetFirstReader = int16_t(PLATFORM_STDCALL*)();
using TReaderGetNextReader = int16_t(PLATFORM_STDCALL*)();
using TReaderOpenReader = int16_t(PLATFORM_STDCALL*)(int16_t reader);
using TReaderCloseReader = int16_t(PLATFORM_STDCALL*)(int16_t reader);
using TReaderReadCardNumberRaw = int16_t(PLATFORM_STDCALL*)(int16_t reader, uint16_t* value, uint8_t* buffer,
                                                            uint16_t* bufferLength);
using TReaderReadCardNumber = int16_t(PLATFORM_STDCALL*)(int16_t reader, uint32_t* cardNumber);
using TReaderSetBeepBlinkMode = int16_t(PLATFORM_STDCALL*)(int16_t reader, int16_t beepMode, int16_t blinkMode);
using TReaderBeepBlink = int16_t(PLATFORM_STDCALL*)(int16_t reader);
using TReaderGetReaderInfo = int16_t(PLATFORM_STDCALL*)(int16_t reader, char* info, int16_t infoSize);
using TReaderSetWiegand26 = int16_t(PLATFORM_STDCALL*)(int32_t enabled);

// The entry-point table, in the order the names are resolved. Valid only while
// IsReaderLibraryLoaded() is true.
struct TReaderLibraryEntryPoints {
  TReaderEnumerate Enumerate = nullptr;
  TReaderGetFirstReader GetFirstReader = nullptr;
  TReaderGetNextReader GetNextReader = nullptr;
  TReaderOpenReader OpenReader = nullptr;
  TReaderCloseReader CloseReader = nullptr;
  TReaderReadCardNumberRaw ReadCardNumberRaw = nullptr;
  TReaderReadCardNumber ReadCardNumber = nullptr;
  TReaderSetBeepBlinkMode SetBeepBlinkMode = nullptr;
  TReaderBeepBlink BeepBlink = nullptr;
  TReaderGetReaderInfo GetReaderInfo = nullptr;
  TReaderSetWiegand26 SetWiegand26 = nullptr;
};

// The library's file name, looked for in the plug-in's folder.
inline constexpr char kReaderLibraryFileName[] = "prx08.dll";
// The marker mutex's name at module start.
inline constexpr char kReaderLibraryMutexName[] = "Vestrel_M";

// Unit-wide state, one copy per loaded plug-in module.
extern platform::DynamicLibrary ReaderLibraryHandle;
extern std::atomic<bool> ReaderLibraryInUse;  // set by the last load when another holder had it
extern std::string ReaderLibraryMutexName;
extern platform::NamedMutex ReaderLibraryMutex;
extern TReaderLibraryEntryPoints ReaderLibrary;

// Loads and binds the library: true only when it is loaded, all eleven entry points are
// resolved and the marker mutex is held. False, with ReaderLibraryInUse set, when another holder
// has the marker, also one that created it while this load was under way (the marker then
// turns out to exist already); false otherwise on any failure. Makes the library's folder the
// current directory. Never raises.
bool LoadReaderLibrary();
// Frees the library and closes the marker mutex when the library is loaded. Always true.
bool UnloadReaderLibrary();
bool IsReaderLibraryLoaded();

// Module start: the initial values (not loaded, no marker, not in use, the mutex name).
void InitializeReaderLibraryBinding();
// Module end: unloads the library and clears the mutex name.
void FinalizeReaderLibraryBinding();

// Calls one entry point of the bound library, e.g. CallReaderLibrary(&TReaderLibraryEntryPoints::
// OpenReader, reader). The library is foreign code: the call runs under the structured exception
// guard, so a fault inside it arrives as platform::StructuredException (a C++ exception) and the
// caller's thread carries on. Raises Exception when the entry point is not bound. Every call into
// the reader goes through here.
[[noreturn]] void RaiseReaderLibraryNotBound();
template <class TEntry, class... TArgs>
auto CallReaderLibrary(TEntry TReaderLibraryEntryPoints::*entry, TArgs... args) {
  const TEntry function = ReaderLibrary.*entry;
  if (function == nullptr) RaiseReaderLibraryNotBound();
  return platform::CallGuarded([&] { return function(args...); });
}
// The folder prx08.dll is loaded from, with a trailing delimiter: the folder of the plug-in
// module's own file (in long form). Tests, where this code lives in a test program, point it
// at another folder; an empty folder restores the module's own.
std::string ReaderLibraryFolder();
void SetReaderLibraryFolder(const std::string& folder);
