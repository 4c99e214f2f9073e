# SQLite, as the target skorrel_sqlite3, for the core to link. Natively it is Debian's libsqlite3.
# The Windows builds compile SQLite's amalgamation into the DLL, so that nothing but Windows' own
# DLLs is imported; build-windows-libs.sh makes it once from Debian's sources, and each build keeps
# a copy in its own tree.
if(NOT WIN32)
  find_package(SQLite3 REQUIRED)
  add_library(skorrel_sqlite3 INTERFACE)
  target_link_libraries(skorrel_sqlite3 INTERFACE SQLite::SQLite3)
  return()
endif()

set(SKORREL_SQLITE_DIR ${PROJECT_BINARY_DIR}/sqlite)
execute_process(
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/build-windows-libs.sh --sqlite ${SKORREL_SQLITE_DIR}
  RESULT_VARIABLE sqlite_result
  OUTPUT_QUIET)
if(NOT sqlite_result EQUAL 0)
  message(FATAL_ERROR "SQLite's amalgamation could not be made: scripts/build-windows-libs.sh --sqlite "
                      "failed (${sqlite_result}), for the reason it gives above.")
endif()
file(STRINGS ${SKORREL_SQLITE_DIR}/.debian-origin SKORREL_SQLITE_ORIGIN LIMIT_COUNT 1)
message(STATUS "SQLite: ${SKORREL_SQLITE_ORIGIN}, compiled in")

add_library(skorrel_sqlite3 STATIC ${SKORREL_SQLITE_DIR}/sqlite3.c)
# Its warnings are SQLite's to mend, not ours.
target_compile_options(skorrel_sqlite3 PRIVATE -w)
# Serialized mode, so that a connection may be used from more than one thread; no extensions
# loaded from DLLs; double-quoted strings are identifiers only; no memory statistics, which would
# take a global lock on every allocation; only the wide file calls, which take any path (the
# narrow ones, for Windows 9x, read it in the ANSI code page).
target_compile_definitions(skorrel_sqlite3 PRIVATE
  SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DQS=0 SQLITE_DEFAULT_MEMSTATUS=0 SQLITE_WIN32_NO_ANSI)
target_include_directories(skorrel_sqlite3 SYSTEM PUBLIC ${SKORREL_SQLITE_DIR})
