#pragma once
// Album covers for Discord's presence: the look-up requests and answers, and one look-up thread
// with the session's answers, so that a playlist of one album asks once and the presence's
// worker never waits on the network.
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "runtime/sync.h"
#include "runtime/worker.h"
#include "scrobble/http.h"

// The services' roots, from settings hidden from the dialog.
struct CoverRoots {
  std::string itunesApi, coverArtArchiveApi;
};

struct CoverQuery : CoverRoots {
  std::string artist, album, releaseId;  // releaseId: the MusicBrainz release, may be empty
};

std::string ItunesSearchUrl(const CoverQuery& query);
// The album's artwork raised to 512 pixels, or empty when the answer holds none.
std::string ItunesArtwork(const HttpResponse& response);
std::string CoverArtArchiveUrl(const CoverQuery& query);

class CoverArt {
 public:
  // arrived is called on the look-up thread after each look-up ends.
  CoverArt(std::shared_ptr<HttpClient> http, std::function<void()> arrived)
      : http_(std::move(http)), arrived_(std::move(arrived)) {}
  CoverArt(const CoverArt&) = delete;
  CoverArt& operator=(const CoverArt&) = delete;

  // The album's cover URL, empty when it has none; nothing yet while it is looked up, which the
  // first ask starts.
  std::optional<std::string> Find(const CoverQuery& query);
  // After a Stop: looks up again.
  void Resume();
  // Cancels the look-up under way and waits for the thread at most limit. False when it still runs.
  bool Stop(std::chrono::milliseconds limit);

 private:
  using Key = std::pair<std::string, std::string>;  // artist and album
  void Run() noexcept;
  std::string LookUp(const CoverQuery& query);

  std::shared_ptr<HttpClient> http_;
  std::function<void()> arrived_;
  HandOffMutex lock_;
  HandOffCondition asked_;
  std::map<Key, std::string> known_;
  std::optional<CoverQuery> next_;  // the latest asked; only one waits
  std::optional<Key> looking_;
  bool stopping_ = false;
  BoundedWorker worker_;
};
