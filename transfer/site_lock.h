// The site lock: only pages whose origin the machine's owner allowed get the
// engine. The allowed origins are the value AllowedOrigins (REG_SZ, entries
// separated by blanks, written as transfer/origin.h describes) of the key
// Software\Halvo\Transfer Plugin, in HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER
// together, read through the module's own registry view. Where neither hive
// has the value, pages from the user's own machine are allowed. A value that
// is there but cannot be read as a list (another type, too long, not
// readable) allows nothing, and neither does a blank one: a broken setting
// never falls back to the default.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "transfer/origin.h"

extern const wchar_t kSiteLockKey[];
extern const wchar_t kAllowedOriginsValue[];
extern const char kDefaultAllowedOrigins[];

// One hive's value as text; nothing when the hive does not have it.
std::optional<std::string> ReadAllowedOrigins(HKEY root);

// The list in force now (read afresh at every call).
std::vector<OriginPattern> AllowedOrigins();

struct SiteVerdict {
  bool allowed = false;
  // The page's origin, or what stood in the way of reading one; only
  // characters an origin may hold, so it can go to the debugger output.
  std::string page;
};

// `address` is the page's address as learned from the host, or nothing when
// it could not be learned.
SiteVerdict JudgePage(const std::optional<std::string>& address, const std::vector<OriginPattern>& allowed);
