#pragma once
// One play as both services' queues store it: the tags it was played with and when, so that a
// backlog sent after a restart says what the play said.
#include <cstdint>
#include <optional>
#include <string>

struct Listen {
  std::string artist, track, album;  // UTF-8; album empty when the track has none
  long long lengthS = 0;             // 0 when unknown
  std::int64_t listenedAt = 0;       // %listened_at%: Unix seconds of the play's start
  std::string playId;                // %playid%

  bool operator==(const Listen&) const = default;
};

std::string ListenBody(const Listen& listen);
// None for a body that is not one (a damaged or foreign entry).
std::optional<Listen> ParseListenBody(const std::string& body);
