// registry_save.exe MACHINE_FILE USER_FILE: writes HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER as they are now to the two files, in the form Wine keeps
// them in (that of the prefix's system.reg and user.reg). The installer stage
// takes its pictures of the registry with it: the running wineserver writes
// its own files only when it ends, and ending it for every picture (and
// starting Wine again after) costs most of the stage's time when emulated.
#include <windows.h>

#include <cwchar>

namespace {

// RegSaveKey needs the backup privilege, which the process holds but has not enabled.
bool EnableBackupPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return false;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  bool ok = LookupPrivilegeValueW(nullptr, SE_BACKUP_NAME, &privileges.Privileges[0].Luid) &&
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
            GetLastError() == ERROR_SUCCESS;
  CloseHandle(token);
  return ok;
}

bool Save(HKEY hive, const wchar_t* name, const wchar_t* file) {
  DeleteFileW(file);  // RegSaveKey writes only a new file
  LONG result = RegSaveKeyW(hive, file, nullptr);
  if (result != ERROR_SUCCESS) std::fwprintf(stderr, L"registry_save: %ls to %ls failed: %ld\n", name, file, result);
  return result == ERROR_SUCCESS;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fwprintf(stderr, L"usage: registry_save MACHINE_FILE USER_FILE\n");
    return 2;
  }
  if (!EnableBackupPrivilege()) {
    std::fwprintf(stderr, L"registry_save: the backup privilege could not be enabled\n");
    return 1;
  }
  bool machine = Save(HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE", argv[1]);
  bool user = Save(HKEY_CURRENT_USER, L"HKEY_CURRENT_USER", argv[2]);
  return machine && user ? 0 : 1;
}
