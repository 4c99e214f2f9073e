#include "database/mysql.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace {

// The functions the wrapper calls; a library without one of them is no use to it.
bool HasWrapperCalls(const MySQLEntries& e) {
  return e.mysql_init && e.mysql_options && e.mysql_real_connect && e.mysql_error && e.mysql_get_host_info &&
         e.mysql_get_server_info && e.mysql_query && e.mysql_store_result && e.mysql_num_rows &&
         e.mysql_fetch_field && e.mysql_free_result && e.mysql_close;
}

MySQLEntries Bind(const Library& library) {
  MySQLEntries entries;
#define SKORREL_MYSQL_BIND(ret, name, params) \
  entries.name = reinterpret_cast<decltype(entries.name)>(library.Symbol(#name));
  SKORREL_MYSQL_ENTRIES(SKORREL_MYSQL_BIND)
#undef SKORREL_MYSQL_BIND
  return entries;
}

// The binding's process-wide state. Its destructor is the unit's finalization: the library goes
// when the module does.
struct Binding {
  std::mutex loadLock;
  std::atomic<bool> loaded{false};
  MySQLLibraryLoader loader = &LoadClientLibraryFile;
  Library library;
  MySQLEntries entries;

  ~Binding() {
    // Only a process that is ending can hold the lock here (every worker keeps the module loaded
    // while it runs), and its threads are gone: the library goes with the process.
    std::unique_lock<std::mutex> guard(loadLock, std::try_to_lock);
    if (guard) UnloadLocked();
  }

  void Unload() {
    std::lock_guard<std::mutex> guard(loadLock);
    UnloadLocked();
  }

  void UnloadLocked() {
    if (!library) return;
    loaded.store(false, std::memory_order_release);
    if (entries.mysql_server_end) entries.mysql_server_end();
    library = Library();
  }
};

Binding& State() {
  static Binding binding;
  return binding;
}

}  // namespace

const MySQLEntries& MySQL() { return State().entries; }

bool LoadMySQLLibrary(const std::string& fileName) {
  Binding& state = State();
  if (state.loaded.load(std::memory_order_acquire)) return true;

  // Serialised: a second caller waits here and then finds the library loaded.
  std::lock_guard<std::mutex> guard(state.loadLock);
  if (state.loaded.load(std::memory_order_relaxed)) return true;

  Library library = state.loader(fileName);
  if (!library) return false;
  MySQLEntries entries = Bind(library);
  if (!HasWrapperCalls(entries)) return false;
  // The library's own start-up is not safe when threads make their first connections at once,
  // so it runs here, once, before any worker can reach the library.
  if (entries.mysql_server_init && entries.mysql_server_init(0, nullptr, nullptr) != 0) return false;

  state.entries = entries;
  state.library = std::move(library);
  state.loaded.store(true, std::memory_order_release);
  return true;
}

void UnloadMySQLLibrary() { State().Unload(); }

void EndMySQLThread() {
  Binding& state = State();
  if (state.loaded.load(std::memory_order_acquire) && state.entries.mysql_thread_end) {
    state.entries.mysql_thread_end();
  }
}

MySQLLibraryLoader SetMySQLLibraryLoader(MySQLLibraryLoader loader) {
  Binding& state = State();
  std::lock_guard<std::mutex> guard(state.loadLock);
  return std::exchange(state.loader, loader);
}
