// The rules every setting passes, whether a Config setter or the settings
// file gives it: the same ranges, the same characters. A value read back from
// the file is as untrusted as one from a page.
#pragma once

#include <cstdint>
#include <string>

#include "download_engine/settings.h"

namespace engine {

// A numeric setting: its name in the settings file, its field, its range and
// the reason a value outside it is refused with.
struct NumberRule {
  const wchar_t* name;
  int32_t Settings::*field;
  int64_t min;
  int64_t max;
  const wchar_t* refusal;
};

// The rule of a numeric setting by its name in the file, or null.
const NumberRule* FindNumberRule(const std::wstring& name);
// The rule for a field (every numeric field has one).
const NumberRule& RuleFor(int32_t Settings::*field);
// False with the rule's reason when the value is outside its range.
bool CheckNumber(const NumberRule& rule, int64_t value, std::wstring* reason);

// The proxy as it is kept: kind "none" or "direct", or no host, give a direct
// connection; otherwise kind "" or "http", port 1 to 65535, and no control
// characters (they would break a request header) anywhere.
bool CheckProxy(const ProxySettings& given, ProxySettings* proxy, std::wstring* reason);

// The User-Agent text: no control characters, at most 512 characters.
bool CheckClientVersion(const std::wstring& version, std::wstring* reason);

// 40 upper-case hexadecimal digits.
bool CheckPeerId(const std::wstring& id);

}  // namespace engine
