#include "download_engine/url_check.h"

#include <windows.h>
#include <winhttp.h>

#include <cwctype>

#include "download_engine/text.h"

namespace engine {

namespace {

constexpr size_t kMaxUrlLength = 8192;

std::wstring SchemeOf(const std::wstring& url) {
  size_t colon = url.find(L':');
  if (colon == std::wstring::npos || colon == 0) return std::wstring();
  for (size_t i = 0; i < colon; ++i) {
    wchar_t c = url[i];
    bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (i > 0 && ((c >= L'0' && c <= L'9') ||
                                                                                  c == L'+' || c == L'-' || c == L'.'));
    if (!ok) return std::wstring();
  }
  std::wstring scheme = url.substr(0, colon);
  for (auto& c : scheme) c = static_cast<wchar_t>(towlower(c));
  return scheme;
}

}  // namespace

std::wstring NormalizeUrl(const std::wstring& url) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring result;
  for (wchar_t c : url) {
    if (c == L'|' || c < 0x20 || c == 0x7F) {
      result += L'%';
      result += kDigits[(c >> 4) & 15];
      result += kDigits[c & 15];
    } else {
      result += c;
    }
  }
  return result;
}

bool CheckUrl(const std::wstring& url, UrlParts* parts, std::wstring* reason) {
  if (url.empty()) {
    *reason = L"no URL was given";
    return false;
  }
  if (url.size() > kMaxUrlLength) {
    *reason = L"the URL is longer than 8192 characters";
    return false;
  }
  for (wchar_t c : url) {
    if (c <= 0x20 || c == 0x7F) {
      *reason = L"the URL contains white space or control characters";
      return false;
    }
  }
  std::wstring scheme = SchemeOf(url);
  if (scheme.empty()) {
    *reason = L"the URL is malformed: it has no scheme";
    return false;
  }
  if (scheme != L"http" && scheme != L"https") {
    *reason = L"only http and https URLs can be downloaded, not " + scheme + L":";
    return false;
  }
  if (url.compare(scheme.size(), 3, L"://") != 0) {
    *reason = L"the URL is malformed: \"//\" must follow the scheme";
    return false;
  }
  // WinHTTP takes a port of 0 or above 65535 without complaint; the network does not.
  size_t authority = scheme.size() + 3;
  size_t authorityEnd = url.find_first_of(L"/?#", authority);
  std::wstring hostPort = url.substr(authority, authorityEnd == std::wstring::npos ? std::wstring::npos
                                                                                    : authorityEnd - authority);
  if (hostPort.find(L'@') != std::wstring::npos) {
    *reason = L"URLs with a user name or password are not supported";
    return false;
  }
  size_t bracket = hostPort.rfind(L']');
  size_t colon = hostPort.rfind(L':');
  if (colon != std::wstring::npos && (bracket == std::wstring::npos || colon > bracket)) {
    int64_t port = 0;
    if (!ParseInt64(hostPort.substr(colon + 1), &port) || port < 1 || port > 65535) {
      *reason = L"the URL is malformed: bad port";
      return false;
    }
  }
  URL_COMPONENTS components = {};
  components.dwStructSize = sizeof components;
  components.dwHostNameLength = static_cast<DWORD>(-1);
  components.dwUrlPathLength = static_cast<DWORD>(-1);
  components.dwExtraInfoLength = static_cast<DWORD>(-1);
  components.dwUserNameLength = static_cast<DWORD>(-1);
  components.dwPasswordLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &components) ||
      components.dwHostNameLength == 0) {
    *reason = L"the URL is malformed";
    return false;
  }
  if (components.dwUserNameLength > 0 || components.dwPasswordLength > 0) {
    *reason = L"URLs with a user name or password are not supported";
    return false;
  }
  std::wstring host(components.lpszHostName, components.dwHostNameLength);
  for (wchar_t c : host) {
    if (c == L'@' || c == L'\\' || c == L'/' || c == L'?' || c == L'#') {
      *reason = L"the URL is malformed: bad host name";
      return false;
    }
  }
  parts->secure = scheme == L"https";
  parts->host = host;
  parts->port = components.nPort;
  parts->pathAndQuery = std::wstring(components.lpszUrlPath, components.dwUrlPathLength) +
                        std::wstring(components.lpszExtraInfo, components.dwExtraInfoLength);
  size_t hash = parts->pathAndQuery.find(L'#');
  if (hash != std::wstring::npos) parts->pathAndQuery.erase(hash);
  if (parts->pathAndQuery.empty() || parts->pathAndQuery[0] != L'/') parts->pathAndQuery.insert(0, L"/");
  return true;
}

}  // namespace engine
