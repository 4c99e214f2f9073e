#include "database/mysql.h"

#include <atomic>
#include <mutex>

#include "runtime/binding.h"

namespace {

// The functions the wrapper calls; a library without one of them is no use to it. The wrapper does
// without mysql_set_character_set, which old libraries lack.
bool HasWrapperCalls(const MySQLEntries& e) {
  return e.mysql_init && e.mysql_options && e.mysql_real_connect && e.mysql_error && e.mysql_get_host_info &&
         e.mysql_get_server_info && e.mysql_query && e.mysql_store_result && e.mysql_num_rows &&
         e.mysql_fetch_field && e.mysql_free_result && e.mysql_close;
}

bool BindAll(const Library& library, MySQLEntries& entries) {
#define SKORREL_MYSQL_BIND(ret, name, params) BindEntry(library, #name, entries.name);
  SKORREL_MYSQL_ENTRIES(SKORREL_MYSQL_BIND)
#undef SKORREL_MYSQL_BIND
  return HasWrapperCalls(entries);
}

// The library's own start-up is not safe when threads make their first connections at once, so it
// runs here, once, before any worker can reach the library.
bool Start(const MySQLEntries& entries) {
  return !entries.mysql_server_init || entries.mysql_server_init(0, nullptr, nullptr) == 0;
}

void End(const MySQLEntries& entries) {
  if (entries.mysql_server_end) entries.mysql_server_end();
}

struct State {
  RuntimeBinding<MySQLEntries> binding{&BindAll, &Start, &End};
  std::atomic<MySQLLibraryLoader> loader{&LoadClientLibraryFile};
  std::mutex usersLock;
  int users = 0;
};

State& Shared() {
  static State state;
  return state;
}

}  // namespace

const MySQLEntries& MySQL() { return Shared().binding.Get(); }

bool LoadMySQLLibrary(const std::string& fileName) {
  State& state = Shared();
  return state.binding.Load([&] { return state.loader.load()(fileName); });
}

void UnloadMySQLLibrary() { Shared().binding.Unload(); }

MySQLLibraryUse::MySQLLibraryUse() {
  State& state = Shared();
  std::lock_guard<std::mutex> guard(state.usersLock);
  ++state.users;
}

MySQLLibraryUse::~MySQLLibraryUse() {
  State& state = Shared();
  // Under the lock, so a claim taken meanwhile waits until the library is gone and loads it afresh.
  std::lock_guard<std::mutex> guard(state.usersLock);
  if (--state.users == 0) state.binding.Unload();
}

void EndMySQLThread() {
  const State& state = Shared();
  if (state.binding.Loaded() && state.binding.Get().mysql_thread_end) state.binding.Get().mysql_thread_end();
}

MySQLLibraryLoader SetMySQLLibraryLoader(MySQLLibraryLoader loader) {
  return Shared().loader.exchange(loader);
}
