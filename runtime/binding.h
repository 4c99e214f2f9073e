#pragma once
// A library bound by name at run time through a table of entries: never linked, so a machine
// without it still runs the plug-in. The state is process-wide; the first load is serialised and
// the entries are published only once they are bound and the library has started, so any thread
// may call them afterwards.
//
// A binding declares its table as a struct of function pointers, fills it with BindEntry, and keeps
// one RuntimeBinding of that struct for the process.
#include <atomic>
#include <mutex>
#include <utility>

#include "runtime/library.h"

// Looks one entry up by its exported name; null when the library lacks it.
template <typename F>
void BindEntry(const Library& library, const char* name, F*& entry) {
  entry = reinterpret_cast<F*>(library.Symbol(name));
}

template <typename Entries>
class RuntimeBinding {
 public:
  // Opens the library file; an empty Library when it is not there.
  using Opener = Library (*)();
  // Fills the table; false when the library lacks an entry that cannot be done without.
  using Binder = bool (*)(const Library& library, Entries& entries);
  // The library's own start and end, each run once under the load lock. Start may be null.
  using Starter = bool (*)(const Entries& entries);
  using Ender = void (*)(const Entries& entries);

  RuntimeBinding(Binder bind, Starter start, Ender end) : bind_(bind), start_(start), end_(end) {}
  RuntimeBinding(const RuntimeBinding&) = delete;
  RuntimeBinding& operator=(const RuntimeBinding&) = delete;

  // Ends and releases nothing. The binding goes with the module, under the loader lock, where the
  // library's own end may wait for threads that cannot run, or at process exit, after its threads
  // were killed mid-call. Whoever uses the library calls Unload on an ordinary thread instead.
  ~RuntimeBinding() { library_.Release(); }

  // Opens (with open(), an Opener or any callable returning a Library), binds and starts the
  // library on first use; true when it is loaded. A second caller waits and then finds it loaded.
  // A failure leaves nothing behind, so the next call tries again.
  template <typename Open>
  bool Load(Open&& open) {
    if (loaded_.load(std::memory_order_acquire)) return true;
    std::lock_guard<std::mutex> guard(lock_);
    if (loaded_.load(std::memory_order_relaxed)) return true;

    Library library = open();
    if (!library) return false;
    Entries entries{};
    if (!bind_(library, entries)) return false;
    if (start_ && !start_(entries)) return false;

    entries_ = entries;
    library_ = std::move(library);
    loaded_.store(true, std::memory_order_release);
    return true;
  }

  bool Loaded() const noexcept { return loaded_.load(std::memory_order_acquire); }

  // The bound entries. Read them only after Load returned true; they never change then.
  const Entries& Get() const noexcept { return entries_; }

  // Ends the library and releases it. Entries stay as they were.
  void Unload() {
    std::lock_guard<std::mutex> guard(lock_);
    UnloadLocked();
  }

 private:
  void UnloadLocked() {
    if (!library_) return;
    loaded_.store(false, std::memory_order_release);
    if (end_) end_(entries_);
    library_ = Library();
  }

  Binder bind_;
  Starter start_;
  Ender end_;
  std::mutex lock_;
  std::atomic<bool> loaded_{false};
  Library library_;
  Entries entries_{};
};
