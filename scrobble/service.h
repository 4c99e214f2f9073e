#pragma once
// What the two scrobbling services share: the plays a request carries, the rate limits, what an
// answer means for the queue, and what is playing now, all on the outbox's sender thread.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "outbox/history_sender.h"
#include "scrobble/http.h"
#include "scrobble/listen.h"

// "Skorrel/VERSION ( project address )", as both services ask a client to name itself.
std::string SkorrelUserAgent();
const char* SkorrelVersion();

// At most one request a second, and longer when the service says so: Retry-After, or
// X-RateLimit-Remaining 0 with X-RateLimit-Reset-In.
class RequestPace {
 public:
  using Clock = std::chrono::steady_clock;
  explicit RequestPace(std::chrono::milliseconds gap = std::chrono::seconds(1)) : gap_(gap) {}
  void After(const HttpResponse& response, Clock::time_point now);
  Clock::time_point Next() const { return next_; }

 private:
  std::chrono::milliseconds gap_;
  Clock::time_point next_{};
};

// What an answer means, before any per-play detail.
enum class Verdict {
  Ok,
  Transient,     // no answer, 429, 5xx: the plays wait and are tried again
  Unauthorized,  // the token, key or session refused: nothing is sent until the settings are saved
  Bad,           // the request refused: the play goes to the failed list
};

class ScrobbleService : public HistoryDestination {
 public:
  // gap: the least time between two requests.
  ScrobbleService(std::shared_ptr<HttpClient> http, std::size_t maxBatch, std::chrono::milliseconds gap);

  Result Send(const OutboxEntry& entry) override;
  std::size_t BatchSize() override { return oneAtATime_ > 0 ? 1 : maxBatch_; }
  std::vector<Result> SendBatch(const std::vector<OutboxEntry>& entries) override;
  void SendLive(const std::string& body) override;
  std::chrono::steady_clock::time_point NotBefore() override { return pace_.Next(); }
  void Cancel() override { http_->Cancel(); }
  void Idle() override {}
  void End() override { http_->Release(); }

 protected:
  // Empty when the settings cannot sign a request yet; then why, in words that say what to do.
  virtual std::string MissingSettings() = 0;
  virtual HttpRequest Submit(const std::vector<Listen>& listens) = 0;
  virtual HttpRequest NowPlaying(const Listen& listen) = 0;
  // error: what the service said, for the log and the failed list.
  virtual Verdict Judge(const HttpResponse& response, std::string& error) = 0;
  // After an Ok: each play's own outcome, where the service answers per play.
  virtual std::vector<Result> PerListen(const HttpResponse& response, std::size_t count);
  // What the user does about a refused token or key.
  virtual std::string WhatToDoWhenRefused() = 0;

 private:
  std::shared_ptr<HttpClient> http_;
  const std::size_t maxBatch_;
  RequestPace pace_;
  // After a batch refused whole: how many plays go on their own to find the one refused.
  std::size_t oneAtATime_ = 0;
};
