// How the engine follows a redirect: the target resolved as browsers resolve
// it, by the system's own URL combination, and what may go along to it.
#pragma once

#include <string>

namespace engine {

// A Location header resolved against the URL it came from (RFC 3986: dot
// segments removed, the query kept), without a fragment, which is never sent.
// Empty when the two cannot be combined.
std::wstring ResolveUrl(const std::wstring& base, const std::wstring& reference);

// "http://host:port" of an http or https URL (host in lower case, the port
// always written); empty for anything else.
std::wstring OriginOf(const std::wstring& url);
// Both have an origin and it is the same.
bool SameOrigin(const std::wstring& a, const std::wstring& b);

// From https to http: the rest of the download would travel unprotected.
bool IsDowngrade(const std::wstring& from, const std::wstring& to);

}  // namespace engine
