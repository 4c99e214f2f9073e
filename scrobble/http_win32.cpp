#include "scrobble/http_win32.h"

#include <windows.h>
// After windows.h, which it needs.
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <cwctype>

#include "runtime/handle.h"
#include "runtime/unicode_win32.h"
#include "scrobble/service.h"

namespace {

using unique_hinternet = unique_handle<handle_traits<HINTERNET, &WinHttpCloseHandle>>;

// An answer bigger than this is no answer of these services.
constexpr std::size_t kMaxBody = 1 << 20;

std::string LastError(const char* what) {
  const DWORD code = GetLastError();
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
      return std::string(what) + ": timed out";
    case ERROR_WINHTTP_OPERATION_CANCELLED:
      return std::string(what) + ": cancelled";
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return std::string(what) + ": cannot connect";
    case ERROR_WINHTTP_CONNECTION_ERROR:
      return std::string(what) + ": the connection was lost";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return std::string(what) + ": the server's name is not known";
    default:
      return std::string(what) + ": error " + std::to_string(code);
  }
}

// "Name: value" lines after the status line, names in lower case.
void ParseHeaders(const std::wstring& raw, HttpResponse& response) {
  const std::string text = Utf8(raw);
  std::size_t start = text.find("\r\n");
  while (start != std::string::npos && start + 2 < text.size()) {
    const std::size_t end = text.find("\r\n", start + 2);
    const std::string line =
        text.substr(start + 2, end == std::string::npos ? std::string::npos : end - start - 2);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string name = line.substr(0, colon);
      std::transform(name.begin(), name.end(), name.begin(),
                     [](unsigned char c) { return char(std::tolower(c)); });
      const std::size_t value = line.find_first_not_of(' ', colon + 1);
      response.headers[name] = value == std::string::npos ? "" : line.substr(value);
    }
    start = end;
  }
}

}  // namespace

// The session is opened by the first request, on the sender's thread: the client is made while the
// module loads, under the loader lock, where WinHTTP must not start.
WinHttpClient::WinHttpClient() = default;

WinHttpClient::~WinHttpClient() { Release(); }

void WinHttpClient::Release() {
  if (session_) WinHttpCloseHandle(std::exchange(session_, nullptr));
}

void WinHttpClient::Cancel() {
  const std::lock_guard<std::mutex> hold(lock_);
  // Closing the handle ends the call blocked on it with ERROR_WINHTTP_OPERATION_CANCELLED.
  if (request_) WinHttpCloseHandle(std::exchange(request_, nullptr));
}

HttpResponse WinHttpClient::Post(const HttpRequest& request) { return Exchange(L"POST", request, true); }

HttpResponse WinHttpClient::Get(const std::string& url) { return Exchange(L"GET", {url, {}, "", ""}, false); }

HttpResponse WinHttpClient::Exchange(const wchar_t* verb, const HttpRequest& request, bool followRedirects) {
  HttpResponse response;
  if (!session_) {
    session_ = WinHttpOpen(Wide(SkorrelUserAgent()).c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                           WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session_) WinHttpSetTimeouts(session_, kConnectMs, kConnectMs, kWholeRequestMs, kWholeRequestMs);
  }
  if (!session_) {
    response.error = LastError("WinHTTP cannot start");
    return response;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWholeRequestMs);
  std::wstring url = Wide(request.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = DWORD(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
    response.error = "the address " + request.url + " is not a URL";
    return response;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                            std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  const unique_hinternet connection(WinHttpConnect(session_, host.c_str(), parts.nPort, 0));
  if (!connection) {
    response.error = LastError("connecting");
    return response;
  }
  HINTERNET handle = WinHttpOpenRequest(connection.get(), verb, path.empty() ? L"/" : path.c_str(), nullptr,
                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                        parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
  if (!handle) {
    response.error = LastError("opening the request");
    return response;
  }
  {
    const std::lock_guard<std::mutex> hold(lock_);
    request_ = handle;
  }
  // Closed here unless Cancel closed it first.
  const scope_exit close([&] {
    const std::lock_guard<std::mutex> hold(lock_);
    if (request_ == handle) WinHttpCloseHandle(std::exchange(request_, nullptr));
  });

  if (!followRedirects) {
    DWORD feature = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof feature);
  }
  std::wstring headers =
      request.contentType.empty() ? std::wstring() : Wide("Content-Type: " + request.contentType + "\r\n");
  for (const auto& [name, value] : request.headers) headers += Wide(name + ": " + value + "\r\n");
  if (!WinHttpSendRequest(handle, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                          headers.empty() ? 0 : DWORD(-1), const_cast<char*>(request.body.data()),
                          DWORD(request.body.size()), DWORD(request.body.size()), 0) ||
      !WinHttpReceiveResponse(handle, nullptr)) {
    response.error = LastError("sending the request");
    return response;
  }
  DWORD status = 0, size = sizeof status;
  if (!WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    response.error = LastError("reading the answer");
    return response;
  }
  size = 0;
  WinHttpQueryHeaders(handle, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (size > 0) {
    std::wstring raw(size / sizeof(wchar_t), L'\0');
    if (WinHttpQueryHeaders(handle, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, raw.data(),
                            &size, WINHTTP_NO_HEADER_INDEX)) {
      raw.resize(size / sizeof(wchar_t));
      ParseHeaders(raw, response);
    }
  }
  for (;;) {
    if (std::chrono::steady_clock::now() > deadline) {
      response.headers.clear();
      response.error = "the answer took longer than 30 s";
      return response;
    }
    char buffer[8192];
    DWORD read = 0;
    if (!WinHttpReadData(handle, buffer, sizeof buffer, &read)) {
      response.headers.clear();
      response.error = LastError("reading the answer");
      return response;
    }
    if (read == 0) break;
    if (response.body.size() + read > kMaxBody) break;
    response.body.append(buffer, read);
  }
  response.status = static_cast<int>(status);
  return response;
}
