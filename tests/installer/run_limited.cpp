// run_limited.exe PROGRAM [ARGUMENT...]: runs PROGRAM as the same user without
// administrator rights and answers its exit code. The child's token is this
// process's with the Administrators group for deny only and no privileges
// beyond the basic ones, as Windows gives an administrator's programs that
// were not elevated. The installer stage runs per-user installs through it:
// Wine gives every program full administrator rights otherwise.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

// Quoted as the C runtime splits it again (no argument the stage passes ends
// in a backslash or holds a quote).
std::wstring CommandLine(int argc, wchar_t** argv) {
  std::wstring line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += L' ';
    std::wstring argument = argv[i];
    if (argument.find_first_of(L" \t") != std::wstring::npos || argument.empty())
      line += L'"' + argument + L'"';
    else
      line += argument;
  }
  return line;
}

HANDLE LimitedToken() {
  HANDLE token = nullptr, limited = nullptr;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token) &&
      AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                               &administrators)) {
    SID_AND_ATTRIBUTES denyOnly = {administrators, 0};
    if (!CreateRestrictedToken(token, DISABLE_MAX_PRIVILEGE, 1, &denyOnly, 0, nullptr, 0, nullptr, &limited))
      limited = nullptr;
  }
  if (administrators) FreeSid(administrators);
  if (token) CloseHandle(token);
  return limited;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: run_limited PROGRAM [ARGUMENT...]\n");
    return 120;
  }
  HANDLE limited = LimitedToken();
  if (!limited) {
    std::fwprintf(stderr, L"run_limited: no token without administrator rights: error %lu\n", GetLastError());
    return 121;
  }
  std::wstring line = CommandLine(argc, argv);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessAsUserW(limited, nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process)) {
    std::fwprintf(stderr, L"run_limited: %ls did not start: error %lu\n", argv[1], GetLastError());
    CloseHandle(limited);
    return 122;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(limited);
  return static_cast<int>(code);
}
