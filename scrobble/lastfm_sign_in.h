#pragma once
// The desktop sign-in's two requests, each on a thread of its own so that the dialog's window
// thread never waits on the network: auth.getToken gives the page the user's browser opens, and
// auth.getSession, once the user has allowed the application there, the session key.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "scrobble/lastfm.h"

class LastFmSignIn {
 public:
  struct Outcome {
    std::string authUrl;     // after the token: the page to open
    std::string sessionKey;  // after the session
    std::string error;       // why the step failed; then both are empty
  };

  // finished is called on the request's thread when a step has its outcome.
  LastFmSignIn(std::shared_ptr<HttpClient> http, std::function<void()> finished);
  // Gives up the request in flight and waits for its thread.
  ~LastFmSignIn();
  LastFmSignIn(const LastFmSignIn&) = delete;
  LastFmSignIn& operator=(const LastFmSignIn&) = delete;

  // From the window thread; false while a step is still running.
  bool GetToken(const LastFmTarget& target);
  // With the token of the last GetToken; false without one, or while a step runs.
  bool GetSession(const LastFmTarget& target);
  // The outcome of the step that finished, once.
  std::optional<Outcome> Take();

 private:
  bool Run(std::function<Outcome()> step);

  std::shared_ptr<HttpClient> http_;
  std::function<void()> finished_;
  std::mutex lock_;
  std::optional<Outcome> outcome_;
  std::string token_;
  bool running_ = false;
  std::thread thread_;
};
