# The plug-in's own version information: the file version is the project's version
# (CMakeLists.txt at the top), with the Russian string table in code page 1251.
# The Vestrel.plu target calls vestrel_add_product_version_info(<target>).
include(${CMAKE_CURRENT_LIST_DIR}/../platform/version_info.cmake)

function(vestrel_add_product_version_info target)
  vestrel_add_version_info(${target}
    VERSION ${PROJECT_VERSION}
    FILE_DESCRIPTION "Драйвер считывателей проксимити карт Parsec"
    INTERNAL_NAME "Vestrel"
    ORIGINAL_FILENAME "Vestrel.plu"
    PRODUCT_NAME "Vestrel"
    COMPANY_NAME "Vestrel"
    COPYRIGHT "Vestrel")
endfunction()
