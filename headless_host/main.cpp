// halvo_host.exe MODULE.dll [MODULE.dll...]: a headless browser for NPAPI
// plug-in modules, driven through its standard streams (PROTOCOL.md).
// halvo_host.exe --find-mime TYPE: the module comes from the registry, found
// for TYPE as browsers find it (plugin_registry.h).
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "headless_host/host.h"
#include "headless_host/line_io.h"
#include "headless_host/plugin_registry.h"
#include "headless_host/protocol.h"

namespace {

const char kUsage[] = "usage: halvo_host.exe MODULE.dll [MODULE.dll...] | halvo_host.exe --find-mime TYPE";

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size, nullptr, nullptr);
  return result;
}

std::wstring FullPath(const wchar_t* path) {
  wchar_t full[MAX_PATH * 4];
  DWORD length = GetFullPathNameW(path, MAX_PATH * 4, full, nullptr);
  return length > 0 && length < MAX_PATH * 4 ? std::wstring(full) : std::wstring(path);
}

}  // namespace

int main() {
  // No error boxes: a headless host has nobody to click them away.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> given;
  for (int i = 1; arguments != nullptr && i < count; ++i) given.emplace_back(arguments[i]);
  if (arguments != nullptr) LocalFree(arguments);

  std::vector<std::wstring> modules;
  if (!given.empty() && given[0] == L"--find-mime") {
    if (given.size() != 2 || given[1].empty()) {
      WriteLine("error 0 " + protocol::Text(kUsage));
      return 1;
    }
    std::string type = Narrow(given[1]);
    std::vector<RegisteredPlugin> found = FindRegisteredPlugins(type);
    if (found.empty()) {
      WriteLine("error 0 " + protocol::Text("no module for " + type + " under Software\\MozillaPlugins"));
      return 1;
    }
    // The first one, as the user's keys come first: one module per type.
    WriteLine("note " + protocol::Text(type + " is registered in " + Narrow(found.front().key)));
    modules.push_back(found.front().path);
  } else {
    for (const auto& path : given) modules.push_back(FullPath(path.c_str()));
  }
  if (modules.empty()) {
    WriteLine("error 0 " + protocol::Text(kUsage));
    return 1;
  }
  return HeadlessHost::Get().Run(modules);
}
