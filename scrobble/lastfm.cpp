#include "scrobble/lastfm.h"

#include <nlohmann/json.hpp>

#include "scrobble/md5.h"
#include "scrobble/service_text.h"

using nlohmann::json;

namespace {

void AddListen(LastFmParams& params, const Listen& listen, const std::string& suffix) {
  params["artist" + suffix] = WithoutNul(listen.artist);
  params["track" + suffix] = WithoutNul(listen.track);
  if (!listen.album.empty()) params["album" + suffix] = WithoutNul(listen.album);
  if (listen.lengthS > 0) params["duration" + suffix] = std::to_string(listen.lengthS);
}

// The error code and message of an answer's body, 0 when it has none.
int ErrorCode(const json& body, std::string& message) {
  if (!body.is_object() || !body.contains("error") || !body["error"].is_number_integer()) return 0;
  message = body.value("message", "");
  return body["error"].get<int>();
}

json Parsed(const HttpResponse& response) { return json::parse(response.body, nullptr, false); }

}  // namespace

std::string LastFmSignature(const LastFmParams& params, const std::string& secret) {
  std::string joined;
  for (const auto& [name, value] : params)
    if (name != "format" && name != "callback") joined += name + value;
  return Md5Hex(joined + secret);
}

HttpRequest LastFmRequest(const LastFmTarget& target, LastFmParams params) {
  params["api_key"] = target.apiKey;
  params["api_sig"] = LastFmSignature(params, target.secret);
  params["format"] = "json";
  std::string body;
  for (const auto& [name, value] : params)
    body += (body.empty() ? "" : "&") + FormEncoded(name) + "=" + FormEncoded(value);
  return {target.api, {}, "application/x-www-form-urlencoded; charset=UTF-8", std::move(body)};
}

LastFmParams LastFmScrobbleParams(const std::vector<Listen>& listens) {
  LastFmParams params{{"method", "track.scrobble"}};
  for (std::size_t i = 0; i < listens.size(); ++i) {
    const std::string suffix = "[" + std::to_string(i) + "]";
    AddListen(params, listens[i], suffix);
    params["timestamp" + suffix] = std::to_string(listens[i].listenedAt);
  }
  return params;
}

LastFmParams LastFmNowPlayingParams(const Listen& listen) {
  LastFmParams params{{"method", "track.updateNowPlaying"}};
  AddListen(params, listen, "");
  return params;
}

HttpRequest LastFmGetToken(const LastFmTarget& target) {
  return LastFmRequest(target, {{"method", "auth.getToken"}});
}

std::optional<std::string> LastFmToken(const HttpResponse& response, std::string& error) {
  if (JudgeLastFm(response, error) != Verdict::Ok) return std::nullopt;
  const json body = Parsed(response);
  if (body.is_object() && body.contains("token") && body["token"].is_string())
    return body["token"].get<std::string>();
  error = "Last.fm's answer holds no token";
  return std::nullopt;
}

std::string LastFmAuthUrl(const std::string& apiKey, const std::string& token) {
  return std::string(kLastFmAuthPage) + "?api_key=" + FormEncoded(apiKey) + "&token=" + FormEncoded(token);
}

HttpRequest LastFmGetSession(const LastFmTarget& target, const std::string& token) {
  return LastFmRequest(target, {{"method", "auth.getSession"}, {"token", token}});
}

std::optional<std::string> LastFmSessionKey(const HttpResponse& response, std::string& error) {
  if (JudgeLastFm(response, error) != Verdict::Ok) return std::nullopt;
  const json body = Parsed(response);
  if (body.is_object() && body.contains("session") && body["session"].is_object() &&
      body["session"].contains("key") && body["session"]["key"].is_string())
    return body["session"]["key"].get<std::string>();
  error = "Last.fm's answer holds no session key";
  return std::nullopt;
}

Verdict JudgeLastFm(const HttpResponse& response, std::string& error) {
  if (response.status == 0) {
    error = "no answer from Last.fm (" + response.error + ")";
    return Verdict::Transient;
  }
  std::string message;
  const int code = ErrorCode(Parsed(response), message);
  if (code == 0 && response.status >= 200 && response.status < 300) return Verdict::Ok;
  error = "Last.fm answered " + std::to_string(response.status);
  if (code != 0) error += ", error " + std::to_string(code) + (message.empty() ? "" : ": " + message);
  switch (code) {
    case 4:   // authentication failed
    case 9:   // invalid session key
    case 10:  // invalid API key
    case 13:  // invalid signature: the secret does not belong to the key
    case 14:  // token not authorised
    case 15:  // token expired
    case 26:  // API key suspended
      return Verdict::Unauthorized;
    case 8:   // operation failed
    case 11:  // service offline
    case 16:  // temporarily unavailable
    case 29:  // rate limit exceeded
      return Verdict::Transient;
    case 0:
      break;
    default:
      return Verdict::Bad;
  }
  if (response.status == 401 || response.status == 403) return Verdict::Unauthorized;
  if (response.status == 429 || response.status >= 500) return Verdict::Transient;
  return response.status >= 400 ? Verdict::Bad : Verdict::Transient;
}

void LastFmService::SetTarget(const LastFmTarget& target) {
  const std::lock_guard<std::mutex> hold(lock_);
  target_ = target;
}

LastFmTarget LastFmService::Target() {
  const std::lock_guard<std::mutex> hold(lock_);
  return target_;
}

std::string LastFmService::MissingSettings() {
  const LastFmTarget target = Target();
  if (target.apiKey.empty() || target.secret.empty())
    return "no Last.fm API key and secret are set: enter your API account's key and secret in the "
           "Scrobbling tab and save";
  if (target.sessionKey.empty()) return "Last.fm is not signed in: press \"Sign in\" in the Scrobbling tab";
  return {};
}

std::string LastFmService::WhatToDoWhenRefused() {
  return "check the API key and secret in the Scrobbling tab, sign in to Last.fm again there and save";
}

HttpRequest LastFmService::Submit(const std::vector<Listen>& listens) {
  const LastFmTarget target = Target();
  LastFmParams params = LastFmScrobbleParams(listens);
  params["sk"] = target.sessionKey;
  return LastFmRequest(target, std::move(params));
}

HttpRequest LastFmService::NowPlaying(const Listen& listen) {
  const LastFmTarget target = Target();
  LastFmParams params = LastFmNowPlayingParams(listen);
  params["sk"] = target.sessionKey;
  return LastFmRequest(target, std::move(params));
}

std::vector<HistoryDestination::Result> LastFmService::PerListen(const HttpResponse& response,
                                                                 std::size_t count) {
  // {"scrobbles":{"scrobble":[...] or {...} for one,...}}: a play the service ignored says why.
  std::vector<Result> results(count);
  const json body = Parsed(response);
  if (!body.is_object() || !body.contains("scrobbles") || !body["scrobbles"].is_object()) return results;
  json scrobbles = body["scrobbles"].value("scrobble", json());
  if (scrobbles.is_object()) scrobbles = json::array({scrobbles});
  if (!scrobbles.is_array()) return results;
  for (std::size_t i = 0; i < count && i < scrobbles.size(); ++i) {
    const json& ignored = scrobbles[i].value("ignoredMessage", json());
    if (!ignored.is_object()) continue;
    // The code comes as a string or as a number.
    const json& given = ignored.value("code", json("0"));
    const std::string code = given.is_string() ? given.get<std::string>() : given.dump();
    if (code == "0") continue;
    const std::string why =
        "Last.fm ignored the play (code " + code + ": " + ignored.value("#text", "") + ")";
    // 5: the daily limit, which passes, so this play and those after it wait; every other reason
    // is the play's own.
    if (code == "5") {
      results.resize(i);
      results.push_back({Outcome::Retry, why});
      break;
    }
    results[i] = {Outcome::Refused, why};
  }
  return results;
}
