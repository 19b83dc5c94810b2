#pragma once
// A test program can start a copy of itself as a second process that plays a role: holding a
// named marker until it is killed, or probing one and answering through its exit code.
//
// The copy learns its role from the environment variable VESTREL_TEST_CHILD_ROLE
// ("<role>:<argument>") and plays it while the program starts, before any test runs.
//
// Every test program that links this helper also gets its own folder for named markers on POSIX
// (VESTREL_RUNTIME_DIR), inherited by its children: test processes that ctest runs side by side
// never see each other's markers.
#include <cstdint>
#include <string>

#include "platform/child_process.h"

namespace test_support {

// Roles:
//  "hold-mutex"   creates the named mutex and keeps it until killed (ends by itself after 120 s);
//  "probe-mutex"  exits with 1 when the named mutex exists, else 0;
//  "create-mutex" creates and closes it: exit 11 when it already existed, 10 when not, 2 on failure.
platform::ChildProcess StartChildRole(const std::string& role, const std::string& argument);

// Waits (at most timeoutMilliseconds) until the named mutex exists; false on timeout.
bool WaitForNamedMutex(const std::string& name, uint32_t timeoutMilliseconds);

// A name no other test process uses.
std::string UniqueName(const std::string& stem);

}  // namespace test_support
