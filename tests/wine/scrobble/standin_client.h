#pragma once
// A stand-in of tools/scrobble_standin.py that with_standins.sh started, reached over WinHTTP.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "scrobble/http_win32.h"

namespace wine {

// One stand-in, told what to answer and asked what it accepted through its control addresses.
class Standin {
 public:
  explicit Standin(const char* portVariable) {
    const char* port = std::getenv(portVariable);
    root = port ? "http://127.0.0.1:" + std::string(port) : "";
  }
  bool Running() const { return !root.empty(); }
  void Reset() { Post("/_reset", ""); }
  void Answer(const std::string& lines) { Post("/_answer", lines); }
  // What it holds once count plays have been accepted (with plays false, now-playing notices
  // count too) and it has given scripted answers, or after timeoutS.
  nlohmann::json Wait(std::size_t count, int timeoutS = 30, bool plays = true, std::size_t scripted = 0) {
    return nlohmann::json::parse(
        Post("/_wait",
             nlohmann::json{{"count", count}, {"timeout", timeoutS}, {"plays", plays}, {"scripted", scripted}}
                 .dump()));
  }
  // The titles of the plays it accepted, in order; with nowPlaying, of the now-playing notices.
  std::vector<std::string> Titles(std::size_t count, int timeoutS = 30, bool nowPlaying = false) {
    std::vector<std::string> titles;
    const nlohmann::json seen = Wait(count, timeoutS, !nowPlaying);
    for (const nlohmann::json& record : seen["accepted"])
      if (record["play"] != nowPlaying)
        titles.push_back(record.contains("track_metadata") ? record["track_metadata"]["track_name"]
                                                           : record["track"]);
    return titles;
  }
  // The plays it accepted, as it recorded them.
  nlohmann::json Plays() { return Wait(0, 0).at("accepted"); }

  std::string root;

 private:
  std::string Post(const std::string& path, const std::string& body) {
    WinHttpClient http;
    const HttpResponse response = http.Post({root + path, {}, "text/plain", body});
    EXPECT_EQ(response.status, 200) << path << ": " << response.error;
    return response.body;
  }
};

}  // namespace wine
