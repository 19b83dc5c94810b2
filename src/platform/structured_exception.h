#pragma once
// The guard against Windows structured exceptions: an access violation, an exception the host's
// own language raises (code 0x0EEDFADE) or any other code raised inside a guarded piece of code
// becomes a C++ exception, platform::StructuredException, which the caller catches like any other.
//
// Under MinGW `catch (...)` does not see structured exceptions: without this guard they run past
// every C++ handler and end the process. Every place where the host calls into the plug-in, and
// every call out to foreign code (the host's objects, the reader library), runs through
// CallGuarded.
//
// How it works: on 32-bit x86 the guard registers an exception frame on the thread's chain
// (fs:[0]); on x86_64 it is a function with a table-based handler. When a structured exception
// reaches the guard, the frames between the fault and the guard are unwound by the system and
// control resumes at the guard, which then throws StructuredException. What the unwinding skips:
// the destructors of C++ objects in the frames between the fault and the guard do not run
// (their memory is abandoned, their locks stay taken: the C++ runtime takes no part in a
// structured exception), while the foreign code's own cleanup handlers in those frames do run.
// Keep guarded regions small, around the foreign call itself, and keep owning objects outside
// them.
//
// On POSIX there are no structured exceptions: CallGuarded is a plain call.
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace platform {

// The code with which the host's own language raises its exceptions.
inline constexpr uint32_t kHostLanguageExceptionCode = 0x0EEDFADE;
// The system's code of an access violation.
inline constexpr uint32_t kAccessViolationCode = 0xC0000005;

class StructuredException : public std::exception {
public:
  // `isWrite` and `faultAddress` describe an access violation only.
  StructuredException(uint32_t code, const void* address, bool isWrite, const void* faultAddress) noexcept;

  // The exception code (0xC0000005 for an access violation).
  uint32_t Code() const noexcept { return FCode; }
  // The code address where the exception was raised.
  const void* Address() const noexcept { return FAddress; }
  bool IsAccessViolation() const noexcept { return FCode == kAccessViolationCode; }
  // For an access violation: whether the faulting access wrote (else it read or executed).
  bool IsWrite() const noexcept { return FIsWrite; }
  // For an access violation: the address that was accessed.
  const void* FaultAddress() const noexcept { return FFaultAddress; }
  // An English description with code and addresses; the host-facing text in the user's
  // language is built by the error table's code (base/errors.h).
  const char* what() const noexcept override { return FText; }

private:
  uint32_t FCode;
  const void* FAddress;
  bool FIsWrite;
  const void* FFaultAddress;
  char FText[160];
};

// The place of a guard: the file, line and function of the code that calls it, taken at the
// call as GuardPlace takes them (through the compiler built-ins, which every
// compiler of the lanes has; clang 14 with libstdc++ 12 has no GuardPlace).
class GuardPlace {
public:
  static constexpr GuardPlace Current(const char* file = __builtin_FILE(), unsigned line = __builtin_LINE(),
                                      const char* function = __builtin_FUNCTION()) noexcept {
    return GuardPlace(file, line, function);
  }
  constexpr const char* file_name() const noexcept { return FFile; }
  constexpr unsigned line() const noexcept { return FLine; }
  constexpr const char* function_name() const noexcept { return FFunction; }

private:
  constexpr GuardPlace(const char* file, unsigned line, const char* function) noexcept
      : FFile(file), FLine(line), FFunction(function) {}
  const char* FFile;
  unsigned FLine;
  const char* FFunction;
};

// Told of every structured exception a guard catches, on the thread that raised it, after the
// frames above the guard are unwound and before the guard throws: the exception and the place
// of the guard (the caller of CallGuarded). It must not raise and should be quick; the
// diagnostic log installs one. None is installed at first.
using StructuredExceptionObserver = void (*)(const StructuredException& error, const GuardPlace& where) noexcept;
void SetStructuredExceptionObserver(StructuredExceptionObserver observer) noexcept;
StructuredExceptionObserver CurrentStructuredExceptionObserver() noexcept;

// Runs fn(context). A structured exception raised inside becomes a thrown StructuredException
// (after the observer, if any, was told of it with `where`); a C++ exception leaving fn passes
// through unchanged. On POSIX a plain call.
void RunGuarded(void (*fn)(void*), void* context, const GuardPlace& where = GuardPlace::Current());

// Runs body() under the guard and returns its result (values, references and void alike).
// `where` names the guard for the observer: the place that calls CallGuarded.
template <class F>
decltype(auto) CallGuarded(F&& body, const GuardPlace& where = GuardPlace::Current()) {
  using Body = std::remove_reference_t<F>;
  using Result = std::invoke_result_t<Body&>;
  if constexpr (std::is_void_v<Result>) {
    RunGuarded(+[](void* callable) { (*static_cast<Body*>(callable))(); },
               const_cast<void*>(static_cast<const volatile void*>(std::addressof(body))), where);
  } else if constexpr (std::is_reference_v<Result>) {
    std::remove_reference_t<Result>* result = nullptr;
    auto call = [&] { result = std::addressof(body()); };
    RunGuarded(+[](void* callable) { (*static_cast<decltype(call)*>(callable))(); }, &call, where);
    return static_cast<Result>(*result);
  } else {
    std::optional<Result> result;
    auto call = [&] { result.emplace(body()); };
    RunGuarded(+[](void* callable) { (*static_cast<decltype(call)*>(callable))(); }, &call, where);
    return Result(std::move(*result));
  }
}

}  // namespace platform
