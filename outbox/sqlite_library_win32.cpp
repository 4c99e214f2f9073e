// SQLite for the Windows builds: the library is a DLL of its own beside the module
// (kSqliteLibrary), built with the options the outbox needs, and loaded on the first open. Kept out
// of gen_skorrel.dll, whose size it would double. The outbox calls SQLite's own functions; each is
// defined here and passes the call on to the loaded library.
#include <sqlite3.h>

#include <string>

#include "runtime/binding.h"
#include "runtime/paths_win32.h"

namespace {

constexpr const char* kSqliteLibrary = "skorrel_sqlite3.dll";

struct SqliteEntries {
  decltype(&sqlite3_threadsafe) threadsafe;
  decltype(&sqlite3_open_v2) open_v2;
  decltype(&sqlite3_close) close;
  decltype(&sqlite3_busy_timeout) busy_timeout;
  decltype(&sqlite3_errmsg) errmsg;
  decltype(&sqlite3_errstr) errstr;
  decltype(&sqlite3_exec) exec;
  decltype(&sqlite3_free) free;
  decltype(&sqlite3_changes) changes;
  decltype(&sqlite3_prepare_v2) prepare_v2;
  decltype(&sqlite3_finalize) finalize;
  decltype(&sqlite3_reset) reset;
  decltype(&sqlite3_step) step;
  decltype(&sqlite3_bind_text) bind_text;
  decltype(&sqlite3_bind_blob) bind_blob;
  decltype(&sqlite3_bind_int64) bind_int64;
  decltype(&sqlite3_column_int64) column_int64;
  decltype(&sqlite3_column_text) column_text;
  decltype(&sqlite3_column_blob) column_blob;
  decltype(&sqlite3_column_bytes) column_bytes;
};

bool Bind(const Library& library, SqliteEntries& e) {
  BindEntry(library, "sqlite3_threadsafe", e.threadsafe);
  BindEntry(library, "sqlite3_open_v2", e.open_v2);
  BindEntry(library, "sqlite3_close", e.close);
  BindEntry(library, "sqlite3_busy_timeout", e.busy_timeout);
  BindEntry(library, "sqlite3_errmsg", e.errmsg);
  BindEntry(library, "sqlite3_errstr", e.errstr);
  BindEntry(library, "sqlite3_exec", e.exec);
  BindEntry(library, "sqlite3_free", e.free);
  BindEntry(library, "sqlite3_changes", e.changes);
  BindEntry(library, "sqlite3_prepare_v2", e.prepare_v2);
  BindEntry(library, "sqlite3_finalize", e.finalize);
  BindEntry(library, "sqlite3_reset", e.reset);
  BindEntry(library, "sqlite3_step", e.step);
  BindEntry(library, "sqlite3_bind_text", e.bind_text);
  BindEntry(library, "sqlite3_bind_blob", e.bind_blob);
  BindEntry(library, "sqlite3_bind_int64", e.bind_int64);
  BindEntry(library, "sqlite3_column_int64", e.column_int64);
  BindEntry(library, "sqlite3_column_text", e.column_text);
  BindEntry(library, "sqlite3_column_blob", e.column_blob);
  BindEntry(library, "sqlite3_column_bytes", e.column_bytes);
  return e.threadsafe && e.open_v2 && e.close && e.busy_timeout && e.errmsg && e.errstr && e.exec && e.free &&
         e.changes && e.prepare_v2 && e.finalize && e.reset && e.step && e.bind_text && e.bind_blob &&
         e.bind_int64 && e.column_int64 && e.column_text && e.column_blob && e.column_bytes;
}

// Senders on several threads share the file; a build without SQLite's locks would corrupt it.
bool Start(const SqliteEntries& e) { return e.threadsafe() != 0; }

RuntimeBinding<SqliteEntries>& Binding() {
  static RuntimeBinding<SqliteEntries> binding(&Bind, &Start, nullptr);
  return binding;
}

// Only beside the module: a SQLite of another build on the search path may lack what the outbox
// relies on.
std::string LibraryPath() { return OwnFolder() + kSqliteLibrary; }

const SqliteEntries& Api() { return Binding().Get(); }

}  // namespace

// Every other call comes after an open succeeded, so only the open loads the library.
extern "C" int sqlite3_open_v2(const char* filename, sqlite3** db, int flags, const char* vfs) {
  if (!Binding().Load([] { return Library::LoadPath(LibraryPath()); })) {
    *db = nullptr;
    return SQLITE_CANTOPEN;
  }
  return Api().open_v2(filename, db, flags, vfs);
}

// With no connection, the open's failure; said as the reason when the library is not there.
extern "C" const char* sqlite3_errstr(int code) {
  if (Binding().Loaded()) return Api().errstr(code);
  static const std::string missing =
      kSqliteLibrary + std::string(" could not be loaded from ") + LibraryPath();
  return missing.c_str();
}

extern "C" int sqlite3_close(sqlite3* db) { return Api().close(db); }
extern "C" int sqlite3_busy_timeout(sqlite3* db, int ms) { return Api().busy_timeout(db, ms); }
extern "C" const char* sqlite3_errmsg(sqlite3* db) { return Api().errmsg(db); }
extern "C" int sqlite3_exec(sqlite3* db, const char* sql, int (*callback)(void*, int, char**, char**),
                            void* arg, char** message) {
  return Api().exec(db, sql, callback, arg, message);
}
extern "C" void sqlite3_free(void* memory) { Api().free(memory); }
extern "C" int sqlite3_changes(sqlite3* db) { return Api().changes(db); }
extern "C" int sqlite3_prepare_v2(sqlite3* db, const char* sql, int bytes, sqlite3_stmt** statement,
                                  const char** tail) {
  return Api().prepare_v2(db, sql, bytes, statement, tail);
}
extern "C" int sqlite3_finalize(sqlite3_stmt* statement) { return Api().finalize(statement); }
extern "C" int sqlite3_reset(sqlite3_stmt* statement) { return Api().reset(statement); }
extern "C" int sqlite3_step(sqlite3_stmt* statement) { return Api().step(statement); }
extern "C" int sqlite3_bind_text(sqlite3_stmt* statement, int index, const char* text, int bytes,
                                 void (*destructor)(void*)) {
  return Api().bind_text(statement, index, text, bytes, destructor);
}
extern "C" int sqlite3_bind_blob(sqlite3_stmt* statement, int index, const void* data, int bytes,
                                 void (*destructor)(void*)) {
  return Api().bind_blob(statement, index, data, bytes, destructor);
}
extern "C" int sqlite3_bind_int64(sqlite3_stmt* statement, int index, sqlite3_int64 value) {
  return Api().bind_int64(statement, index, value);
}
extern "C" sqlite3_int64 sqlite3_column_int64(sqlite3_stmt* statement, int column) {
  return Api().column_int64(statement, column);
}
extern "C" const unsigned char* sqlite3_column_text(sqlite3_stmt* statement, int column) {
  return Api().column_text(statement, column);
}
extern "C" const void* sqlite3_column_blob(sqlite3_stmt* statement, int column) {
  return Api().column_blob(statement, column);
}
extern "C" int sqlite3_column_bytes(sqlite3_stmt* statement, int column) {
  return Api().column_bytes(statement, column);
}
