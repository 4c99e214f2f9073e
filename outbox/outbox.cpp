#include "outbox/outbox.h"

#include <sqlite3.h>

#include <chrono>
#include <ctime>
#include <thread>
#include <utility>

#include "runtime/open_file.h"

namespace {

struct StatementDeleter {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

[[noreturn]] void Fail(sqlite3* db, const std::string& what, int code) {
  throw OutboxError(what + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(code)), code & 0xff);
}

Statement Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (const int rc = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr); rc != SQLITE_OK)
    Fail(db, "cannot prepare the outbox's statement", rc);
  return Statement(statement);
}

void Bind(sqlite3_stmt* statement, int index, std::string_view text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// Runs a statement to its end; true while it gives a row.
bool StepRow(sqlite3* db, sqlite3_stmt* statement) {
  const int rc = sqlite3_step(statement);
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) Fail(db, "the outbox could not be read or written", rc);
  return false;
}

// The entries' ids are never reused (AUTOINCREMENT), so a failed entry sent again returns to its old
// place, and the order of the queue is the order of the plays.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS outbox(id INTEGER PRIMARY KEY AUTOINCREMENT, queue TEXT NOT NULL,"
    " body BLOB NOT NULL, stored_at INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS outbox_by_queue ON outbox(queue, id);"
    "CREATE TABLE IF NOT EXISTS failed(id INTEGER PRIMARY KEY, queue TEXT NOT NULL, body BLOB NOT NULL,"
    " stored_at INTEGER NOT NULL, failed_at INTEGER NOT NULL, error TEXT NOT NULL);";

}  // namespace

bool OutboxError::Corrupt() const { return code_ == SQLITE_CORRUPT || code_ == SQLITE_NOTADB; }

Outbox::Outbox(const std::string& path, std::string queue, Log log, OutboxLimits limits)
    : path_(path),
      queue_(std::move(queue)),
      log_(std::move(log)),
      limits_(limits),
      db_(nullptr, &sqlite3_close) {
  try {
    OpenWhenFree();
  } catch (const OutboxError& error) {
    if (!error.Corrupt()) throw;
    db_.reset();
    // Kept for whoever wants to look into it; the name says when it was set aside.
    const std::string aside = path_ + ".broken-" + std::to_string(std::time(nullptr));
    // By the UTF-8 name SQLite was given, on Windows too.
    if (const auto failed = RenameFile(path_, aside))
      throw OutboxError("the damaged outbox " + path_ + " could not be set aside: " + *failed, error.Code());
    for (const char* suffix : {"-wal", "-shm"}) RemoveFile(path_ + suffix);
    Say("Outbox: " + path_ + " was not a readable outbox (" + error.what() + "); it is kept as " + aside +
        " and a new one is made");
    OpenWhenFree();
  }
}

// Senders of other queues open the same file at the same moments (the player's start, a save).
// Some of their locks SQLite refuses at once rather than waiting out (a read that must become a
// write while another writes, the recovery after a process that ended without closing), so a
// locked file is tried again for a while before the sender gives up on it.
void Outbox::OpenWhenFree() {
  constexpr int kAttempts = 20;
  for (int attempt = 1;; ++attempt) {
    try {
      Open();
      return;
    } catch (const OutboxError& error) {
      if ((error.Code() != SQLITE_BUSY && error.Code() != SQLITE_LOCKED) || attempt == kAttempts) throw;
      db_.reset();
      std::this_thread::sleep_for(std::chrono::milliseconds(50 * attempt));
    }
  }
}

Outbox::~Outbox() = default;

void Outbox::Say(const std::string& line) const {
  if (log_) log_(line);
}

void Outbox::Exec(const char* sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_.get(), sql, nullptr, nullptr, &message);
  if (rc == SQLITE_OK) return;
  const std::string text = message ? message : sqlite3_errstr(rc);
  sqlite3_free(message);
  throw OutboxError(text, rc & 0xff);
}

void Outbox::Open() {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  db_.reset(db);
  if (rc != SQLITE_OK) Fail(db, "cannot open the outbox " + path_, rc);
  // Another sender may be writing its own queue in the same file.
  sqlite3_busy_timeout(db, 5000);
  Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
  Exec(kSchema);
  const Statement check = Prepare(db, "PRAGMA quick_check");
  std::string verdict;
  while (StepRow(db, check.get()))
    if (const auto* text = sqlite3_column_text(check.get(), 0))
      verdict += reinterpret_cast<const char*>(text);
  if (verdict != "ok") throw OutboxError("its check says " + verdict, SQLITE_CORRUPT);
  Recount();
}

void Outbox::Recount() {
  const Statement waiting =
      Prepare(db_.get(), "SELECT count(*), coalesce(sum(length(body)), 0) FROM outbox WHERE queue = ?");
  Bind(waiting.get(), 1, queue_);
  StepRow(db_.get(), waiting.get());
  counts_.waiting = sqlite3_column_int64(waiting.get(), 0);
  counts_.bytes = sqlite3_column_int64(waiting.get(), 1);
  const Statement failed = Prepare(db_.get(), "SELECT count(*) FROM failed WHERE queue = ?");
  Bind(failed.get(), 1, queue_);
  StepRow(db_.get(), failed.get());
  counts_.failed = sqlite3_column_int64(failed.get(), 0);
  full_ = counts_.waiting >= limits_.entries || counts_.bytes >= limits_.bytes;
}

void Outbox::NoteFull(bool full) {
  if (full == full_) return;
  full_ = full;
  Say(full ? "Outbox: the " + queue_ + " queue is full (" + std::to_string(counts_.waiting) + " waiting, " +
                 std::to_string(counts_.bytes) + " bytes); new entries are refused until some are sent"
           : "Outbox: the " + queue_ + " queue has room again");
}

std::size_t Outbox::Store(const std::vector<std::string>& bodies, std::int64_t now) {
  if (bodies.empty()) return 0;
  const Statement insert = Prepare(db_.get(), "INSERT INTO outbox(queue, body, stored_at) VALUES(?, ?, ?)");
  OutboxCounts counts = counts_;
  std::size_t stored = 0;
  bool refused = false;
  Exec("BEGIN IMMEDIATE");
  try {
    for (const std::string& body : bodies) {
      const auto size = static_cast<std::int64_t>(body.size());
      if (counts.waiting + 1 > limits_.entries || counts.bytes + size > limits_.bytes) {
        refused = true;
        continue;
      }
      sqlite3_reset(insert.get());
      Bind(insert.get(), 1, queue_);
      sqlite3_bind_blob(insert.get(), 2, body.data(), static_cast<int>(body.size()), SQLITE_STATIC);
      sqlite3_bind_int64(insert.get(), 3, now);
      StepRow(db_.get(), insert.get());
      ++counts.waiting;
      counts.bytes += size;
      ++stored;
    }
    Exec("COMMIT");
  } catch (...) {
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  counts_ = counts;
  NoteFull(refused);
  return stored;
}

std::vector<OutboxEntry> Outbox::Oldest(std::size_t count) {
  const Statement select =
      Prepare(db_.get(), "SELECT id, body, stored_at FROM outbox WHERE queue = ? ORDER BY id LIMIT ?");
  Bind(select.get(), 1, queue_);
  sqlite3_bind_int64(select.get(), 2, static_cast<std::int64_t>(count));
  std::vector<OutboxEntry> entries;
  while (StepRow(db_.get(), select.get())) {
    OutboxEntry entry;
    entry.id = sqlite3_column_int64(select.get(), 0);
    const auto* body = static_cast<const char*>(sqlite3_column_blob(select.get(), 1));
    entry.body.assign(body ? body : "", static_cast<std::size_t>(sqlite3_column_bytes(select.get(), 1)));
    entry.storedAt = sqlite3_column_int64(select.get(), 2);
    entries.push_back(std::move(entry));
  }
  return entries;
}

void Outbox::Remove(std::int64_t id) {
  const Statement remove = Prepare(db_.get(), "DELETE FROM outbox WHERE id = ? RETURNING length(body)");
  sqlite3_bind_int64(remove.get(), 1, id);
  if (!StepRow(db_.get(), remove.get())) return;
  const std::int64_t size = sqlite3_column_int64(remove.get(), 0);
  while (StepRow(db_.get(), remove.get())) {
  }
  --counts_.waiting;
  counts_.bytes -= size;
  NoteFull(counts_.waiting >= limits_.entries || counts_.bytes >= limits_.bytes);
}

void Outbox::MoveToFailed(std::int64_t id, const std::string& error) {
  const Statement move = Prepare(db_.get(),
                                 "INSERT INTO failed(id, queue, body, stored_at, failed_at, error)"
                                 " SELECT id, queue, body, stored_at, ?, ? FROM outbox WHERE id = ?");
  sqlite3_bind_int64(move.get(), 1, std::time(nullptr));
  Bind(move.get(), 2, error);
  sqlite3_bind_int64(move.get(), 3, id);
  Exec("BEGIN IMMEDIATE");
  try {
    StepRow(db_.get(), move.get());
    const bool moved = sqlite3_changes(db_.get()) > 0;
    if (moved) ++counts_.failed;
    Exec("COMMIT");
    if (!moved) return;
  } catch (...) {
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    Recount();
    throw;
  }
  Remove(id);
}

std::int64_t Outbox::RetryFailed() {
  Exec("BEGIN IMMEDIATE");
  try {
    const Statement back = Prepare(db_.get(),
                                   "INSERT INTO outbox(id, queue, body, stored_at)"
                                   " SELECT id, queue, body, stored_at FROM failed WHERE queue = ?");
    Bind(back.get(), 1, queue_);
    StepRow(db_.get(), back.get());
    const std::int64_t moved = sqlite3_changes(db_.get());
    const Statement clear = Prepare(db_.get(), "DELETE FROM failed WHERE queue = ?");
    Bind(clear.get(), 1, queue_);
    StepRow(db_.get(), clear.get());
    Exec("COMMIT");
    Recount();
    return moved;
  } catch (...) {
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::int64_t Outbox::DiscardFailed() {
  const Statement clear = Prepare(db_.get(), "DELETE FROM failed WHERE queue = ?");
  Bind(clear.get(), 1, queue_);
  StepRow(db_.get(), clear.get());
  const std::int64_t discarded = sqlite3_changes(db_.get());
  counts_.failed = 0;
  return discarded;
}
