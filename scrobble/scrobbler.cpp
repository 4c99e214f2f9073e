#include "scrobble/scrobbler.h"

#include <algorithm>
#include <utility>

#include "runtime/worker.h"

namespace {

HistorySenderOptions For(HistorySenderOptions options, const char* queue) {
  options.queue = queue;
  return options;
}

}  // namespace

Scrobbler::Scrobbler(const MakeHttp& makeHttp, HistorySenderOptions options, std::chrono::milliseconds gap)
    : listenBrainz_(std::make_shared<ListenBrainzService>(makeHttp(), gap)),
      lastFm_(std::make_shared<LastFmService>(makeHttp(), gap)),
      listenBrainzSender_(listenBrainz_, For(options, kListenBrainzQueue)),
      lastFmSender_(lastFm_, For(options, kLastFmQueue)) {}

void Scrobbler::SetTargets(const ScrobbleTargets& targets) {
  if (targets.listenBrainzActive) listenBrainz_->SetTarget(targets.listenBrainz);
  if (targets.lastFmActive) lastFm_->SetTarget(targets.lastFm);
}

void Scrobbler::Start(const Listen& listen, std::uint32_t now, const ScrobbleTargets& targets) {
  End(now, targets);
  if (!targets.listenBrainzActive && !targets.lastFmActive) return;
  SetTargets(targets);
  playing_ = listen;
  rule_.Start(listen.lengthS, now);
  const std::string body = ListenBody(listen);
  if (targets.listenBrainzActive) listenBrainzSender_.Live(body, targets.outboxPath);
  if (targets.lastFmActive) lastFmSender_.Live(body, targets.outboxPath);
}

void Scrobbler::End(std::uint32_t now, const ScrobbleTargets& targets) {
  if (!rule_.End(now) || !playing_) return;
  const std::string body = ListenBody(*std::exchange(playing_, std::nullopt));
  SetTargets(targets);
  if (targets.listenBrainzActive) listenBrainzSender_.Hand(body, targets.outboxPath);
  if (targets.lastFmActive) lastFmSender_.Hand(body, targets.outboxPath);
}

void Scrobbler::Apply(const ScrobbleTargets& targets) {
  SetTargets(targets);
  if (targets.listenBrainzActive) listenBrainzSender_.Resume(targets.outboxPath);
  if (targets.lastFmActive) lastFmSender_.Resume(targets.outboxPath);
}

bool Scrobbler::Stop(std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  const bool first = listenBrainzSender_.Stop(limit);
  return lastFmSender_.Stop(LeftUntil(until)) && first;
}
