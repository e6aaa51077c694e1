#include "download_engine/settings.h"

#include <windows.h>
#include <wincrypt.h>

#include "download_engine/atomic_file.h"
#include "download_engine/record_codec.h"
#include "download_engine/setting_rules.h"
#include "download_engine/text.h"

namespace engine {

const wchar_t kDefaultUserAgent[] = L"HalvoEngine/1.0";

namespace {

// The proxy password is kept sealed to the Windows user (DPAPI), in hexadecimal.
std::wstring Seal(const std::wstring& secret) {
  if (secret.empty()) return std::wstring();
  std::string bytes = WideToUtf8(secret);
  DATA_BLOB in = {static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(&bytes[0])};
  DATA_BLOB out = {};
  if (!CryptProtectData(&in, L"halvo proxy", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
    return std::wstring();
  std::wstring hex;
  static const wchar_t kDigits[] = L"0123456789abcdef";
  for (DWORD i = 0; i < out.cbData; ++i) {
    hex += kDigits[out.pbData[i] >> 4];
    hex += kDigits[out.pbData[i] & 15];
  }
  LocalFree(out.pbData);
  return hex;
}

// False for text that is not the hexadecimal Seal writes; a password sealed
// for another user (or machine) opens to nothing.
bool Unseal(const std::wstring& hex, std::wstring* secret) {
  secret->clear();
  if (hex.empty()) return true;
  if (hex.size() % 2 || hex.find_first_not_of(L"0123456789abcdef") != std::wstring::npos) return false;
  std::string bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    auto digit = [](wchar_t c) { return c <= L'9' ? c - L'0' : c - L'a' + 10; };
    bytes += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
  }
  DATA_BLOB in = {static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(&bytes[0])};
  DATA_BLOB out = {};
  if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return true;
  std::string plain(reinterpret_cast<char*>(out.pbData), out.cbData);
  LocalFree(out.pbData);
  *secret = Utf8ToWide(plain);
  return true;
}

bool ReadFlag(const std::wstring& value, bool* flag) {
  if (value != L"0" && value != L"1") return false;
  *flag = value == L"1";
  return true;
}

}  // namespace

Settings LoadSettings(const std::wstring& path, bool* damaged) {
  *damaged = false;
  Settings settings;
  std::string bytes;
  if (!ReadWholeFile(path, &bytes)) return settings;
  // Every value passes the rules a setter applies; one that does not makes
  // the whole file suspect: the caller sets it aside and takes the defaults.
  auto refuse = [damaged]() {
    *damaged = true;
    return Settings();
  };
  if (bytes.size() > kMaxReadBytes || !IsUtf8(bytes)) return refuse();
  std::wstring reason;
  int64_t proxyPort = 0;
  for (const std::wstring& line : SplitLines(Utf8ToWide(bytes))) {
    if (line.empty() || line[0] == L'#') continue;
    size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) return refuse();
    std::wstring name = line.substr(0, equals);
    std::vector<std::wstring> fields;
    if (!DecodeRecord(line.substr(equals + 1), &fields)) return refuse();
    const std::wstring& value = fields[0];
    if (const NumberRule* rule = FindNumberRule(name)) {
      int64_t number;
      if (fields.size() != 1 || !ParseInt64(value, &number) || !CheckNumber(*rule, number, &reason)) return refuse();
      settings.*(rule->field) = static_cast<int32_t>(number);  // the rule's range is within int32
      continue;
    }
    if (name == L"cookie") {
      Cookie cookie;
      if (!CookieFromRecord(line.substr(equals + 1), &cookie)) return refuse();
      settings.cookies.push_back(cookie);
      continue;
    }
    if (fields.size() != 1) return refuse();
    bool ok = true;
    if (name == L"proxy_host") settings.proxy.host = value;
    else if (name == L"proxy_port") ok = ParseInt64(value, &proxyPort) && proxyPort >= 0 && proxyPort <= 65535;
    else if (name == L"proxy_user") settings.proxy.user = value;
    else if (name == L"proxy_password_sealed") ok = Unseal(value, &settings.proxy.password);
    else if (name == L"proxy_bypass") settings.proxy.bypass = value;
    else if (name == L"proxy_kind") settings.proxy.kind = value;
    else if (name == L"auto_start") ok = ReadFlag(value, &settings.autoStart);
    else if (name == L"upnp") ok = ReadFlag(value, &settings.upnp);
    else if (name == L"single_connection") ok = ReadFlag(value, &settings.singleConnection);
    else if (name == L"client_version") ok = CheckClientVersion(value, &reason);
    else if (name == L"peer_id") ok = value.empty() || CheckPeerId(value);
    // Other names are left for other versions of the engine.
    if (!ok) return refuse();
    if (name == L"client_version") settings.clientVersion = value;
    if (name == L"peer_id") settings.peerId = value;
  }
  settings.proxy.port = static_cast<int32_t>(proxyPort);
  if (!CheckProxy(settings.proxy, &settings.proxy, &reason)) return refuse();
  return settings;
}

unsigned long SaveSettings(const std::wstring& path, const Settings& settings) {
  std::wstring text = L"# Halvo download engine settings; rewritten whole by the engine.\n";
  auto put = [&text](const wchar_t* name, const std::wstring& value) {
    text += name;
    text += L"=" + EncodeRecord({value}) + L"\n";
  };
  auto number = [&put](const wchar_t* name, int64_t value) { put(name, ToText(value)); };
  put(L"proxy_host", settings.proxy.host);
  number(L"proxy_port", settings.proxy.port);
  put(L"proxy_user", settings.proxy.user);
  put(L"proxy_password_sealed", Seal(settings.proxy.password));
  put(L"proxy_bypass", settings.proxy.bypass);
  put(L"proxy_kind", settings.proxy.kind);
  number(L"download_limit_kib", settings.downloadLimitKiB);
  number(L"upload_limit_kib", settings.uploadLimitKiB);
  number(L"disk_cache_kib", settings.diskCacheKiB);
  number(L"max_downloads", settings.maxDownloads);
  number(L"auto_start", settings.autoStart);
  number(L"udp_port", settings.udpPort);
  number(L"upnp", settings.upnp);
  number(L"single_connection", settings.singleConnection);
  put(L"client_version", settings.clientVersion);
  put(L"peer_id", settings.peerId);
  number(L"connect_timeout_ms", settings.connectTimeoutMs);
  number(L"receive_timeout_ms", settings.receiveTimeoutMs);
  number(L"retries", settings.retries);
  number(L"retry_delay_ms", settings.retryDelayMs);
  number(L"max_unsized_mib", settings.maxUnsizedMiB);
  for (const auto& cookie : settings.cookies) text += L"cookie=" + CookieToRecord(cookie) + L"\n";
  return ReplaceFileContent(path, WideToUtf8(text));
}

}  // namespace engine
