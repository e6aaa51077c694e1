#include "download_engine/zone_identifier.h"

#include <windows.h>

#include "download_engine/text.h"
#include "download_engine/url_check.h"

namespace engine {

namespace {

// The URL as it may appear in the stream, or empty.
std::string CleanUrl(const std::wstring& url) {
  UrlParts parts;
  std::wstring reason;
  std::wstring plain = url;
  // A user name and password never go into the file.
  size_t authority = plain.find(L"://");
  if (authority != std::wstring::npos) {
    size_t end = plain.find_first_of(L"/?#", authority + 3);
    size_t at = plain.rfind(L'@', end == std::wstring::npos ? plain.size() : end);
    if (at != std::wstring::npos && at > authority) plain.erase(authority + 3, at - authority - 2);
  }
  size_t hash = plain.find(L'#');
  if (hash != std::wstring::npos) plain.erase(hash);
  if (!CheckUrl(plain, &parts, &reason)) return std::string();
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char c : WideToUtf8(plain)) {
    if (c > 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      text += '%';
      text += kDigits[c >> 4];
      text += kDigits[c & 15];
    }
  }
  return text;
}

}  // namespace

std::string ZoneIdentifierText(const std::wstring& hostUrl, const std::wstring& referrerUrl) {
  std::string text = "[ZoneTransfer]\r\nZoneId=3\r\n";
  std::string referrer = CleanUrl(referrerUrl);
  if (!referrer.empty()) text += "ReferrerUrl=" + referrer + "\r\n";
  std::string host = CleanUrl(hostUrl);
  if (!host.empty()) text += "HostUrl=" + host + "\r\n";
  return text;
}

bool WriteZoneIdentifier(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD flags = 0;
  BOOL known = GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0);
  CloseHandle(file);
  if (!known || !(flags & FILE_NAMED_STREAMS)) return false;
  HANDLE stream = CreateFileW((path + L":Zone.Identifier").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (stream == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
  CloseHandle(stream);
  return ok;
}

}  // namespace engine
