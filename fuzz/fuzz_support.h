#pragma once
// What every fuzz target shares: one-time process setup (fuzz_support.cpp) and the rule that a target only
// aborts for a real fault. The system's own exceptions are the expected end of hostile
// input; a sanitizer report, a crash or a broken invariant (FuzzCheck) is a finding.

#include <cstdio>
#include <cstdlib>
#include <string>


namespace fuzz {

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
