# The history archive keeps its records in SQLite: Debian's libsqlite3 on Linux; for Windows the
# static library of scripts/build-sqlite-windows, found through CMAKE_PREFIX_PATH.
find_package(SQLite3 REQUIRED)
target_link_libraries(dravion_core PUBLIC SQLite::SQLite3)
if(WIN32)
  target_link_libraries(dravion_core PUBLIC shell32 ole32)
endif()
