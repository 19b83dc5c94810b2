# Version information for a binary, the same facts on every platform:
#  - Windows: a VERSIONINFO resource compiled from version_info.rc.in;
#  - POSIX: a text record embedded in the binary (version_record.cpp.in), which
#    platform::FileVersionInfo finds in the file. Its texts are stored in code page 1251,
#    as the Russian string table of the resource is read on a Russian Windows.
#
# vestrel_add_version_info(<target>
#     VERSION <a.b.c.d> FILE_DESCRIPTION <text> INTERNAL_NAME <text> ORIGINAL_FILENAME <text>
#     [PRODUCT_NAME <text>] [COMPANY_NAME <text>] [COPYRIGHT <text>]
#     [NO_FILE_VERSION_TEXT])          # leave out the "FileVersion" string (numbers only)
# Texts are UTF-8 and may hold Latin and Cyrillic letters.

set(VESTREL_VERSION_INFO_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "Templates of vestrel_add_version_info")

# A C string literal body of the text in code page 1251 (Cyrillic letters as octal escapes).
function(_vestrel_cp1251_literal out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  set(letters "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя")
  foreach(i RANGE 63)
    math(EXPR offset "${i} * 2")
    string(SUBSTRING "${letters}" ${offset} 2 letter)
    math(EXPR code "192 + ${i}")
    math(EXPR d1 "${code} / 64")
    math(EXPR d2 "(${code} / 8) % 8")
    math(EXPR d3 "${code} % 8")
    string(REPLACE "${letter}" "\\${d1}${d2}${d3}" text "${text}")
  endforeach()
  string(REPLACE "Ё" "\\250" text "${text}")
  string(REPLACE "ё" "\\270" text "${text}")
  string(REPLACE "№" "\\271" text "${text}")
  string(REGEX MATCH "[^ -~]" foreign "${text}")
  if(foreign)
    message(FATAL_ERROR "Version text has a character outside code page 1251's letters: ${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(vestrel_add_version_info target)
  cmake_parse_arguments(PARSE_ARGV 1 INFO "NO_FILE_VERSION_TEXT"
    "VERSION;FILE_DESCRIPTION;INTERNAL_NAME;ORIGINAL_FILENAME;PRODUCT_NAME;COMPANY_NAME;COPYRIGHT" "")
  if(NOT INFO_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "vestrel_add_version_info(${target}): VERSION must be a.b.c.d")
  endif()
  set(INFO_V1 ${CMAKE_MATCH_1})
  set(INFO_V2 ${CMAKE_MATCH_2})
  set(INFO_V3 ${CMAKE_MATCH_3})
  set(INFO_V4 ${CMAKE_MATCH_4})
  foreach(field PRODUCT_NAME COMPANY_NAME COPYRIGHT)
    if(NOT DEFINED INFO_${field})
      set(INFO_${field} "")
    endif()
  endforeach()
  set(INFO_TRANSLATION "041904E3")
  # The record's bounds (kept out of the template, where configure_file would read them).
  set(INFO_BEGIN_MARKER "@@VESTREL-VERSION-INFO-BEGIN@@")
  set(INFO_END_MARKER "@@VESTREL-VERSION-INFO-END@@")
  set(texts
    CompanyName "${INFO_COMPANY_NAME}"
    FileDescription "${INFO_FILE_DESCRIPTION}"
    InternalName "${INFO_INTERNAL_NAME}"
    LegalCopyright "${INFO_COPYRIGHT}"
    OriginalFilename "${INFO_ORIGINAL_FILENAME}"
    ProductName "${INFO_PRODUCT_NAME}"
    ProductVersion "${INFO_VERSION}")
  if(NOT INFO_NO_FILE_VERSION_TEXT)
    list(APPEND texts FileVersion "${INFO_VERSION}")
  endif()

  set(INFO_RC_VALUES "")
  set(INFO_RECORD_LINES "")
  list(LENGTH texts count)
  math(EXPR last "${count} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET texts ${i} name)
    list(GET texts ${j} value)
    string(REPLACE "\"" "\"\"" rcValue "${value}")
    string(APPEND INFO_RC_VALUES "      VALUE \"${name}\", \"${rcValue}\"\n")
    _vestrel_cp1251_literal(recordValue "StringFileInfo\\${INFO_TRANSLATION}\\${name}=${value}\n")
    string(APPEND INFO_RECORD_LINES "    \"${recordValue}\"\n")
  endforeach()

  if(WIN32)
    set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${VESTREL_VERSION_INFO_DIR}/version_info.rc.in ${generated} @ONLY NEWLINE_STYLE UNIX)
  else()
    set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_record.cpp)
    configure_file(${VESTREL_VERSION_INFO_DIR}/version_record.cpp.in ${generated} @ONLY NEWLINE_STYLE UNIX)
  endif()
  target_sources(${target} PRIVATE ${generated})
endfunction()
