#pragma once
// The one wrapper for every operation that the host (or any other outside caller) calls on the
// plug-in's COM objects: nothing may leave such an operation, neither a C++ exception nor a
// Windows structured exception (an access violation, an exception of the host's language). The
// body runs under platform::CallGuarded; a failure of any kind is handed to the operation's own
// way of reporting it, which is guarded as well.
#include <exception>

#include "platform/ole_automation.h"
#include "platform/structured_exception.h"

// Runs body() and returns its result. On any failure returns failed(error), where error is the
// exception (nullptr for one that is not a std::exception); if reporting fails too, `fallback`.
template <class TResult, class TBody, class TFailed>
TResult GuardedComCall(TResult fallback, TBody&& body, TFailed&& failed) noexcept {
  try {
    try {
      return platform::CallGuarded(body);
    } catch (const std::exception& error) {
      return platform::CallGuarded([&]() -> TResult { return failed(&error); });
    } catch (...) {
      return platform::CallGuarded([&]() -> TResult { return failed(nullptr); });
    }
  } catch (...) {
    return fallback;
  }
}

// The plain form for operations that report a failure only by their status.
template <class TBody>
HRESULT GuardedComCall(TBody&& body, HRESULT failureStatus = E_UNEXPECTED) noexcept {
  return GuardedComCall(failureStatus, body, [&](const std::exception*) { return failureStatus; });
}

// The form for AddRef and Release: a count, 0 when the operation failed.
template <class TBody>
ULONG GuardedComCount(TBody&& body) noexcept {
  return GuardedComCall(ULONG{0}, body, [](const std::exception*) { return ULONG{0}; });
}
