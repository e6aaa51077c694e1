// Shows a file or folder in the Windows file manager; never runs anything.
// The path comes from a web page. Handed to explorer as its plain argument an
// existing file would be opened, which runs a program or follows a link, so a
// file is always shown selected in its folder. Only an absolute local path
// reaches explorer, quoted: nothing that could name a server (and make the
// machine contact it with the user's credentials), a device, a URI, an
// environment variable, an alternate data stream or a further switch.
#include <windows.h>
#include <shellapi.h>

#include <climits>
#include <optional>
#include <string>

#include "script/conversions.h"
#include "script/halvo_script_object.h"
#include "script/script_status.h"
#include "transfer/halvo_plugin.h"

namespace {

bool IsDriveLetter(wchar_t unit) { return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z'); }

bool IsControl(wchar_t unit) { return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F); }

// The page's bytes as UTF-16, every byte counted (an inner NUL included);
// nothing when they are not valid UTF-8.
std::optional<std::wstring> DecodePath(const NPString& text) {
  if (text.UTF8Characters == nullptr || text.UTF8Length == 0) return std::wstring();
  if (text.UTF8Length > static_cast<uint32_t>(INT_MAX)) return std::nullopt;
  int length = static_cast<int>(text.UTF8Length);
  int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.UTF8Characters, length, nullptr, 0);
  if (units <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.UTF8Characters, length, &wide[0], units) != units)
    return std::nullopt;
  return wide;
}

// A drive letter, a colon, a backslash, then nothing that could take the
// argument elsewhere: no forward slash (a switch or a URI), no "%" (an
// environment variable), no further colon (a stream or a URI), no double
// quote (the end of the quoted argument) and no control character.
bool IsLocalAbsolutePath(const std::wstring& path) {
  if (path.size() < 3 || !IsDriveLetter(path[0]) || path[1] != L':' || path[2] != L'\\') return false;
  for (std::size_t i = 2; i < path.size(); ++i) {
    wchar_t unit = path[i];
    if (unit == L'/' || unit == L'%' || unit == L':' || unit == L'"' || IsControl(unit)) return false;
  }
  return true;
}

// The part before the last backslash (only the backslash separates).
std::wstring FolderPart(const std::wstring& path) {
  std::size_t separator = path.rfind(L'\\');
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// What explorer is given for a path that passed the checks.
std::wstring ExplorerParameters(std::wstring path, bool select) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // Missing: its folder is shown instead, without selecting anything. That
    // "folder" may itself be a file (C:\d\setup.exe\gone), shown selected below.
    path = FolderPart(path);
    select = false;
    attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Quoted(path);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || select) return L"/select, " + Quoted(path);
  return Quoted(path);
}

}  // namespace

bool HalvoScriptObject::ExecuteFile(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::String, Argument::Any}, result)) return true;
  std::optional<std::wstring> path = DecodePath(args[0].value.stringValue);
  if (!path || !IsLocalAbsolutePath(*path)) {
    SetStatusResult(result, StatusBadArguments);
    return true;
  }
  if (!EngineReady(result)) return true;
  bool select = NumberToBool(ValueAsDouble(args[1]));
  std::wstring parameters = ExplorerParameters(*path, select);
  ShellExecuteW(nullptr, L"open", L"explorer", parameters.c_str(), nullptr, SW_SHOWNORMAL);
  return Done(result);
}
