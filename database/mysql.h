#pragma once
// The MySQL client library, bound by name at run time: never linked, so a machine without it still
// runs the plug-in. The state is process-wide; the first load is serialised and the entries are
// published only once every one of them is bound, so any thread may call them afterwards.
#include <cstdint>
#include <string>

#include "runtime/library.h"

// The client library's calling convention: __stdcall on 32-bit Windows (the build says so), the
// platform's only convention elsewhere. A wrong convention corrupts the stack on the first call.
#ifndef MYSQL_STDCALL
#define MYSQL_STDCALL
#endif

// Only pointers to these cross the boundary; of the field description just the first member is read.
struct MYSQL;
struct MYSQL_RES;
struct MYSQL_FIELD {
  char* name;
};

using my_bool = char;
using my_ulonglong = std::uint64_t;
using MYSQL_ROW = char**;
using MYSQL_ROW_OFFSET = void*;
using MYSQL_FIELD_OFFSET = unsigned int;

// The client library's option that names the group of its option files to read.
constexpr int kMySQLReadDefaultGroup = 5;
// And the time-outs, in seconds, of the connect and of each read and write.
constexpr int kMySQLConnectTimeout = 0;
constexpr int kMySQLReadTimeout = 11;
constexpr int kMySQLWriteTimeout = 12;

// Every bound function in binding order: X(return type, name, parameter list).
#define SKORREL_MYSQL_ENTRIES(X)                                                                    \
  X(int, mysql_server_init, (int argc, char** argv, char** groups))                                 \
  X(void, mysql_server_end, ())                                                                     \
  X(int, mysql_query, (MYSQL * mysql, const char* query))                                           \
  X(MYSQL*, mysql_init, (MYSQL * mysql))                                                            \
  X(int, mysql_options, (MYSQL * mysql, int option, const void* arg))                               \
  X(MYSQL*, mysql_real_connect,                                                                     \
    (MYSQL * mysql, const char* host, const char* user, const char* passwd, const char* db,         \
     unsigned int port, const char* unix_socket, unsigned long clientflag))                         \
  X(MYSQL_RES*, mysql_store_result, (MYSQL * mysql))                                                \
  X(void, mysql_close, (MYSQL * mysql))                                                             \
  X(int, mysql_select_db, (MYSQL * mysql, const char* db))                                          \
  X(int, mysql_send_query, (MYSQL * mysql, const char* query, unsigned long length))                \
  X(my_bool, mysql_read_query_result, (MYSQL * mysql))                                              \
  X(int, mysql_real_query, (MYSQL * mysql, const char* query, unsigned long length))                \
  X(int, mysql_create_db, (MYSQL * mysql, const char* db))                                          \
  X(int, mysql_drop_db, (MYSQL * mysql, const char* db))                                            \
  X(int, mysql_shutdown, (MYSQL * mysql, int level))                                                \
  X(int, mysql_dump_debug_info, (MYSQL * mysql))                                                    \
  X(int, mysql_refresh, (MYSQL * mysql, unsigned int options))                                      \
  X(int, mysql_kill, (MYSQL * mysql, unsigned long pid))                                            \
  X(int, mysql_ping, (MYSQL * mysql))                                                               \
  X(const char*, mysql_stat, (MYSQL * mysql))                                                       \
  X(const char*, mysql_get_server_info, (MYSQL * mysql))                                            \
  X(const char*, mysql_get_client_info, ())                                                         \
  X(const char*, mysql_get_host_info, (MYSQL * mysql))                                              \
  X(unsigned int, mysql_get_proto_info, (MYSQL * mysql))                                            \
  X(MYSQL_RES*, mysql_list_dbs, (MYSQL * mysql, const char* wild))                                  \
  X(MYSQL_RES*, mysql_list_tables, (MYSQL * mysql, const char* wild))                               \
  X(MYSQL_RES*, mysql_list_fields, (MYSQL * mysql, const char* table, const char* wild))            \
  X(MYSQL_RES*, mysql_list_processes, (MYSQL * mysql))                                              \
  X(MYSQL_RES*, mysql_use_result, (MYSQL * mysql))                                                  \
  X(void, mysql_free_result, (MYSQL_RES * result))                                                  \
  X(void, mysql_data_seek, (MYSQL_RES * result, my_ulonglong offset))                               \
  X(MYSQL_ROW_OFFSET, mysql_row_seek, (MYSQL_RES * result, MYSQL_ROW_OFFSET offset))                \
  X(MYSQL_FIELD_OFFSET, mysql_field_seek, (MYSQL_RES * result, MYSQL_FIELD_OFFSET offset))          \
  X(MYSQL_ROW, mysql_fetch_row, (MYSQL_RES * result))                                               \
  X(unsigned long*, mysql_fetch_lengths, (MYSQL_RES * result))                                      \
  X(MYSQL_FIELD*, mysql_fetch_field, (MYSQL_RES * result))                                          \
  X(unsigned long, mysql_escape_string, (char* to, const char* from, unsigned long length))         \
  X(unsigned long, mysql_real_escape_string,                                                        \
    (MYSQL * mysql, char* to, const char* from, unsigned long length))                              \
  X(void, mysql_debug, (const char* debug))                                                         \
  X(char*, mysql_odbc_escape_string,                                                                \
    (MYSQL * mysql, char* to, unsigned long to_length, const char* from, unsigned long from_length, \
     void* param, char* (*extend_buffer)(void*, char* to, unsigned long* length)))                  \
  X(void, myodbc_remove_escape, (MYSQL * mysql, char* name))                                        \
  X(unsigned int, mysql_thread_safe, ())                                                            \
  X(my_ulonglong, mysql_num_rows, (MYSQL_RES * result))                                             \
  X(unsigned int, mysql_num_fields, (MYSQL_RES * result))                                           \
  X(my_bool, mysql_eof, (MYSQL_RES * result))                                                       \
  X(MYSQL_FIELD*, mysql_fetch_field_direct, (MYSQL_RES * result, unsigned int fieldnr))             \
  X(MYSQL_FIELD*, mysql_fetch_fields, (MYSQL_RES * result))                                         \
  X(MYSQL_ROW_OFFSET, mysql_row_tell, (MYSQL_RES * result))                                         \
  X(MYSQL_FIELD_OFFSET, mysql_field_tell, (MYSQL_RES * result))                                     \
  X(unsigned int, mysql_field_count, (MYSQL * mysql))                                               \
  X(my_ulonglong, mysql_affected_rows, (MYSQL * mysql))                                             \
  X(my_ulonglong, mysql_insert_id, (MYSQL * mysql))                                                 \
  X(unsigned int, mysql_errno, (MYSQL * mysql))                                                     \
  X(const char*, mysql_error, (MYSQL * mysql))                                                      \
  X(const char*, mysql_info, (MYSQL * mysql))                                                       \
  X(unsigned long, mysql_thread_id, (MYSQL * mysql))                                                \
  X(const char*, mysql_character_set_name, (MYSQL * mysql))                                         \
  X(void, mysql_thread_end, ())                                                                     \
  X(int, mysql_set_character_set, (MYSQL * mysql, const char* csname))

// One entry per bound function, named after it; null until bound and when the library lacks it.
struct MySQLEntries {
#define SKORREL_MYSQL_ENTRY(ret, name, params) ret(MYSQL_STDCALL* name) params = nullptr;
  SKORREL_MYSQL_ENTRIES(SKORREL_MYSQL_ENTRY)
#undef SKORREL_MYSQL_ENTRY
};

// The bound entries. Read them only after LoadMySQLLibrary returned true; they never change then.
const MySQLEntries& MySQL();

// Loads and binds the client library on first use; true when it is loaded. Once loaded, later
// calls return true at once whatever name they pass. A failed load leaves nothing behind, so the
// next call tries again. A library that lacks one of the functions the wrapper calls counts as
// missing. On Windows the name is the file loaded; elsewhere the client libraries of the system
// are tried in turn.
bool LoadMySQLLibrary(const std::string& fileName);

// Ends the library and releases it at once. Entries stay as they were.
void UnloadMySQLLibrary();

// A claim on the client library: the plug-in holds one from Init to Quit, and every worker one
// while it lives. Whoever lets go last ends and releases the library on its own, ordinary thread.
// Nothing of the library runs when the module goes: that happens under the loader lock, where its
// end may wait for threads that cannot run, or at process exit, after its threads were killed.
// Take a claim before loading, on a thread that another claim keeps from ending the library.
class MySQLLibraryUse {
 public:
  MySQLLibraryUse();
  ~MySQLLibraryUse();
  MySQLLibraryUse(const MySQLLibraryUse&) = delete;
  MySQLLibraryUse& operator=(const MySQLLibraryUse&) = delete;
};

// Drops the calling thread's state in the client library, if it is loaded and has the call. Every
// thread that used the library calls this before it ends.
void EndMySQLThread();

// Opens the client library for the name the wrapper asks for: that file on Windows; elsewhere the
// first of the system's client libraries that loads.
Library LoadClientLibraryFile(const std::string& fileName);
using MySQLLibraryLoader = Library (*)(const std::string& fileName);

// Replaces how the library file is opened, for tests: a slow or a broken library. Returns the
// previous loader. Call only while no thread is loading.
MySQLLibraryLoader SetMySQLLibraryLoader(MySQLLibraryLoader loader);
