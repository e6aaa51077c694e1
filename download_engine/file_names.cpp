#include "download_engine/file_names.h"

#include <windows.h>

#include <algorithm>

#include "download_engine/text.h"

namespace engine {

const wchar_t kPartialSuffix[] = L".part";

namespace {

constexpr size_t kPartialSuffixLength = 5;
constexpr size_t kMaxNameLength = 255 - kPartialSuffixLength;  // a name component holds 255 characters

bool IsReservedDeviceName(const std::wstring& name) {
  // Windows treats "con.txt" and "nul .log" as the device too: the stem decides.
  std::wstring stem = UpperCase(name.substr(0, name.find(L'.')));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* device : kDevices)
    if (stem == device) return true;
  if (stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0)) {
    wchar_t digit = stem[3];
    // Superscript digits 1 to 3 name the same ports.
    if ((digit >= L'1' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3) return true;
  }
  return false;
}

bool CheckComponent(const std::wstring& name, std::wstring* reason) {
  if (name.empty()) {
    *reason = L"the name is empty";
    return false;
  }
  if (name == L"." || name == L"..") {
    *reason = L"\"" + name + L"\" is not a file name";
    return false;
  }
  for (wchar_t c : name) {
    if (c < 0x20 || c == 0x7F) {
      *reason = L"the name contains control characters";
      return false;
    }
    if (c == L'\\' || c == L'/') {
      *reason = L"the name contains a path separator";
      return false;
    }
    if (c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' || c == L'?' || c == L'*') {
      *reason = std::wstring(L"the name contains the character ") + c + L", which Windows forbids";
      return false;
    }
  }
  if (name.back() == L'.' || name.back() == L' ') {
    *reason = L"the name ends with a dot or a space";
    return false;
  }
  if (IsReservedDeviceName(name)) {
    *reason = L"\"" + name + L"\" is a reserved device name";
    return false;
  }
  return true;
}

}  // namespace

bool CheckFileName(const std::wstring& name, std::wstring* reason) {
  std::wstring why;
  if (!CheckComponent(name, &why)) {
    *reason = L"bad file name \"" + name + L"\": " + why;
    return false;
  }
  if (name.size() > kMaxNameLength) {
    *reason = L"bad file name: longer than 250 characters";
    return false;
  }
  return true;
}

bool CheckFolderSyntax(const std::wstring& given, std::wstring* folder, std::wstring* reason) {
  std::wstring path = ReplaceAll(given, L"/", L"\\");
  if (path.empty()) {
    *reason = L"no folder was given";
    return false;
  }
  if (path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0) {
    *reason = L"bad folder \"" + given + L"\": device paths are not accepted";
    return false;
  }
  size_t rootLength = 0;
  bool drive = path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
               path[1] == L':' && path[2] == L'\\';
  if (drive) {
    rootLength = 3;
  } else if (path.compare(0, 2, L"\\\\") == 0) {
    // \\server\share\ is the root of a network path.
    size_t server = path.find(L'\\', 2);
    size_t share = server == std::wstring::npos ? std::wstring::npos : path.find(L'\\', server + 1);
    if (server == std::wstring::npos || server == 2 || share == server + 1) {
      *reason = L"bad folder \"" + given + L"\": incomplete network path";
      return false;
    }
    rootLength = share == std::wstring::npos ? path.size() : share + 1;
  } else {
    *reason = L"bad folder \"" + given + L"\": the folder must be an absolute path";
    return false;
  }
  while (path.size() > rootLength && path.back() == L'\\') path.pop_back();
  size_t start = rootLength;
  while (start < path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring why;
    if (!CheckComponent(path.substr(start, end - start), &why)) {
      *reason = L"bad folder \"" + given + L"\": " + why;
      return false;
    }
    start = end + 1;
  }
  *folder = path;
  return true;
}

bool CheckFolder(const std::wstring& given, std::wstring* folder, std::wstring* reason) {
  std::wstring path;
  if (!CheckFolderSyntax(given, &path, reason)) return false;
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *reason = L"the folder \"" + given + L"\" does not exist";
    return false;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *reason = L"\"" + given + L"\" is not a folder";
    return false;
  }
  *folder = path;
  return true;
}

bool JoinTarget(const std::wstring& folder, const std::wstring& name, std::wstring* path, std::wstring* reason) {
  if (folder.empty() || name.size() > MaxNameLength(folder)) {
    *reason = L"the path of the file would be longer than Windows allows";
    return false;
  }
  std::wstring joined = folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
  // The checks above already forbid every way out; this proves it on the full path.
  wchar_t full[MAX_PATH];
  DWORD length = GetFullPathNameW(joined.c_str(), MAX_PATH, full, nullptr);
  std::wstring prefix = folder.back() == L'\\' ? folder : folder + L"\\";
  if (length == 0 || length >= MAX_PATH || !SameFileName(std::wstring(full, length), joined) ||
      !SameFileName(std::wstring(full, prefix.size() < length ? prefix.size() : length), prefix)) {
    *reason = L"the file would be written outside the folder";
    return false;
  }
  *path = joined;
  return true;
}

bool IsFileInFolder(const std::wstring& folder, const std::wstring& name, const std::wstring& path) {
  std::wstring checked, joined, reason;
  return CheckFolderSyntax(folder, &checked, &reason) && checked == folder && CheckFileName(name, &reason) &&
         JoinTarget(folder, name, &joined, &reason) && joined == path;
}

size_t MaxNameLength(const std::wstring& folder) {
  // folder + separator + name + ".part" stays below MAX_PATH (the terminating NUL needs the last place).
  size_t prefix = folder.size() + (folder.empty() || folder.back() == L'\\' ? 0 : 1);
  size_t room = MAX_PATH - 1 - kPartialSuffixLength;
  return prefix >= room ? 0 : std::min(kMaxNameLength, room - prefix);
}

std::wstring UniqueName(const std::wstring& name, const std::function<bool(const std::wstring&)>& taken,
                        size_t maxLength) {
  if (!taken(name)) return name;
  size_t dot = name.rfind(L'.');
  if (dot == 0) dot = std::wstring::npos;  // ".profile" has no extension
  std::wstring stem = dot == std::wstring::npos ? name : name.substr(0, dot);
  std::wstring extension = dot == std::wstring::npos ? std::wstring() : name.substr(dot);
  for (int i = 1;; ++i) {
    std::wstring counter = L" (" + std::to_wstring(i) + L")";
    // The counter must fit: the stem gives way first, then the extension.
    std::wstring shortStem = stem, shortExtension = extension;
    if (shortStem.size() + counter.size() + shortExtension.size() > maxLength) {
      size_t room = maxLength > counter.size() + shortExtension.size() ? maxLength - counter.size() - shortExtension.size() : 0;
      if (room == 0) {
        shortStem = name;
        shortExtension.clear();
        room = maxLength > counter.size() ? maxLength - counter.size() : 0;
      }
      shortStem.resize(std::min(shortStem.size(), room));
      // Never half of a surrogate pair.
      if (!shortStem.empty() && shortStem.back() >= 0xD800 && shortStem.back() <= 0xDBFF) shortStem.pop_back();
    }
    std::wstring candidate = shortStem + counter + shortExtension;
    if (!taken(candidate)) return candidate;
  }
}

std::wstring NameFromUrl(const std::wstring& url) {
  size_t authority = url.find(L"://");
  if (authority == std::wstring::npos) return std::wstring();
  size_t pathStart = url.find(L'/', authority + 3);
  if (pathStart == std::wstring::npos) return std::wstring();
  std::wstring path = url.substr(pathStart);
  size_t end = path.find_first_of(L"?#");
  if (end != std::wstring::npos) path.erase(end);
  std::wstring segment = path.substr(path.rfind(L'/') + 1);
  auto hex = [](wchar_t h) -> int {
    if (h >= L'0' && h <= L'9') return h - L'0';
    if (h >= L'a' && h <= L'f') return h - L'a' + 10;
    if (h >= L'A' && h <= L'F') return h - L'A' + 10;
    return -1;
  };
  std::string bytes;
  std::wstring literal;
  for (size_t i = 0; i < segment.size(); ++i) {
    if (segment[i] == L'%' && i + 2 < segment.size() && hex(segment[i + 1]) >= 0 && hex(segment[i + 2]) >= 0) {
      bytes += WideToUtf8(literal);
      literal.clear();
      bytes += static_cast<char>(hex(segment[i + 1]) * 16 + hex(segment[i + 2]));
      i += 2;
    } else {
      literal += segment[i];
    }
  }
  bytes += WideToUtf8(literal);
  return Utf8ToWide(bytes);
}

}  // namespace engine
