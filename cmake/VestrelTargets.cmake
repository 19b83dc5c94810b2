# Helpers shared by the lanes: where tests run and how they are registered.

set(VESTREL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian's googletest package)")

function(vestrel_enable_googletest)
  if(TARGET gtest)
    return()
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${VESTREL_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endfunction()

# The lane decides what a test executable becomes:
#  - Linux: one CTest test per test case (discovered when ctest runs);
#  - win32 and win64: one CTest test per executable, run through the lane's emulator (32-bit
#    Wine or wine64, see the toolchain files) with the Wine prefix in the build tree (each Wine
#    process start costs seconds, so test cases are not split out), under a Russian locale so
#    that Wine runs with the code page and language of the target systems.
function(vestrel_register_test target)
  if(NOT WIN32)
    include(GoogleTest)
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>)
  else()
    add_test(NAME ${target} COMMAND ${target} --gtest_color=no)
    set_tests_properties(${target} PROPERTIES
      ENVIRONMENT "${VESTREL_WINE_TEST_ENVIRONMENT}"
      WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>)
  endif()
endfunction()

# The environment of every test run under Wine: the lane's own prefix, quiet, Russian locale.
set(VESTREL_WINE_TEST_ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all;LC_ALL=ru_RU.UTF-8")
