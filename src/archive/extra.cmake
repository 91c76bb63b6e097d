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
