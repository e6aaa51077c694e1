#include "download_engine/settings.h"

#include <windows.h>
#include <wincrypt.h>

#include "download_engine/atomic_file.h"
#include "download_engine/record_codec.h"
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

std::wstring Unseal(const std::wstring& hex) {
  if (hex.empty() || hex.size() % 2) return std::wstring();
  std::string bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    auto digit = [](wchar_t c) { return c <= L'9' ? c - L'0' : c - L'a' + 10; };
    bytes += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
  }
  DATA_BLOB in = {static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(&bytes[0])};
  DATA_BLOB out = {};
  if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
    return std::wstring();
  std::string plain(reinterpret_cast<char*>(out.pbData), out.cbData);
  LocalFree(out.pbData);
  return Utf8ToWide(plain);
}

void ReadNumber(const std::wstring& value, int32_t* target) {
  int64_t number;
  if (ParseInt64(value, &number) && number >= INT32_MIN && number <= INT32_MAX) *target = static_cast<int32_t>(number);
}

}  // namespace

Settings LoadSettings(const std::wstring& path) {
  Settings settings;
  std::string bytes;
  if (!ReadWholeFile(path, &bytes)) return settings;
  for (const std::wstring& line : SplitLines(Utf8ToWide(bytes))) {
    if (line.empty() || line[0] == L'#') continue;
    size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) continue;
    std::wstring name = line.substr(0, equals);
    std::vector<std::wstring> fields;
    if (!DecodeRecord(line.substr(equals + 1), &fields)) continue;
    const std::wstring& value = fields[0];
    int32_t flag = -1;
    if (name == L"proxy_host") settings.proxy.host = value;
    else if (name == L"proxy_port") ReadNumber(value, &settings.proxy.port);
    else if (name == L"proxy_user") settings.proxy.user = value;
    else if (name == L"proxy_password_sealed") settings.proxy.password = Unseal(value);
    else if (name == L"proxy_bypass") settings.proxy.bypass = value;
    else if (name == L"proxy_kind") settings.proxy.kind = value;
    else if (name == L"download_limit_kib") ReadNumber(value, &settings.downloadLimitKiB);
    else if (name == L"upload_limit_kib") ReadNumber(value, &settings.uploadLimitKiB);
    else if (name == L"disk_cache_kib") ReadNumber(value, &settings.diskCacheKiB);
    else if (name == L"max_downloads") ReadNumber(value, &settings.maxDownloads);
    else if (name == L"auto_start") { ReadNumber(value, &flag); if (flag >= 0) settings.autoStart = flag != 0; }
    else if (name == L"udp_port") ReadNumber(value, &settings.udpPort);
    else if (name == L"upnp") { ReadNumber(value, &flag); if (flag >= 0) settings.upnp = flag != 0; }
    else if (name == L"single_connection") { ReadNumber(value, &flag); if (flag >= 0) settings.singleConnection = flag != 0; }
    else if (name == L"client_version") settings.clientVersion = value;
    else if (name == L"peer_id") settings.peerId = value;
    else if (name == L"connect_timeout_ms") ReadNumber(value, &settings.connectTimeoutMs);
    else if (name == L"receive_timeout_ms") ReadNumber(value, &settings.receiveTimeoutMs);
    else if (name == L"retries") ReadNumber(value, &settings.retries);
    else if (name == L"retry_delay_ms") ReadNumber(value, &settings.retryDelayMs);
    else if (name == L"cookie") {
      Cookie cookie;
      if (CookieFromRecord(line.substr(equals + 1), &cookie)) settings.cookies.push_back(cookie);
    }
  }
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
  for (const auto& cookie : settings.cookies) text += L"cookie=" + CookieToRecord(cookie) + L"\n";
  return ReplaceFileContent(path, WideToUtf8(text));
}

}  // namespace engine
