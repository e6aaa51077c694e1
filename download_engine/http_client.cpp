#include "download_engine/http_client.h"

#include "download_engine/redirect_rules.h"
#include "download_engine/text.h"
#include "download_engine/url_check.h"

namespace engine {

namespace {

constexpr int kMaxRedirects = 10;
// Winsock's codes, which WinHTTP passes on for some socket failures.
constexpr DWORD kSocketTimedOut = 10060;
constexpr DWORD kSocketRefused = 10061;
constexpr DWORD kSocketReset = 10054;
constexpr DWORD kSocketAborted = 10053;

// A header by its query code, or by its name (some headers have no code that
// every WinHTTP knows).
bool QueryText(HINTERNET request, DWORD query, std::wstring* value, const wchar_t* name = WINHTTP_HEADER_NAME_BY_INDEX) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, query, name, WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return false;
  std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, query, name, &buffer[0], &size, WINHTTP_NO_HEADER_INDEX)) return false;
  buffer.resize(size / sizeof(wchar_t));
  *value = buffer;
  return true;
}

// "bytes 100-199/1000" or "bytes 100-199/*".
bool ParseContentRange(const std::wstring& text, int64_t* begin, int64_t* end, int64_t* total) {
  if (text.compare(0, 6, L"bytes ") != 0) return false;
  size_t dash = text.find(L'-', 6);
  size_t slash = dash == std::wstring::npos ? dash : text.find(L'/', dash);
  if (slash == std::wstring::npos) return false;
  if (!ParseInt64(text.substr(6, dash - 6), begin) || !ParseInt64(text.substr(dash + 1, slash - dash - 1), end))
    return false;
  std::wstring totalText = text.substr(slash + 1);
  if (totalText == L"*") *total = -1;
  else if (!ParseInt64(totalText, total)) return false;
  return *begin >= 0 && *end >= *begin && (*total < 0 || *end < *total);
}

// Characters beyond ASCII go out as percent-encoded UTF-8; the rest of the
// path is sent exactly as the page wrote it.
std::wstring EncodePath(const std::wstring& path) {
  std::wstring result;
  std::wstring run;
  auto flush = [&] {
    if (run.empty()) return;
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    for (unsigned char c : WideToUtf8(run)) {
      result += L'%';
      result += kDigits[c >> 4];
      result += kDigits[c & 15];
    }
    run.clear();
  };
  for (wchar_t c : path) {
    if (c >= 0x80) {
      run += c;
    } else {
      flush();
      result += c;
    }
  }
  flush();
  return result;
}

HttpError StatusError(DWORD status, HINTERNET request) {
  HttpError error;
  error.code = static_cast<int32_t>(status);
  std::wstring text;
  QueryText(request, WINHTTP_QUERY_STATUS_TEXT, &text);
  error.message = L"the server answered " + std::to_wstring(status) + (text.empty() ? L"" : L" " + text);
  error.transient = status == 408 || status == 429 || status == 502 || status == 503 || status == 504;
  return error;
}

bool PickAuthScheme(HINTERNET request, DWORD* scheme) {
  DWORD supported = 0, first = 0, target = 0;
  if (!WinHttpQueryAuthSchemes(request, &supported, &first, &target)) return false;
  const DWORD preference[] = {WINHTTP_AUTH_SCHEME_NEGOTIATE, WINHTTP_AUTH_SCHEME_NTLM, WINHTTP_AUTH_SCHEME_DIGEST,
                              WINHTTP_AUTH_SCHEME_BASIC};
  for (DWORD candidate : preference) {
    if (supported & candidate) {
      *scheme = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace

InternetHandle& InternetHandle::operator=(InternetHandle&& other) noexcept {
  if (this != &other) {
    Reset();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

void InternetHandle::Reset() {
  if (handle_) WinHttpCloseHandle(handle_);
  handle_ = nullptr;
}

HttpError NetworkError(DWORD code) {
  HttpError error;
  error.code = static_cast<int32_t>(code);
  error.transient = true;
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
    case kSocketTimedOut:
      error.message = L"the server did not answer in time";
      break;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      error.message = L"the server's name could not be resolved";
      break;
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case kSocketRefused:
      error.message = L"could not connect to the server";
      break;
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case kSocketReset:
    case kSocketAborted:
      error.message = L"the connection to the server was broken";
      break;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      error.message = L"the server sent an invalid response";
      break;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
      error.message = L"the secure connection failed: the server's certificate is not trusted or does not match";
      error.transient = false;
      break;
    case ERROR_WINHTTP_REDIRECT_FAILED:
      error.message = L"a redirect could not be followed";
      error.transient = false;
      break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      error.message = L"out of memory";
      break;
    default:
      error.message = L"network error " + std::to_wstring(code);
  }
  return error;
}

bool OpenHttpSession(const HttpSessionOptions& options, InternetHandle* session, HttpError* error) {
  std::wstring agent = options.userAgent.empty() ? std::wstring(kDefaultUserAgent) : options.userAgent;
  HINTERNET handle;
  if (options.proxy.host.empty()) {
    handle = WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  } else {
    std::wstring proxy = options.proxy.host + L":" + std::to_wstring(options.proxy.port);
    handle = WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(),
                         options.proxy.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : options.proxy.bypass.c_str(), 0);
  }
  if (!handle) {
    *error = NetworkError(GetLastError());
    return false;
  }
  *session = InternetHandle(handle);
  WinHttpSetTimeouts(handle, options.connectTimeoutMs, options.connectTimeoutMs, options.receiveTimeoutMs,
                     options.receiveTimeoutMs);
  return true;
}

bool HttpRequest::Open(HINTERNET session, const HttpSessionOptions& options, const CookieJar& cookies,
                       const std::wstring& url, const std::wstring& referrer, bool range, int64_t begin,
                       int64_t end, const std::wstring& validator, const std::wstring& validatorUrl,
                       HttpResponse* response, HttpError* error) {
  auto refuse = [error](const std::wstring& message, int32_t code = 0) {
    error->code = code;
    error->message = message;
    error->transient = false;
    return false;
  };
  std::wstring current = url;
  for (int hop = 0;; ++hop) {
    UrlParts parts;
    std::wstring reason;
    if (current.empty()) return refuse(L"the server redirected to an address that cannot be resolved");
    if (!CheckUrl(current, &parts, &reason))
      return refuse(L"redirected to an address that cannot be downloaded: " + reason);
    if (!OpenRequest(session, parts, error)) return false;

    // The referrer as a header of its own: not every WinHTTP sends the one given to WinHttpOpenRequest.
    // Neither the page's address nor the resource's validator goes to another origin.
    std::wstring headers;
    if (!referrer.empty() && SameOrigin(current, url)) headers += L"Referer: " + referrer + L"\r\n";
    if (range) {
      headers += L"Range: bytes=" + std::to_wstring(begin) + L"-" + (end >= 0 ? std::to_wstring(end) : L"") + L"\r\n";
      if (!validator.empty() && SameOrigin(current, validatorUrl.empty() ? url : validatorUrl))
        headers += L"If-Range: " + validator + L"\r\n";
    }
    std::wstring cookieHeader = cookies.HeaderFor(parts.secure, parts.host, parts.pathAndQuery);
    if (!cookieHeader.empty()) headers += L"Cookie: " + cookieHeader + L"\r\n";

    DWORD status = 0;
    if (!Send(headers, options.proxy, &status, error)) return false;
    bool redirect = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    std::wstring location;
    if (redirect && QueryText(request_.Get(), WINHTTP_QUERY_LOCATION, &location) && !location.empty()) {
      if (hop == kMaxRedirects) return refuse(L"too many redirects", static_cast<int32_t>(status));
      std::wstring next = ResolveUrl(current, location);
      if (IsDowngrade(current, next)) return refuse(L"the server redirected from https to http", static_cast<int32_t>(status));
      current = NormalizeUrl(next);
      continue;
    }
    if (status == HTTP_STATUS_DENIED)
      return refuse(L"the server requires authentication", static_cast<int32_t>(status));
    if (status >= 400 || status < 200 || redirect) {
      *error = StatusError(status, request_.Get());
      return false;
    }
    ReadResponse(status, current, response);
    return true;
  }
}

bool HttpRequest::OpenRequest(HINTERNET session, const UrlParts& parts, HttpError* error) {
  Close();
  connection_ = InternetHandle(WinHttpConnect(session, parts.host.c_str(), parts.port, 0));
  if (!connection_.Get()) {
    *error = NetworkError(GetLastError());
    return false;
  }
  std::wstring path = EncodePath(parts.pathAndQuery);
  request_ = InternetHandle(WinHttpOpenRequest(connection_.Get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                               WINHTTP_DEFAULT_ACCEPT_TYPES,
                                               WINHTTP_FLAG_ESCAPE_DISABLE | (parts.secure ? WINHTTP_FLAG_SECURE : 0)));
  if (!request_.Get()) {
    *error = NetworkError(GetLastError());
    return false;
  }
  // Redirects are followed here, each one checked, never by WinHTTP.
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(request_.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
  DWORD disable = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(request_.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable);
  return true;
}

bool HttpRequest::Send(const std::wstring& headers, const ProxySettings& proxy, DWORD* status, HttpError* error) {
  for (int attempt = 0;; ++attempt) {
    if (!WinHttpSendRequest(request_.Get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                            headers.empty() ? 0 : static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request_.Get(), nullptr)) {
      *error = NetworkError(GetLastError());
      return false;
    }
    DWORD size = sizeof *status;
    if (!WinHttpQueryHeaders(request_.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, status, &size, WINHTTP_NO_HEADER_INDEX)) {
      *error = NetworkError(GetLastError());
      return false;
    }
    if (*status != HTTP_STATUS_PROXY_AUTH_REQ) return true;
    DWORD scheme = 0;
    if (proxy.user.empty() || attempt >= 2 || !PickAuthScheme(request_.Get(), &scheme)) {
      error->code = static_cast<int32_t>(*status);
      error->message = proxy.user.empty() ? L"the proxy requires a user name and password"
                                          : L"the proxy refused the user name and password";
      error->transient = false;
      return false;
    }
    WinHttpSetCredentials(request_.Get(), WINHTTP_AUTH_TARGET_PROXY, scheme, proxy.user.c_str(),
                          proxy.password.c_str(), nullptr);
  }
}

void HttpRequest::ReadResponse(DWORD status, const std::wstring& finalUrl, HttpResponse* response) {
  *response = HttpResponse();
  response->status = status;
  response->finalUrl = finalUrl;
  std::wstring text;
  if (QueryText(request_.Get(), WINHTTP_QUERY_CONTENT_LENGTH, &text) && !ParseInt64(text, &response->contentLength))
    response->contentLength = -1;
  if (status == 206 && QueryText(request_.Get(), WINHTTP_QUERY_CONTENT_RANGE, &text))
    response->hasRange = ParseContentRange(text, &response->rangeBegin, &response->rangeEnd, &response->rangeTotal);
  if (QueryText(request_.Get(), WINHTTP_QUERY_ACCEPT_RANGES, &text)) response->acceptsRanges = text.find(L"bytes") != std::wstring::npos;
  QueryText(request_.Get(), WINHTTP_QUERY_CONTENT_TYPE, &response->contentType);
  QueryText(request_.Get(), WINHTTP_QUERY_CUSTOM, &response->disposition, L"Content-Disposition");
  QueryText(request_.Get(), WINHTTP_QUERY_CUSTOM, &response->etag, L"ETag");
  QueryText(request_.Get(), WINHTTP_QUERY_LAST_MODIFIED, &response->lastModified);
}

bool HttpRequest::Available(DWORD* size, HttpError* error) {
  *size = 0;
  if (!WinHttpQueryDataAvailable(request_.Get(), size)) {
    *error = NetworkError(GetLastError());
    return false;
  }
  return true;
}

bool HttpRequest::Read(void* buffer, DWORD size, DWORD* got, HttpError* error) {
  *got = 0;
  if (!WinHttpReadData(request_.Get(), buffer, size, got)) {
    *error = NetworkError(GetLastError());
    return false;
  }
  return true;
}

void HttpRequest::Close() {
  request_.Reset();
  connection_.Reset();
}

}  // namespace engine
