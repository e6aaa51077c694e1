#include "download_engine/cookie_jar.h"

#include <cwctype>

#include "download_engine/record_codec.h"
#include "download_engine/text.h"

namespace engine {

namespace {

std::wstring Trim(const std::wstring& text) {
  size_t start = text.find_first_not_of(L" \t");
  if (start == std::wstring::npos) return std::wstring();
  size_t end = text.find_last_not_of(L" \t");
  return text.substr(start, end - start + 1);
}

std::wstring Lower(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

bool DomainMatches(const std::wstring& host, const std::wstring& domain) {
  if (host == domain) return true;
  return host.size() > domain.size() && host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
         host[host.size() - domain.size() - 1] == L'.';
}

bool PathMatches(const std::wstring& requestPath, const std::wstring& cookiePath) {
  if (requestPath.compare(0, cookiePath.size(), cookiePath) != 0) return false;
  return requestPath.size() == cookiePath.size() || cookiePath.back() == L'/' ||
         requestPath[cookiePath.size()] == L'/' || requestPath[cookiePath.size()] == L'?';
}

}  // namespace

bool ParseCookie(const std::wstring& text, bool persistent, Cookie* cookie, std::wstring* reason) {
  // A cookie ends up in a request header: nothing may break the header's line.
  if (HasControlCharacter(text)) {
    *reason = L"the cookie contains control characters";
    return false;
  }
  Cookie result;
  result.path = L"/";
  result.persistent = persistent;
  size_t start = 0;
  bool first = true;
  while (start <= text.size()) {
    size_t end = text.find(L';', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring part = Trim(text.substr(start, end - start));
    start = end + 1;
    if (part.empty()) {
      if (first) break;
      continue;
    }
    size_t equals = part.find(L'=');
    std::wstring name = Trim(part.substr(0, equals));
    std::wstring value = equals == std::wstring::npos ? std::wstring() : Trim(part.substr(equals + 1));
    if (first) {
      if (equals == std::wstring::npos || name.empty()) {
        *reason = L"the cookie must start with name=value";
        return false;
      }
      result.name = name;
      result.value = value;
      first = false;
      continue;
    }
    std::wstring attribute = Lower(name);
    if (attribute == L"domain") {
      std::wstring domain = Lower(value);
      while (!domain.empty() && domain[0] == L'.') domain.erase(0, 1);
      result.domain = domain;
    } else if (attribute == L"path") {
      if (!value.empty() && value[0] == L'/') result.path = value;
    } else if (attribute == L"secure") {
      result.secure = true;
    }
  }
  if (first) {
    *reason = L"the cookie is empty";
    return false;
  }
  if (result.domain.empty()) {
    *reason = L"the cookie needs a Domain attribute (the engine serves every site)";
    return false;
  }
  *cookie = result;
  return true;
}

std::wstring CookieToRecord(const Cookie& cookie) {
  return EncodeRecord({cookie.name, cookie.value, cookie.domain, cookie.path, cookie.secure ? L"1" : L"0"});
}

bool CookieFromRecord(const std::wstring& record, Cookie* cookie) {
  std::vector<std::wstring> fields;
  if (!DecodeRecord(record, &fields) || fields.size() != 5 || fields[0].empty() || fields[2].empty()) return false;
  // The rules ParseCookie applies to a page's cookie: it goes into a request header.
  for (const auto& field : fields)
    if (HasControlCharacter(field) || field.find(L';') != std::wstring::npos) return false;
  if (fields[0].find(L'=') != std::wstring::npos || (!fields[3].empty() && fields[3][0] != L'/') ||
      (fields[4] != L"0" && fields[4] != L"1"))
    return false;
  cookie->name = fields[0];
  cookie->value = fields[1];
  cookie->domain = fields[2];
  cookie->path = fields[3].empty() ? L"/" : fields[3];
  cookie->secure = fields[4] == L"1";
  cookie->persistent = true;
  return true;
}

void CookieJar::Set(const Cookie& cookie) {
  std::lock_guard<std::mutex> hold(mutex_);
  for (auto& existing : cookies_) {
    if (existing.name == cookie.name && existing.domain == cookie.domain && existing.path == cookie.path) {
      existing = cookie;
      return;
    }
  }
  cookies_.push_back(cookie);
}

void CookieJar::Clear() {
  std::lock_guard<std::mutex> hold(mutex_);
  cookies_.clear();
}

std::wstring CookieJar::HeaderFor(bool secure, const std::wstring& host, const std::wstring& path) const {
  std::lock_guard<std::mutex> hold(mutex_);
  std::wstring lowerHost = Lower(host);
  std::wstring header;
  for (const auto& cookie : cookies_) {
    if (cookie.secure && !secure) continue;
    if (!DomainMatches(lowerHost, cookie.domain) || !PathMatches(path, cookie.path)) continue;
    if (!header.empty()) header += L"; ";
    header += cookie.name + L"=" + cookie.value;
  }
  return header;
}

std::vector<Cookie> CookieJar::Persistent() const {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<Cookie> result;
  for (const auto& cookie : cookies_)
    if (cookie.persistent) result.push_back(cookie);
  return result;
}

}  // namespace engine
