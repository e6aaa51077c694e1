// One HTTP(S) exchange through the system's WinHTTP: session options from the
// engine's settings, redirects followed here (so that every hop is checked and
// gets its own cookies), proxy authentication, and the response's headers.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "download_engine/cookie_jar.h"
#include "download_engine/settings.h"

namespace engine {

struct HttpError {
  int32_t code = 0;  // HTTP status (400 and above) or a Windows error code
  std::wstring message;
  bool transient = false;  // worth resuming: resets, time-outs, early ends
};

// A WinHTTP handle closed when it goes.
class InternetHandle {
 public:
  InternetHandle() = default;
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() { Reset(); }
  InternetHandle(InternetHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  InternetHandle& operator=(InternetHandle&& other) noexcept;
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET Get() const { return handle_; }
  void Reset();

 private:
  HINTERNET handle_ = nullptr;
};

struct HttpSessionOptions {
  std::wstring userAgent;
  ProxySettings proxy;
  int32_t connectTimeoutMs = 15000;
  int32_t receiveTimeoutMs = 30000;
};

struct HttpResponse {
  DWORD status = 0;
  int64_t contentLength = -1;
  bool hasRange = false;  // a valid Content-Range came with a 206
  int64_t rangeBegin = 0;
  int64_t rangeEnd = -1;    // inclusive
  int64_t rangeTotal = -1;  // -1 for "*"
  bool acceptsRanges = false;
  std::wstring contentType;
  std::wstring disposition;
  std::wstring etag;
  std::wstring lastModified;
  std::wstring finalUrl;
};

struct UrlParts;

class HttpRequest {
 public:
  // Sends a GET; with range, asks for "bytes=begin-" or "bytes=begin-end"
  // (end inclusive, when not negative), with If-Range when a validator is
  // given, to the origin of validatorUrl (the address that gave it) only.
  // Follows up to ten redirects to http or https URLs, never from https to
  // http; the referrer goes only to the origin of url.
  bool Open(HINTERNET session, const HttpSessionOptions& options, const CookieJar& cookies, const std::wstring& url,
            const std::wstring& referrer, bool range, int64_t begin, int64_t end, const std::wstring& validator,
            const std::wstring& validatorUrl, HttpResponse* response, HttpError* error);

  // Waits for body bytes: how many can be read at once, 0 at the end of the body.
  bool Available(DWORD* size, HttpError* error);
  // Reads up to size bytes of those available.
  bool Read(void* buffer, DWORD size, DWORD* got, HttpError* error);

  void Close();

 private:
  // A fresh connection and GET request to the address, redirects off.
  bool OpenRequest(HINTERNET session, const UrlParts& parts, HttpError* error);
  // Sends the request and reads the status, answering a proxy's demand for
  // credentials (twice at most) when the options have them.
  bool Send(const std::wstring& headers, const ProxySettings& proxy, DWORD* status, HttpError* error);
  // The headers of an accepted answer.
  void ReadResponse(DWORD status, const std::wstring& finalUrl, HttpResponse* response);

  InternetHandle connection_;
  InternetHandle request_;
};

// A session configured from the options (user agent, proxy, time-outs).
bool OpenHttpSession(const HttpSessionOptions& options, InternetHandle* session, HttpError* error);

// A reason for the page from a Windows or WinHTTP error code.
HttpError NetworkError(DWORD code);

}  // namespace engine
