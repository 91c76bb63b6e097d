# The history archive keeps its records in SQLite: Debian's libsqlite3 on Linux; for Windows the
# static library of scripts/build-sqlite-windows, found through CMAKE_PREFIX_PATH.
if(CMAKE_CROSSCOMPILING)
  # The cross toolchain searches only below its own root; the static SQLite lies in the cache that
  # CMAKE_PREFIX_PATH names, which is searched first.
  find_path(SQLite3_INCLUDE_DIR sqlite3.h NO_CMAKE_FIND_ROOT_PATH NO_CMAKE_SYSTEM_PATH)
  find_library(SQLite3_LIBRARY sqlite3 NO_CMAKE_FIND_ROOT_PATH NO_CMAKE_SYSTEM_PATH)
endif()
find_package(SQLite3 REQUIRED)
target_link_libraries(dravion_core PUBLIC SQLite::SQLite3)
if(WIN32)
  target_link_libraries(dravion_core PUBLIC shell32 ole32)
endif()

# The Excel workbook of the archive: libxlsxwriter (Debian's libxlsxwriter-dev; for Windows a
# static build found through CMAKE_PREFIX_PATH) with the zlib it writes its zip file with.
if(CMAKE_CROSSCOMPILING)
  find_path(XLSXWRITER_INCLUDE_DIR xlsxwriter.h NO_CMAKE_FIND_ROOT_PATH NO_CMAKE_SYSTEM_PATH)
  find_library(XLSXWRITER_LIBRARY xlsxwriter NO_CMAKE_FIND_ROOT_PATH NO_CMAKE_SYSTEM_PATH)
endif()
find_path(XLSXWRITER_INCLUDE_DIR xlsxwriter.h)
find_library(XLSXWRITER_LIBRARY xlsxwriter)
if(NOT XLSXWRITER_INCLUDE_DIR OR NOT XLSXWRITER_LIBRARY)
  message(FATAL_ERROR "libxlsxwriter not found (Debian: libxlsxwriter-dev)")
endif()
# Windows programs are static: the static zlib of Debian's MinGW-w64 package, not its DLL.
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)
add_library(dravion::xlsxwriter UNKNOWN IMPORTED)
set_target_properties(dravion::xlsxwriter PROPERTIES
  IMPORTED_LOCATION "${XLSXWRITER_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${XLSXWRITER_INCLUDE_DIR}"
  INTERFACE_LINK_LIBRARIES ZLIB::ZLIB)
target_link_libraries(dravion_core PUBLIC dravion::xlsxwriter)
