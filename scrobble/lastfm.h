#pragma once
// Last.fm's 2.0 API: form-encoded UTF-8 POSTs signed with api_sig, the desktop sign-in
// (auth.getToken, the user's browser, auth.getSession), track.updateNowPlaying and
// track.scrobble with up to 50 plays a request.
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "scrobble/api_roots.h"
#include "scrobble/service.h"

struct LastFmTarget {
  std::string apiKey, secret, sessionKey;
  std::string api = kLastFmDefaultApi;

  bool operator==(const LastFmTarget&) const = default;
};

inline constexpr const char* kLastFmQueue = "lastfm";
inline constexpr std::size_t kLastFmBatch = 50;
inline constexpr const char* kLastFmAuthPage = "https://www.last.fm/api/auth/";

// Sorted by name in byte order, as the signature takes them: "artist[10]" before "artist[2]".
using LastFmParams = std::map<std::string, std::string>;

// MD5 of every parameter but format and callback, each name then its value, then the secret.
std::string LastFmSignature(const LastFmParams& params, const std::string& secret);
// The parameters with api_key, format=json and api_sig added, form-encoded for the API root.
HttpRequest LastFmRequest(const LastFmTarget& target, LastFmParams params);
LastFmParams LastFmScrobbleParams(const std::vector<Listen>& listens);
LastFmParams LastFmNowPlayingParams(const Listen& listen);

// The sign-in's three steps; each answer's value, or none with why in error.
HttpRequest LastFmGetToken(const LastFmTarget& target);
std::optional<std::string> LastFmToken(const HttpResponse& response, std::string& error);
std::string LastFmAuthUrl(const std::string& apiKey, const std::string& token);
HttpRequest LastFmGetSession(const LastFmTarget& target, const std::string& token);
std::optional<std::string> LastFmSessionKey(const HttpResponse& response, std::string& error);

// What an answer means; Last.fm gives its error codes in the body, with or without an HTTP error.
Verdict JudgeLastFm(const HttpResponse& response, std::string& error);

class LastFmService final : public ScrobbleService {
 public:
  explicit LastFmService(std::shared_ptr<HttpClient> http,
                         std::chrono::milliseconds gap = std::chrono::seconds(1))
      : ScrobbleService(std::move(http), kLastFmBatch, gap) {}
  void SetTarget(const LastFmTarget& target);

 private:
  LastFmTarget Target();
  std::string MissingSettings() override;
  HttpRequest Submit(const std::vector<Listen>& listens) override;
  HttpRequest NowPlaying(const Listen& listen) override;
  Verdict Judge(const HttpResponse& response, std::string& error) override {
    return JudgeLastFm(response, error);
  }
  std::vector<Result> PerListen(const HttpResponse& response, std::size_t count) override;
  std::string WhatToDoWhenRefused() override;

  std::mutex lock_;
  LastFmTarget target_;
};
