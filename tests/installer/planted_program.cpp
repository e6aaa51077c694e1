// planted_program.exe: what a user could put where an installer running with
// administrator rights might run it (the installer stage plants it as the
// uninstaller of a made-up per-user install). Run at all, it appends its
// command line to C:\planted-program-ran.txt, which must never appear.
#include <windows.h>

int wmain() {
  HANDLE file = CreateFileW(L"C:\\planted-program-ran.txt", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  const wchar_t* line = GetCommandLineW();
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(lstrlenW(line) * sizeof(wchar_t)), &written, nullptr);
  CloseHandle(file);
  return 0;
}
