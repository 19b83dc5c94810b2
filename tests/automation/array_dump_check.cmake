# Runs array_dump on one storage file and compares what it prints with the expected text.
#   -DTOOL=<array_dump> [-DEMULATOR=<runner and its arguments, joined with |>] -DINPUT=<file> -DEXPECTED=<text file>
#   -DEXPECTED_EXIT=<code> [-DEXPECTED_ERROR=<text the error line must hold>]
string(REPLACE "|" ";" EMULATOR "${EMULATOR}")
execute_process(
  COMMAND ${EMULATOR} ${TOOL} ${INPUT}
  RESULT_VARIABLE exitCode
  OUTPUT_VARIABLE printed
  ERROR_VARIABLE errors)
# Wine may hand a Windows program's output over with CR LF line ends.
string(REPLACE "\r\n" "\n" printed "${printed}")
string(REPLACE "\r\n" "\n" errors "${errors}")
file(READ ${EXPECTED} expected)
if(NOT printed STREQUAL expected)
  message(FATAL_ERROR "array_dump printed:\n${printed}\nexpected:\n${expected}\nerrors:\n${errors}")
endif()
if(NOT exitCode STREQUAL EXPECTED_EXIT)
  message(FATAL_ERROR "array_dump ended with ${exitCode}, expected ${EXPECTED_EXIT}; errors:\n${errors}")
endif()
if(DEFINED EXPECTED_ERROR)
  string(FIND "${errors}" "${EXPECTED_ERROR}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "array_dump's error output lacks \"${EXPECTED_ERROR}\":\n${errors}")
  endif()
endif()
