#include "scrobble/lastfm_sign_in.h"

#include <utility>

LastFmSignIn::LastFmSignIn(std::shared_ptr<HttpClient> http, std::function<void()> finished)
    : http_(std::move(http)), finished_(std::move(finished)) {}

LastFmSignIn::~LastFmSignIn() {
  http_->Cancel();
  if (thread_.joinable()) thread_.join();
}

bool LastFmSignIn::Run(std::function<Outcome()> step) {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    if (running_) return false;
    running_ = true;
    outcome_.reset();
  }
  if (thread_.joinable()) thread_.join();
  thread_ = std::thread([this, step = std::move(step)] {
    Outcome outcome;
    try {
      outcome = step();
    } catch (const std::exception& e) {
      outcome.error = e.what();
    } catch (...) {
      outcome.error = "the sign-in failed";
    }
    http_->Release();
    {
      const std::lock_guard<std::mutex> hold(lock_);
      outcome_ = std::move(outcome);
      running_ = false;
    }
    finished_();
  });
  return true;
}

bool LastFmSignIn::GetToken(const LastFmTarget& target) {
  return Run([this, target] {
    Outcome outcome;
    const std::optional<std::string> token = LastFmToken(http_->Post(LastFmGetToken(target)), outcome.error);
    if (!token) return outcome;
    {
      const std::lock_guard<std::mutex> hold(lock_);
      token_ = *token;
    }
    outcome.authUrl = LastFmAuthUrl(target.apiKey, *token);
    return outcome;
  });
}

bool LastFmSignIn::GetSession(const LastFmTarget& target) {
  std::string token;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    token = token_;
  }
  if (token.empty()) return false;
  return Run([this, target, token] {
    Outcome outcome;
    const std::optional<std::string> key =
        LastFmSessionKey(http_->Post(LastFmGetSession(target, token)), outcome.error);
    if (key) outcome.sessionKey = *key;
    return outcome;
  });
}

std::optional<LastFmSignIn::Outcome> LastFmSignIn::Take() {
  const std::lock_guard<std::mutex> hold(lock_);
  return std::exchange(outcome_, std::nullopt);
}
