# The module's type library resource, compiled from IDL with the MinGW IDL compiler (widl)
# in the Windows lanes. Targets that carry the resource add ${VESTREL_TYPE_LIBRARY_RC} to
# their sources and depend on vestrel_type_library.
find_program(VESTREL_WIDL NAMES ${VESTREL_MINGW_PREFIX}-widl widl REQUIRED)
find_file(VESTREL_STDOLE2_TLB stdole2.tlb
  PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/x86_64-linux-gnu/wine/i386-windows
        /usr/lib/wine/x86_64-windows /usr/lib/wine/i386-windows
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
get_filename_component(VESTREL_STDOLE2_DIR ${VESTREL_STDOLE2_TLB} DIRECTORY)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(VESTREL_WIDL_TARGET --win64)
else()
  set(VESTREL_WIDL_TARGET --win32)
endif()

set(VESTREL_TYPE_LIBRARY ${CMAKE_CURRENT_BINARY_DIR}/automation/vestrel.tlb)
add_custom_command(
  OUTPUT ${VESTREL_TYPE_LIBRARY}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/automation
  COMMAND ${VESTREL_WIDL} ${VESTREL_WIDL_TARGET} --nostdinc -I ${CMAKE_CURRENT_SOURCE_DIR}/automation
          -L ${VESTREL_STDOLE2_DIR} -t -o ${VESTREL_TYPE_LIBRARY} ${CMAKE_CURRENT_SOURCE_DIR}/automation/safe_array.idl
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/automation/safe_array.idl ${CMAKE_CURRENT_SOURCE_DIR}/automation/automation_types.idl
          ${CMAKE_CURRENT_SOURCE_DIR}/automation/safe_array_dispids.h
  COMMENT "Compiling the type library")
add_custom_target(vestrel_type_library DEPENDS ${VESTREL_TYPE_LIBRARY})

set(VESTREL_TYPE_LIBRARY_RC ${CMAKE_CURRENT_BINARY_DIR}/automation/type_library.rc CACHE INTERNAL
    "Resource script that embeds the type library as resource TYPELIB 1")
file(WRITE ${VESTREL_TYPE_LIBRARY_RC}.in "1 TYPELIB \"@VESTREL_TYPE_LIBRARY@\"\n")
configure_file(${VESTREL_TYPE_LIBRARY_RC}.in ${VESTREL_TYPE_LIBRARY_RC} @ONLY)
set_source_files_properties(${VESTREL_TYPE_LIBRARY_RC} PROPERTIES OBJECT_DEPENDS ${VESTREL_TYPE_LIBRARY})
