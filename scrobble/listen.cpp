#include "scrobble/listen.h"

#include <nlohmann/json.hpp>

using nlohmann::json;

std::string ListenBody(const Listen& listen) {
  const json body{{"artist", listen.artist},
                  {"track", listen.track},
                  {"album", listen.album},
                  {"length", listen.lengthS},
                  {"listened_at", listen.listenedAt},
                  {"playid", listen.playId}};
  return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<Listen> ParseListenBody(const std::string& body) {
  const json parsed = json::parse(body, nullptr, false);
  if (!parsed.is_object()) return std::nullopt;
  try {
    Listen listen;
    listen.artist = parsed.at("artist").get<std::string>();
    listen.track = parsed.at("track").get<std::string>();
    listen.album = parsed.value("album", "");
    listen.lengthS = parsed.value("length", 0LL);
    listen.listenedAt = parsed.at("listened_at").get<std::int64_t>();
    listen.playId = parsed.value("playid", "");
    return listen;
  } catch (const json::exception&) {
    return std::nullopt;
  }
}
