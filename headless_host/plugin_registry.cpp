#include "headless_host/plugin_registry.h"

#include <windows.h>

namespace {

const wchar_t kPluginsKey[] = L"Software\\MozillaPlugins";

#ifdef _WIN64
const REGSAM kView = KEY_WOW64_64KEY;
#else
const REGSAM kView = KEY_WOW64_32KEY;
#endif

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
  return wide;
}

bool SameType(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::vector<std::wstring> SubkeyNames(HKEY key) {
  std::vector<std::wstring> names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];  // the longest a key name may be, and its end
    DWORD length = 256;
    if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

// "Path", a REG_SZ or REG_EXPAND_SZ text; empty when missing or of another type.
std::wstring ModulePath(HKEY key) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, L"Path", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size < sizeof(wchar_t) || size > 65536)
    return std::wstring();
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key, L"Path", nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &size) != ERROR_SUCCESS)
    return std::wstring();
  value.resize(wcsnlen(value.c_str(), size / sizeof(wchar_t)));
  if (type == REG_EXPAND_SZ) {
    DWORD needed = ExpandEnvironmentStringsW(value.c_str(), nullptr, 0);
    if (needed == 0) return std::wstring();
    std::wstring expanded(needed, L'\0');
    if (ExpandEnvironmentStringsW(value.c_str(), &expanded[0], needed) == 0) return std::wstring();
    expanded.resize(wcsnlen(expanded.c_str(), needed));
    value = expanded;
  }
  return value;
}

bool NamesType(HKEY key, const std::wstring& type) {
  HKEY types;
  if (RegOpenKeyExW(key, L"MimeTypes", 0, KEY_READ | kView, &types) != ERROR_SUCCESS) return false;
  bool found = false;
  for (const auto& name : SubkeyNames(types)) found = found || SameType(name, type);
  RegCloseKey(types);
  return found;
}

bool IsFile(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void Scan(HKEY hive, const wchar_t* hiveName, const std::wstring& type, std::vector<RegisteredPlugin>* found) {
  HKEY plugins;
  if (RegOpenKeyExW(hive, kPluginsKey, 0, KEY_READ | kView, &plugins) != ERROR_SUCCESS) return;
  for (const auto& name : SubkeyNames(plugins)) {
    HKEY entry;
    if (RegOpenKeyExW(plugins, name.c_str(), 0, KEY_READ | kView, &entry) != ERROR_SUCCESS) continue;
    std::wstring path = ModulePath(entry);
    if (!path.empty() && NamesType(entry, type) && IsFile(path))
      found->push_back({std::wstring(hiveName) + L"\\" + kPluginsKey + L"\\" + name, path});
    RegCloseKey(entry);
  }
  RegCloseKey(plugins);
}

}  // namespace

std::vector<RegisteredPlugin> FindRegisteredPlugins(const std::string& mimeType) {
  std::vector<RegisteredPlugin> found;
  std::wstring type = Widen(mimeType);
  Scan(HKEY_CURRENT_USER, L"HKEY_CURRENT_USER", type, &found);
  Scan(HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE", type, &found);
  return found;
}
