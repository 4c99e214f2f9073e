#pragma once
// The one HTTP exchange the scrobbling services need, behind a seam: WinHTTP in the DLL, a test
// double natively, so the queue, the rules and the signing are tested without a network.
#include <map>
#include <string>
#include <utility>
#include <vector>

struct HttpRequest {
  std::string url;  // absolute, http:// or https://
  std::vector<std::pair<std::string, std::string>> headers;
  std::string contentType;
  std::string body;  // always POSTed
};

struct HttpResponse {
  int status = 0;  // 0: no answer (time-out, refused or lost connection, cancelled)
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  std::string error;  // why there was no answer

  const std::string* Header(const std::string& lowerName) const {
    const auto found = headers.find(lowerName);
    return found == headers.end() ? nullptr : &found->second;
  }
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // Blocks on the sender's thread, at most the client's time-outs.
  virtual HttpResponse Post(const HttpRequest& request) = 0;
  // A GET of url, as Post blocks. A redirect is the answer (its status and Location), not
  // followed: a cover service's redirect says where the image is without fetching it.
  virtual HttpResponse Get(const std::string& url) {
    return {0, {}, "", "this client has no GET (" + url + ")"};
  }
  // From any thread: the request in flight, if any, ends at once with no answer.
  virtual void Cancel() = 0;
  // On the thread that posts, when it ends: lets go of what the client keeps open, so that nothing
  // is closed later under the loader lock; the next request opens it again.
  virtual void Release() {}
};

// Where the build has no HTTP client: every request fails as a lost connection would, so the plays
// stay queued.
class NoHttpClient final : public HttpClient {
 public:
  HttpResponse Post(const HttpRequest&) override { return {0, {}, "", "this build has no HTTP client"}; }
  HttpResponse Get(const std::string&) override { return {0, {}, "", "this build has no HTTP client"}; }
  void Cancel() override {}
};
