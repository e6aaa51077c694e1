#include "download_engine/data_folder.h"

#include <windows.h>
#include <shlobj.h>

namespace engine {

namespace {

bool MakeFolders(const std::wstring& path) {
  if (CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return true;
  size_t cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos || cut == 0 || path[cut - 1] == L':') return false;
  if (!MakeFolders(path.substr(0, cut))) return false;
  return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

std::wstring DataFolder() {
  std::wstring folder;
  wchar_t buffer[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"HALVO_ENGINE_HOME", buffer, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    folder = buffer;
  } else if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer))) {
    folder = std::wstring(buffer) + L"\\Halvo\\Engine";
  } else {
    return std::wstring();
  }
  while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return MakeFolders(folder) ? folder : std::wstring();
}

}  // namespace engine
