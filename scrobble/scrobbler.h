#pragma once
// Both scrobbling services as the shell drives them from the player's window thread: the play rule
// decides when a track counts, each counted play is handed to each active service's own sender
// and queue, and each track's start is told to each as what plays now, never queued.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "outbox/history_sender.h"
#include "scrobble/lastfm.h"
#include "scrobble/listenbrainz.h"
#include "scrobble/play_rule.h"

struct ScrobbleTargets {
  bool listenBrainzActive = false;
  ListenBrainzTarget listenBrainz;
  bool lastFmActive = false;
  LastFmTarget lastFm;
  std::string outboxPath;
};

class Scrobbler {
 public:
  // One HTTP client per service, each used on its own sender's thread.
  using MakeHttp = std::function<std::shared_ptr<HttpClient>()>;
  // gap: the least time between two requests to one service.
  Scrobbler(const MakeHttp& makeHttp, HistorySenderOptions options,
            std::chrono::milliseconds gap = std::chrono::seconds(1));

  // A track starts: the one before ends (and counts when it played long enough), and the active
  // services are told what plays now. With both off, nothing at all happens.
  void Start(const Listen& listen, std::uint32_t now, const ScrobbleTargets& targets);
  void Pause(std::uint32_t now) { rule_.Pause(now); }
  void Resume(std::uint32_t now) { rule_.Resume(now); }
  // Stop, end of file, an ignored file, quit.
  void End(std::uint32_t now, const ScrobbleTargets& targets);
  // At start-up and after a save: new settings, a halt ends and what waits is sent.
  void Apply(const ScrobbleTargets& targets);

  HistorySender& ListenBrainz() { return listenBrainzSender_; }
  HistorySender& LastFm() { return lastFmSender_; }
  // Both senders are asked to end side by side, waiting at most limit for both.
  bool Stop(std::chrono::milliseconds limit);

 private:
  void SetTargets(const ScrobbleTargets& targets);

  PlayRule rule_;
  std::optional<Listen> playing_;
  std::shared_ptr<ListenBrainzService> listenBrainz_;
  std::shared_ptr<LastFmService> lastFm_;
  HistorySender listenBrainzSender_;
  HistorySender lastFmSender_;
};
