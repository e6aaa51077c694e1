#include "transfer/origin.h"

#include <string_view>

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = Lower(c);
  return lower;
}

int DefaultPort(const std::string& scheme) {
  if (scheme == "http") return 80;
  if (scheme == "https") return 443;
  return 0;
}

// scheme ":" at the start of text; the position after the colon, or npos.
std::size_t ReadScheme(std::string_view text, std::string* scheme) {
  std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || !IsLetter(text[0])) return std::string_view::npos;
  for (std::size_t i = 1; i < colon; ++i) {
    char c = text[i];
    if (!IsLetter(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') return std::string_view::npos;
  }
  *scheme = LowerCase(text.substr(0, colon));
  return colon + 1;
}

// Dot-separated labels of letters, digits, "-" and "_"; no label empty.
bool ReadHostName(std::string_view text, std::string* host) {
  if (text.empty()) {
    host->clear();
    return true;
  }
  bool labelStart = true;
  for (char c : text) {
    if (c == '.') {
      if (labelStart) return false;
      labelStart = true;
      continue;
    }
    if (!IsLetter(c) && !IsDigit(c) && c != '-' && c != '_') return false;
    labelStart = false;
  }
  if (labelStart) return false;  // a trailing dot
  *host = LowerCase(text);
  return true;
}

// The inside of "[...]": hexadecimal digits, colons and the dots of an
// embedded IPv4 address; no zone (its "%" is refused).
bool ReadIpv6(std::string_view inside, std::string* host) {
  if (inside.find(':') == std::string_view::npos) return false;
  for (char c : inside)
    if (!IsHexDigit(c) && c != ':' && c != '.') return false;
  *host = "[" + LowerCase(inside) + "]";
  return true;
}

// 1 to 65535, decimal digits only.
std::optional<int> ReadPort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  int port = 0;
  for (char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port < 1 || port > 65535) return std::nullopt;
  return port;
}

// host [":" port] of an authority without user information. `port` is set
// to the text after the colon when there is one.
bool ReadHostAndPort(std::string_view text, std::string* host, std::optional<std::string_view>* port) {
  port->reset();
  std::string_view name = text;
  if (!text.empty() && text[0] == '[') {
    std::size_t close = text.find(']');
    if (close == std::string_view::npos || !ReadIpv6(text.substr(1, close - 1), host)) return false;
    std::string_view rest = text.substr(close + 1);
    if (rest.empty()) return true;
    if (rest[0] != ':') return false;
    *port = rest.substr(1);
    return true;
  }
  std::size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    name = text.substr(0, colon);
    *port = text.substr(colon + 1);
  }
  return ReadHostName(name, host);
}

bool IsAllowedScheme(const std::string& scheme) { return scheme == "http" || scheme == "https"; }

}  // namespace

std::string Origin::Text() const {
  std::string text = scheme + "://" + host;
  if (port != 0 && port != DefaultPort(scheme)) text += ":" + std::to_string(port);
  return text;
}

std::optional<Origin> ParseOrigin(const std::string& address) {
  std::string_view text(address);
  Origin origin;
  std::size_t at = ReadScheme(text, &origin.scheme);
  if (at == std::string_view::npos || text.compare(at, 2, "//") != 0) return std::nullopt;
  text.remove_prefix(at + 2);
  std::string_view authority = text.substr(0, text.find_first_of("/?#"));
  // Browsers end an authority at a backslash too, and drop tabs and line ends
  // inside it: such an address reads differently to different readers.
  for (char c : authority)
    if (c == '\\' || static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
      return std::nullopt;
  std::size_t userEnd = authority.rfind('@');
  if (userEnd != std::string_view::npos) authority.remove_prefix(userEnd + 1);
  std::optional<std::string_view> portText;
  if (!ReadHostAndPort(authority, &origin.host, &portText)) return std::nullopt;
  origin.port = DefaultPort(origin.scheme);
  if (portText) {
    std::optional<int> port = ReadPort(*portText);
    if (!port) return std::nullopt;
    origin.port = *port;
  }
  return origin;
}

bool CanBeAllowed(const Origin& origin) { return IsAllowedScheme(origin.scheme) && !origin.host.empty(); }

std::optional<OriginPattern> ParseOriginPattern(const std::string& entry) {
  std::string_view text(entry);
  OriginPattern pattern;
  std::size_t at = ReadScheme(text, &pattern.scheme);
  if (at == std::string_view::npos || !IsAllowedScheme(pattern.scheme) || text.compare(at, 2, "//") != 0)
    return std::nullopt;
  std::string_view authority = text.substr(at + 2);
  if (authority.find_first_of("/?#@\\") != std::string_view::npos) return std::nullopt;
  if (authority.substr(0, 2) == "*.") {
    pattern.subdomains = true;
    authority.remove_prefix(2);
    if (!authority.empty() && authority[0] == '[') return std::nullopt;
  }
  std::optional<std::string_view> portText;
  if (!ReadHostAndPort(authority, &pattern.host, &portText) || pattern.host.empty()) return std::nullopt;
  pattern.port = DefaultPort(pattern.scheme);
  if (portText) {
    if (*portText == "*") {
      pattern.port.reset();
    } else {
      pattern.port = ReadPort(*portText);
      if (!pattern.port) return std::nullopt;
    }
  }
  return pattern;
}

std::vector<OriginPattern> ParseOriginList(const std::string& list) {
  std::vector<OriginPattern> patterns;
  const char* blanks = " \t\r\n";
  std::size_t start = list.find_first_not_of(blanks);
  while (start != std::string::npos) {
    std::size_t end = list.find_first_of(blanks, start);
    std::string entry = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (std::optional<OriginPattern> pattern = ParseOriginPattern(entry)) patterns.push_back(*pattern);
    start = end == std::string::npos ? end : list.find_first_not_of(blanks, end);
  }
  return patterns;
}

bool Admits(const OriginPattern& pattern, const Origin& origin) {
  if (!CanBeAllowed(origin) || pattern.scheme != origin.scheme) return false;
  if (pattern.port && *pattern.port != origin.port) return false;
  if (!pattern.subdomains) return pattern.host == origin.host;
  const std::string& host = origin.host;
  std::size_t suffix = pattern.host.size() + 1;
  return host.size() > suffix && host.compare(host.size() - suffix, suffix, "." + pattern.host) == 0;
}
