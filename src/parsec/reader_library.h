#pragma once
// The binding to the reader maker's library prx08.dll: loading it from the plug-in's folder,
// resolving its eleven entry points into one table, and marking it as taken with the named
// mutex "Vestrel_M", so that a second holder (another process, or a second device of this one)
// finds it in use. The polling thread is the only caller of the library.
//
// Threads: several polling threads may start and stop at once (two devices switched on from
// two host threads, a stop from inside a card event while a new start begins). The binding
// has one owner, the polling thread that bound it; binding and unbinding happen under one
// lock, only the owner calls the entry points and only the owner unbinds. An owner whose
// call into the library does not return is marked stuck: it keeps the library bound and the
// marker held (nothing may unload a library that is inside a call), and every later load
// answers that a stuck call holds it, until the call returns and the owner unbinds.
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
extern platform::DynamicLibrary ReaderLibraryHandle;  // written under the binding's lock
extern std::atomic<bool> ReaderLibraryInUse;  // set by the last load when another holder had it
extern std::string ReaderLibraryMutexName;
extern platform::NamedMutex ReaderLibraryMutex;
extern TReaderLibraryEntryPoints ReaderLibrary;

// Who holds the binding: an address that identifies the holder (a polling thread's object).
using TReaderLibraryOwner = const void*;

enum class TReaderLibraryLoad {
  Bound,            // the caller owns the binding now
  InUse,            // another holder has it (this process or another): device error 11
  HeldByStuckCall,  // a holder of this process is stuck inside the library: device error 2
  Failed,           // the library could not be bound: device error 9
};

// The longest a load or an unload waits for another one that is under way. Only a library
// whose own start or end code never returns holds the binding's lock longer.
inline constexpr uint32_t kBindingLockWaitMilliseconds = 10000;

// Binds the library for owner (LoadReaderLibrary's steps, under the binding's lock).
// ReaderLibraryInUse is set as LoadReaderLibrary sets it.
TReaderLibraryLoad LoadReaderLibraryFor(TReaderLibraryOwner owner);
// Unbinds, when owner holds the binding; anyone else's binding is left alone.
void UnloadReaderLibraryFor(TReaderLibraryOwner owner);
// The owner's call into the library has not returned in time: later loads answer
// HeldByStuckCall until the owner unbinds.
void MarkReaderLibraryOwnerStuck(TReaderLibraryOwner owner);

// Loads and binds the library: true only when it is loaded, all eleven entry points are
// resolved and the marker mutex is held. False, with ReaderLibraryInUse set, when another holder
// has the marker, also one that created it while this load was under way (the marker then
// turns out to exist already); false otherwise on any failure. Makes the library's folder the
// current directory. Never raises.
bool LoadReaderLibrary();
// Binds for the module itself (LoadReaderLibraryFor with the module as owner).
// Frees the library and closes the marker mutex when the library is loaded, whoever bound it:
// for the module's end and for tests, where no polling thread runs. Always true.
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
