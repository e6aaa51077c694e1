// Shows a file in the Windows file manager, or its folder when the file is
// missing. The path comes from a web page: it reaches explorer quoted, and a
// path that could leave the machine or break out of the quotes is refused.
#include <windows.h>
#include <shellapi.h>

#include <io.h>

#include <string>

#include "script/conversions.h"
#include "script/halvo_script_object.h"
#include "script/script_status.h"
#include "transfer/halvo_plugin.h"

namespace {

bool IsSeparator(wchar_t unit) { return unit == L'\\' || unit == L'/'; }

// A double quote or control character could end the quoted argument and add
// switches; two leading separators name a network or device path, and opening
// one makes the machine contact that server with the user's credentials.
bool IsRefusedPath(const std::wstring& path) {
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return true;
  for (wchar_t unit : path)
    if (unit == L'"' || unit < 0x20) return true;
  return false;
}

std::wstring PathArgument(const NPVariant& value) {
  std::string bytes = NPStringToString(value.value.stringValue);
  auto wide = Utf8ToWide(bytes.c_str());
  return wide ? std::wstring(wide.get()) : std::wstring();
}

}  // namespace

bool HalvoScriptObject::ExecuteFile(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::String, Argument::Any}, result)) return true;
  std::wstring path = PathArgument(args[0]);
  if (IsRefusedPath(path)) {
    SetStatusResult(result, StatusBadArguments);
    return true;
  }
  if (!EngineReady(result)) return true;
  bool select = NumberToBool(ValueAsDouble(args[1]));
  if (_waccess(path.c_str(), 0) == -1) {
    // Missing: its folder is shown instead, without selecting anything.
    std::size_t separator = path.rfind(L'\\');
    path = separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
    select = false;
  }
  std::wstring parameters;
  if (select)
    parameters = L"/select, \"" + path + L"\"";
  else if (!path.empty())
    parameters = L"\"" + path + L"\"";
  ShellExecuteW(nullptr, L"open", L"explorer", parameters.c_str(), nullptr, SW_SHOWNORMAL);
  return Done(result);
}
