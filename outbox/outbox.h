#pragma once
// The durable outbox of the history destinations: one SQLite file, one queue per destination, each
// opened by its own sender. An entry acknowledged as stored survives a crash or a power cut (WAL,
// synchronous=FULL), and leaves the queue only when its destination took it, or moves to the
// queue's failed list when the destination refused it for good.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

struct OutboxEntry {
  std::int64_t id = 0;  // grows with every entry stored, so the oldest has the lowest
  std::string body;
  std::int64_t storedAt = 0;  // Unix seconds
};

struct OutboxCounts {
  std::int64_t waiting = 0;
  std::int64_t bytes = 0;  // the waiting bodies' size
  std::int64_t failed = 0;
};

// Beyond these a queue refuses new entries and keeps the ones it has.
struct OutboxLimits {
  std::int64_t entries = 100000;
  std::int64_t bytes = std::int64_t{64} << 20;
};

class OutboxError : public std::runtime_error {
 public:
  OutboxError(const std::string& what, int code) : std::runtime_error(what), code_(code) {}
  // SQLite's primary result code.
  int Code() const { return code_; }
  // The file is damaged: reopening sets it aside and starts a new one.
  bool Corrupt() const;

 private:
  int code_;
};

class Outbox {
 public:
  using Log = std::function<void(std::string_view)>;

  // Opens the queue named queue in the file at path (UTF-8), making both when missing. A file that
  // is not an SQLite database, or fails its check, is renamed aside with a log line and a new one
  // made in its place. Throws OutboxError only when no file can be made there at all.
  Outbox(const std::string& path, std::string queue, Log log, OutboxLimits limits = {});
  ~Outbox();
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // Stores bodies in order in one transaction, stamped with now. Those beyond the limits are
  // refused, with one log line when the queue becomes full and one when it has room again.
  // Returns how many were stored; once it returns they are on the disk.
  std::size_t Store(const std::vector<std::string>& bodies, std::int64_t now);
  // Up to count of the oldest waiting entries, oldest first; they stay until removed.
  std::vector<OutboxEntry> Oldest(std::size_t count);
  void Remove(std::int64_t id);
  // Takes the entry out of the queue into its failed list, with why.
  void MoveToFailed(std::int64_t id, const std::string& error);
  // The failed entries go back into the queue, in their old places; how many.
  std::int64_t RetryFailed();
  std::int64_t DiscardFailed();
  OutboxCounts Counts() const { return counts_; }
  const std::string& Path() const { return path_; }

 private:
  void Exec(const char* sql);
  void Open();
  void OpenWhenFree();
  void Recount();
  void NoteFull(bool full);
  void Say(const std::string& line) const;

  std::string path_;
  std::string queue_;
  Log log_;
  OutboxLimits limits_;
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db_;
  OutboxCounts counts_;
  bool full_ = false;
};
