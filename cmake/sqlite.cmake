# SQLite, as the target skorrel_sqlite3, for the core to link. Natively it is Debian's libsqlite3.
# The Windows builds compile SQLite's amalgamation into a DLL of its own, skorrel_sqlite3.dll, which
# the outbox loads from beside its module at run time (outbox/sqlite_library_win32.cpp): linked in,
# SQLite would double gen_skorrel.dll's size, and linked against, it would be an import Windows
# looks for where it is not. build-windows-libs.sh makes the amalgamation once from Debian's
# sources, and each build keeps a copy in its own tree.
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
message(STATUS "SQLite: ${SKORREL_SQLITE_ORIGIN}, built as skorrel_sqlite3.dll")

add_library(skorrel_sqlite3_dll SHARED ${SKORREL_SQLITE_DIR}/sqlite3.c)
# Beside the plug-in and the tools in bin/, and beside the test programs that link the core.
set_target_properties(skorrel_sqlite3_dll PROPERTIES OUTPUT_NAME skorrel_sqlite3 PREFIX ""
                                                     RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
add_custom_command(TARGET skorrel_sqlite3_dll POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/tests
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:skorrel_sqlite3_dll> ${PROJECT_BINARY_DIR}/tests/)
# Its warnings are SQLite's to mend, not ours. Optimised for size, as the outbox runs a few
# statements a track; no unwind tables, as no exception passes through C.
target_compile_options(skorrel_sqlite3_dll PRIVATE -w -Os -fno-asynchronous-unwind-tables)
# Serialized mode, so that a connection may be used from more than one thread; no extensions
# loaded from DLLs; double-quoted strings are identifiers only; no memory statistics, which would
# take a global lock on every allocation; only the wide file calls, which take any path (the
# narrow ones, for Windows 9x, read it in the ANSI code page).
target_compile_definitions(skorrel_sqlite3_dll PRIVATE
  SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DQS=0 SQLITE_DEFAULT_MEMSTATUS=0 SQLITE_WIN32_NO_ANSI)

# The core sees SQLite's header; its calls go to the DLL through outbox/sqlite_library_win32.cpp.
add_library(skorrel_sqlite3 INTERFACE)
target_include_directories(skorrel_sqlite3 SYSTEM INTERFACE ${SKORREL_SQLITE_DIR})
add_dependencies(skorrel_sqlite3 skorrel_sqlite3_dll)
