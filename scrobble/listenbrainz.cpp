#include "scrobble/listenbrainz.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "scrobble/service_text.h"

using nlohmann::json;

namespace {

std::string Dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

json ListenJson(std::string artist, std::string track, std::string album, const Listen& listen,
                bool withTime) {
  json metadata{{"artist_name", artist}, {"track_name", track}};
  if (!album.empty()) metadata["release_name"] = album;
  json info{{"media_player", "Winamp"},
            {"submission_client", "Skorrel"},
            {"submission_client_version", SkorrelVersion()}};
  if (listen.lengthS > 0) info["duration_ms"] = listen.lengthS * 1000;
  metadata["additional_info"] = std::move(info);
  json result{{"track_metadata", std::move(metadata)}};
  if (withTime) result["listened_at"] = listen.listenedAt;
  return result;
}

// Tags as long as the player gives them would make a listen the service refuses: the longest text
// loses a quarter until the listen fits.
json FittedListen(const Listen& listen, bool withTime) {
  std::string texts[3] = {WithoutNul(listen.artist), WithoutNul(listen.track), WithoutNul(listen.album)};
  for (;;) {
    json result = ListenJson(texts[0], texts[1], texts[2], listen, withTime);
    if (Dump(result).size() < kListenBrainzMaxListenBytes) return result;
    std::string& longest = *std::max_element(
        std::begin(texts), std::end(texts), [](const auto& a, const auto& b) { return a.size() < b.size(); });
    longest = Utf8Prefix(longest, longest.size() * 3 / 4);
  }
}

}  // namespace

std::string ListenBrainzPayload(std::string_view listenType, const std::vector<Listen>& listens) {
  const bool withTime = listenType != "playing_now";
  json payload = json::array();
  for (const Listen& listen : listens) payload.push_back(FittedListen(listen, withTime));
  return Dump(json{{"listen_type", listenType}, {"payload", std::move(payload)}});
}

std::string ListenBrainzSubmitUrl(const std::string& api) {
  return WithoutTrailingSlashes(api) + "/1/submit-listens";
}

void ListenBrainzService::SetTarget(const ListenBrainzTarget& target) {
  const std::lock_guard<std::mutex> hold(lock_);
  target_ = target;
}

ListenBrainzTarget ListenBrainzService::Target() {
  const std::lock_guard<std::mutex> hold(lock_);
  return target_;
}

std::string ListenBrainzService::MissingSettings() {
  return Target().token.empty() ? "no ListenBrainz token is set: " + WhatToDoWhenRefused() : std::string();
}

std::string ListenBrainzService::WhatToDoWhenRefused() {
  return "copy the user token from your ListenBrainz settings page into the Scrobbling tab and save";
}

HttpRequest ListenBrainzService::Request(std::string payload) {
  const ListenBrainzTarget target = Target();
  return {ListenBrainzSubmitUrl(target.api),
          {{"Authorization", "Token " + target.token}},
          "application/json",
          std::move(payload)};
}

HttpRequest ListenBrainzService::Submit(const std::vector<Listen>& listens) {
  return Request(ListenBrainzPayload(listens.size() == 1 ? "single" : "import", listens));
}

HttpRequest ListenBrainzService::NowPlaying(const Listen& listen) {
  return Request(ListenBrainzPayload("playing_now", {listen}));
}

Verdict ListenBrainzService::Judge(const HttpResponse& response, std::string& error) {
  if (response.status == 0) {
    error = "no answer from ListenBrainz (" + response.error + ")";
    return Verdict::Transient;
  }
  if (response.status >= 200 && response.status < 300) return Verdict::Ok;
  // The service's error bodies are {"code": N, "error": "..."}.
  const json body = json::parse(response.body, nullptr, false);
  error = "ListenBrainz answered " + std::to_string(response.status);
  if (body.is_object() && body.contains("error") && body["error"].is_string())
    error += ": " + body["error"].get<std::string>();
  if (response.status == 401) return Verdict::Unauthorized;
  if (response.status == 429 || response.status >= 500) return Verdict::Transient;
  return response.status >= 400 ? Verdict::Bad : Verdict::Transient;
}
