#include "download_engine/setting_rules.h"

#include <cwctype>

#include "download_engine/text.h"

namespace engine {

namespace {

constexpr size_t kMaxSettingText = 512;

const NumberRule kNumberRules[] = {
    {L"download_limit_kib", &Settings::downloadLimitKiB, 0, INT32_MAX, L"speed limits are KiB per second, 0 for none"},
    {L"upload_limit_kib", &Settings::uploadLimitKiB, 0, INT32_MAX, L"speed limits are KiB per second, 0 for none"},
    {L"disk_cache_kib", &Settings::diskCacheKiB, 0, 256 * 1024, L"the disk cache is 0 to 262144 KiB"},
    {L"max_downloads", &Settings::maxDownloads, 1, 100, L"the number of simultaneous downloads is 1 to 100"},
    {L"udp_port", &Settings::udpPort, 1, 65535, L"the UDP port must be between 1 and 65535"},
    {L"connect_timeout_ms", &Settings::connectTimeoutMs, 100, 600000, L"time-outs are 100 to 600000 ms"},
    {L"receive_timeout_ms", &Settings::receiveTimeoutMs, 100, 600000, L"time-outs are 100 to 600000 ms"},
    {L"retries", &Settings::retries, 0, 100, L"retries are 0 to 100"},
    {L"retry_delay_ms", &Settings::retryDelayMs, 0, 3600000, L"the retry delay is 0 to 3600000 ms"},
    {L"max_unsized_mib", &Settings::maxUnsizedMiB, 1, INT32_MAX,
     L"the most a download without a length may take is 1 MiB or more"},
};

}  // namespace

const NumberRule* FindNumberRule(const std::wstring& name) {
  for (const auto& rule : kNumberRules)
    if (name == rule.name) return &rule;
  return nullptr;
}

const NumberRule& RuleFor(int32_t Settings::*field) {
  for (const auto& rule : kNumberRules)
    if (rule.field == field) return rule;
  // Every numeric field is in the table; a missing one is a programming error.
  static const NumberRule kNone = {L"", nullptr, 0, -1, L"no rule for this setting"};
  return kNone;
}

bool CheckNumber(const NumberRule& rule, int64_t value, std::wstring* reason) {
  if (value >= rule.min && value <= rule.max) return true;
  *reason = rule.refusal;
  return false;
}

bool CheckProxy(const ProxySettings& given, ProxySettings* proxy, std::wstring* reason) {
  ProxySettings result = given;
  std::wstring kind = result.kind;
  for (auto& c : kind) c = static_cast<wchar_t>(towlower(c));
  if (kind == L"none" || kind == L"direct") {
    result = ProxySettings();
  } else if (!kind.empty() && kind != L"http") {
    *reason = L"unsupported proxy kind \"" + given.kind + L"\" (use \"http\", \"none\" or an empty text)";
    return false;
  }
  if (!result.host.empty()) {
    if (result.port < 1 || result.port > 65535) {
      *reason = L"the proxy port must be between 1 and 65535";
      return false;
    }
    if (HasControlCharacter(result.host) || result.host.find_first_of(L" /\\@") != std::wstring::npos ||
        result.host.size() > 255) {
      *reason = L"bad proxy host name";
      return false;
    }
    if (HasControlCharacter(result.user) || HasControlCharacter(result.password) ||
        HasControlCharacter(result.bypass)) {
      *reason = L"the proxy settings contain control characters";
      return false;
    }
    if (result.user.size() > kMaxSettingText || result.password.size() > kMaxSettingText ||
        result.bypass.size() > 8 * kMaxSettingText) {
      *reason = L"the proxy settings are too long";
      return false;
    }
  } else {
    result = ProxySettings();
  }
  result.kind = result.host.empty() ? L"" : L"http";
  *proxy = result;
  return true;
}

bool CheckClientVersion(const std::wstring& version, std::wstring* reason) {
  // It becomes the User-Agent header line.
  if (HasControlCharacter(version)) {
    *reason = L"the client version contains control characters";
    return false;
  }
  if (version.size() > kMaxSettingText) {
    *reason = L"the client version is longer than 512 characters";
    return false;
  }
  return true;
}

bool CheckPeerId(const std::wstring& id) {
  if (id.size() != 40) return false;
  for (wchar_t c : id)
    if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) return false;
  return true;
}

}  // namespace engine
