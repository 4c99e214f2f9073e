#pragma once
// The services' HTTP client in the DLL: WinHTTP, with the system's TLS and proxy settings.
#include <mutex>
#include <string>

#include "scrobble/http.h"

class WinHttpClient final : public HttpClient {
 public:
  WinHttpClient();
  ~WinHttpClient() override;
  HttpResponse Post(const HttpRequest& request) override;
  HttpResponse Get(const std::string& url) override;
  void Cancel() override;
  void Release() override;

  // Connecting gives up after this; every send or read after kWholeRequestMs, and a request that
  // has taken that long in all is abandoned between reads.
  static constexpr int kConnectMs = 10000;
  static constexpr int kWholeRequestMs = 30000;

 private:
  HttpResponse Exchange(const wchar_t* verb, const HttpRequest& request, bool followRedirects);

  void* session_ = nullptr;
  std::mutex lock_;
  void* request_ = nullptr;  // the request in flight, closed by Cancel
};
