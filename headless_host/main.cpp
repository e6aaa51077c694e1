// halvo_host.exe MODULE.dll [MODULE.dll...]: a headless browser for NPAPI
// plug-in modules, driven through its standard streams (PROTOCOL.md).
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "headless_host/host.h"
#include "headless_host/line_io.h"
#include "headless_host/protocol.h"

int main() {
  // No error boxes: a headless host has nobody to click them away.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> modules;
  for (int i = 1; arguments != nullptr && i < count; ++i) {
    wchar_t full[MAX_PATH * 4];
    DWORD length = GetFullPathNameW(arguments[i], MAX_PATH * 4, full, nullptr);
    modules.push_back(length > 0 && length < MAX_PATH * 4 ? std::wstring(full) : std::wstring(arguments[i]));
  }
  if (arguments != nullptr) LocalFree(arguments);
  if (modules.empty()) {
    WriteLine("error 0 " + protocol::Text("usage: halvo_host.exe MODULE.dll [MODULE.dll...]"));
    return 1;
  }
  return HeadlessHost::Get().Run(modules);
}
