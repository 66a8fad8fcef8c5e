# Every outside library the project links, from Debian's packages (scripts/bootstrap).
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(ZLIB REQUIRED)
find_package(CURL REQUIRED)
pkg_check_modules(NETTLE REQUIRED IMPORTED_TARGET nettle)
pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
pkg_check_modules(UTF8PROC REQUIRED IMPORTED_TARGET libutf8proc)

# ftplib has no pkg-config file.
find_path(FTPLIB_INCLUDE_DIR ftplib.h REQUIRED)
find_library(FTPLIB_LIBRARY NAMES ftp REQUIRED)
add_library(ftplib::ftplib UNKNOWN IMPORTED)
set_target_properties(ftplib::ftplib PROPERTIES
  IMPORTED_LOCATION ${FTPLIB_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${FTPLIB_INCLUDE_DIR})

find_package(wxWidgets 3.2 REQUIRED COMPONENTS core base)
add_library(wx::wx INTERFACE IMPORTED)
set_target_properties(wx::wx PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${wxWidgets_INCLUDE_DIRS}"
  INTERFACE_COMPILE_DEFINITIONS "${wxWidgets_DEFINITIONS}"
  INTERFACE_COMPILE_OPTIONS "${wxWidgets_CXX_FLAGS}"
  INTERFACE_LINK_LIBRARIES "${wxWidgets_LIBRARIES}")
# wxBase alone, for the widget-free parts that use wx's translation lookup.
find_package(wxWidgets 3.2 REQUIRED COMPONENTS base)
add_library(wx::base INTERFACE IMPORTED)
set_target_properties(wx::base PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${wxWidgets_INCLUDE_DIRS}"
  INTERFACE_COMPILE_DEFINITIONS "${wxWidgets_DEFINITIONS}"
  INTERFACE_COMPILE_OPTIONS "${wxWidgets_CXX_FLAGS}"
  INTERFACE_LINK_LIBRARIES "${wxWidgets_LIBRARIES}")

if(DL_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
