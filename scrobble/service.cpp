#include "scrobble/service.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <utility>

#ifndef SKORREL_VERSION
#error "SKORREL_VERSION is set by the build"
#endif

const char* SkorrelVersion() { return SKORREL_VERSION; }

std::string SkorrelUserAgent() { return std::string("Skorrel/") + SKORREL_VERSION + " ( " SKORREL_URL " )"; }

namespace {

// Whole seconds in a header; none for a missing or unreadable one. An HTTP date in Retry-After
// reads as none, and the back-off serves instead.
std::optional<long long> Seconds(const HttpResponse& response, const char* name) {
  const std::string* text = response.Header(name);
  if (!text) return std::nullopt;
  long long value = 0;
  const char* begin = text->data();
  const char* const last = begin + text->size();
  while (begin != last && *begin == ' ') ++begin;
  const auto [end, error] = std::from_chars(begin, last, value);
  if (error != std::errc() || end == begin || value < 0) return std::nullopt;
  // A service that asks for more than an hour is asked again after one.
  return std::min(value, 3600LL);
}

}  // namespace

void RequestPace::After(const HttpResponse& response, Clock::time_point now) {
  using std::chrono::seconds;
  next_ = now + gap_;
  if (const auto after = Seconds(response, "retry-after")) next_ = std::max(next_, now + seconds(*after));
  const auto remaining = Seconds(response, "x-ratelimit-remaining");
  const auto resetIn = Seconds(response, "x-ratelimit-reset-in");
  if (remaining && *remaining == 0 && resetIn) next_ = std::max(next_, now + seconds(*resetIn));
}

ScrobbleService::ScrobbleService(std::shared_ptr<HttpClient> http, std::size_t maxBatch,
                                 std::chrono::milliseconds gap)
    : http_(std::move(http)), maxBatch_(maxBatch), pace_(gap) {}

HistoryDestination::Result ScrobbleService::Send(const OutboxEntry& entry) {
  const std::vector<Result> results = SendBatch({entry});
  return results.empty() ? Result{Outcome::Retry, "no answer"} : results.front();
}

std::vector<ScrobbleService::Result> ScrobbleService::PerListen(const HttpResponse&, std::size_t count) {
  return std::vector<Result>(count);
}

std::vector<HistoryDestination::Result> ScrobbleService::SendBatch(const std::vector<OutboxEntry>& entries) {
  // The plays up to the first entry that is not one, which is refused on its own turn.
  std::vector<Listen> listens;
  for (const OutboxEntry& entry : entries) {
    std::optional<Listen> listen = ParseListenBody(entry.body);
    if (!listen) break;
    listens.push_back(std::move(*listen));
  }
  if (listens.empty()) return {{Outcome::Refused, "the entry is not a play"}};
  if (const std::string missing = MissingSettings(); !missing.empty()) return {{Outcome::Halt, missing}};

  const HttpResponse response = http_->Post(Submit(listens));
  pace_.After(response, RequestPace::Clock::now());
  std::string error;
  const Verdict verdict = Judge(response, error);
  std::vector<Result> results;
  switch (verdict) {
    case Verdict::Ok:
      results = PerListen(response, listens.size());
      break;
    case Verdict::Transient:
      return {{Outcome::Retry, error}};
    case Verdict::Unauthorized:
      return {{Outcome::Halt, error + ": " + WhatToDoWhenRefused()}};
    case Verdict::Bad:
      if (listens.size() > 1) {
        // One bad play refuses the whole batch: the plays go one by one, so only that one fails.
        oneAtATime_ = listens.size();
        return {};
      }
      results = {{Outcome::Refused, error}};
      break;
  }
  oneAtATime_ -= std::min(oneAtATime_, results.size());
  return results;
}

void ScrobbleService::SendLive(const std::string& body) {
  const std::optional<Listen> listen = ParseListenBody(body);
  if (!listen || !MissingSettings().empty()) return;
  pace_.After(http_->Post(NowPlaying(*listen)), RequestPace::Clock::now());
}
