#include "transfer/site_lock.h"

const wchar_t kSiteLockKey[] = L"Software\\Halvo\\Transfer Plugin";
const wchar_t kAllowedOriginsValue[] = L"AllowedOrigins";
const char kDefaultAllowedOrigins[] = "http://127.0.0.1:* http://localhost:* http://[::1]:*";

namespace {

// Far more than any list of origins; a longer value is not read.
const DWORD kMaxValueBytes = 64 * 1024;

// Entries are ASCII; any other character becomes one no entry may hold, so
// its entry is left out instead of being read as something else.
std::string Narrow(const wchar_t* text, std::size_t units) {
  std::string narrow;
  narrow.reserve(units);
  for (std::size_t i = 0; i < units && text[i] != L'\0'; ++i)
    narrow.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '\x7F');
  return narrow;
}

}  // namespace

std::optional<std::string> ReadAllowedOrigins(HKEY root) {
  HKEY key = nullptr;
  LONG opened = RegOpenKeyExW(root, kSiteLockKey, 0, KEY_QUERY_VALUE, &key);
  if (opened == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (opened != ERROR_SUCCESS) return std::string();  // there, but not for us to read: allows nothing
  DWORD type = 0, bytes = 0;
  LONG measured = RegQueryValueExW(key, kAllowedOriginsValue, nullptr, &type, nullptr, &bytes);
  std::optional<std::string> text;
  if (measured == ERROR_FILE_NOT_FOUND) {
    text = std::nullopt;
  } else if (measured != ERROR_SUCCESS || type != REG_SZ || bytes > kMaxValueBytes) {
    text = std::string();
  } else {
    // One unit more than asked for, so the text ends even when the stored one does not.
    std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD read = bytes;
    if (RegQueryValueExW(key, kAllowedOriginsValue, nullptr, &type, reinterpret_cast<BYTE*>(&buffer[0]), &read) ==
            ERROR_SUCCESS &&
        type == REG_SZ && read <= bytes)
      text = Narrow(buffer.data(), read / sizeof(wchar_t));
    else
      text = std::string();  // changed under us: read again at the next page
  }
  RegCloseKey(key);
  return text;
}

std::vector<OriginPattern> AllowedOrigins() {
  std::optional<std::string> machine = ReadAllowedOrigins(HKEY_LOCAL_MACHINE);
  std::optional<std::string> user = ReadAllowedOrigins(HKEY_CURRENT_USER);
  if (!machine && !user) return ParseOriginList(kDefaultAllowedOrigins);
  std::vector<OriginPattern> allowed = ParseOriginList(machine.value_or(std::string()));
  std::vector<OriginPattern> userAllowed = ParseOriginList(user.value_or(std::string()));
  allowed.insert(allowed.end(), userAllowed.begin(), userAllowed.end());
  return allowed;
}

SiteVerdict JudgePage(const std::optional<std::string>& address, const std::vector<OriginPattern>& allowed) {
  SiteVerdict verdict;
  if (!address) {
    verdict.page = "(page address not learned)";
    return verdict;
  }
  std::optional<Origin> origin = ParseOrigin(*address);
  if (!origin) {
    verdict.page = "(page address not understood)";
    return verdict;
  }
  verdict.page = origin->Text();
  for (const OriginPattern& pattern : allowed) {
    if (Admits(pattern, *origin)) {
      verdict.allowed = true;
      break;
    }
  }
  return verdict;
}
