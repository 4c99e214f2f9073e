#pragma once
// Discord's "Listening to" presence over its local RPC pipe: the frames, the JSON, and one
// long-lived worker that owns the pipe, so the player's window thread never waits on it.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "publish/cover_art.h"
#include "publish/discord_shows.h"
#include "publish/send_pacer.h"
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
  std::string album, releaseId;       // for the cover; releaseId is the MusicBrainz release, if tagged
  std::int64_t startMs = 0;           // Unix milliseconds
  std::optional<std::int64_t> endMs;  // left out when the length is unknown
  DiscordShows shows = kDiscordShowsDefault;
};

// Discord takes a details or state of 2 to 128 characters, and some of its clients count bytes:
// a longer text is cut on a character boundary to fit 128 bytes of UTF-8, a one-character one
// (the band "X") is padded with a zero-width space, an empty one stays empty (left out).
std::string DiscordText(std::string_view utf8);
std::string DiscordHandshake(const std::string& clientId);
// SET_ACTIVITY; without an activity it clears the presence. A cover URL replaces the
// application's own image, with the album as its text.
std::string DiscordSetActivity(std::uint32_t pid, const std::optional<DiscordActivity>& activity,
                               const std::string& nonce, const std::string& coverUrl = {});

// One open pipe to Discord.
class DiscordConnection {
 public:
  enum class Read { Frame, Woken, Broken };
  static constexpr std::chrono::milliseconds kNoLimit = std::chrono::milliseconds::max();
  virtual ~DiscordConnection() = default;
  // False when the pipe broke.
  virtual bool Send(const std::string& bytes) = 0;
  // Waits for the next frame, until DiscordPipes::Wake, or at most limit (Woken then).
  virtual Read Receive(DiscordFrame& frame, std::chrono::milliseconds limit) = 0;
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

struct DiscordTiming {
  // Discord not found is looked for again after retryFirst, doubling to a minute.
  std::chrono::milliseconds retryFirst{5000};
  // Discord drops presence changes beyond about 5 in 20 s.
  std::size_t most = 5;
  std::chrono::milliseconds window{20000};
  // The longest a cover look-up holds a presence back; it follows when it comes.
  std::chrono::milliseconds coverWait{2000};
  std::function<SendPacer::Clock::time_point()> now = &SendPacer::Clock::now;
};

class DiscordPresence {
 public:
  // covers looks up album covers, on a thread of the presence's own.
  DiscordPresence(DiscordPipes& pipes, std::shared_ptr<HttpClient> covers, DiscordTiming timing = {})
      : pipes_(pipes),
        timing_(std::move(timing)),
        covers_(std::move(covers), [this] { Look(); }),
        pacer_(timing_.most, timing_.window) {}
  DiscordPresence(const DiscordPresence&) = delete;
  DiscordPresence& operator=(const DiscordPresence&) = delete;

  // Hand over the latest presence and return at once. Show connects when no pipe is open. With
  // roots, the album's cover is looked up there.
  void Show(const std::string& clientId, const DiscordActivity& activity,
            const std::optional<CoverRoots>& roots = std::nullopt);
  void Clear();
  // Sends a pending clear if connected, closes the pipe and waits for the worker, at most limit: a
  // worker stuck in a system call ends by itself later. False then.
  bool Stop(std::chrono::milliseconds limit);

 private:
  struct Wanted {
    std::string clientId;
    std::optional<DiscordActivity> activity;
    std::optional<CoverRoots> covers;
    std::uint64_t version = 0;
    bool connect = false;
    bool stopping = false;
    bool looked = true;   // the worker has read these since the last wake
    bool onPipe = false;  // the worker waits on the pipe, so a wake goes through the pipe's wait
  };
  void Update(const std::string* clientId, const std::optional<DiscordActivity>& activity,
              const std::optional<CoverRoots>& covers, bool connect);
  // Has the worker look at the wanted state again (a cover came).
  void Look();
  // The cover of what is wanted: "" for none, nothing while it is looked up.
  std::optional<std::string> Cover(const Wanted& now);
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
  const DiscordTiming timing_;
  CoverArt covers_;
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
  SendPacer pacer_;
  bool saidNotRunning_ = false;
};
