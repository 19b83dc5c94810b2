#pragma once
// What every fuzz target shares: one-time process setup and the rule that a target only
// aborts for a real fault. The system's own exceptions are the expected end of hostile
// input; a sanitizer report, a crash or a broken invariant (FuzzCheck) is a finding.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/memory_stream.h"
#include "platform/ole_automation.h"

namespace fuzz {

// COM for the automation objects; diagnostic stream dumps go nowhere (a folder that does
// not exist), so a run leaves no files behind.
inline void InitializeProcess() {
  static const bool done = [] {
    CoInitialize(nullptr);
    SetStreamDumpFolder("/nonexistent/vestrel-fuzz");
    return true;
  }();
  (void)done;
}

// A broken invariant: printed and aborted, so libFuzzer keeps the input.
inline void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

// Splits the first line (up to '\n') off the input.
inline std::string TakeLine(std::string& text) {
  const size_t end = text.find('\n');
  std::string line = text.substr(0, end);
  text = end == std::string::npos ? std::string() : text.substr(end + 1);
  return line;
}

}  // namespace fuzz
