#pragma once
// Discord's "Listening to" presence over its local RPC pipe: the frames, the JSON, and one
// long-lived worker that owns the pipe, so the player's window thread never waits on it.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/sync.h"
#include "runtime/worker.h"

enum DiscordOpcode : std::uint32_t { kHandshake = 0, kFrame = 1, kClose = 2, kPing = 3, kPong = 4 };

struct DiscordFrame {
  std::uint32_t opcode = kFrame;
  std::string json;
};

// Little-endian opcode, little-endian length, then the JSON.
std::string EncodeDiscordFrame(std::uint32_t opcode, std::string_view json);
// Takes one whole frame off the front of buffer; false while buffer holds less than one.
bool DecodeDiscordFrame(std::string& buffer, DiscordFrame& frame);

struct DiscordActivity {
  std::string title, artist;
  std::int64_t startMs = 0;           // Unix milliseconds
  std::optional<std::int64_t> endMs;  // left out when the length is unknown
};

// Discord takes a details or state of 2 to 128 characters: a longer text is cut on a character
// boundary, a shorter one gives empty (left out).
std::string DiscordText(std::string_view utf8);
std::string DiscordHandshake(const std::string& clientId);
// SET_ACTIVITY; without an activity it clears the presence.
std::string DiscordSetActivity(std::uint32_t pid, const std::optional<DiscordActivity>& activity,
                               const std::string& nonce);

// One open pipe to Discord.
class DiscordConnection {
 public:
  enum class Read { Frame, Woken, Broken };
  virtual ~DiscordConnection() = default;
  // False when the pipe broke.
  virtual bool Send(const std::string& bytes) = 0;
  // Waits for the next frame, or until DiscordPipes::Wake.
  virtual Read Receive(DiscordFrame& frame) = 0;
};

// What the worker needs of the system.
class DiscordPipes {
 public:
  virtual ~DiscordPipes() = default;
  // The first of Discord's pipes that opens; null when none does (Discord is not running).
  virtual std::unique_ptr<DiscordConnection> Open() = 0;
  // Wakes a Receive now or next.
  virtual void Wake() = 0;
  virtual std::uint32_t ProcessId() = 0;
};

class DiscordPresence {
 public:
  // Discord not found is looked for again after retryFirst, doubling to a minute.
  explicit DiscordPresence(DiscordPipes& pipes,
                           std::chrono::milliseconds retryFirst = std::chrono::seconds(5))
      : pipes_(pipes), retryFirst_(retryFirst) {}
  DiscordPresence(const DiscordPresence&) = delete;
  DiscordPresence& operator=(const DiscordPresence&) = delete;

  // Hand over the latest presence and return at once. Show connects when no pipe is open.
  void Show(const std::string& clientId, const DiscordActivity& activity);
  void Clear();
  // Sends a pending clear if connected, closes the pipe and waits for the worker, at most limit: a
  // worker stuck in a system call ends by itself later. False then.
  bool Stop(std::chrono::milliseconds limit);

 private:
  struct Wanted {
    std::string clientId;
    std::optional<DiscordActivity> activity;
    std::uint64_t version = 0;
    bool connect = false;
    bool stopping = false;
    bool looked = true;   // the worker has read these since the last wake
    bool onPipe = false;  // the worker waits on the pipe, so a wake goes through the pipe's wait
  };
  void Update(const std::string* clientId, const std::optional<DiscordActivity>& activity, bool connect);
  void Run() noexcept;
  void Serve();
  std::unique_ptr<DiscordConnection> Connect(const std::string& clientId);
  // Lets a burst of changes settle; the version it ended at.
  std::uint64_t Settle();
  // False when a change or a stop came since the last look: the worker looks again instead.
  bool EnterPipeWait();
  // Handles a frame from Discord; false when Discord closed the connection.
  bool Handle(DiscordConnection& pipe, const DiscordFrame& frame);

  DiscordPipes& pipes_;
  const std::chrono::milliseconds retryFirst_;
  HandOffMutex lock_;
  // Wakes the worker while it waits anywhere but on the pipe: cheaper for the window thread than the
  // pipe's wake.
  HandOffCondition changed_;
  Wanted wanted_;
  BoundedWorker worker_;
  bool started_ = false;  // the window thread's: a worker was started and not seen to end
  // The worker's own state.
  std::string inFlight_;  // the nonce of the command awaiting its answer
  std::uint64_t nonces_ = 0;
  bool saidNotRunning_ = false;
};
