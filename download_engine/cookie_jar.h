// Cookies the page hands to the engine, sent with the requests they match.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace engine {

struct Cookie {
  std::wstring name;
  std::wstring value;
  std::wstring domain;  // lower case, without a leading dot
  std::wstring path;    // starts with "/"
  bool secure = false;
  bool persistent = false;
};

// "name=value; Domain=example.com; Path=/files; Secure", in the form of a
// Set-Cookie header; Domain is required, other attributes are ignored.
bool ParseCookie(const std::wstring& text, bool persistent, Cookie* cookie, std::wstring* reason);

// One line of the settings file for a persistent cookie, and back; a line
// that breaks the rules a page's cookie passes is refused.
std::wstring CookieToRecord(const Cookie& cookie);
bool CookieFromRecord(const std::wstring& record, Cookie* cookie);

class CookieJar {
 public:
  // A cookie with the same name, domain and path is replaced.
  void Set(const Cookie& cookie);
  void Clear();
  // The Cookie header's value for a request ("a=1; b=2"), empty when none match.
  std::wstring HeaderFor(bool secure, const std::wstring& host, const std::wstring& path) const;
  std::vector<Cookie> Persistent() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Cookie> cookies_;
};

}  // namespace engine
