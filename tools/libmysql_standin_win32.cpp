// Stand-in for the MySQL client library, libmysql.dll: the 58 functions the plug-in binds, each
// __stdcall as the real library's are, exported undecorated through libmysql_standin.def. Every call
// is appended as one line, with its arguments, to the file named by SKORREL_MYSQL_RECORD. A
// connection always succeeds; when SKORREL_MYSQL_REJECT is set, every statement but SET NAMES is
// rejected with that text as the server's error, and SET NAMES takes only the character sets that
// SKORREL_MYSQL_CHARSETS lists (comma-separated; utf8mb4 and utf8 when unset). SKORREL_MYSQL_HOLD="NAME MS" makes the call NAME take MS
// milliseconds after it is recorded, as a slow server would. mysql_server_end records itself
// "under the loader lock" when a thread it starts cannot run, as a real library's end that waits
// for its own threads would then hang. It talks to no server: the tests that need one use the real
// library.
//
// It spells __stdcall itself rather than sharing the plug-in's declarations, so that a plug-in
// that calls with the wrong convention corrupts its stack here, as it would with the real library.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Connection {
  std::string error;
};
struct Result {};
struct Field {
  char* name;
};

CRITICAL_SECTION recordLock;
struct LockInit {
  LockInit() { InitializeCriticalSection(&recordLock); }
  ~LockInit() { DeleteCriticalSection(&recordLock); }
} lockInit;

std::string Environment(const char* name) {
  char value[4096];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

std::string Text(const char* text) { return text ? "'" + std::string(text) + "'" : "null"; }

void Record(const std::string& line) {
  const std::string path = Environment("SKORREL_MYSQL_RECORD");
  if (!path.empty()) {
    EnterCriticalSection(&recordLock);
    if (FILE* file = std::fopen(path.c_str(), "ab")) {
      std::fprintf(file, "%s\n", line.c_str());
      std::fclose(file);
    }
    LeaveCriticalSection(&recordLock);
  }

  const std::string hold = Environment("SKORREL_MYSQL_HOLD");
  const std::size_t blank = hold.find(' ');
  if (blank != std::string::npos && line.compare(0, blank + 1, hold.substr(0, blank) + "(") == 0)
    Sleep(static_cast<DWORD>(std::strtoul(hold.c_str() + blank + 1, nullptr, 10)));
}

// Whether a new thread gets to run: under the loader lock it cannot start. The thread runs
// ExitThread itself, so nothing of this library is left to run should it start after the library
// is gone; the limit only turns a hang into a recorded answer.
bool ThreadCanRun() {
  HANDLE thread =
      CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(&ExitThread)),
                   nullptr, 0, nullptr);
  if (!thread) return false;
  const bool ran = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return ran;
}

// The functions nothing in the plug-in calls: recorded, and answered with zero.
template <typename T>
T Unused(const char* name) {
  Record(name);
  return T{};
}

}  // namespace

extern "C" {

int __stdcall mysql_server_init(int argc, char**, char**) {
  Record("mysql_server_init(" + std::to_string(argc) + ")");
  return 0;
}
void __stdcall mysql_server_end() {
  Record(ThreadCanRun() ? "mysql_server_end()" : "mysql_server_end() under the loader lock");
}
void __stdcall mysql_thread_end() { Record("mysql_thread_end()"); }

Connection* __stdcall mysql_init(Connection* mysql) {
  Record(std::string("mysql_init(") + (mysql ? "handle" : "null") + ")");
  return mysql ? mysql : new Connection;
}

int __stdcall mysql_options(Connection*, int option, const void* arg) {
  // The time-outs take a number, the option group a text.
  const bool number = option == 0 || option == 11 || option == 12;
  Record("mysql_options(" + std::to_string(option) + ", " +
         (number ? std::to_string(*static_cast<const unsigned int*>(arg))
                 : Text(static_cast<const char*>(arg))) +
         ")");
  return 0;
}

Connection* __stdcall mysql_real_connect(Connection* mysql, const char* host, const char* user,
                                         const char* passwd, const char* db, unsigned int port,
                                         const char* unixSocket, unsigned long clientFlag) {
  Record("mysql_real_connect(" + Text(host) + ", " + Text(user) + ", " + Text(passwd) + ", " + Text(db) +
         ", " + std::to_string(port) + ", " + Text(unixSocket) + ", " + std::to_string(clientFlag) + ")");
  return mysql;
}

const char* __stdcall mysql_error(Connection* mysql) {
  Record("mysql_error()");
  return mysql->error.c_str();
}
const char* __stdcall mysql_get_host_info(Connection*) {
  Record("mysql_get_host_info()");
  return "127.0.0.1 via TCP/IP";
}
const char* __stdcall mysql_get_server_info(Connection*) {
  Record("mysql_get_server_info()");
  return "5.1.73-log";
}

int __stdcall mysql_query(Connection* mysql, const char* query) {
  Record("mysql_query(" + Text(query) + ")");
  const std::string text = Text(query);
  if (text.rfind("'SET NAMES ", 0) == 0) {
    // The character sets this server knows: both, unless SKORREL_MYSQL_CHARSETS names others.
    const std::string known = Environment("SKORREL_MYSQL_CHARSETS");
    const std::string name = text.substr(11, text.size() - 12);
    const bool takes = known.empty() ? name == "utf8mb4" || name == "utf8"
                                     : ("," + known + ",").find("," + name + ",") != std::string::npos;
    mysql->error = takes ? "" : "Unknown character set: '" + name + "'";
  } else {
    mysql->error = Environment("SKORREL_MYSQL_REJECT");
  }
  return mysql->error.empty() ? 0 : 1;
}

Result* __stdcall mysql_store_result(Connection*) {
  Record("mysql_store_result()");
  return nullptr;
}
std::uint64_t __stdcall mysql_num_rows(Result*) {
  Record("mysql_num_rows()");
  return 0;
}
Field* __stdcall mysql_fetch_field(Result*) {
  Record("mysql_fetch_field()");
  return nullptr;
}
void __stdcall mysql_free_result(Result* result) {
  Record(std::string("mysql_free_result(") + (result ? "result" : "null") + ")");
}
void __stdcall mysql_close(Connection* mysql) {
  Record("mysql_close()");
  delete mysql;
}

int __stdcall mysql_select_db(Connection*, const char*) { return Unused<int>("mysql_select_db"); }
int __stdcall mysql_send_query(Connection*, const char*, unsigned long) {
  return Unused<int>("mysql_send_query");
}
char __stdcall mysql_read_query_result(Connection*) { return Unused<char>("mysql_read_query_result"); }
int __stdcall mysql_real_query(Connection*, const char*, unsigned long) {
  return Unused<int>("mysql_real_query");
}
int __stdcall mysql_create_db(Connection*, const char*) { return Unused<int>("mysql_create_db"); }
int __stdcall mysql_drop_db(Connection*, const char*) { return Unused<int>("mysql_drop_db"); }
int __stdcall mysql_shutdown(Connection*, int) { return Unused<int>("mysql_shutdown"); }
int __stdcall mysql_dump_debug_info(Connection*) { return Unused<int>("mysql_dump_debug_info"); }
int __stdcall mysql_refresh(Connection*, unsigned int) { return Unused<int>("mysql_refresh"); }
int __stdcall mysql_kill(Connection*, unsigned long) { return Unused<int>("mysql_kill"); }
int __stdcall mysql_ping(Connection*) { return Unused<int>("mysql_ping"); }
const char* __stdcall mysql_stat(Connection*) { return Unused<const char*>("mysql_stat"); }
const char* __stdcall mysql_get_client_info() { return Unused<const char*>("mysql_get_client_info"); }
unsigned int __stdcall mysql_get_proto_info(Connection*) {
  return Unused<unsigned int>("mysql_get_proto_info");
}
Result* __stdcall mysql_list_dbs(Connection*, const char*) { return Unused<Result*>("mysql_list_dbs"); }
Result* __stdcall mysql_list_tables(Connection*, const char*) { return Unused<Result*>("mysql_list_tables"); }
Result* __stdcall mysql_list_fields(Connection*, const char*, const char*) {
  return Unused<Result*>("mysql_list_fields");
}
Result* __stdcall mysql_list_processes(Connection*) { return Unused<Result*>("mysql_list_processes"); }
Result* __stdcall mysql_use_result(Connection*) { return Unused<Result*>("mysql_use_result"); }
void __stdcall mysql_data_seek(Result*, std::uint64_t) { Record("mysql_data_seek"); }
void* __stdcall mysql_row_seek(Result*, void*) { return Unused<void*>("mysql_row_seek"); }
unsigned int __stdcall mysql_field_seek(Result*, unsigned int) {
  return Unused<unsigned int>("mysql_field_seek");
}
char** __stdcall mysql_fetch_row(Result*) { return Unused<char**>("mysql_fetch_row"); }
unsigned long* __stdcall mysql_fetch_lengths(Result*) {
  return Unused<unsigned long*>("mysql_fetch_lengths");
}
unsigned long __stdcall mysql_escape_string(char*, const char*, unsigned long) {
  return Unused<unsigned long>("mysql_escape_string");
}
unsigned long __stdcall mysql_real_escape_string(Connection*, char*, const char*, unsigned long) {
  return Unused<unsigned long>("mysql_real_escape_string");
}
void __stdcall mysql_debug(const char*) { Record("mysql_debug"); }
char* __stdcall mysql_odbc_escape_string(Connection*, char*, unsigned long, const char*, unsigned long, void*,
                                         char* (*)(void*, char*, unsigned long*)) {
  return Unused<char*>("mysql_odbc_escape_string");
}
void __stdcall myodbc_remove_escape(Connection*, char*) { Record("myodbc_remove_escape"); }
unsigned int __stdcall mysql_thread_safe() { return Unused<unsigned int>("mysql_thread_safe"); }
unsigned int __stdcall mysql_num_fields(Result*) { return Unused<unsigned int>("mysql_num_fields"); }
char __stdcall mysql_eof(Result*) { return Unused<char>("mysql_eof"); }
Field* __stdcall mysql_fetch_field_direct(Result*, unsigned int) {
  return Unused<Field*>("mysql_fetch_field_direct");
}
Field* __stdcall mysql_fetch_fields(Result*) { return Unused<Field*>("mysql_fetch_fields"); }
void* __stdcall mysql_row_tell(Result*) { return Unused<void*>("mysql_row_tell"); }
unsigned int __stdcall mysql_field_tell(Result*) { return Unused<unsigned int>("mysql_field_tell"); }
unsigned int __stdcall mysql_field_count(Connection*) { return Unused<unsigned int>("mysql_field_count"); }
std::uint64_t __stdcall mysql_affected_rows(Connection*) {
  return Unused<std::uint64_t>("mysql_affected_rows");
}
std::uint64_t __stdcall mysql_insert_id(Connection*) { return Unused<std::uint64_t>("mysql_insert_id"); }
unsigned int __stdcall mysql_errno(Connection* mysql) {
  Record("mysql_errno()");
  // A syntax error for a rejected statement: the plug-in keeps no statement for it.
  return mysql->error.empty() ? 0 : 1064;
}
const char* __stdcall mysql_info(Connection*) { return Unused<const char*>("mysql_info"); }
unsigned long __stdcall mysql_thread_id(Connection*) { return Unused<unsigned long>("mysql_thread_id"); }
const char* __stdcall mysql_character_set_name(Connection*) {
  return Unused<const char*>("mysql_character_set_name");
}

}  // extern "C"
