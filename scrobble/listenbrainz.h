#pragma once
// ListenBrainz, and every history server that speaks its API (Maloja, Koito and others):
// POST {API}/1/submit-listens with the user's token.
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "scrobble/api_roots.h"
#include "scrobble/service.h"

struct ListenBrainzTarget {
  std::string token;
  std::string api = kListenBrainzDefaultApi;  // the API root, as the setting has it

  bool operator==(const ListenBrainzTarget&) const = default;
};

inline constexpr const char* kListenBrainzQueue = "listenbrainz";
inline constexpr std::size_t kListenBrainzBatch = 1000;
// The service refuses a listen longer than this.
inline constexpr std::size_t kListenBrainzMaxListenBytes = 10240;

// The body of a submission: "single" for one play, "import" for several, "playing_now" for one
// without its time. Every listen is under the size limit and free of NUL characters.
std::string ListenBrainzPayload(std::string_view listenType, const std::vector<Listen>& listens);
std::string ListenBrainzSubmitUrl(const std::string& api);

class ListenBrainzService final : public ScrobbleService {
 public:
  explicit ListenBrainzService(std::shared_ptr<HttpClient> http,
                               std::chrono::milliseconds gap = std::chrono::seconds(1))
      : ScrobbleService(std::move(http), kListenBrainzBatch, gap) {}
  // From any thread: what the next request is signed with and sent to.
  void SetTarget(const ListenBrainzTarget& target);

 private:
  ListenBrainzTarget Target();
  std::string MissingSettings() override;
  HttpRequest Submit(const std::vector<Listen>& listens) override;
  HttpRequest NowPlaying(const Listen& listen) override;
  Verdict Judge(const HttpResponse& response, std::string& error) override;
  std::string WhatToDoWhenRefused() override;
  HttpRequest Request(std::string payload);

  std::mutex lock_;
  ListenBrainzTarget target_;
};
