// What the engine accepts as a download address: absolute http or https URLs
// with a host, no credentials, no white space or control characters.
#pragma once

#include <string>

namespace engine {

struct UrlParts {
  bool secure = false;
  std::wstring host;
  unsigned short port = 0;
  std::wstring pathAndQuery;  // starts with "/"; the fragment is dropped
};

// The page's URL as the engine keys and sends it: "|" (the separator of the
// texts given to pages) and control characters become their percent escapes,
// which name the same resource and cannot split a text or a header.
std::wstring NormalizeUrl(const std::wstring& url);

// False with a reason for the page when the URL cannot be downloaded.
bool CheckUrl(const std::wstring& url, UrlParts* parts, std::wstring* reason);

}  // namespace engine
