// Web origins for the site lock: a page's origin read from its address, the
// entries of the allowed list, and whether an entry admits an origin. Only
// what can be read with certainty is accepted; anything else is refused.
//
// An origin is scheme "://" host [":" port]: scheme and host in lower case,
// the port left out when it is the scheme's default (80 for http, 443 for
// https). From a page address:
// - the user information before the last "@" of the authority is not part
//   of the origin ("http://a.example@b.example/" is b.example);
// - an IPv6 host is written in brackets ("[::1]"), hexadecimal digits in
//   lower case; it is compared as written, not rewritten to a shorter form;
// - a host holds only letters, digits, "-", "_" and "." (no empty label, no
//   leading dot); a percent sign, a backslash or any other character in the
//   authority, a port outside 1..65535, a second colon outside brackets, or
//   no "//" after the scheme: not an origin.
// Entries are origins written the same way, without user information, path,
// query or fragment, for http or https only. The host may begin with "*."
// (any subdomain of the rest, not the rest itself) and the port may be "*"
// (any port, the scheme's default included).
#pragma once

#include <optional>
#include <string>
#include <vector>

struct Origin {
  std::string scheme;  // lower case
  std::string host;    // lower case; brackets kept around an IPv6 literal
  int port = 0;        // always set: the scheme's default when the address names none (0 if it has none)

  // scheme://host[:port], the port only when it is not the scheme's default.
  std::string Text() const;
};

// The origin of a page address with a "//" authority, whatever its scheme;
// nothing when the address cannot be read with certainty. The host may be
// empty (a file: page).
std::optional<Origin> ParseOrigin(const std::string& address);

// Only http and https pages with a host can be allowed.
bool CanBeAllowed(const Origin& origin);

struct OriginPattern {
  std::string scheme;
  std::string host;                // without the "*." of a subdomain entry
  bool subdomains = false;         // "*." + host: a subdomain of host, at any depth
  std::optional<int> port;         // nothing: any port
};

// One entry of the allowed list; nothing for an entry that is not well formed.
std::optional<OriginPattern> ParseOriginPattern(const std::string& entry);

// The entries of a blank-separated list (blanks, tabs and line ends separate);
// entries that are not well formed are left out.
std::vector<OriginPattern> ParseOriginList(const std::string& list);

bool Admits(const OriginPattern& pattern, const Origin& origin);
