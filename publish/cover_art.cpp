#include "publish/cover_art.h"

#include <nlohmann/json.hpp>

#include "diag/globals.h"
#include "scrobble/service_text.h"

namespace {

// How often Stop cancels while it waits: a cancel that comes just before the request is opened
// finds nothing to close.
constexpr std::chrono::milliseconds kCancelAgain{20};

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.rfind(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

}  // namespace

std::string ItunesSearchUrl(const CoverQuery& query) {
  std::string term;
  for (const char c : query.artist + " " + query.album)
    term += c == ' ' ? std::string("+") : FormEncoded(std::string_view(&c, 1));
  return WithoutTrailingSlashes(query.itunesApi) + "/search?term=" + term + "&entity=album&limit=1";
}

std::string ItunesArtwork(const HttpResponse& response) {
  if (response.status != 200) return {};
  const nlohmann::json answer = nlohmann::json::parse(response.body, nullptr, false);
  if (!answer.is_object() || !answer.contains("results") || !answer["results"].is_array() ||
      answer["results"].empty())
    return {};
  const nlohmann::json& first = answer["results"][0];
  if (!first.is_object() || !first.contains("artworkUrl100") || !first["artworkUrl100"].is_string())
    return {};
  const std::string url = first["artworkUrl100"].get<std::string>();
  // Only a web address is a picture Discord can fetch.
  if (url.rfind("https://", 0) != 0 && url.rfind("http://", 0) != 0) return {};
  return Replaced(url, "100x100", "512x512");
}

std::string CoverArtArchiveUrl(const CoverQuery& query) {
  return WithoutTrailingSlashes(query.coverArtArchiveApi) + "/release/" + FormEncoded(query.releaseId) +
         "/front-500";
}

std::optional<std::string> CoverArt::Find(const CoverQuery& query) {
  if (query.album.empty()) return std::string();
  Key key{query.artist, query.album};
  {
    const std::lock_guard<HandOffMutex> hold(lock_);
    if (const auto found = known_.find(key); found != known_.end()) return found->second;
    if (stopping_ || looking_ == key || (next_ && next_->artist == key.first && next_->album == key.second))
      return std::nullopt;
    next_ = query;
  }
  worker_.Start([this] { Run(); });
  asked_.notify_one();
  return std::nullopt;
}

void CoverArt::Resume() {
  const std::lock_guard<HandOffMutex> hold(lock_);
  stopping_ = false;
}

bool CoverArt::Stop(std::chrono::milliseconds limit) {
  {
    const std::lock_guard<HandOffMutex> hold(lock_);
    stopping_ = true;
    next_.reset();
  }
  asked_.notify_one();
  const auto until = std::chrono::steady_clock::now() + limit;
  for (;;) {
    http_->Cancel();
    const std::chrono::milliseconds left = LeftUntil(until);
    if (worker_.WaitEnded(std::min(left, kCancelAgain))) return true;
    if (left <= kCancelAgain) return false;
  }
}

void CoverArt::Run() noexcept {
  try {
    for (;;) {
      CoverQuery query;
      {
        std::unique_lock<HandOffMutex> hold(lock_);
        asked_.wait(hold, [&] { return stopping_ || next_.has_value(); });
        if (stopping_) break;
        query = std::move(*next_);
        next_.reset();
        looking_ = Key{query.artist, query.album};
      }
      std::string cover = LookUp(query);
      {
        const std::lock_guard<HandOffMutex> hold(lock_);
        looking_.reset();
        // A cancelled look-up is no answer: the next session asks again.
        if (stopping_) break;
        known_[Key{query.artist, query.album}] = std::move(cover);
      }
      arrived_();
    }
  } catch (const std::exception& e) {
    LogDebug(std::string("Discord: the cover look-up stopped on an unexpected error: ") + e.what());
  } catch (...) {
    LogDebug("Discord: the cover look-up stopped on an unexpected error");
  }
  http_->Release();
}

std::string CoverArt::LookUp(const CoverQuery& query) {
  // The release the track names is the exact cover; the search finds the album by its names.
  if (!query.releaseId.empty()) {
    const std::string url = CoverArtArchiveUrl(query);
    const HttpResponse answer = http_->Get(url);
    if (answer.status == 200 || (answer.status >= 300 && answer.status < 400)) return url;
  }
  const HttpResponse answer = http_->Get(ItunesSearchUrl(query));
  if (answer.status == 0) LogDebug("Discord: the album cover could not be looked up (" + answer.error + ")");
  return ItunesArtwork(answer);
}
