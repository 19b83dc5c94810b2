#pragma once
// Libraries loaded at run time: load by path, resolve exported names, free.
#include <string>

namespace platform {

class DynamicLibrary {
public:
  DynamicLibrary() noexcept = default;
  ~DynamicLibrary();
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Loads the library file at path (a full path; a bare name is searched the way the system
  // searches). Windows: LoadLibraryA. POSIX: dlopen with RTLD_LOCAL | RTLD_NOW, so two copies of
  // one library under different file names keep separate symbols.
  // Returns an unloaded object on failure; LastLoadError() then tells why.
  static DynamicLibrary Load(const std::string& path);

  bool IsLoaded() const noexcept { return FHandle != nullptr; }
  explicit operator bool() const noexcept { return IsLoaded(); }

  // The address of an exported name, or nullptr when the library does not export it.
  void* Resolve(const char* name) const noexcept;
  template <class Function>
  Function ResolveAs(const char* name) const noexcept {
    return reinterpret_cast<Function>(Resolve(name));
  }

  // Frees the library; true when it was freed or nothing was loaded. The object is empty after.
  bool Free() noexcept;

  void* NativeHandle() const noexcept { return FHandle; }

private:
  explicit DynamicLibrary(void* handle) noexcept : FHandle(handle) {}
  void* FHandle = nullptr;
};

// Why the calling thread's last DynamicLibrary::Load failed (system text), empty if it did not.
std::string LastLoadError();

// True when the library file at path is loaded in this process (by anyone); the answer
// changes nothing.
bool LibraryIsLoaded(const std::string& path);

}  // namespace platform
